// An independent master: Debian's mbpoll reads vortan-sim over TCP and over the pty.

#include "ChildProcess.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <map>
#include <regex>

namespace {

// mbpoll's "[1113]: \t1" lines as register (numbered from 1, as mbpoll does) -> word; text: its output.
std::map<int, int> Mbpoll(const std::string& first, const std::string& count, std::vector<std::string> link,
                          std::string& text)
{
    std::vector<std::string> args = {"/usr/bin/mbpoll", "-a", "1", "-r", first, "-c", count, "-t", "4", "-1"};
    args.insert(args.end(), link.begin(), link.end());
    const testing_support::RunResult r = testing_support::RunProgram(args, std::chrono::seconds(10));
    text = r.out + r.err;
    std::map<int, int> regs;
    const std::regex line(R"(\[(\d+)\]:\s+(-?\d+))");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
        regs[std::stoi((*it)[1])] = std::stoi((*it)[2]) & 0xFFFF;
    return regs;
}

TEST(MbpollTest, ReadsTheBlockAndHeartbeatOverTcpAndThePtyAndNothingAtTheWrongSpeed)
{
    if (access("/usr/bin/mbpoll", X_OK) != 0)
        GTEST_SKIP() << "mbpoll is not installed (scripts/setup installs it)";
    simtest::SimProcess sim({"--tcp", "0", "--pty"});
    std::string text;
    using Args = std::vector<std::string>;
    for (const Args& link : {Args{"-m", "tcp", "-p", std::to_string(sim.TcpPort()), "127.0.0.1"},
                             Args{"-m", "rtu", "-b", "19200", "-P", "even", sim.PtyPath()}}) {
        SCOPED_TRACE(link[1]);
        // Its 1113 is register 1112, channel A's "Volume Flow" block: status valid, unit m3/h ("m3").
        const auto regs = Mbpoll("1113", "16", link, text);
        ASSERT_EQ(regs.size(), 16u) << text;
        EXPECT_EQ(std::tuple(regs.at(1113), regs.at(1116), regs.at(1119)), std::tuple(1, 0, 0x336D));
        const auto word = [&](int r) { return static_cast<uint32_t>(regs.at(r)); };
        const float unscaled = std::bit_cast<float>(word(1114) | word(1115) << 16);
        EXPECT_GT(unscaled, 0.01f) << text;
        EXPECT_LT(unscaled, 0.02f) << text;
        EXPECT_NEAR(std::bit_cast<float>(word(1117) | word(1118) << 16), unscaled * 3600.0f, 1e-2f);
        const auto beat = Mbpoll("2", "1", link, text);
        ASSERT_EQ(beat.count(2), 1u) << text;
        EXPECT_LT(beat.at(2), 60);  // seconds since the simulator started
    }
    EXPECT_TRUE(Mbpoll("2", "1", {"-m", "rtu", "-b", "9600", "-P", "even", "-o", "0.3", sim.PtyPath()}, text)
                    .empty()) << text;
}

}  // namespace
