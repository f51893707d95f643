// tarnwick-cli search as a user runs it, against simulators on ptys.

#include "ChildProcess.h"
#include "SimProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <sstream>

namespace {

using testing_support::RunProgram;

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

TEST(SearchCli, PrintsOneLinePerDeviceAndNothingFoundAndBusyPortHaveTheirExitCodes)
{
    simtest::SimProcess meter({"--pty", "--device", "address=4,baud=9600"});
    simtest::SimProcess other({"--pty", "--device", "address=4,id=ACME FLOW 2000"});
    const std::string cli = testing_support::BuildPath("cli/tarnwick-cli");
    struct Case {
        std::vector<std::string> extra;
    } cases[] = {{{}}, {{"--quick"}}};
    for (const auto& c : cases) {
        std::vector<std::string> argv = {cli, "search", "--port", meter.PtyPath(), "--port", other.PtyPath(),
                                         "--address", "4", "--parity", "even"};
        argv.insert(argv.end(), c.extra.begin(), c.extra.end());
        const auto r = RunProgram(argv);
        SCOPED_TRACE(c.extra.empty() ? "standard" : "quick");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        auto lines = Lines(r.out);
        std::sort(lines.begin(), lines.end());  // quick: the ports report side by side
        EXPECT_EQ(lines, std::vector<std::string>({"VORTAN " + meter.PtyPath() + " address 4 9600 Even",
                                                   "other " + other.PtyPath() + " address 4 19200 Even"}));
    }
    const auto json = RunProgram({cli, "search", "--port", meter.PtyPath(), "--address", "4", "--baud", "9600",
                                  "--parity", "none", "--quick", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const auto device = nlohmann::json::parse(Lines(json.out).at(0));
    EXPECT_EQ(device["port"], meter.PtyPath());
    EXPECT_EQ(device["address"], 4);
    EXPECT_EQ(device["baud"], 9600);
    EXPECT_EQ(device["parity"], "None");
    EXPECT_EQ(device["vortan"], true);

    const auto none = RunProgram({cli, "search", "--port", meter.PtyPath(), "--address", "5", "--quick"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, "");

    const int held = ::open(meter.PtyPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const auto busy = RunProgram({cli, "search", "--port", meter.PtyPath(), "--address", "4"});
    ::close(held);
    EXPECT_EQ(busy.exitCode, 2);
    EXPECT_NE(busy.err.find("Search was aborted! - " + meter.PtyPath()), std::string::npos) << busy.err;
}

}  // namespace
