#include "ScriptedTcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tcptest {

int BoundLoopbackSocket(sockaddr_in& addr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return fd;
}

ScriptedTcpServer::ScriptedTcpServer(Script onRequest, AcceptScript onAccept)
    : onRequest_(std::move(onRequest)), onAccept_(std::move(onAccept))
{
    sockaddr_in addr;
    listenFd_ = BoundLoopbackSocket(addr);
    port_ = ntohs(addr.sin_port);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    ::listen(listenFd_, 8);
    thread_ = std::thread([this] { Run(); });
}

ScriptedTcpServer::~ScriptedTcpServer()
{
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(listenFd_);
    ::close(wakeFd_);
}

std::vector<Request> ScriptedTcpServer::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

int ScriptedTcpServer::Connections() const
{
    std::lock_guard lock(mutex_);
    return connections_;
}

bool ScriptedTcpServer::WaitForAnswers(size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return answers_ >= n; });
}

bool ScriptedTcpServer::WaitForConnectionClosed(int connection, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return closedConnections_ >= connection; });
}

void ScriptedTcpServer::Note(const std::function<void()>& change)
{
    {
        std::lock_guard lock(mutex_);
        change();
    }
    changed_.notify_all();
}

void ScriptedTcpServer::Run()
{
    for (;;) {
        pollfd p[2] = {{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        if ((::poll(p, 2, -1) < 0 && errno != EINTR) || p[0].revents)
            return;
        if (!(p[1].revents & POLLIN))
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        int connection;
        Note([&] { connection = ++connections_; });
        Serve(fd, connection);
        Note([&] { ++closedConnections_; });
    }
}

void ScriptedTcpServer::Serve(int fd, int connection)
{
    if (onAccept_ && !Perform(fd, onAccept_(connection)))
        return;
    Bytes pending;
    for (;;) {
        pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
        if ((::poll(p, 2, -1) < 0 && errno != EINTR) || p[0].revents)
            break;
        uint8_t chunk[512];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        pending.insert(pending.end(), chunk, chunk + n);
        // The client sends whole MBAP frames; cut them by their length field.
        while (pending.size() >= 6) {
            const size_t size = 6 + (size_t{pending[4]} << 8 | pending[5]);
            if (pending.size() < size)
                break;
            Request r{connection, Bytes(pending.begin(), pending.begin() + size)};
            pending.erase(pending.begin(), pending.begin() + size);
            Note([&] { requests_.push_back(r); });
            const bool open = Perform(fd, onRequest_(r));
            Note([&] { ++answers_; });
            if (!open)
                return;
        }
    }
    ::close(fd);
}

bool ScriptedTcpServer::Perform(int fd, const std::vector<Step>& steps)
{
    for (const Step& s : steps) {
        if (s.kind == Step::kSend) {
            // A client that has gone is the test's business, not the server's.
            [[maybe_unused]] const ssize_t n = ::send(fd, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL);
            continue;
        }
        pollfd wake{wakeFd_, POLLIN, 0};
        if (s.kind == Step::kPause && ::poll(&wake, 1, static_cast<int>(s.pause.count())) == 0)
            continue;  // paused, not stopped
        const linger hard{1, 0};
        if (s.kind == Step::kReset)
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd);
        return false;
    }
    return true;
}

}  // namespace tcptest
