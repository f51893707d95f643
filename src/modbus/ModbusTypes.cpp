#include "ModbusTypes.h"

#include <array>

namespace modbus {

std::string_view TransactionReplyName(TTransactionReply r)
{
    switch (r) {
    case trNoReply: return "trNoReply";
    case trInvalidFrame: return "trInvalidFrame";
    case trOtherServer: return "trOtherServer";
    case trUnmatchedReply: return "trUnmatchedReply";
    case trExceptionReply: return "trExceptionReply";
    case trSuccess: return "trSuccess";
    }
    return "trNoReply";
}

std::string_view ServerExceptionName(TServerException e)
{
    static constexpr std::array<std::string_view, 9> names = {
        "seUnknown", "seIllegalCommand", "seIllegalDataAddress", "seIllegalDataValue",
        "seServerFailure", "seAcknowledge", "seServerBusy", "seNegativeAcknowledge",
        "seMemoryParityError"};
    return e < names.size() ? names[e] : names[0];
}

std::string_view DiagnosticActionName(TDiagnosticAction a)
{
    static constexpr std::array<std::string_view, 15> names = {
        "daReturnQueryData", "daRestartCommunications", "daRestartCommunicationsClearLog",
        "daReturnDiagnosticRegister", "daForceListenOnlyMode", "daClearCounters",
        "daReturnBusMessageCount", "daReturnBusCommErrorCount",
        "daReturnBusExceptionErrorCount", "daReturnServerMessageCount",
        "daReturnServerNoResponseCount", "daReturnServerNAKCount", "daReturnServerBusyCount",
        "daReturnBusCharOverrunCount", "daClearOverrunCounter"};
    return a < names.size() ? names[a] : names[0];
}

static constexpr std::array<uint32_t, 15> kRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000,
    256000};

uint32_t BaudRateValue(TBaudRate b)
{
    return b < kRates.size() ? kRates[b] : 0;
}

TBaudRate BaudRateFromValue(uint32_t bps)
{
    for (size_t i = 0; i < kRates.size(); ++i)
        if (kRates[i] == bps)
            return static_cast<TBaudRate>(i);
    return brCustom;
}

}  // namespace modbus
