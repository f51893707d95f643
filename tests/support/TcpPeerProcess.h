#pragma once

// A peer program run as a child process for interop tests (a Modbus server written with another
// stack). The child's standard output is a pipe from which the test reads lines with a deadline;
// the child is stopped by its pid (SIGTERM, SIGKILL if it lingers) and reaped.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tcptest {

class TcpPeerProcess {
public:
    // argv[0] is the program's path. Raises std::runtime_error when it cannot be started.
    explicit TcpPeerProcess(const std::vector<std::string>& argv);
    ~TcpPeerProcess();
    TcpPeerProcess(const TcpPeerProcess&) = delete;
    TcpPeerProcess& operator=(const TcpPeerProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // The next line of the child's output without its line end; nothing when the deadline
    // passes or the output ends first.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Stops and reaps the child; returns its wait status. Further calls return the same.
    int Stop();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
    std::optional<int> status_;
};

}  // namespace tcptest
