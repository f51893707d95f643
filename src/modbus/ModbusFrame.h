#pragma once

// Serial framing (RTU with CRC-16, ASCII with LRC) and the PDU layouts of the functions the
// client sends. Everything here is a function of bytes and settings: no port, no thread.

#include "ModbusBuffer.h"
#include "ModbusTypes.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace modbus {

// Raw frame: address, function code, data, checksum. ASCII wire form is ':' + hex pairs + CR LF.
constexpr int RawFrameCapacity(TTransmissionMode m) { return m == tmRTU ? 256 : 255; }
constexpr int WireFrameCapacity(TTransmissionMode m) { return m == tmRTU ? 256 : 513; }
constexpr int ChecksumSize(TTransmissionMode m) { return m == tmRTU ? 2 : 1; }
// Smallest raw frame a side accepts; on a client also the exact size of an exception reply.
constexpr int MinRawFrame(TTransmissionMode m, TConnectionMode side)
{
    return (m == tmRTU ? 5 : 4) - (side == cmServer ? 1 : 0);
}
constexpr int kFunctionCodeIndex = 1;

// Function codes this system sends and serves.
namespace fc {
inline constexpr uint8_t ReadHoldingRegisters = 0x03;
inline constexpr uint8_t WriteSingleRegister = 0x06;
inline constexpr uint8_t Diagnostics = 0x08;
inline constexpr uint8_t WriteMultipleRegisters = 0x10;
inline constexpr uint8_t ReportServerId = 0x11;
}  // namespace fc

// Register counts a request may carry: the 256-byte frame limits function 3 to 125 values in
// its reply and function 16 to 123 values in its request.
inline constexpr int kMaxReadCount = 125;
inline constexpr int kMaxWriteCount = 123;

void WriteHeader(TModbusBuffer& buf, uint8_t serverAddress);
void AppendChecksum(TModbusBuffer& buf, TTransmissionMode m);
bool CheckChecksum(TModbusBuffer& buf, TTransmissionMode m);

// Raw buffer -> wire bytes; returns the wire length. Raises "Failed to encode frame" when the
// wire form does not fit.
int EncodeFrame(TTransmissionMode m, const TModbusBuffer& raw, uint8_t* dest, int destCapacity);

// Wire bytes -> raw buffer; True when the framing and checksum are right.
// Raises "Failed to decode frame" when the raw form would not fit the buffer.
bool DecodeFrame(TTransmissionMode m, TConnectionMode side, const uint8_t* src, int length,
                 TModbusBuffer& raw);

// Length an RTU reply must have, judged from its first bytes: 0 while too few bytes have arrived
// to tell, -1 for a function code whose reply length cannot be known from its content.
int ExpectedRtuReplyLength(const uint8_t* bytes, int count);
// True when the bytes are exactly one RTU reply of the length its content implies, with a good CRC.
bool IsCompleteRtuReply(const uint8_t* bytes, int count);

struct Classification {
    TTransactionReply reply = trNoReply;
    uint8_t exceptionCode = 0;
};

// Sorts a received wire frame against its request (client side). `reply` receives the raw
// frame when it decodes.
Classification ClassifyReply(TTransmissionMode m, const uint8_t* wire, int length,
                             const TModbusBuffer& query, TModbusBuffer& reply);

// Diagnostics sub-function, data word and whether the reply must echo the data.
struct DiagnosticRequest {
    uint16_t subFunction;
    uint16_t data;
    bool echo;
};
DiagnosticRequest DiagnosticRequestOf(TDiagnosticAction a);
// The action a query carried; raises "Diagnostic action was not recognized" when none fits.
TDiagnosticAction DiagnosticActionOf(uint16_t subFunction, uint16_t data);

// Request builders: header, PDU and checksum, Position left at the end.
void BuildReadHoldingRegisters(TModbusBuffer& q, TTransmissionMode m, uint8_t addr,
                               uint16_t start, uint16_t count);
void BuildWriteSingleRegister(TModbusBuffer& q, TTransmissionMode m, uint8_t addr,
                              uint16_t reg, uint16_t value);
void BuildWriteMultipleRegisters(TModbusBuffer& q, TTransmissionMode m, uint8_t addr,
                                 uint16_t start, std::span<const uint16_t> values);
void BuildDiagnostics(TModbusBuffer& q, TTransmissionMode m, uint8_t addr, TDiagnosticAction a);
void BuildReportServerIdentification(TModbusBuffer& q, TTransmissionMode m, uint8_t addr);

// Reply content tests. Each reads only the bytes received (never past the frame's data, which
// ends before the checksum) and returns false where the reply does not fit its request.
bool ReadHoldingRegistersReply(const TModbusBuffer& reply, TTransmissionMode m, uint16_t count,
                               TRegValues& values);
bool WriteSingleRegisterReply(const TModbusBuffer& reply, TTransmissionMode m, uint16_t reg,
                              uint16_t value);
bool WriteMultipleRegistersReply(const TModbusBuffer& reply, TTransmissionMode m, uint16_t start,
                                 uint16_t count);
bool DiagnosticsReply(const TModbusBuffer& reply, TTransmissionMode m,
                      const DiagnosticRequest& request, uint16_t& result);
// Data of a Report Server ID reply. A byte count that claims more than arrived yields the bytes
// that did arrive, and false.
bool ServerIdentificationReply(const TModbusBuffer& reply, TTransmissionMode m,
                               TServerIdentificationData& data);

}  // namespace modbus
