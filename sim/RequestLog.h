#pragma once

// Every request the simulator received, in arrival order, with what it did about it. Tests read
// it from the dump to check what a client put on the wire.

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace vsim {

enum class TTransport : uint8_t { Tcp, Rtu, Ascii };

struct TRequestEntry {
    uint64_t n = 0;       // 1, 2, ... since start; survives entries dropped at the capacity
    double tMs = 0.0;     // since the log was created, steady clock
    TTransport transport = TTransport::Rtu;
    uint32_t baud = 0;    // the line's speed; 0 on TCP
    int unit = -1;        // -1: no frame could be made of the bytes
    int tid = -1;         // TCP transaction id
    std::vector<uint8_t> pdu;  // function code and data
    std::string result;   // "reply", "exception N", "silent", "ignored"
    std::string reason;   // why silent or ignored
    std::vector<uint8_t> wire;  // the bytes as received
};

class TRequestLog {
public:
    explicit TRequestLog(size_t capacity = 100000);

    // Thread-safe. Call before the reply goes out, so that a client holding the reply can rely
    // on its request being in the log.
    void Record(TRequestEntry entry);

    std::vector<TRequestEntry> Entries() const;
    uint64_t Dropped() const;

private:
    using Clock = std::chrono::steady_clock;
    const size_t capacity_;
    const Clock::time_point start_ = Clock::now();
    mutable std::mutex mutex_;
    std::deque<TRequestEntry> entries_;
    uint64_t next_ = 1;
    uint64_t dropped_ = 0;
};

// "reply" or "exception N" for a reply PDU.
std::string ResultOf(std::span<const uint8_t> replyPdu);
const char* TransportName(TTransport t);
// "01 03 00 01" (upper case, one space between bytes).
std::string Hex(std::span<const uint8_t> bytes);

}  // namespace vsim
