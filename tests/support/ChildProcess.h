#pragma once

// Programs run by tests, their output captured, always stopped and reaped by their pid.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct RunResult {
    int exitCode = -1;  // -1: killed at the deadline or by a signal
    std::string out;
    std::string err;
};

// Runs argv to its end (killed at the deadline), capturing both output streams.
RunResult RunProgram(const std::vector<std::string>& argv,
              std::chrono::milliseconds timeout = std::chrono::seconds(30));

std::string BuildPath(const std::string& relative);  // $TARNWICK_BIN_DIR/relative
std::string SourcePath(const std::string& relative);

class ChildProcess {
public:
    // With captureStderr standard error is kept, otherwise it goes where the test's own goes.
    explicit ChildProcess(const std::vector<std::string>& argv, bool captureStderr = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Next line of standard output, without its end; nothing at the deadline or the end of output.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Standard output until the child closes it or the deadline passes.
    std::string ReadToEnd(std::chrono::milliseconds timeout);
    // Signals, or waits for the child's own end; SIGKILL at the deadline. Exit code, -1 after a signal.
    int Stop(int signal = 15);
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // What the child wrote to standard error, complete once it has been reaped.
    const std::string& Stderr() const { return stderr_; }

private:
    bool Fill(int waitMs);  // false at the deadline or the end of standard output

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string stderr_;
    std::string buffered_;
    std::optional<int> exit_;
};

}  // namespace testing_support
