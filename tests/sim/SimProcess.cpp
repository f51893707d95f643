#include "SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace simtest {

using Clock = std::chrono::steady_clock;

std::string SimBinary()
{
    const char* dir = std::getenv("TARNWICK_BIN_DIR");
    return std::string(dir ? dir : ".") + "/sim/vortan-sim";
}

SimProcess::SimProcess(std::vector<std::string> args, std::chrono::milliseconds timeout)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    const std::string binary = SimBinary();
    std::vector<char*> argv = {const_cast<char*>(binary.c_str())};
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, binary.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + binary);
    }
    // One line per transport; the count is not known here, so read until the output pauses
    // after the first line, or the child ends.
    std::string text;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const bool haveLine = text.find('\n') != std::string::npos;
        if (left.count() <= 0)
            break;
        pollfd p{out_, POLLIN, 0};
        const int r = poll(&p, 1, haveLine ? 100 : static_cast<int>(left.count()));
        if (r <= 0)
            break;
        char buf[256];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, static_cast<size_t>(n));
    }
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string line = text.substr(start, nl - start);
        lines_.push_back(line);
        if (line.rfind("tcp: ", 0) == 0)
            tcp_ = line.substr(5);
        if (line.rfind("pty: ", 0) == 0)
            pty_ = line.substr(5);
    }
}

SimProcess::~SimProcess()
{
    Stop();
    if (out_ >= 0)
        close(out_);
    if (err_ >= 0)
        close(err_);
}

uint16_t SimProcess::TcpPort() const
{
    const size_t colon = tcp_.rfind(':');
    return colon == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(tcp_.substr(colon + 1)));
}

void SimProcess::Drain(int fd, std::string& into, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return;
        char buf[512];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        into.append(buf, static_cast<size_t>(n));
    }
}

int SimProcess::WaitExit(std::chrono::milliseconds timeout)
{
    if (pid_ <= 0)
        return -1;
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_)
            break;
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        // The child's stderr pipe closes when it exits: wait on that rather than sleep.
        pollfd p{err_, POLLIN, 0};
        poll(&p, 1, 20);
        if (p.revents & POLLIN) {
            char buf[512];
            const ssize_t n = read(err_, buf, sizeof buf);
            if (n > 0)
                stderr_.append(buf, static_cast<size_t>(n));
        }
    }
    pid_ = -1;
    Drain(err_, stderr_, std::chrono::milliseconds(200));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int SimProcess::Stop(int signal)
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, signal);
    return WaitExit();
}

}  // namespace simtest
