#include "LineTraffic.h"

#include "ModbusBuffer.h"
#include "ModbusTypes.h"

#include <algorithm>
#include <cstdio>

namespace app {

namespace {

constexpr std::size_t KeptTimes = 1000;

std::uint16_t Word(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

int HexValue(std::uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string Pdu(Direction dir, std::span<const std::uint8_t> pdu)
{
    if (pdu.empty())
        return "no function";
    const int fc = pdu[0];
    std::string s = "fc" + std::to_string(fc & 0x7F);
    if (fc & 0x80) {
        if (pdu.size() < 2)
            return s + " exception (no code)";
        const std::string_view name = modbus::ServerExceptionName(modbus::ServerExceptionFromCode(pdu[1]));
        return s + " exception " + std::string(name);
    }
    const bool sent = dir == Direction::Sent;
    switch (fc) {
    case 3:
        if (sent && pdu.size() >= 5)
            return s + " " + std::to_string(Word(pdu, 1)) + "+" + std::to_string(Word(pdu, 3));
        if (!sent && pdu.size() >= 2)
            return s + " " + std::to_string(pdu[1]) + " bytes";
        break;
    case 6:
        if (pdu.size() >= 5)
            return s + " " + std::to_string(Word(pdu, 1)) + "=" + std::to_string(Word(pdu, 3));
        break;
    case 16:
        if (pdu.size() >= 5)
            return s + " " + std::to_string(Word(pdu, 1)) + "+" + std::to_string(Word(pdu, 3));
        break;
    case 8:
        if (pdu.size() >= 3)
            return s + " sub" + std::to_string(Word(pdu, 1));
        break;
    case 17:
        if (sent)
            return s;
        if (pdu.size() >= 2)
            return s + " " + std::to_string(pdu[1]) + " bytes";
        break;
    default: return s;
    }
    return s + " (short)";
}

}  // namespace

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            s += ' ';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 0x0F];
    }
    return s;
}

std::string SummariseFrame(FrameKind kind, Direction dir, std::span<const std::uint8_t> frame)
{
    if (frame.empty())
        return "empty";
    switch (kind) {
    case FrameKind::Rtu: {
        if (frame.size() < 4)
            return "short frame";
        const std::size_t n = frame.size();
        const std::uint16_t crc = modbus::Crc16(frame.data(), n - 2);
        if ((frame[n - 2] | frame[n - 1] << 8) != crc)
            return "bad checksum";
        return "addr " + std::to_string(frame[0]) + " " + Pdu(dir, frame.subspan(1, n - 3));
    }
    case FrameKind::Ascii: {
        std::vector<std::uint8_t> bytes;
        std::size_t i = frame[0] == ':' ? 1 : 0;
        for (; i + 1 < frame.size() && frame[i] != '\r'; i += 2) {
            const int hi = HexValue(frame[i]), lo = HexValue(frame[i + 1]);
            if (hi < 0 || lo < 0)
                return "bad frame";
            bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        }
        if (bytes.size() < 3)
            return "short frame";
        if (modbus::Lrc(bytes.data(), bytes.size() - 1) != bytes.back())
            return "bad checksum";
        return "addr " + std::to_string(bytes[0]) + " " +
               Pdu(dir, std::span<const std::uint8_t>(bytes).subspan(1, bytes.size() - 2));
    }
    case FrameKind::Tcp: {
        if (frame.size() < 8)
            return "short frame";
        if (Word(frame, 4) != frame.size() - 6)
            return "bad length";
        return "unit " + std::to_string(frame[6]) + " tid " + std::to_string(Word(frame, 0)) + " " +
               Pdu(dir, frame.subspan(7));
    }
    }
    return {};
}

std::string MonitorLine(double ms, Direction dir, std::span<const std::uint8_t> frame, const std::string& summary)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f", ms);
    return std::string(stamp) + (dir == Direction::Sent ? "  TX  " : "  RX  ") + HexBytes(frame) + "  " + summary;
}

void TrafficLog::Add(std::string line)
{
    lines_.push_back(std::move(line));
    while (lines_.size() > capacity_) {
        lines_.pop_front();
        ++dropped_;
    }
}

void TrafficLog::Clear()
{
    lines_.clear();
    dropped_ = 0;
}

std::string TrafficLog::Text() const
{
    std::string s;
    for (const std::string& l : lines_)
        s += l + "\n";
    return s;
}

std::string_view RequestEndText(RequestEnd e)
{
    switch (e) {
    case RequestEnd::Reply: return "ok";
    case RequestEnd::Timeout: return "time-out";
    case RequestEnd::BadChecksum: return "bad checksum";
    case RequestEnd::Unmatched: return "unmatched";
    case RequestEnd::Exception: return "exception";
    case RequestEnd::Late: return "late, dropped";
    }
    return {};
}

std::optional<double> AddressStatistics::MedianMs() const
{
    if (timesMs.empty())
        return std::nullopt;
    std::vector<double> t = timesMs;
    const auto mid = t.begin() + static_cast<std::ptrdiff_t>(t.size() / 2);
    std::nth_element(t.begin(), mid, t.end());
    return *mid;
}

std::optional<double> AddressStatistics::MaxMs() const
{
    if (timesMs.empty())
        return std::nullopt;
    return *std::max_element(timesMs.begin(), timesMs.end());
}

std::string AddressStatistics::Hint() const
{
    if (echoSeen)
        return "Our own request came back: the adapter echoes; try the echo option.";
    if (requests >= 3 && timeouts == requests)
        return "No answer at all: check the address, the speed and the wiring.";
    if (badChecksums >= 2 && badChecksums * 4 >= requests)
        return "Many bad checksums: check the parity, the speed and the line's termination.";
    return {};
}

void LineStatistics::Record(int address, RequestEnd end, std::optional<double> responseMs)
{
    AddressStatistics& s = byAddress_[address];
    // A late reply belongs to a request already counted as a time-out.
    if (end != RequestEnd::Late)
        ++s.requests;
    switch (end) {
    case RequestEnd::Reply: ++s.replies; break;
    case RequestEnd::Timeout: ++s.timeouts; break;
    case RequestEnd::BadChecksum: ++s.badChecksums; break;
    case RequestEnd::Unmatched: ++s.unmatched; break;
    case RequestEnd::Exception: ++s.exceptions; break;
    case RequestEnd::Late: ++s.late; break;
    }
    if (responseMs && end != RequestEnd::Timeout && end != RequestEnd::Late) {
        s.lastMs = responseMs;
        s.timesMs.push_back(*responseMs);
        if (s.timesMs.size() > KeptTimes)
            s.timesMs.erase(s.timesMs.begin());
    }
}

void LineStatistics::RecordEcho(int address) { byAddress_[address].echoSeen = true; }

std::string CsvHeader() { return "time,channel,quantity,status,value,unit,heartbeat"; }

std::string CsvRow(const std::string& isoTime, const std::string& channel, const std::string& quantity,
                   const std::string& status, const std::string& value, const std::string& unit,
                   const std::string& heartbeat)
{
    // Fields with a comma, a quote or a line break are quoted, quotes doubled.
    auto field = [](const std::string& f) {
        if (f.find_first_of(",\"\r\n") == std::string::npos)
            return f;
        std::string q = "\"";
        for (char c : f)
            q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
    };
    return field(isoTime) + "," + field(channel) + "," + field(quantity) + "," + field(status) + "," +
           field(value) + "," + field(unit) + "," + field(heartbeat);
}

}  // namespace app
