#include "RequestLog.h"

namespace vsim {

TRequestLog::TRequestLog(size_t capacity) : capacity_(capacity) {}

void TRequestLog::Record(TRequestEntry entry)
{
    std::lock_guard lock(mutex_);
    // Stamped under the lock, so that the order of the entries and of their times agree.
    entry.tMs = std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
    entry.n = next_++;
    entries_.push_back(std::move(entry));
    // A long demo keeps the latest requests, which are the ones a test asks about.
    if (entries_.size() > capacity_) {
        entries_.pop_front();
        ++dropped_;
    }
}

std::vector<TRequestEntry> TRequestLog::Entries() const
{
    std::lock_guard lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

uint64_t TRequestLog::Dropped() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::string ResultOf(std::span<const uint8_t> replyPdu)
{
    if (replyPdu.size() >= 2 && (replyPdu[0] & 0x80))
        return "exception " + std::to_string(replyPdu[1]);
    return "reply";
}

const char* TransportName(TTransport t)
{
    switch (t) {
    case TTransport::Tcp: return "tcp";
    case TTransport::Ascii: return "ascii";
    case TTransport::Rtu: break;
    }
    return "rtu";
}

std::string Hex(std::span<const uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (const uint8_t b : bytes) {
        if (!s.empty())
            s += ' ';
        s += kDigits[b >> 4];
        s += kDigits[b & 0x0F];
    }
    return s;
}

}  // namespace vsim
