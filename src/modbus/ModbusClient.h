#pragma once

#include "ModbusTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace modbus {

class TModbusConnection;
class TModbusTransaction;

// Talks Modbus to one server address over a serial connection. Operations check their
// arguments, queue one request and return its transaction ID at once; the result arrives later,
// on the main thread, as an event.
class TModbusClient {
public:
    using Notify = std::function<void(TModbusClient&)>;

    TModbusClient() = default;
    ~TModbusClient();
    TModbusClient(const TModbusClient&) = delete;
    TModbusClient& operator=(const TModbusClient&) = delete;

    TModbusConnection* Connection() const { return connection_; }
    void SetConnection(TModbusConnection* c);
    int MaxConsecutiveTimeouts() const { return maxConsecutiveTimeouts_; }
    void SetMaxConsecutiveTimeouts(int v);  // -1 switches counting off; below -1 counts as -1
    uint8_t ServerAddress() const { return serverAddress_; }
    void SetServerAddress(uint8_t v);  // drops this client's queued requests
    int ConsecutiveTimeouts() const { return consecutiveTimeouts_; }

    uint32_t ReadHoldingRegisters(uint16_t startReg, uint16_t regCount, int32_t userData = 0);
    uint32_t WriteSingleRegister(uint16_t regAddr, uint16_t regValue, int32_t userData = 0);
    uint32_t WriteMultipleRegisters(uint16_t startReg, std::span<const uint16_t> regValues,
                                    int32_t userData = 0);
    uint32_t Diagnostics(TDiagnosticAction action, int32_t userData = 0);
    uint32_t ReportServerIdentification(int32_t userData = 0);

    Notify OnConsecutiveTimeoutLimitExceed;
    std::function<void(TModbusClient&, const TTransactionInfo&, TDiagnosticAction, uint16_t result)>
        OnDiagnostics;
    std::function<void(TModbusClient&, const TTransactionInfo&, uint16_t startReg,
                       uint16_t regCount, const TRegValues&)>
        OnHoldingRegistersRead;
    std::function<void(TModbusClient&, const TTransactionInfo&, uint16_t startReg,
                       uint16_t regCount, const TRegValues&)>
        OnMultipleRegistersWrite;
    std::function<void(TModbusClient&, const TTransactionInfo&, int count,
                       const TServerIdentificationData&)>
        OnServerIdentificationReport;
    std::function<void(TModbusClient&, const TTransactionInfo&, uint16_t regAddr, uint16_t regValue)>
        OnSingleRegisterWrite;
    std::function<void(TModbusClient&, const TTransactionInfo&, uint8_t command, bool custom)>
        OnTransactionProcessed;

    // Called by the connection, on the main thread, for each finished transaction of this client.
    void DispatchResult(TModbusTransaction& t);
    // The connection is going away.
    void ConnectionDestroyed() { connection_ = nullptr; }

private:
    template <typename Build>
    uint32_t Submit(int32_t userData, Build&& build);
    void RequireConnection() const;
    void CountTimeouts(const TTransactionInfo& info);

    TModbusConnection* connection_ = nullptr;
    int maxConsecutiveTimeouts_ = -1;
    uint8_t serverAddress_ = 1;
    int consecutiveTimeouts_ = 0;
};

}  // namespace modbus
