// The walk and the report without a port, then tarnwick-cli search against simulators on ptys.

#include "SearchReport.h"
#include "SearchWalk.h"

#include "ChildProcess.h"
#include "SimProcess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <filesystem>

namespace {

using namespace search;
using testing_support::RunProgram;
using modbus::psEven;
using modbus::psNone;
using modbus::psOdd;

std::string Key(const TCombination& c)
{
    return c.port + "/" + std::to_string(c.address) + "/" + c.baudText + "/" + c.parityText;
}

TEST(SearchWalk, OrderIsPortAddressBaudParityAndChoicesNarrowIt)
{
    const auto all = Combinations({{"A", "B"}, 0, "-", "-"});
    ASSERT_EQ(all.size(), 2u * 247 * 2 * 3);
    EXPECT_EQ(std::tuple(Key(all[0]), Key(all[6]), Key(all[1481]), Key(all[1482])),
              std::tuple("A/1/9600/None", "A/2/9600/None", "A/247/19200/Even", "B/1/9600/None"));
    EXPECT_EQ(std::tuple(all[1].baud, all[1].parity, all[5].baud, all[5].parity),
              std::tuple(modbus::br9600, psOdd, modbus::br19200, psEven));
    const std::pair<TSearchChoice, std::vector<std::string>> cases[] = {
        {{{"A"}, 17, "-", "-"},
         {"A/17/9600/None", "A/17/9600/Odd", "A/17/9600/Even", "A/17/19200/None", "A/17/19200/Odd", "A/17/19200/Even"}},
        {{{"A", "B"}, 5, "19200", "Odd"}, {"A/5/19200/Odd", "B/5/19200/Odd"}},
        {{{}, 0, "-", "-"}, {}},
    };
    for (const auto& [choice, expected] : cases) {
        std::vector<std::string> got;
        for (const auto& comb : Combinations(choice))
            got.push_back(Key(comb));
        EXPECT_EQ(got, expected);
    }
    const auto perPort = CombinationsPerPort({{"A", "B"}, 5, "-", "None"});
    ASSERT_EQ(perPort.size(), 2u);
    EXPECT_EQ(Key(perPort[1][1]), "B/5/19200/None");
}

TEST(SearchWalk, ProgressIsTheRoundedSumOfSteps)
{
    // {step, of, position}; no port: no division by zero; 14 and 15 of 2964: 0.47 and 0.506
    for (auto [step, of, position] : {std::array{0, 0, 0}, {5, 0, 0}, {1, 6, 17}, {3, 6, 50}, {6, 6, 100},
                                      {14, 2964, 0}, {15, 2964, 1}, {2964, 2964, 100}})
        EXPECT_EQ(ProgressPosition(step, of), position) << step << "/" << of;
}

TEST(SearchWalk, QuickTimeoutIsWireTimePlusMarginWithAFloor)
{
    // 16 bytes of 11 bits at 9600 bit/s: 18.33 ms, rounded up.
    EXPECT_EQ(WireTimeUs(16, 9600, psEven), 18334u);
    EXPECT_EQ(WireTimeUs(16, 9600, psNone), 16667u);
    EXPECT_EQ(QuickProbeTimeoutMs(9600, psEven), 19u + QuickTurnaroundMarginMs);
    EXPECT_EQ(QuickProbeTimeoutMs(9600, psNone), 17u + QuickTurnaroundMarginMs);
    EXPECT_EQ(QuickProbeTimeoutMs(19200, psOdd), std::max(QuickFloorMs, 10u + QuickTurnaroundMarginMs));
    EXPECT_EQ(QuickProbeTimeoutMs(115200, psNone), QuickFloorMs);
    EXPECT_EQ(QuickProbeTimeoutMs(300, psNone), 534u + QuickTurnaroundMarginMs);
    TCombination c{"A", 1, "9600", "Even", modbus::br9600, psEven};
    EXPECT_EQ(std::tuple(ProbeTimeoutMs(c, false), ProbeTimeoutMs(c, true)), std::tuple(500u, 59u));
    const auto list = Combinations({{"A"}, 1, "-", "-"});
    EXPECT_EQ(std::tuple(RemainingMs(list, 0, false), RemainingMs(list, 4, false)), std::tuple(3000u, 1000u));
}

TEST(SearchWalk, IdentificationMarkerBeforeTheFirstZeroOrFF)
{
    auto bytes = [](std::string s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    EXPECT_TRUE(IsVortanIdentification(bytes("KALDOR VORTAN V3\xFF" "ARM")));
    EXPECT_FALSE(IsVortanIdentification(bytes("KALDOR vortan")));
    EXPECT_FALSE(IsVortanIdentification(bytes("OTHER\xFFVORTAN")));
    EXPECT_FALSE(IsVortanIdentification(bytes(std::string("OTHER\0VORTAN", 12))));
    EXPECT_FALSE(IsVortanIdentification({}));
}

const std::vector<TVortan_Device> TwoMeters = {{"A", 1, modbus::br9600, "9600", psNone, "None"},
                                               {"B", 247, modbus::br19200, "19200", psOdd, "Odd"}};
const std::vector<TOther_Device> OneOther = {{"A", 17, "19200", "Even"}};

TEST(SearchReport, SavedAndPrintedLayouts)
{
    const std::string rule(57, '-'), header = "| Slave-Addr | BaudRate | Parity | DataBits | StopBits  |";
    const std::vector<std::string> expected = {
        "                  FOUND MODBUS DEVICES                   ", "", "", rule,
        "|                    VORTAN Devices                     |", rule, header, rule,
        "|     1      |   9600   |  None  |    8     |     1     |", rule,
        "|   247      |  19200   |   Odd  |    8     |     1     |", rule, "", "", "", "", rule,
        "|                     Other Devices                     |", rule, header, rule,
        "|    17      |  19200   |  Even  |    8     |     1     |", rule};
    EXPECT_EQ(SavedReportLines(TwoMeters, OneOther), expected);
    EXPECT_EQ(ReportRow(100, "9600", "Odd"), "|   100      |   9600   |   Odd  |    8     |     1     |");
    EXPECT_EQ(ReportRow(0, "9600", "None"), "|   0      |   9600   |  None  |    8     |     1     |");
    const auto noOther = SavedReportLines(TwoMeters, {});
    EXPECT_EQ(noOther.size(), expected.size() - 2);
    EXPECT_EQ(noOther.back(), rule);
    EXPECT_EQ(noOther[noOther.size() - 4], ReportOtherBox);

    // On paper: 3 blank lines, the bold title ("*"), the file's lines with a margin, 3 blanks between tables.
    std::vector<std::string> printed;
    for (const auto& line : PrintedReportLines(TwoMeters, OneOther))
        printed.push_back(line.bold ? "*" + line.text : line.text);
    const std::string margin(16, ' ');
    std::vector<std::string> paper = {"", "", "", "*" + margin + ReportTitle, "", ""};
    for (size_t i = 3; i < expected.size(); ++i)
        if (i != 15)
            paper.push_back(expected[i].empty() ? "" : margin + expected[i]);
    EXPECT_EQ(printed, paper);
}

TEST(SearchReport, FileNameGetsTxtOnlyWhenItLacksIt)
{
    for (auto [in, out] : {std::pair{"/tmp/x", "/tmp/x.txt"}, {"/tmp/x.txt", "/tmp/x.txt"}, {"/tmp/x.TXT", "/tmp/x.TXT"},
                           {"/tmp/x.txt.txt", "/tmp/x.txt.txt"}, {"/tmp/x.text", "/tmp/x.text.txt"}, {"txt", "txt.txt"}})
        EXPECT_EQ(ReportFileName(in), out);
}

// CR LF and a missing folder: the search window's save. A full device fails at flush or close, not at open.
TEST(SearchReport, AFullDeviceIsAnError)
{
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_NE(WriteReportFile("/dev/full", SavedReportLines(TwoMeters, OneOther)), "");
    }
}

TEST(SearchCli, PrintsOneLinePerDeviceAndNothingFoundAndBusyPortHaveTheirExitCodes)
{
    simtest::SimProcess meter({"--pty", "--device", "address=4,baud=9600"});
    simtest::SimProcess other({"--pty", "--device", "address=4,id=ACME FLOW 2000"});
    const std::string cli = testing_support::BuildPath("cli/tarnwick-cli");
    const std::string vortan = "VORTAN " + meter.PtyPath() + " address 4 9600 Even\n";
    const std::string foreign = "other " + other.PtyPath() + " address 4 19200 Even\n";
    // Quick: the ports report side by side, in either order; the standard walk below, on one port.
    const auto r = RunProgram({cli, "search", "--port", meter.PtyPath(), "--port", other.PtyPath(),
                               "--address", "4", "--parity", "even", "--quick"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.out, testing::AnyOf(vortan + foreign, foreign + vortan));
    const auto json = RunProgram({cli, "search", "--port", meter.PtyPath(), "--address", "4", "--baud", "9600",
                                  "--parity", "none", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    auto device = nlohmann::json::parse(json.out);
    EXPECT_EQ(device.erase("elapsed_ms"), 1u);
    EXPECT_EQ(device, nlohmann::json({{"port", meter.PtyPath()}, {"address", 4}, {"baud", 9600},
                                      {"parity", "None"}, {"vortan", true}}));

    const auto none = RunProgram({cli, "search", "--port", meter.PtyPath(), "--address", "5", "--quick"});
    EXPECT_EQ(std::tuple(none.exitCode, none.out), std::tuple(1, ""));

    const int held = ::open(meter.PtyPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const auto busy = RunProgram({cli, "search", "--port", meter.PtyPath(), "--address", "4"});
    ::close(held);
    EXPECT_EQ(busy.exitCode, 2);
    EXPECT_NE(busy.err.find("Search was aborted! - " + meter.PtyPath()), std::string::npos) << busy.err;
}

}  // namespace
