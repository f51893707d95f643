#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace modbus {

using TRegValues = std::vector<uint16_t>;
using TServerIdentificationData = std::vector<uint8_t>;
using TFrameData = std::vector<uint8_t>;

// Numbers are fixed: the application compares them.
enum TTransactionReply : uint8_t {
    trNoReply = 0,
    trInvalidFrame = 1,
    trOtherServer = 2,
    trUnmatchedReply = 3,
    trExceptionReply = 4,
    trSuccess = 5,
};

// Ordinal = Modbus exception code.
enum TServerException : uint8_t {
    seUnknown,
    seIllegalCommand,
    seIllegalDataAddress,
    seIllegalDataValue,
    seServerFailure,
    seAcknowledge,
    seServerBusy,
    seNegativeAcknowledge,
    seMemoryParityError,
};

enum TTransmissionMode : uint8_t { tmRTU, tmASCII };
enum TConnectionMode : uint8_t { cmClient, cmServer };

enum TBaudRate : uint8_t {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
    br38400, br56000, br57600, br115200, br128000, br256000, brCustom,
};
enum TDataBits : uint8_t { db7, db8 };
enum TFlowControl : uint8_t { fcNone, fcRtsToggle, fcRtsCts, fcDtrDsr };
enum TParityScheme : uint8_t { psNone, psOdd, psEven };
enum TStopBits : uint8_t { sb1, sb2 };
enum TThreadPriority : uint8_t {
    tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical,
};

enum TDiagnosticAction : uint8_t {
    daReturnQueryData,
    daRestartCommunications,
    daRestartCommunicationsClearLog,
    daReturnDiagnosticRegister,
    daForceListenOnlyMode,
    daClearCounters,
    daReturnBusMessageCount,
    daReturnBusCommErrorCount,
    daReturnBusExceptionErrorCount,
    daReturnServerMessageCount,
    daReturnServerNoResponseCount,
    daReturnServerNAKCount,
    daReturnServerBusyCount,
    daReturnBusCharOverrunCount,
    daClearOverrunCounter,
};

struct TTransactionInfo {
    uint32_t ID = 0;
    uint8_t ServerAddress = 0;
    int32_t UserData = 0;
    uint32_t Attempts = 0;
    TTransactionReply Reply = trNoReply;
    uint8_t ExceptionCode = 0;
    TServerException ServerException = seUnknown;
};

// Codes above 8 have no name of their own.
inline TServerException ServerExceptionFromCode(uint8_t code)
{
    return code <= seMemoryParityError ? static_cast<TServerException>(code) : seUnknown;
}

std::string_view TransactionReplyName(TTransactionReply r);
std::string_view ServerExceptionName(TServerException e);
std::string_view DiagnosticActionName(TDiagnosticAction a);

// Rate in bits per second of a named rate; 0 for brCustom.
uint32_t BaudRateValue(TBaudRate b);
// The named rate for a number, or brCustom when none matches.
TBaudRate BaudRateFromValue(uint32_t bps);

}  // namespace modbus
