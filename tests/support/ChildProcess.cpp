#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

using Clock = std::chrono::steady_clock;

static int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::string BuildPath(const std::string& relative)
{
    const char* dir = std::getenv("TARNWICK_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + relative;
}

std::string SourcePath(const std::string& relative)
{
    return std::string(TARNWICK_SOURCE_DIR) + "/" + relative;
}

RunResult RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    ChildProcess child(argv, true);
    RunResult r;
    r.out = child.ReadToEnd(timeout);
    r.exitCode = child.Wait(std::chrono::milliseconds(MsLeft(deadline)));
    r.err = child.Stderr();
    return r;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool captureStderr)
{
    int out[2];
    // Standard error goes to a memory file, read once the child has been reaped: it never fills.
    if (::pipe2(out, O_CLOEXEC) != 0 || (captureStderr && (err_ = ::memfd_create("stderr", MFD_CLOEXEC)) < 0))
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (err_ >= 0)
        posix_spawn_file_actions_adddup2(&actions, err_, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);  // its two descriptors go with the test
}

ChildProcess::~ChildProcess()
{
    Stop();
    ::close(out_);
    if (err_ >= 0)
        ::close(err_);
}

bool ChildProcess::Fill(int waitMs)
{
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0)
        return false;
    char buf[4096];
    const ssize_t n = ::read(out_, buf, sizeof buf);
    if (n > 0)
        buffered_.append(buf, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    size_t nl;
    while ((nl = buffered_.find('\n')) == std::string::npos)
        if (!Fill(MsLeft(deadline)))
            return std::nullopt;
    std::string line = buffered_.substr(0, nl);
    buffered_.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string ChildProcess::ReadToEnd(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (Fill(MsLeft(deadline))) {
    }
    return std::move(buffered_);
}

int ChildProcess::Stop(int signal)
{
    if (!exit_ && pid_ > 0)
        ::kill(pid_, signal);
    return Wait(std::chrono::seconds(5));
}

int ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    if (exit_ || pid_ <= 0)
        return exit_.value_or(-1);
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(pid_, &status, WNOHANG)) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            r = -1;
            break;
        }
        ::usleep(2000);
    }
    char buf[4096];
    ssize_t n;
    while (err_ >= 0 && (n = ::pread(err_, buf, sizeof buf, static_cast<off_t>(stderr_.size()))) > 0)
        stderr_.append(buf, static_cast<size_t>(n));
    exit_ = r == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return *exit_;
}

}  // namespace testing_support
