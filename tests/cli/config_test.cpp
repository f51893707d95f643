// config save / restore against simulators whose request logs show what a restore wrote and read.

#include "Config.h"
#include "SimLog.h"
#include "TcpBackend.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

using namespace cli;
using simtest::Briefs;
using simtest::LoggedSim;
using Lines = std::vector<std::string>;

struct Result { int code; std::string out, err; };

ConfigOptions Options(std::string file, std::string channel = "", bool dryRun = false,
                      std::optional<std::uint32_t> code = std::nullopt)
{
    return {std::move(file), std::move(channel), dryRun, code};
}

Result RunCli(LoggedSim& sim, bool save, const ConfigOptions& o)
{
    TcpBackend backend(TcpOptions{.host = "127.0.0.1", .port = sim.TcpPort()});
    std::ostringstream out, err;
    const int code = save ? RunConfigSave(backend, o, out, err) : RunConfigRestore(backend, o, out, err);
    return {code, out.str(), err.str()};
}

class Config : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RunCli(source, true, Options(file)).code, 0);
        saved = nlohmann::json::parse(std::ifstream(file));
        for (const auto& page : saved["pages"])
            rows += page["parameters"].size();
    }
    void TearDown() override
    {
        std::remove(file.c_str());
        std::remove(again.c_str());
    }
    // The requests after the identification and the comparison's reads.
    Lines AfterComparison(LoggedSim& sim)
    {
        const Lines all = Briefs(sim.NewRequests());
        return all.size() > rows + 1 ? Lines(all.begin() + static_cast<long>(rows) + 1, all.end()) : Lines{};
    }
    LoggedSim source{{"--tcp", "0"}};
    const std::string file = testing::TempDir() + "tarnwick-config-" + std::to_string(getpid()) + ".json";
    const std::string again = file + ".again";
    nlohmann::json saved;
    size_t rows = 0;
};

TEST_F(Config, RestoreWritesOnlyTheDifferingRowsReadsThemBackAndWritesNothingWhenRefused)
{
    // Outer diameter 100.0 and channel B's measured quantity and unit differ from the defaults.
    const std::string presets = "set=24000:0:17096,set=25376:3:2";
    const std::string quantity = "fc16 25376+2 [1,0] reply", check = "fc3 29254+1 reply";
    const std::string diameter = "fc16 24000+2 [39322,17124] reply", readBack = "fc3 24000+2 reply";
    const std::string valueBack = "fc3 25376+1 reply", unitBack = "fc3 25377+1 reply";
    struct Case {
        std::string presets;
        ConfigOptions options;
        int code;
        const char* message;  // on stderr
        Lines after;          // the requests after the comparison
        bool restored;
    } cases[] = {
        {presets, Options(file), 0, "", {check, diameter, readBack, quantity, valueBack, unitBack}, true},
        {presets + ",protect=42", Options(file, "", false, 42), 0, "",
         {check, "fc16 29254+3 [0,42,0] reply", check, diameter, readBack, quantity, valueBack,
          unitBack, "fc16 29254+3 [1,42,0] reply", check},
         true},
        {presets, Options(file, "", true), 0, "", {check}, false},  // a dry run
        {presets + ",protect=42", Options(file), 2, "give its code with --protection-code", {check}, false},
        {presets + ",protect=42", Options(file, "", false, 41), 1, "did not accept the protection code",
         {check, "fc16 29254+3 [0,41,0] exception 2", check}, false},
        {presets + ",refuse=24000", Options(file), 1, "Did not take: Pipe A OuterDiameter (24000): 100.0 mm -> 114.3 mm",
         {check, "fc16 24000+2 [39322,17124] exception 4", readBack, quantity, valueBack, unitBack},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.presets + " " + c.message);
        LoggedSim target({"--tcp", "0", "--device", c.presets});
        const Result r = RunCli(target, false, c.options);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        for (const char* line : {"Pipe A OuterDiameter (24000): 100.0 mm -> 114.3 mm\n",
                                 "Measuring B MeasuringValue (25376): Mass Flow -> Volumemetric Flow\n",
                                 "3 parameters differ\n"})
            EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
        EXPECT_EQ(AfterComparison(target), c.after);
        if (!c.restored)
            continue;
        // Restored: a save of the target now gives the same file apart from the date.
        ASSERT_EQ(RunCli(target, true, Options(again)).code, 0);
        nlohmann::json copy = nlohmann::json::parse(std::ifstream(again)), original = saved;
        copy.erase("date");
        original.erase("date");
        EXPECT_EQ(copy, original);
    }
}

