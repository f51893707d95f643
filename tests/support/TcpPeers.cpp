#include "TcpPeers.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tcptest {

int LoopbackSocket(uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

FullBacklogListener::FullBacklogListener()
{
    listenFd_ = LoopbackSocket(port_);
    if (::listen(listenFd_, 0) != 0)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port_);
    // Connect until one connection stays pending: from then on the queue is full.
    while (fillers_.size() < 8 && !full_) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        fillers_.push_back(fd);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            continue;
        if (errno != EINPROGRESS)
            return;
        pollfd p{fd, POLLOUT, 0};
        full_ = ::poll(&p, 1, 200) == 0;
    }
}

FullBacklogListener::~FullBacklogListener()
{
    for (int fd : fillers_)
        ::close(fd);
    ::close(listenFd_);
}

}  // namespace tcptest
