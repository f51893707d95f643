#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Appends what fd has to `to`; false at its end.
bool ReadSome(int fd, std::string& to)
{
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0)
        to.append(buf, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

}  // namespace

std::string BuildPath(const std::string& relative)
{
    const char* dir = std::getenv("TARNWICK_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + relative;
}

std::string SourcePath(const std::string& relative)
{
    return std::string(TARNWICK_SOURCE_DIR) + "/" + relative;
}

std::string PythonInterpreter()
{
    const char* chosen = std::getenv("TARNWICK_PYTHON");
    return chosen && *chosen ? chosen : "/usr/bin/python3";
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
    int out[2], err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || (captureStderr && ::pipe2(err, O_CLOEXEC) != 0))
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (err[1] >= 0)
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {out[1], err[1]})
        if (fd >= 0)
            ::close(fd);
    out_ = out[0];
    err_ = err[0];
    if (rc != 0) {
        CloseStderr();
        ::close(out_);
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

ChildProcess::~ChildProcess()
{
    Stop();
    ::close(out_);
    CloseStderr();
}

void ChildProcess::CloseStderr()
{
    if (err_ >= 0)
        ::close(err_);
    err_ = -1;
}

bool ChildProcess::DrainStderr(int waitMs)
{
    pollfd p{err_, POLLIN, 0};
    if (err_ < 0 || ::poll(&p, 1, waitMs) <= 0)
        return false;
    if (!ReadSome(err_, stderr_))
        CloseStderr();
    return true;
}

bool ChildProcess::Fill(int waitMs)
{
    pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(p, err_ >= 0 ? 2 : 1, waitMs) <= 0)
        return false;
    // Reading standard error meanwhile keeps the child from blocking on a full pipe.
    if (err_ >= 0 && p[1].revents)
        DrainStderr(0);
    return !p[0].revents || ReadSome(out_, buffered_);
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

int ChildProcess::Stop(int signal, std::chrono::milliseconds timeout)
{
    if (!exit_ && pid_ > 0)
        ::kill(pid_, signal);
    return Wait(timeout);
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
        if (!DrainStderr(2))
            ::usleep(2000);
    }
    while (DrainStderr(0)) {
    }
    exit_ = r == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return *exit_;
}

}  // namespace testing_support
