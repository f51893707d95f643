// tarnwick-cli config save / restore against two simulators: the second one's request log shows
// exactly what a restore wrote and read back, and what it refused to touch.

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

struct Result {
    int code;
    std::string out, err;
};

std::string TempFile(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/tarnwick-config-" + std::to_string(getpid()) + "-" + name;
}

Result RunCli(LoggedSim& sim, bool save, ConfigOptions o)
{
    TcpOptions t;
    t.host = "127.0.0.1";
    t.port = sim.TcpPort();
    TcpBackend backend(t);
    std::ostringstream out, err;
    const int code = save ? RunConfigSave(backend, o, out, err) : RunConfigRestore(backend, o, out, err);
    return {code, out.str(), err.str()};
}

nlohmann::json ReadJson(const std::string& path)
{
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

// The requests after the identification and the comparison's reads.
std::vector<std::string> AfterComparison(LoggedSim& sim, size_t rows)
{
    auto all = Briefs(sim.NewRequests());
    return all.size() > rows + 1 ? std::vector<std::string>(all.begin() + static_cast<long>(rows) + 1, all.end())
                                 : std::vector<std::string>{};
}

// "[w,w,...]": the saved words of registers first to last, as the log shows a write of them.
std::string Words(const nlohmann::json& file, int first, int last = -1)
{
    std::string t;
    for (const auto& page : file["pages"])
        for (const auto& p : page["parameters"])
            if (p["register"] >= first && p["register"] <= std::max(first, last))
                for (const auto& w : p["words"])
                    t += (t.empty() ? "" : ",") + w.dump();
    return "[" + t + "]";
}

class Config : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RunCli(source, true, {file}).code, 0);
        saved = ReadJson(file);
        rows = 0;
        for (const auto& page : saved["pages"])
            rows += page["parameters"].size();
    }
    void TearDown() override
    {
        std::remove(file.c_str());
        std::remove(again.c_str());
    }
    LoggedSim source{{"--tcp", "0"}};
    std::string file = TempFile("a.json"), again = TempFile("b.json");
    nlohmann::json saved;
    size_t rows = 0;
};

// Outer diameter 100.0 and channel B's measured quantity and unit differ from the defaults.
const char* Presets = "set=24000:0:17096,set=25376:3:2";

TEST_F(Config, RestoreWritesOnlyTheDifferingRowsAndReadsThemBack)
{
    struct Case {
        std::string presets;
        ConfigOptions options;
        int code;
        std::vector<std::string> unlock, lock;  // around the rows' writes
    };
    const Case cases[] = {
        {Presets, {file}, 0, {}, {}},
        {std::string(Presets) + ",protect=42", {file, "", false, 42}, 0,
         {"fc16 29254+3 [0,42,0] reply", "fc3 29254+1 reply"}, {"fc16 29254+3 [1,42,0] reply", "fc3 29254+1 reply"}},
    };
    for (const Case& c : cases) {
        LoggedSim target({"--tcp", "0", "--device", c.presets});
        const Result r = RunCli(target, false, c.options);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.out.find("Pipe A OuterDiameter (24000): 100.0 mm -> 114.3 mm\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Measuring B MeasuringValue (25376): Mass Flow -> Volumemetric Flow\n"), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("3 parameters differ\n"), std::string::npos) << r.out;
        std::vector<std::string> expected = {"fc3 29254+1 reply"};
        expected.insert(expected.end(), c.unlock.begin(), c.unlock.end());
        for (const std::string& s : std::vector<std::string>{"fc16 24000+2 " + Words(saved, 24000) + " reply", "fc3 24000+2 reply",
                                     "fc16 25376+2 " + Words(saved, 25376, 25377) + " reply",
                                     std::string("fc3 25376+1 reply"), std::string("fc3 25377+1 reply")})
            expected.push_back(s);
        expected.insert(expected.end(), c.lock.begin(), c.lock.end());
        EXPECT_EQ(AfterComparison(target, rows), expected) << c.presets;
        // Restored: a save of the target now gives the same file apart from the date.
        ASSERT_EQ(RunCli(target, true, {again}).code, 0);
        nlohmann::json copy = ReadJson(again), original = saved;
        copy.erase("date");
        original.erase("date");
        EXPECT_EQ(copy, original) << c.presets;
    }
}

