#include "TcpBackend.h"

#include "Output.h"

#include <chrono>

namespace cli {

using namespace modbus;
using Clock = std::chrono::steady_clock;

TcpBackend::TcpBackend(const TcpOptions& o)
{
    client_.SetHost(o.host);
    client_.SetPort(o.port);
    client_.SetUnitID(o.unitId);
    client_.SetTimeOut(o.timeoutMs);
    // Register numbers on the command line are the numbers on the wire.
    client_.SetBaseRegister(0);
    client_.SetAutoConnect(true);
    if (o.trace)
        client_.OnFrame = [](std::span<const uint8_t> adu, bool sent) { TraceFrame(app::FrameKind::Tcp, sent, adu); };
    client_.Connect(static_cast<int>(o.timeoutMs));
}

Outcome TcpBackend::Perform(const Request& r)
{
    static constexpr const char* names[] = {"read", "write", "write-multiple", "diag", "id"};
    if (r.op == Op::Diagnostics)
        throw std::invalid_argument("diag: the Modbus TCP client has no function 8 (Diagnostics)");
    const auto t0 = Clock::now();
    Outcome o;
    static_cast<modbus::Outcome&>(o) = PerformTcp(client_, r);
    o.op = names[static_cast<int>(r.op)];
    o.start = r.start;
    if (r.op == Op::WriteSingle || r.op == Op::WriteMultiple)
        o.values = r.values;
    o.elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    return o;
}

bool ParseHostPort(const std::string& text, std::string& host, int& port)
{
    port = 502;
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos)
            return false;
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':')
                return false;
            portText = text.substr(close + 2);
        }
    } else {
        const auto colon = text.rfind(':');
        host = text.substr(0, colon);
        if (colon != std::string::npos)
            portText = text.substr(colon + 1);
    }
    if (host.empty())
        return false;
    if (text.find(':') != std::string::npos && portText.empty() && text[0] != '[')
        return false;
    if (!portText.empty()) {
        size_t used = 0;
        try {
            port = std::stoi(portText, &used);
        } catch (...) {
            return false;
        }
        if (used != portText.size() || port < 1 || port > 65535)
            return false;
    }
    return true;
}


}  // namespace cli
