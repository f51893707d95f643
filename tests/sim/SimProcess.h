#pragma once

// vortan-sim as a child process of a test, stopped by its pid in every path.

#include "ChildProcess.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

class SimProcess {
public:
    // The transport lines come together: they end where the output pauses, or with the child.
    explicit SimProcess(std::vector<std::string> args)
        : child_((args.insert(args.begin(), testing_support::BuildPath("sim/vortan-sim")), args), true)
    {
        using std::chrono::milliseconds;
        for (milliseconds wait(10000); auto line = child_.ReadLine(wait); wait = milliseconds(100)) {
            if (line->starts_with("tcp: "))
                tcpPort_ = static_cast<uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
            if (line->starts_with("pty: "))
                pty_ = line->substr(5);
            lines_.push_back(std::move(*line));
        }
    }

    pid_t Pid() const { return child_.Pid(); }
    uint16_t TcpPort() const { return tcpPort_; }
    const std::string& PtyPath() const { return pty_; }
    const std::vector<std::string>& Lines() const { return lines_; }

    // SIGTERM (or the given signal) and waitpid; the exit status, -1 when it did not end in time.
    int Stop(int signal = 15) { return child_.Stop(signal); }
    // For children that end by themselves (bad arguments): the exit status, and what went to stderr.
    int WaitExit() { return child_.Wait(std::chrono::seconds(10)); }
    const std::string& Stderr() const { return child_.Stderr(); }

private:
    testing_support::ChildProcess child_;
    std::vector<std::string> lines_;
    uint16_t tcpPort_ = 0;
    std::string pty_;
};

}  // namespace simtest
