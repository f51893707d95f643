// vortan-sim's command line: bad input is refused with a message and status 2; --link and
// --dump do what they say; SIGINT and SIGTERM end it cleanly.

#include "RawLink.h"
#include "SimLog.h"
#include "SimProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using namespace simtest;

std::string TempPath(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/vortan-sim-" + std::to_string(getpid()) + "-" + name;
}

TEST(SimCliTest, BadArgumentsExitWithStatusTwo)
{
    struct Row { std::vector<std::string> args; const char* message; };
    const Row rows[] = {
        {{"--device", "address=300"}, "--device address=300: address=300: must be between 1 and 247"},
        {{"--device", "baud=fast"}, "baud=fast: not a number"},
        {{"--device", "colour=red"}, "unknown setting \"colour\""},
        {{"--device", "address=3", "--device", "address=3,baud=9600"}, "address 3 is already taken"},
        {{"--tcp", "127.0.0.1:http"}, "--tcp 127.0.0.1:http: port must be a number from 0 to 65535"},
        {{"--tcp"}, "--tcp needs a value"},
        {{"--serial"}, "unknown option \"--serial\""},
        {{"--device", "set=5000"}, "set=5000: needs ADDR:VALUE[:VALUE...]"},
        {{"--device", "set=65535:1:2"}, "set=65535:1:2: runs past register 65535"},
        {{"--device", "set=100:0x1g"}, "set=100:0x1g: 0x1g is not a number"},
        {{"--device", "set=1:5"}, "register 1 is computed by the meter and cannot be preset"},
        {{"--device", "refuse=abc"}, "refuse=abc: abc is not a number"},
        {{"--device", "protect=-1"}, "protect=-1: must be between 0 and 4294967295"},
    };
    for (const Row& r : rows) {
        SimProcess sim(r.args, std::chrono::milliseconds(3000));
        EXPECT_EQ(sim.WaitExit(), 2) << r.message;
        EXPECT_NE(sim.Stderr().find(r.message), std::string::npos) << sim.Stderr();
        EXPECT_TRUE(sim.Lines().empty());
    }
}

TEST(SimCliTest, LinkPointsAtThePtyAndGoesAway)
{
    const std::string link = TempPath("link");
    {
        SimProcess sim({"--link", link});
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(target, sim.PtyPath());
        RawSerial line(link, 19200);
        const Bytes reply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x00});
        EXPECT_EQ(line.Transact(WithCrc({0x01, 0x03, 0xFF, 0xFF, 0x00, 0x01}), reply.size()), reply);
        EXPECT_EQ(sim.Stop(SIGINT), 0);
    }
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(SimCliTest, DumpListsWhatTheClientWrote)
{
    const std::string dump = TempPath("dump.json");
    SimProcess sim({"--tcp", "0", "--pty", "--dump", dump});
    ASSERT_EQ(sim.Lines().size(), 2u);
    EXPECT_EQ(sim.Lines()[1], "pty: " + sim.PtyPath());
    {
        RawTcp raw(sim.TcpPort());
        raw.Write(Mbap(1, 1, {0x10, 0x72, 0x49, 0x00, 0x01, 0x02, 0x00, 0x00}));  // stop measuring
        EXPECT_EQ(raw.ReadFrame().size(), 12u);
        raw.Write(Mbap(2, 1, {0x06, 0x00, 0x00, 0x00, 0x01}));  // refused: no register 0
        EXPECT_EQ(raw.ReadFrame().size(), 9u);
    }
    {
        RawSerial line(sim.PtyPath(), 19200);
        EXPECT_EQ(line.Transact(WithCrc({0x01, 0x06, 0x04, 0x5B, 0x00, 0x03}), 8).size(), 8u);
    }
    ASSERT_EQ(sim.Stop(), 0);
    std::ifstream in(dump);
    ASSERT_TRUE(in);
    const auto json = nlohmann::json::parse(in);
    const auto& changes = json.at("changes");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].at("address"), 29257);
    EXPECT_EQ(changes[0].at("old"), 1);
    EXPECT_EQ(changes[0].at("new"), 0);
    EXPECT_EQ(changes[0].at("device"), 1);
    EXPECT_EQ(changes[1].at("address"), 1115);
    EXPECT_EQ(changes[1].at("new"), 3);
    EXPECT_TRUE(changes[1].at("time").is_string());
    // The log at exit, and no SIGUSR1 dump before it.
    EXPECT_EQ(json.at("sequence"), 1);
    const auto requests = RequestsOf(json);
    EXPECT_EQ(Briefs(requests), (std::vector<std::string>{"fc16 29257+1 [0] reply", "fc6 0+1 [1] exception 2",
                                                          "fc6 1115+1 [3] reply"}));
    std::remove(dump.c_str());
}

}  // namespace