TEST_F(Config, DamagedOrForeignFilesAreRefusedBeforeTheMeterIsAsked)
{
    auto edit = [&](auto change) {
        nlohmann::json j = saved;
        change(j);
        return j.dump();
    };
    const std::string text = saved.dump();
    const std::pair<std::string, const char*> cases[] = {
        {text.substr(0, text.size() / 2), "is damaged"},
        {"[]", "not a Tarnwick configuration file"},
        {edit([](auto& j) { j["meter"]["family"] = "ORBITA"; }), "it is from a ORBITA meter"},
        {edit([](auto& j) { j["version"] = 1; }), "configuration version 1 is not 2"},
        {edit([](auto& j) { j["pages"][0]["parameters"][0]["name"] = "OuterRadius"; }),
         "unknown parameter \"OuterRadius\" on page Pipe"},
        {edit([](auto& j) { j["pages"][0]["page"] = "Pump"; }), "unknown page \"Pump\""},
        {edit([](auto& j) { j["pages"][0]["parameters"][0]["words"] = {1}; }),
         "Pipe A OuterDiameter (24000): needs 2 words"},
        {edit([](auto& j) { j["pages"][0]["parameters"][0]["words"] = {1, 70000}; }), "70000 is not a register word"},
        {edit([](auto& j) { j["pages"][6]["parameters"].erase(2); }),
         "Measuring A: MeasuringValue and MeasuringUnit must both be in the file"},
        // The readable form must say what the words say: restoring is driven by the words.
        {edit([](auto& j) { j["pages"][0]["parameters"][0]["value"] = 120.0; }),
         "Pipe A OuterDiameter (24000): the value 120.0 contradicts its words [39322,17124] (114.3)"},
        {edit([](auto& j) { j["pages"][0]["parameters"][0]["unit"] = "in"; }),
         "Pipe A OuterDiameter (24000): the unit \"in\" is not \"mm\""},
        {edit([](auto& j) { j["pages"][0]["parameters"][4]["value"] = "Unobtainium"; }),
         "Pipe A CoatingMaterial (24006): \"Unobtainium\" is no entry of its list"},
        {edit([](auto& j) { j["pages"][6]["parameters"][2]["value"] = "l/h"; }),
         "Measuring A MeasuringUnit (24377): the value \"l/h\" contradicts its words [0] (\"m\u00b3/h\")"},
        {edit([](auto& j) {
             j["pages"].push_back({{"page", "Modbus Process Input"}, {"instance", "2"},
                                   {"parameters", {{{"name", "ProcessInputValue"}, {"register", 153}}}}});
         }),
         "ProcessInputValue on page Modbus Process Input is live process data"},
    };
    LoggedSim target({"--tcp", "0"});  // one meter for every file: each row's requests are its own
    for (const auto& [content, message] : cases) {
        std::ofstream(file) << content;
        const Result r = RunCli(target, false, Options(file));
        EXPECT_EQ(r.code, 2) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        for (const auto& b : Briefs(target.NewRequests()))
            EXPECT_EQ(b.rfind("fc16", 0), std::string::npos) << b;
    }
}

TEST_F(Config, SaveNamesListEntriesAndCheckBoxesByTextNumbersWithTheirUnitsAndOnlyTheChannelsPages)
{
    // A row of each family end to end; subset_test checks each kind of value.
    const std::tuple<std::string, std::string, nlohmann::json, const char*> cases[] = {
        {"Pipe A", "OuterDiameter", 114.3, "mm"},
        {"Fluid A", "Fluid", "Water", ""},
        {"Global Settings -", "LoggerOptions", {"Store Totalizer", "Ring Buffer"}, ""},
        {"Process Output Loop 1", "CurrentLoopFullScale", 0.05, "m\u00b3/s"},  // the quantity's unit
        {"Modbus Process Input 1", "ProcessInputValue", nullptr, nullptr},  // live data: not saved
    };
    for (const auto& [pageName, name, value, unit] : cases) {
        const nlohmann::json* found = nullptr;
        for (const auto& page : saved["pages"])
            if (page["page"].get<std::string>() + " " + page["instance"].get<std::string>() == pageName)
                for (const auto& p : page["parameters"])
                    if (p["name"] == name)
                        found = &p;
        using J = nlohmann::json;
        const J got = found ? J{(*found)["value"], found->value("unit", "")} : J();
        EXPECT_EQ(got, (unit ? J{value, unit} : J())) << pageName << " " << name;
    }

    const std::pair<std::string, Lines> channels[] = {
        {"B", {"Pipe B", "Fluid B", "Transducer B", "Measuring B", "Linking B"}},
        {"Z", {"Calculation Channel Z"}},
    };
    for (const auto& [channel, pages] : channels) {
        ASSERT_EQ(RunCli(source, true, Options(again, channel)).code, 0);
        Lines names;
        const nlohmann::json written = nlohmann::json::parse(std::ifstream(again));
        for (const auto& p : written["pages"])
            names.push_back(p["page"].get<std::string>() + " " + p["instance"].get<std::string>());
        EXPECT_EQ(names, pages);
    }
}

}  // namespace
