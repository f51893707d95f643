#include "Output.h"

#include <chrono>
#include <iostream>

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdio>
#include <iomanip>

namespace cli {

using namespace modbus;

double RoundedMs(double ms)
{
    return static_cast<double>(static_cast<long long>(ms * 1000.0 + 0.5)) / 1000.0;
}

std::string HexString(const std::vector<uint8_t>& bytes)
{
    std::string s;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        s += buf;
    }
    return s;
}

void Printer::Print(const Outcome& o)
{
    if (json_)
        PrintJson(o);
    else
        PrintTable(o);
    out_.flush();
}

namespace {

void AppendNumber(std::string& s, unsigned long long v)
{
    char buf[24];
    s.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

}  // namespace

// Every polled line goes through here, so it is written directly rather than built as a JSON
// tree: the same bytes as the tree's dump(). Names and hex are plain ASCII, nothing to escape;
// a measurement, with texts from the meter, goes through the tree.
void Printer::PrintJson(const Outcome& o)
{
    if (o.measurement) {
        PrintJsonGeneric(o);
        return;
    }
    std::string s;
    s.reserve(128 + 6 * o.values.size() + 2 * o.data.size());
    s += "{\"op\":\"";
    s += o.op;
    s += "\",\"status\":\"";
    s += TransactionReplyName(o.status);
    s += "\",\"attempts\":";
    AppendNumber(s, o.attempts);
    if (o.exception) {
        s += ",\"exception\":\"";
        s += ServerExceptionName(*o.exception);
        s += "\",\"exception_code\":";
        AppendNumber(s, o.exceptionCode);
    } else {
        s += ",\"exception\":null,\"exception_code\":null";
    }
    if (o.op == "read" || o.op == "measure" || o.op == "write" || o.op == "write-multiple") {
        s += ",\"start\":";
        AppendNumber(s, o.start);
        // A read that failed read nothing: zeros would pass for register contents.
        const bool read = o.op == "read" || o.op == "measure";
        if (read && o.status != trSuccess) {
            s += ",\"values\":null";
        } else {
            s += ",\"values\":[";
            for (size_t i = 0; i < o.values.size(); ++i) {
                if (i > 0)
                    s += ',';
                AppendNumber(s, o.values[i]);
            }
            s += ']';
        }
    }
    if (o.op == "id") {
        s += ",\"data_hex\":\"";
        s += HexString(o.data);
        s += '"';
    }
    if (o.op == "diag") {
        s += ",\"result\":";
        AppendNumber(s, o.diagResult);
    }
    s += ",\"elapsed_ms\":";
    // The tree's own number format: shortest round trip, ".0" on whole numbers.
    char buf[64];
    s.append(buf, nlohmann::detail::to_chars(buf, buf + sizeof buf, RoundedMs(o.elapsedMs)));
    s += "}\n";
    out_ << s;
}

void Printer::PrintJsonGeneric(const Outcome& o)
{
    nlohmann::ordered_json j;
    j["op"] = o.op;
    j["status"] = std::string(TransactionReplyName(o.status));
    j["attempts"] = o.attempts;
    j["exception"] = o.exception ? nlohmann::ordered_json(std::string(ServerExceptionName(*o.exception)))
                                 : nlohmann::ordered_json(nullptr);
    j["exception_code"] = o.exception ? nlohmann::ordered_json(o.exceptionCode) : nlohmann::ordered_json(nullptr);
    if (o.op == "read" || o.op == "measure" || o.op == "write" || o.op == "write-multiple") {
        j["start"] = o.start;
        // A read that failed read nothing: zeros would pass for register contents.
        const bool read = o.op == "read" || o.op == "measure";
        j["values"] = read && o.status != trSuccess ? nlohmann::ordered_json(nullptr)
                                                    : nlohmann::ordered_json(o.values);
    }
    if (o.op == "id")
        j["data_hex"] = HexString(o.data);
    if (const auto& m = o.measurement) {
        j["channel"] = m->channel;
        j["quantity"] = m->quantity;
        j["measurement"] = m->status.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json{
            {"status", m->status}, {"value", m->valid ? nlohmann::ordered_json(m->value) : nlohmann::ordered_json(nullptr)},
            {"unit", m->unit}, {"unit_id", m->unitId}, {"age_s", m->ageSeconds}};
    }
    if (o.op == "diag")
        j["result"] = o.diagResult;
    j["elapsed_ms"] = RoundedMs(o.elapsedMs);
    out_ << j.dump() << '\n';
}

void Printer::PrintTable(const Outcome& o)
{
    out_ << o.op << ": " << TransactionReplyName(o.status);
    if (o.exception)
        out_ << " (" << ServerExceptionName(*o.exception) << ", code " << int(o.exceptionCode) << ")";
    out_ << ", " << o.attempts << (o.attempts == 1 ? " attempt" : " attempts") << ", " << std::fixed
         << std::setprecision(1) << o.elapsedMs << " ms\n";
    out_.unsetf(std::ios::floatfield);
    if (o.status != trSuccess)
        return;
    if (const auto& m = o.measurement) {
        out_ << "  " << m->quantity << ", channel " << m->channel << ": " << m->status;
        if (m->valid)
            out_ << "  " << m->text << ' ' << m->unit << "  (updated " << m->ageSeconds << " s ago)";
        out_ << '\n';
    } else if (o.op == "read") {
        out_ << "  register   value    hex\n";
        for (size_t i = 0; i < o.values.size(); ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "  %8u  %6u  0x%04X\n", unsigned(o.start + i), o.values[i], o.values[i]);
            out_ << line;
        }
    } else if (o.op == "id") {
        out_ << "  " << o.data.size() << " bytes: " << HexString(o.data) << "\n  text: ";
        for (uint8_t b : o.data)
            out_ << (b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
        out_ << '\n';
    } else if (o.op == "diag") {
        out_ << "  echo ok\n";
    }
}

void TraceFrame(app::FrameKind kind, bool sent, std::span<const uint8_t> frame)
{
    static const auto start = std::chrono::steady_clock::now();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const app::Direction dir = sent ? app::Direction::Sent : app::Direction::Received;
    std::cerr << app::MonitorLine(ms, dir, frame, app::SummariseFrame(kind, dir, frame)) << '\n';
}

void PrintPorts(std::ostream& out, const std::vector<modbus::SerialPortInfo>& ports, bool json)
{
    for (const auto& p : ports) {
        if (json) {
            auto text = [](const std::string& s) {
                return s.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(s);
            };
            nlohmann::ordered_json j;
            j["path"] = p.path;
            j["stable_name"] = text(p.stableName);
            j["setting"] = p.Setting();
            j["description"] = text(p.description);
            j["manufacturer"] = text(p.manufacturer);
            j["product"] = text(p.product);
            j["serial"] = text(p.serial);
            j["vendor_id"] = text(p.vendorId);
            j["product_id"] = text(p.productId);
            out << j.dump() << '\n';
        } else {
            std::string line = p.path;
            if (!p.description.empty() || !p.stableName.empty())
                line += "\t" + p.description;
            if (!p.stableName.empty())
                line += "\t" + p.stableName;
            out << line << '\n';
        }
    }
    out.flush();
}

}  // namespace cli
