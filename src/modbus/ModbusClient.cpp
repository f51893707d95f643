#include "ModbusClient.h"

#include "ModbusConnection.h"
#include "ModbusError.h"
#include "ModbusFrame.h"
#include "TransactionThread.h"

namespace modbus {

namespace {

uint16_t QueryWord(const TModbusBuffer& q, int index)
{
    return static_cast<uint16_t>((q.Data()[index] << 8) | q.Data()[index + 1]);
}

}  // namespace

TModbusClient::~TModbusClient()
{
    SetConnection(nullptr);
}

void TModbusClient::SetConnection(TModbusConnection* c)
{
    if (c == connection_)
        return;
    if (connection_)
        connection_->RemoveClient(this);
    connection_ = c;
    if (connection_)
        connection_->AddClient(this);
}

void TModbusClient::SetMaxConsecutiveTimeouts(int v)
{
    if (v < -1)
        v = -1;
    if (v == maxConsecutiveTimeouts_)
        return;
    maxConsecutiveTimeouts_ = v;
    consecutiveTimeouts_ = 0;
}

void TModbusClient::SetServerAddress(uint8_t v)
{
    if (v == serverAddress_)
        return;
    if (connection_)
        connection_->RemoveTransactions(this);
    serverAddress_ = v;
}

void TModbusClient::RequireConnection() const
{
    if (!connection_ || !connection_->Active())
        throw EModbusError(msg::NoActiveConnection);
}

template <typename Build>
uint32_t TModbusClient::Submit(int32_t userData, Build&& build)
{
    const TTransmissionMode mode = connection_->TransmissionMode();
    auto t = std::make_unique<TModbusTransaction>(mode);
    const uint32_t id = connection_->NextTransactionID();
    t->info = TTransactionInfo{};
    t->info.ID = id;
    t->info.ServerAddress = serverAddress_;
    t->info.UserData = userData;
    build(t->query, mode);
    connection_->Submit(std::move(t), this);
    return id;
}

uint32_t TModbusClient::ReadHoldingRegisters(uint16_t startReg, uint16_t regCount, int32_t userData)
{
    RequireConnection();
    if (regCount < 1 || regCount > kMaxReadCount)
        throw EModbusError(msg::RegisterCountRange, kMaxReadCount);
    if (startReg + regCount - 1 > 65535)
        throw EModbusError(msg::StartRegisterInvalid, startReg);
    return Submit(userData, [&](TModbusBuffer& q, TTransmissionMode m) {
        BuildReadHoldingRegisters(q, m, serverAddress_, startReg, regCount);
    });
}

uint32_t TModbusClient::WriteSingleRegister(uint16_t regAddr, uint16_t regValue, int32_t userData)
{
    RequireConnection();
    return Submit(userData, [&](TModbusBuffer& q, TTransmissionMode m) {
        BuildWriteSingleRegister(q, m, serverAddress_, regAddr, regValue);
    });
}

uint32_t TModbusClient::WriteMultipleRegisters(uint16_t startReg, std::span<const uint16_t> regValues,
                                               int32_t userData)
{
    RequireConnection();
    const size_t count = regValues.size();
    if (count < 1 || count > kMaxWriteCount)
        throw EModbusError(msg::RegisterCountRange, kMaxWriteCount);
    if (startReg + count - 1 > 65535)
        throw EModbusError(msg::StartRegisterInvalid, startReg);
    return Submit(userData, [&](TModbusBuffer& q, TTransmissionMode m) {
        BuildWriteMultipleRegisters(q, m, serverAddress_, startReg, regValues);
    });
}

uint32_t TModbusClient::Diagnostics(TDiagnosticAction action, int32_t userData)
{
    RequireConnection();
    return Submit(userData, [&](TModbusBuffer& q, TTransmissionMode m) {
        BuildDiagnostics(q, m, serverAddress_, action);
    });
}

uint32_t TModbusClient::ReportServerIdentification(int32_t userData)
{
    RequireConnection();
    return Submit(userData, [&](TModbusBuffer& q, TTransmissionMode m) {
        BuildReportServerIdentification(q, m, serverAddress_);
    });
}

void TModbusClient::DispatchResult(TModbusTransaction& t)
{
    RequireConnection();
    const TTransmissionMode mode = connection_->TransmissionMode();
    TTransactionInfo& info = t.info;
    const TModbusBuffer& q = t.query;
    const uint8_t command = q.Data()[kFunctionCodeIndex];
    const bool success = info.Reply == trSuccess;
    auto unmatchedUnless = [&info](bool fits) {
        if (!fits)
            info.Reply = trUnmatchedReply;
    };

    switch (command) {
    case fc::ReadHoldingRegisters: {
        const uint16_t start = QueryWord(q, 2);
        const uint16_t count = QueryWord(q, 4);
        TRegValues values;
        if (success)
            unmatchedUnless(ReadHoldingRegistersReply(t.reply, mode, count, values));
        if (info.Reply != trSuccess)
            values.assign(count, 0);
        if (OnHoldingRegistersRead)
            OnHoldingRegistersRead(*this, info, start, count, values);
        break;
    }
    case fc::WriteSingleRegister: {
        const uint16_t reg = QueryWord(q, 2);
        const uint16_t value = QueryWord(q, 4);
        if (success)
            unmatchedUnless(WriteSingleRegisterReply(t.reply, mode, reg, value));
        if (OnSingleRegisterWrite)
            OnSingleRegisterWrite(*this, info, reg, value);
        break;
    }
    case fc::WriteMultipleRegisters: {
        const uint16_t start = QueryWord(q, 2);
        const uint16_t count = QueryWord(q, 4);
        TRegValues written(count);
        for (int i = 0; i < count; ++i)
            written[static_cast<size_t>(i)] = QueryWord(q, 7 + 2 * i);
        if (success)
            unmatchedUnless(WriteMultipleRegistersReply(t.reply, mode, start, count));
        if (OnMultipleRegistersWrite)
            OnMultipleRegistersWrite(*this, info, start, count, written);
        break;
    }
    case fc::Diagnostics: {
        const TDiagnosticAction action = DiagnosticActionOf(QueryWord(q, 2), QueryWord(q, 4));
        uint16_t result = 0;
        if (success)
            unmatchedUnless(DiagnosticsReply(t.reply, mode, DiagnosticRequestOf(action), result));
        if (info.Reply != trSuccess)
            result = 0;
        if (OnDiagnostics)
            OnDiagnostics(*this, info, action, result);
        break;
    }
    case fc::ReportServerId: {
        TServerIdentificationData data;
        if (success)
            unmatchedUnless(ServerIdentificationReply(t.reply, mode, data));
        if (!success)
            data.clear();
        if (OnServerIdentificationReport)
            OnServerIdentificationReport(*this, info, static_cast<int>(data.size()), data);
        break;
    }
    default:
        break;
    }

    if (OnTransactionProcessed)
        OnTransactionProcessed(*this, info, command, false);
    CountTimeouts(info);
}

void TModbusClient::CountTimeouts(const TTransactionInfo& info)
{
    if (maxConsecutiveTimeouts_ < 0)
        return;
    if (info.Reply == trNoReply || info.Reply == trInvalidFrame) {
        consecutiveTimeouts_ += static_cast<int>(info.Attempts);
        if (consecutiveTimeouts_ > maxConsecutiveTimeouts_) {
            consecutiveTimeouts_ = 0;
            if (OnConsecutiveTimeoutLimitExceed)
                OnConsecutiveTimeoutLimitExceed(*this);
        }
    } else {
        consecutiveTimeouts_ = 0;
    }
}

}  // namespace modbus
