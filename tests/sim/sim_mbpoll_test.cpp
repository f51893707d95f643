// An independent master: Debian's mbpoll reads vortan-sim over TCP and over the pty.

#include "ChildProcess.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <map>
#include <regex>
#include <sstream>


namespace {

using namespace simtest;

bool HaveMbpoll() { return access("/usr/bin/mbpoll", X_OK) == 0; }

// Runs mbpoll to its end (killed by pid after 10 s) and returns what it printed.
std::string RunMbpoll(std::vector<std::string> args)
{
    args.insert(args.begin(), "/usr/bin/mbpoll");
    const testing_support::RunResult r = testing_support::RunProgram(args, std::chrono::seconds(10));
    return r.out + r.err;
}

// "[1113]: \t1" lines -> register (as mbpoll numbers it) -> value.
std::map<int, int> Registers(const std::string& text)
{
    std::map<int, int> regs;
    const std::regex line(R"(\[(\d+)\]:\s+(-?\d+))");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
        regs[std::stoi((*it)[1])] = std::stoi((*it)[2]);
    return regs;
}

void CheckVolumeFlowBlock(const std::map<int, int>& regs, const std::string& text)
{
    // mbpoll counts from 1: its 1113 is register 1112, channel A's "Volume Flow" block.
    ASSERT_EQ(regs.size(), 16u) << text;
    EXPECT_EQ(regs.at(1113), 1);  // status valid
    const auto word = [&](int r) { return static_cast<uint32_t>(regs.at(r) & 0xFFFF); };
    const float unscaled = std::bit_cast<float>(word(1114) | word(1115) << 16);
    const float scaled = std::bit_cast<float>(word(1117) | word(1118) << 16);
    EXPECT_GT(unscaled, 0.01f) << text;
    EXPECT_LT(unscaled, 0.02f) << text;
    EXPECT_EQ(regs.at(1116), 0);  // m3/h
    EXPECT_NEAR(scaled, unscaled * 3600.0f, 1e-2f);
    EXPECT_EQ(word(1119), 0x336Du);  // "m3"
}

TEST(MbpollTest, ReadsTheBlockAndHeartbeatOverTcp)
{
    if (!HaveMbpoll())
        GTEST_SKIP() << "mbpoll is not installed (scripts/setup installs it)";
    SimProcess sim({"--tcp", "0"});
    const std::string port = std::to_string(sim.TcpPort());
    const std::string block = RunMbpoll({"-m", "tcp", "-a", "1", "-r", "1113", "-c", "16", "-t", "4",
                                         "-1", "-p", port, "127.0.0.1"});
    CheckVolumeFlowBlock(Registers(block), block);

    const std::string beat = RunMbpoll({"-m", "tcp", "-a", "1", "-r", "2", "-c", "1", "-t", "4",
                                        "-1", "-p", port, "127.0.0.1"});
    const auto regs = Registers(beat);
    ASSERT_EQ(regs.count(2), 1u) << beat;
    EXPECT_GE(regs.at(2), 0);
    EXPECT_LT(regs.at(2), 60);  // seconds since the simulator started
}

TEST(MbpollTest, ReadsTheBlockAndHeartbeatOverThePty)
{
    if (!HaveMbpoll())
        GTEST_SKIP() << "mbpoll is not installed (scripts/setup installs it)";
    SimProcess sim({"--pty"});
    const std::string block = RunMbpoll({"-m", "rtu", "-a", "1", "-b", "19200", "-P", "even", "-r",
                                         "1113", "-c", "16", "-t", "4", "-1", sim.PtyPath()});
    CheckVolumeFlowBlock(Registers(block), block);

    const std::string beat = RunMbpoll({"-m", "rtu", "-a", "1", "-b", "19200", "-P", "even", "-r",
                                        "2", "-c", "1", "-t", "4", "-1", sim.PtyPath()});
    const auto regs = Registers(beat);
    ASSERT_EQ(regs.count(2), 1u) << beat;
    EXPECT_LT(regs.at(2), 60);
}

TEST(MbpollTest, WrongSpeedMeansNoAnswer)
{
    if (!HaveMbpoll())
        GTEST_SKIP() << "mbpoll is not installed (scripts/setup installs it)";
    SimProcess sim({"--pty"});
    const std::string out = RunMbpoll({"-m", "rtu", "-a", "1", "-b", "9600", "-P", "even", "-r", "2",
                                       "-c", "1", "-t", "4", "-1", "-o", "0.3", sim.PtyPath()});
    EXPECT_TRUE(Registers(out).empty()) << out;
}

}  // namespace
