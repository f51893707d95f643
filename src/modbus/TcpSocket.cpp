#include "TcpSocket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

namespace modbus {

namespace {

using Clock = std::chrono::steady_clock;

// Stands for "the server closed its side" among errno values.
constexpr int kOrderlyClose = ESHUTDOWN;

// poll() on one descriptor, resumed after a signal with the time that is left.
// timeoutMs < 0 waits without limit. Returns the revents, 0 on time-out.
short PollOne(int fd, short events, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    pollfd p{fd, events, 0};
    for (;;) {
        const int n = ::poll(&p, 1, timeoutMs < 0 ? -1 : MillisecondsUntil(deadline));
        if (n > 0)
            return p.revents;
        if (n == 0)
            return 0;
        if (errno != EINTR)
            throw ESocketError(errno, SocketErrorText(errno));
    }
}

struct AddrInfoDeleter {
    void operator()(addrinfo* ai) const { ::freeaddrinfo(ai); }
};

}  // namespace

std::string SocketErrorText(int code, const char* systemText)
{
    return "Socket Error # " + std::to_string(code) + "\r\n" + systemText;
}

std::string SocketErrorText(int code)
{
    return SocketErrorText(code, std::strerror(code));
}

int MillisecondsUntil(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX));
}

TcpSocket::~TcpSocket()
{
    Close();
}

void TcpSocket::Connect(int timeoutMs)
{
    if (Connected())
        throw ESocketError(ESocketError::skAlreadyConnected, sockmsg::AlreadyConnected);
    if (host_.empty())
        throw ESocketError(ESocketError::skHostRequired, sockmsg::HostRequired);
    const bool limited = timeoutMs > 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port_);
    if (const int rc = ::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found); rc != 0) {
        if (rc == EAI_SYSTEM)
            throw ESocketError(errno, SocketErrorText(errno));
        throw ESocketError(rc, SocketErrorText(rc, ::gai_strerror(rc)));
    }
    const std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);

    int lastError = EADDRNOTAVAIL;
    for (const addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
        if (limited && MillisecondsUntil(deadline) == 0)
            throw ESocketError(ESocketError::skConnectTimedOut, sockmsg::ConnectTimedOut);
        const int fd =
            ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        fd_ = fd;  // Close() now owns it, also when something below raises
        int error = 0;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS || error == EINTR) {
                short ready = 0;
                try {
                    ready = PollOne(fd, POLLOUT, limited ? MillisecondsUntil(deadline) : -1);
                } catch (...) {
                    Close();
                    throw;
                }
                if (ready == 0) {
                    Close();
                    throw ESocketError(ESocketError::skConnectTimedOut, sockmsg::ConnectTimedOut);
                }
                socklen_t len = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                    error = errno;
            }
        }
        if (error == 0) {
            // A request is one small write followed by a wait: do not let Nagle hold it back.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return;
        }
        Close();
        lastError = error;
    }
    throw ESocketError(lastError, SocketErrorText(lastError));
}

void TcpSocket::Disconnect() noexcept
{
    Close();
}

void TcpSocket::Close() noexcept
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void TcpSocket::FailWith(int error)
{
    Close();
    if (error == kOrderlyClose)
        throw ESocketError(ESocketError::skClosedGracefully, sockmsg::ClosedGracefully);
    throw ESocketError(error, SocketErrorText(error));
}

int TcpSocket::PeerState(bool* waiting) const
{
#ifdef POLLRDHUP
    // POLLRDHUP reports the server's FIN even while unread bytes are still queued before it.
    const short revents = PollOne(fd_, POLLRDHUP | POLLIN, 0);
    if (waiting)
        *waiting = (revents & POLLIN) != 0;
    if (revents & POLLERR) {
        int error = 0;
        socklen_t len = sizeof error;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len);
        return error != 0 ? error : kOrderlyClose;
    }
    return (revents & (POLLRDHUP | POLLHUP)) ? kOrderlyClose : 0;
#else
    uint8_t b;
    const ssize_t n = ::recv(fd_, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    if (waiting)
        *waiting = n > 0;
    if (n == 0)
        return kOrderlyClose;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return errno;
    return 0;
#endif
}

bool TcpSocket::Connected(bool* waiting)
{
    if (fd_ < 0)
        return false;
    if (PeerState(waiting) != 0) {
        Close();
        return false;
    }
    return true;
}

bool TcpSocket::CheckForDisconnect()
{
    if (fd_ < 0)
        throw ESocketError(ESocketError::skNotConnected, sockmsg::NotConnected);
    bool waiting = false;
    if (const int state = PeerState(&waiting); state != 0)
        FailWith(state);
    return waiting;
}

void TcpSocket::Write(const uint8_t* data, size_t size, int timeoutMs)
{
    if (fd_ < 0)
        throw ESocketError(ESocketError::skNotConnected, sockmsg::NotConnected);
    while (size > 0) {
        // MSG_NOSIGNAL: a server that has gone yields EPIPE here instead of killing the process.
        const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n >= 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (PollOne(fd_, POLLOUT, timeoutMs) == 0)
                throw ESocketError(ETIMEDOUT, SocketErrorText(ETIMEDOUT));
        } else if (errno != EINTR) {
            FailWith(errno);
        }
    }
}

bool TcpSocket::WaitReadable(int timeoutMs)
{
    if (fd_ < 0)
        throw ESocketError(ESocketError::skNotConnected, sockmsg::NotConnected);
    return PollOne(fd_, POLLIN, timeoutMs) != 0;
}

size_t TcpSocket::Read(uint8_t* dest, size_t capacity)
{
    if (fd_ < 0)
        throw ESocketError(ESocketError::skNotConnected, sockmsg::NotConnected);
    if (capacity == 0)
        return 0;  // recv would return 0, which means end of stream
    for (;;) {
        const ssize_t n = ::recv(fd_, dest, capacity, MSG_DONTWAIT);
        if (n > 0)
            return static_cast<size_t>(n);
        if (n == 0)
            FailWith(kOrderlyClose);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR)
            FailWith(errno);
    }
}

size_t TcpSocket::DiscardInput()
{
    if (fd_ < 0)
        throw ESocketError(ESocketError::skNotConnected, sockmsg::NotConnected);
    // Only what is queued now: a server that keeps sending cannot hold the caller here.
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0 || queued <= 0)
        return 0;
    size_t dropped = 0;
    uint8_t sink[512];
    while (dropped < static_cast<size_t>(queued)) {
        const size_t want = std::min(sizeof sink, static_cast<size_t>(queued) - dropped);
        const size_t n = Read(sink, want);
        if (n == 0)
            break;
        dropped += n;
    }
    return dropped;
}

}  // namespace modbus
