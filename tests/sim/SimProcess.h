#pragma once

// vortan-sim as a child process of a test: started with posix_spawn, its printed transport
// lines read through a pipe, stopped by its pid with SIGTERM in every path.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

std::string SimBinary();

class SimProcess {
public:
    // Waits until the transport lines are printed (or the child exits).
    explicit SimProcess(std::vector<std::string> args,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Running() const { return pid_ > 0; }
    uint16_t TcpPort() const;
    const std::string& PtyPath() const { return pty_; }
    const std::vector<std::string>& Lines() const { return lines_; }

    // SIGTERM (or the given signal) and waitpid; the exit status, -1 when it did not end in time.
    int Stop(int signal = 15);
    // For children that end by themselves (bad arguments): waits and returns the exit status.
    int WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Everything the child wrote to stderr, once it has ended.
    const std::string& Stderr() const { return stderr_; }

private:
    void Drain(int fd, std::string& into, std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::vector<std::string> lines_;
    std::string tcp_;
    std::string pty_;
    std::string stderr_;
};

}  // namespace simtest
