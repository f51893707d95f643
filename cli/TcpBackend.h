#pragma once

#include "ModbusTcpClient.h"
#include "Transaction.h"

namespace cli {

struct TcpOptions {
    std::string host;
    int port = 502;
    uint8_t unitId = 1;
    uint32_t timeoutMs = 5000;
    bool trace = false;
};

class TcpBackend final : public Backend {
public:
    // Connects; raises ESocketError when it cannot.
    explicit TcpBackend(const TcpOptions& o);
    Outcome Perform(const Request& r) override;

private:
    modbus::TModbusTcpClient client_;
};

// "host", "host:port", "[v6]:port"; the port defaults to 502. False for a malformed text.
bool ParseHostPort(const std::string& text, std::string& host, int& port);

}  // namespace cli
