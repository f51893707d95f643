#pragma once

// Programs run by tests: started with posix_spawn, output captured through pipes, always
// stopped and reaped by their pid.

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

// A program under the build tree: $TARNWICK_BIN_DIR/relative.
std::string BuildPath(const std::string& relative);
// A file of the source tree.
std::string SourcePath(const std::string& relative);
// Debian's interpreter, where python3-pymodbus lives, whatever python3 PATH finds first;
// TARNWICK_PYTHON overrides it.
std::string PythonInterpreter();

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Next line of standard output, without its end; nothing at the deadline or the end of output.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Sends the signal, waits up to the timeout (then SIGKILL), reaps; returns the exit code, or
    // -1 when it ended by a signal.
    int Stop(int signal = 15, std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
    std::optional<int> exit_;
};

}  // namespace testing_support
