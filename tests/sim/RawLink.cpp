#include "RawLink.h"

#include "ModbusTypes.h"

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
    Bytes out = Read(1, timeout), more;
    while (!out.empty() && !(more = Read(512, quiet)).empty())
        out.insert(out.end(), more.begin(), more.end());
    return out;
}

Bytes RawSerial::Transact(const Bytes& request, size_t replyLength)
{
    Write(request);
    return Read(replyLength);
}

RawTcp::RawTcp(uint16_t port)
{
    socket_.SetHost("127.0.0.1");
    socket_.SetPort(port);
    socket_.Connect(2000);
}

void RawTcp::Write(const Bytes& bytes) { socket_.Write(bytes.data(), bytes.size(), 2000); }

Bytes RawTcp::Read(size_t count, std::chrono::milliseconds timeout)
{
    return ReadUntil(
        count, timeout, [&](int ms) { return socket_.WaitReadable(ms); },
        [&](uint8_t* buf, size_t n) {
            try {
                return static_cast<int>(socket_.Read(buf, n));
            } catch (const modbus::ESocketError&) {  // the peer closed or reset
                return -1;
            }
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
    try {
        for (uint8_t b; socket_.WaitReadable(modbus::MillisecondsUntil(deadline));)
            socket_.Read(&b, 1);
    } catch (const modbus::ESocketError&) {
        return true;
    }
    return false;
}

}  // namespace simtest
