#include "Device.h"

#include <nlohmann/json.hpp>

#include <cmath>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

namespace vsim {

namespace {

// Keys in the order written, which is the order a person reads them in.
using Json = nlohmann::ordered_json;

std::string IsoTime(std::chrono::system_clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    const std::time_t secs = static_cast<std::time_t>(ms.count() / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", buf, static_cast<int>(ms.count() % 1000));
    return out;
}

uint16_t Word(const std::vector<uint8_t>& p, size_t i)
{
    return static_cast<uint16_t>((p[i] << 8) | p[i + 1]);
}

// The request's fields as far as its PDU holds them; a short PDU leaves them out rather than
// guessing.
void Describe(const std::vector<uint8_t>& pdu, Json& r)
{
    if (pdu.empty())
        return;
    const uint8_t fc = pdu[0];
    r["function"] = fc;
    if ((fc == 3 || fc == 6 || fc == 16) && pdu.size() >= 5) {
        r["start"] = Word(pdu, 1);
        r["count"] = fc == 6 ? 1 : Word(pdu, 3);
    }
    if (fc == 6 && pdu.size() >= 5)
        r["values"] = {Word(pdu, 3)};
    if (fc == 16 && pdu.size() >= 6) {
        Json values = Json::array();
        for (size_t i = 6; i + 1 < pdu.size(); i += 2)
            values.push_back(Word(pdu, i));
        r["values"] = values;
    }
    if (fc == 8 && pdu.size() >= 3) {
        r["sub"] = Word(pdu, 1);
        Json data = Json::array();
        for (size_t i = 3; i + 1 < pdu.size(); i += 2)
            data.push_back(Word(pdu, i));
        r["data"] = data;
    }
}

Json Requests(const TRequestLog& log)
{
    Json out = Json::array();
    for (const TRequestEntry& e : log.Entries()) {
        Json r = {{"n", e.n},
                            {"t_ms", std::round(e.tMs * 1000.0) / 1000.0},
                            {"transport", TransportName(e.transport)}};
        if (e.transport != TTransport::Tcp)
            r["baud"] = e.baud;
        if (e.tid >= 0)
            r["tid"] = e.tid;
        if (e.unit >= 0)
            r["unit"] = e.unit;
        Describe(e.pdu, r);
        r["result"] = e.result;
        if (!e.reason.empty())
            r["reason"] = e.reason;
        r["hex"] = Hex(e.wire);
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace

std::string DumpText(const TDevices& devices, const TRequestLog* log, uint64_t sequence)
{
    Json changes = Json::array();
    for (const auto& d : devices)
        for (const auto& c : d->meter.Changes())
            changes.push_back({{"device", d->settings.address},
                               {"address", c.address},
                               {"old", c.oldValue},
                               {"new", c.newValue},
                               {"time", IsoTime(c.time)},
                               {"elapsed", c.elapsedSeconds}});
    // One entry a line: a long log stays readable and greppable.
    auto list = [](const Json& entries) {
        std::string s = "[";
        for (size_t i = 0; i < entries.size(); ++i)
            s += (i ? ",\n    " : "\n    ") + entries[i].dump();
        return s + (entries.empty() ? "]" : "\n  ]");
    };
    std::string text = "{\n  \"sequence\": " + std::to_string(sequence) + ",\n  \"changes\": " + list(changes);
    if (log) {
        text += ",\n  \"requests\": " + list(Requests(*log));
        text += ",\n  \"requests_dropped\": " + std::to_string(log->Dropped());
    }
    return text + "\n}\n";
}

void WriteDump(const std::string& path, const TDevices& devices, const TRequestLog* log,
               uint64_t sequence)
{
    // Written aside and renamed over the old file: a reader sees the old dump or the new one,
    // never half of one.
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::trunc);
        if (out)
            out << DumpText(devices, log, sequence);
        if (!out || (out.close(), !out)) {
            const int e = errno;
            std::remove(temp.c_str());
            throw std::runtime_error("cannot write " + temp + ": " + std::strerror(e));
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        std::remove(temp.c_str());
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(e));
    }
}

}  // namespace vsim
