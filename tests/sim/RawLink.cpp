#include "RawLink.h"

#include "ModbusTypes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace simtest {

using Clock = std::chrono::steady_clock;

namespace {

// The read loop of both links: `wait(ms)` is true when data can be read, `get` is negative at the end.
template <typename Wait, typename Get>
Bytes ReadUntil(size_t count, std::chrono::milliseconds timeout, Wait wait, Get get)
{
    Bytes out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < count) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        uint8_t buf[512];
        if (left.count() <= 0 || !wait(static_cast<int>(left.count())))
            break;
        const int n = get(buf, std::min(sizeof buf, count - out.size()));
        if (n < 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

bool PollIn(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

}  // namespace

RawSerial::RawSerial(const std::string& path, uint32_t baud) : port_(modbus::CreatePosixSerialPort())
{
    port_->Open(path);
    SetBaud(baud);
    port_->Purge(true, true);
}

void RawSerial::SetBaud(uint32_t baud)
{
    modbus::LineSettings line;
    line.baud = baud;
    line.parity = modbus::psNone;
    if (!port_->Configure(line))
        throw std::runtime_error("cannot set the line to " + std::to_string(baud) + " baud");
}

void RawSerial::Write(const Bytes& bytes)
{
    if (!port_->Write(bytes.data(), static_cast<int>(bytes.size()), 2000))
        throw std::runtime_error("write failed");
}

Bytes RawSerial::Read(size_t count, std::chrono::milliseconds timeout)
{
    return ReadUntil(
        count, timeout, [&](int ms) { return port_->WaitForData(ms) == modbus::WaitResult::Data; },
        [&](uint8_t* buf, size_t n) { return port_->Read(buf, static_cast<int>(n)); });
}

Bytes RawSerial::ReadUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout)
{
    Bytes out = Read(1, timeout);
    if (out.empty())
        return out;
    for (;;) {
        Bytes more = Read(512, quiet);
        if (more.empty())
            return out;
        out.insert(out.end(), more.begin(), more.end());
    }
}

Bytes RawSerial::Transact(const Bytes& request, size_t replyLength)
{
    Write(request);
    return Read(replyLength);
}

RawTcp::RawTcp(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        throw std::runtime_error("cannot connect to 127.0.0.1:" + std::to_string(port));
}

RawTcp::~RawTcp() { close(fd_); }

void RawTcp::Write(const Bytes& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error("write failed");
        done += static_cast<size_t>(n);
    }
}

Bytes RawTcp::Read(size_t count, std::chrono::milliseconds timeout)
{
    return ReadUntil(
        count, timeout, [&](int ms) { return PollIn(fd_, ms); },
        [&](uint8_t* buf, size_t n) {
            const ssize_t got = read(fd_, buf, n);
            return got > 0 ? static_cast<int>(got) : -1;  // 0: the peer closed
        });
}

Bytes RawTcp::ReadFrame(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    Bytes head = Read(6, timeout);
    if (head.size() < 6)
        return {};
    const size_t length = static_cast<size_t>((head[4] << 8) | head[5]);
    Bytes rest = Read(length, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    head.insert(head.end(), rest.begin(), rest.end());
    return head.size() == 6 + length ? head : Bytes{};
}

bool RawTcp::WaitClosed(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !PollIn(fd_, static_cast<int>(left.count())))
            return false;
        uint8_t b;
        const ssize_t n = read(fd_, &b, 1);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return true;
    }
}

}  // namespace simtest
