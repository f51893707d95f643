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

pid_t Spawn(const std::vector<std::string>& argv, int outFd, int errFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

int ExitCodeOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
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
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = Spawn(argv, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    RunResult r;
    const auto deadline = Clock::now() + timeout;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        if (::poll(fds, 2, MsLeft(deadline)) <= 0) {
            if (errno == EINTR)
                continue;
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = killed ? -1 : ExitCodeOf(status);
    return r;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool captureStderr)
{
    int out[2], err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || (captureStderr && ::pipe2(err, O_CLOEXEC) != 0))
        throw std::runtime_error("pipe");
    try {
        pid_ = Spawn(argv, out[1], err[1]);
    } catch (...) {
        for (int fd : {out[0], out[1], err[0], err[1]})
            if (fd >= 0)
                ::close(fd);
        throw;
    }
    ::close(out[1]);
    if (err[1] >= 0)
        ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

ChildProcess::~ChildProcess()
{
    Stop();
    if (out_ >= 0)
        ::close(out_);
    if (err_ >= 0)
        ::close(err_);
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, MsLeft(deadline)) <= 0)
            return std::nullopt;
        char buf[1024];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0)
            return std::nullopt;
        buffered_.append(buf, static_cast<size_t>(n));
    }
}

int ChildProcess::Stop(int signal, std::chrono::milliseconds timeout)
{
    if (exit_)
        return *exit_;
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, signal);
    return Reap(timeout);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    if (exit_)
        return *exit_;
    if (pid_ <= 0)
        return -1;
    return Reap(timeout);
}

void ChildProcess::DrainStderr(int waitMs)
{
    if (err_ < 0)
        return;
    pollfd p{err_, POLLIN, 0};
    while (::poll(&p, 1, waitMs) > 0) {
        char buf[1024];
        const ssize_t n = ::read(err_, buf, sizeof buf);
        if (n <= 0)
            return;
        stderr_.append(buf, static_cast<size_t>(n));
        waitMs = 0;
    }
}

int ChildProcess::Reap(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_)
            break;
        if (r < 0) {
            status = -1;
            break;
        }
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            status = -1;
            break;
        }
        // Reading what the child says meanwhile keeps it from blocking on a full pipe.
        if (err_ >= 0)
            DrainStderr(2);
        else
            ::usleep(2000);
    }
    DrainStderr(0);
    exit_ = status == -1 ? -1 : ExitCodeOf(status);
    return *exit_;
}

}  // namespace testing_support
