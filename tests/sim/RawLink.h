#pragma once

// Raw bytes to and from the simulator; reads wait for a byte count or a quiet line, with deadlines.

#include "Frames.h"
#include "SerialPort.h"
#include "TcpSocket.h"

#include <memory>
#include <stdexcept>

namespace simtest {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

using testing_support::Ascii;
using testing_support::AsciiFrame;
using testing_support::MbapFrame;
using testing_support::WithCrc;

// The read loop of both links: `wait(ms)` is true when data can be read, `get` is negative at the end.
template <typename Wait, typename Get>
Bytes ReadUntil(size_t count, std::chrono::milliseconds timeout, Wait wait, Get get)
{
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (uint8_t buf[512]; out.size() < count;) {
        const int left = modbus::MillisecondsUntil(deadline);
        const int n = left > 0 && wait(left) ? get(buf, std::min(sizeof buf, count - out.size())) : -1;
        if (n < 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

class RawSerial {
public:
    RawSerial(const std::string& path, uint32_t baud) : port_(modbus::CreatePosixSerialPort())
    {
        port_->Open(path);
        SetBaud(baud);
        port_->Purge(true, true);
    }
    void SetBaud(uint32_t baud)
    {
        if (!port_->Configure({.baud = baud, .parity = modbus::psNone}))
            throw std::runtime_error("cannot set the line to " + std::to_string(baud) + " baud");
    }
    void Write(const Bytes& bytes)
    {
        if (!port_->Write(bytes.data(), static_cast<int>(bytes.size()), 2000))
            throw std::runtime_error("write failed");
    }
    Bytes Read(size_t count, std::chrono::milliseconds timeout = 2000ms)
    {
        return ReadUntil(
            count, timeout, [&](int ms) { return port_->WaitForData(ms) == modbus::WaitResult::Data; },
            [&](uint8_t* buf, size_t n) { return port_->Read(buf, static_cast<int>(n)); });
    }
    // Until the line has been quiet for `quiet` after a byte (with none, until `timeout`).
    Bytes ReadUntilQuiet(std::chrono::milliseconds quiet = 150ms, std::chrono::milliseconds timeout = 2000ms)
    {
        Bytes out = Read(1, timeout), more;
        while (!out.empty() && !(more = Read(512, quiet)).empty())
            out.insert(out.end(), more.begin(), more.end());
        return out;
    }
    Bytes Transact(const Bytes& request, size_t replyLength)
    {
        Write(request);
        return Read(replyLength);
    }

private:
    std::unique_ptr<modbus::ISerialPort> port_;
};

class RawTcp {
public:
    explicit RawTcp(uint16_t port)
    {
        socket_.SetHost("127.0.0.1");
        socket_.SetPort(port);
        socket_.Connect(2000);
    }
    void Write(const Bytes& bytes) { socket_.Write(bytes.data(), bytes.size(), 2000); }
    Bytes Read(size_t count, std::chrono::milliseconds timeout = 2000ms)
    {
        return ReadUntil(
            count, timeout, [&](int ms) { return socket_.WaitReadable(ms); },
            [&](uint8_t* buf, size_t n) {
                try {
                    return static_cast<int>(socket_.Read(buf, n));
                } catch (const modbus::ESocketError&) {  // the peer closed or reset
                    closed_ = true;
                    return -1;
                }
            });
    }
    // One whole MBAP frame; empty on time-out.
    Bytes ReadFrame(std::chrono::milliseconds timeout = 2000ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        Bytes head = Read(6, timeout);
        const size_t length = head.size() < 6 ? 0 : static_cast<size_t>((head[4] << 8) | head[5]);
        const Bytes rest = Read(length, std::chrono::milliseconds(modbus::MillisecondsUntil(deadline)));
        head.insert(head.end(), rest.begin(), rest.end());
        return length > 0 && head.size() == 6 + length ? head : Bytes{};
    }
    bool WaitClosed(std::chrono::milliseconds timeout = 2000ms)
    {
        Read(SIZE_MAX, timeout);
        return closed_;
    }

private:
    modbus::TcpSocket socket_;
    bool closed_ = false;
};

}  // namespace simtest
