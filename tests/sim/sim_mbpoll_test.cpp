// An independent master: Debian's mbpoll reads vortan-sim over TCP and over the pty. What the
// block holds is checked on the model; here the framing, checksums and parity must agree.

#include "ChildProcess.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(MbpollTest, ReadsTheBlockOverTcpAndThePty)
{
    if (access("/usr/bin/mbpoll", X_OK) != 0)
        GTEST_SKIP() << "mbpoll is not installed (scripts/setup installs it)";
    simtest::SimProcess sim({"--tcp", "0", "--pty"});
    using Args = std::vector<std::string>;
    for (const Args& link : {Args{"-m", "tcp", "-p", std::to_string(sim.TcpPort()), "127.0.0.1"},
                             Args{"-m", "rtu", "-b", "19200", "-P", "even", sim.PtyPath()}}) {
        Args args = {"/usr/bin/mbpoll", "-a", "1", "-r", "1113", "-c", "16", "-t", "4", "-1"};
        args.insert(args.end(), link.begin(), link.end());
        const testing_support::RunResult r = testing_support::RunProgram(args, std::chrono::seconds(10));
        // Its 1113 is register 1112, channel A's "Volume Flow" block: status valid, unit m3/h, text "m3/h".
        for (const char* line : {"[1113]: \t1\n", "[1116]: \t0\n", "[1119]: \t13165\n", "[1120]: \t26671\n"})
            EXPECT_NE(r.out.find(line), std::string::npos) << link[1] << ": " << r.out << r.err;
    }
}

}  // namespace
