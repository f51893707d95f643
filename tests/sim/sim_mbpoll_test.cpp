// An independent master: Debian's mbpoll reads vortan-sim over TCP and over the pty.

#include "ChildProcess.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <map>
#include <regex>

namespace {

using namespace simtest;

// mbpoll's "[1113]: \t1" lines as register (numbered from 1, as mbpoll does) -> value.
std::map<int, int> Mbpoll(std::vector<std::string> args, std::string& text)
{
    args.insert(args.begin(), "/usr/bin/mbpoll");
    const testing_support::RunResult r = testing_support::RunProgram(args, std::chrono::seconds(10));
    text = r.out + r.err;
    std::map<int, int> regs;
    const std::regex line(R"(\[(\d+)\]:\s+(-?\d+))");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
        regs[std::stoi((*it)[1])] = std::stoi((*it)[2]);
    return regs;
}

TEST(MbpollTest, ReadsTheBlockAndHeartbeatOverTcpAndThePtyAndNothingAtTheWrongSpeed)
{
    if (access("/usr/bin/mbpoll", X_OK) != 0)
        GTEST_SKIP() << "mbpoll is not installed (scripts/setup installs it)";
    SimProcess sim({"--tcp", "0", "--pty"});
    const std::vector<std::string> links[] = {
        {"-m", "tcp", "-p", std::to_string(sim.TcpPort()), "127.0.0.1"},
        {"-m", "rtu", "-b", "19200", "-P", "even", sim.PtyPath()},
    };
    std::string text;
    for (const auto& link : links) {
        SCOPED_TRACE(link[1]);
        auto read = [&](const char* first, const char* count) {
            std::vector<std::string> args = {"-a", "1", "-r", first, "-c", count, "-t", "4", "-1"};
            args.insert(args.end(), link.begin(), link.end());
            return Mbpoll(args, text);
        };
        // Its 1113 is register 1112, channel A's "Volume Flow" block.
        const auto regs = read("1113", "16");
        ASSERT_EQ(regs.size(), 16u) << text;
        EXPECT_EQ(regs.at(1113), 1);  // status valid
        const auto word = [&](int r) { return static_cast<uint32_t>(regs.at(r) & 0xFFFF); };
        const float unscaled = std::bit_cast<float>(word(1114) | word(1115) << 16);
        EXPECT_GT(unscaled, 0.01f) << text;
        EXPECT_LT(unscaled, 0.02f) << text;
        EXPECT_EQ(regs.at(1116), 0);  // m3/h
        EXPECT_NEAR(std::bit_cast<float>(word(1117) | word(1118) << 16), unscaled * 3600.0f, 1e-2f);
        EXPECT_EQ(word(1119), 0x336Du);  // "m3"
        const auto beat = read("2", "1");
        ASSERT_EQ(beat.count(2), 1u) << text;
        EXPECT_GE(beat.at(2), 0);
        EXPECT_LT(beat.at(2), 60);  // seconds since the simulator started
    }
    EXPECT_TRUE(Mbpoll({"-m", "rtu", "-a", "1", "-b", "9600", "-P", "even", "-r", "2", "-c", "1", "-t", "4", "-1", "-o",
                        "0.3", sim.PtyPath()}, text).empty()) << text;
}

}  // namespace
