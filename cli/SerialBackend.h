#pragma once

#include "MainThread.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "Transaction.h"

namespace cli {

struct SerialOptions {
    std::string port;
    uint32_t baud = 19200;
    modbus::TParityScheme parity = modbus::psEven;
    modbus::TDataBits dataBits = modbus::db8;
    modbus::TStopBits stopBits = modbus::sb1;
    bool ascii = false;
    bool echo = false;
    uint8_t address = 1;
    uint32_t receiveTimeoutMs = 1000;
    uint32_t retries = 1;
    uint32_t refetchDelayMs = 0;
    uint32_t turnaroundDelayMs = 100;
    uint32_t silentInterval = 4;
    bool endFrameByLength = true;
    bool trace = false;
};

class SerialBackend final : public Backend {
public:
    // Opens the port; raises EModbusError when it cannot.
    explicit SerialBackend(const SerialOptions& o);
    Outcome Perform(const Request& r) override;
    std::string Lost() const override;

private:
    modbus::EventQueue events_;  // only its exception display: the connection is synchronous
    modbus::TModbusConnection connection_;
    modbus::TModbusClient client_;
    std::optional<Outcome> result_;
};

}  // namespace cli
