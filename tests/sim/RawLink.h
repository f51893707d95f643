#pragma once

// Raw bytes to and from the simulator; reads wait for a byte count or a quiet line, with deadlines.

#include "PtyPair.h"
#include "SerialPort.h"
#include "TcpSocket.h"

#include <memory>

namespace simtest {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

using testing_support::Ascii;
using testing_support::AsciiFrame;
using testing_support::MbapFrame;
using testing_support::WithCrc;

class RawSerial {
public:
    RawSerial(const std::string& path, uint32_t baud);

    void SetBaud(uint32_t baud);
    void Write(const Bytes& bytes);
    // Until `count` bytes have come or the deadline passes.
    Bytes Read(size_t count, std::chrono::milliseconds timeout = 2000ms);
    // Until the line has been quiet for `quiet` after a byte (with none, until `timeout`).
    Bytes ReadUntilQuiet(std::chrono::milliseconds quiet = 150ms, std::chrono::milliseconds timeout = 2000ms);
    Bytes Transact(const Bytes& request, size_t replyLength);

private:
    std::unique_ptr<modbus::ISerialPort> port_;
};

class RawTcp {
public:
    explicit RawTcp(uint16_t port);

    void Write(const Bytes& bytes);
    Bytes Read(size_t count, std::chrono::milliseconds timeout = 2000ms);
    // One whole MBAP frame; empty on time-out.
    Bytes ReadFrame(std::chrono::milliseconds timeout = 2000ms);
    // True when the peer closed the connection within the time.
    bool WaitClosed(std::chrono::milliseconds timeout = 2000ms);

private:
    modbus::TcpSocket socket_;
};

}  // namespace simtest
