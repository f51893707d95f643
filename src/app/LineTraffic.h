#pragma once

// What went over the line, as a technician reads it: one line per frame with its bytes and a
// decoded summary, and per slave address how the requests ended. Pure functions and small
// bounded containers, fed by the window's frame events and reply handlers and by the
// command-line client's --trace.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace app {

enum class FrameKind { Rtu, Ascii, Tcp };
enum class Direction { Sent, Received };

// "01 03 03 E8 00 10 04 7C"
std::string HexBytes(std::span<const std::uint8_t> bytes);

// "addr 1 fc3 1000+16", "addr 1 fc3 32 bytes", "addr 1 fc6 17=3341", "addr 1 fc16 112+2",
// "addr 1 fc8 sub0", "addr 1 fc17", "addr 1 fc3 exception seIllegalDataAddress",
// "bad checksum", "empty", "unit 1 tid 5 fc3 ...": what a frame says, checksum and MBAP included.
std::string SummariseFrame(FrameKind kind, Direction dir, std::span<const std::uint8_t> frame);

// One monitor line: "   12.345  TX  01 03 ...  addr 1 fc3 1000+16". The time is ms since the
// monitor's start.
std::string MonitorLine(double ms, Direction dir, std::span<const std::uint8_t> frame, const std::string& summary);

// The monitor's lines, at most capacity of them; the oldest go first.
class TrafficLog {
public:
    explicit TrafficLog(std::size_t capacity = 5000) : capacity_(capacity) {}
    void Add(std::string line);
    const std::deque<std::string>& Lines() const { return lines_; }
    std::size_t Dropped() const { return dropped_; }
    void Clear();
    std::string Text() const;  // the lines, each ended by LF

private:
    std::size_t capacity_;
    std::deque<std::string> lines_;
    std::size_t dropped_ = 0;
};

// How a request ended, as the statistics count it.
enum class RequestEnd { Reply, Timeout, BadChecksum, Unmatched, Exception, Late };

std::string_view RequestEndText(RequestEnd e);  // "ok", "time-out", "bad checksum", ...

struct AddressStatistics {
    unsigned requests = 0, replies = 0, timeouts = 0, badChecksums = 0, unmatched = 0, exceptions = 0,
             late = 0;
    bool echoSeen = false;  // our own request came back as if it were the answer
    std::optional<double> lastMs;
    std::vector<double> timesMs;  // of replies, newest last, at most a bounded number

    std::optional<double> MedianMs() const;
    std::optional<double> MaxMs() const;
    // A short hint when the pattern points at a cause; empty otherwise.
    std::string Hint() const;
};

class LineStatistics {
public:
    void Record(int address, RequestEnd end, std::optional<double> responseMs = std::nullopt);
    // A received frame that is byte for byte the request just sent.
    void RecordEcho(int address);
    const std::map<int, AddressStatistics>& ByAddress() const { return byAddress_; }
    void Reset() { byAddress_.clear(); }

private:
    std::map<int, AddressStatistics> byAddress_;
};

// One CSV row of the looped measured values; the header names the columns.
std::string CsvHeader();
std::string CsvRow(const std::string& isoTime, const std::string& channel, const std::string& quantity,
                   const std::string& status, const std::string& value, const std::string& unit,
                   const std::string& heartbeat);

}  // namespace app