TEST_F(Config, NothingIsWrittenWhenRefused)
{
    struct Case {
        std::string presets;
        ConfigOptions options;
        int code;
        const char* message;
        std::vector<std::string> writes;
    };
    const Case cases[] = {
        {Presets, {file, "", true}, 0, "", {}},
        {std::string(Presets) + ",protect=42", {file}, 2, "give its code with --protection-code", {}},
        {std::string(Presets) + ",protect=42", {file, "", false, 41}, 1, "did not accept the protection code",
         {"fc16 29254+3 [0,41,0] exception 2"}},
        {std::string(Presets) + ",refuse=24000", {file}, 1, "Did not take: Pipe A OuterDiameter (24000): 100.0 mm -> 114.3 mm",
         {"fc16 24000+2 " + Words(saved, 24000) + " exception 4", "fc16 25376+2 " + Words(saved, 25376, 25377) + " reply"}},
    };
    for (const Case& c : cases) {
        LoggedSim target({"--tcp", "0", "--device", c.presets});
        const Result r = RunCli(target, false, c.options);
        EXPECT_EQ(r.code, c.code) << c.presets;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        std::vector<std::string> writes;
        for (const auto& b : AfterComparison(target, rows))
            if (b.rfind("fc16", 0) == 0)
                writes.push_back(b);
        EXPECT_EQ(writes, c.writes) << c.presets;
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
    struct Case {
        std::string content;
        const char* message;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        std::ofstream(file) << c.content;
        const Result r = RunCli(target, false, {file});
        EXPECT_EQ(r.code, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        for (const auto& b : Briefs(target.NewRequests()))
            EXPECT_EQ(b.rfind("fc16", 0), std::string::npos) << b;
    }
}

TEST_F(Config, SaveNamesListEntriesAndCheckBoxesByTextAndNumbersWithTheirUnits)
{
    struct Case {
        std::string page, name;
        nlohmann::json value;
        const char* unit;
    };
    const Case cases[] = {
        {"Pipe A", "OuterDiameter", 114.3, "mm"},
        {"Pipe A", "WallEnabled", "Enabled", nullptr},
        {"Pipe B", "WallMaterial", "Stainless Steel", nullptr},
        {"Fluid A", "Fluid", "Water", nullptr},
        {"Fluid A", "FluidDensity", 0.9982, "g/cm\u00b3"},
        {"Transducer A", "TransducerType", "VTM-1A2", nullptr},
        {"Transducer A", "TransducerTolerance", 10, "ns"},
        {"Measuring A", "MeasuringUnit", "m\u00b3/h", nullptr},  // follows the quantity
        {"Linking A", "LinkingTemperatureAux", "T2", nullptr},
        {"Calculation Channel Y", "CalculationInput2", "Channel B", nullptr},
        {"Global Settings -", "LoggerChannel", {"Channel A", "Channel B"}, nullptr},
        {"Global Settings -", "LoggerOptions", {"Store Totalizer", "Ring Buffer"}, nullptr},
        {"Process Output Loop 1", "CurrentLoopMeasValue", "Volumemetric Flow", nullptr},
        {"Process Output Loop 1", "CurrentLoopFullScale", 0.05, "m\u00b3/s"},  // the quantity's unit
        {"Process Input T2", "ProcessInputSensor", "PT 1000", nullptr},
        {"Modbus Process Input 1", "ProcessInputChannel", "Channel A", nullptr},
        {"Modbus Process Input 1", "ProcessInputValue", nullptr, nullptr},  // live data: not saved
    };
    for (const Case& c : cases) {
        const nlohmann::json* found = nullptr;
        for (const auto& page : saved["pages"])
            if (page["page"].get<std::string>() + " " + page["instance"].get<std::string>() == c.page)
                for (const auto& p : page["parameters"])
                    if (p["name"] == c.name)
                        found = &p;
        if (c.name == "ProcessInputValue") {
            EXPECT_FALSE(found);
            continue;
        }
        ASSERT_TRUE(found) << c.page << " " << c.name;
        EXPECT_EQ((*found)["value"], c.value) << c.name;
        EXPECT_EQ(found->value("unit", ""), c.unit ? c.unit : "") << c.name;
    }
}

TEST_F(Config, ChannelSavesOnlyThatChannelsPages)
{
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"B", {"Pipe B", "Fluid B", "Transducer B", "Measuring B", "Linking B"}},
        {"Z", {"Calculation Channel Z"}},
    };
    for (const auto& [channel, pages] : cases) {
        ASSERT_EQ(RunCli(source, true, {again, channel}).code, 0);
        std::vector<std::string> names;
        const nlohmann::json written = ReadJson(again);
        for (const auto& p : written["pages"])
            names.push_back(p["page"].get<std::string>() + " " + p["instance"].get<std::string>());
        EXPECT_EQ(names, pages);
    }
}

}  // namespace
