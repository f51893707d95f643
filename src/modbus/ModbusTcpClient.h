#pragma once

// The Modbus TCP master: one connection, one request/reply exchange at a time, on the caller's
// thread. Building a request and judging a reply are functions of bytes (BuildTcpRequest,
// ParseTcpReply); TModbusTcpClient adds the connection, the transaction ids and the wait.

#include "ModbusTypes.h"
#include "TcpSocket.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace modbus {

// MBAP header: transaction id (2), protocol id (2), length (2), unit id (1). The length counts
// the unit id and the PDU; a PDU holds 1 to 253 bytes (Modbus Application Protocol V1.1b3,
// 4.1), so a valid length lies between 2 and 254 and a whole frame has 6 + length bytes.
inline constexpr size_t kMbapLengthOffset = 4;
inline constexpr size_t kMbapPrefixSize = 6;  // the bytes the length field does not count
inline constexpr uint16_t kMbapMinLength = 2;
inline constexpr uint16_t kMbapMaxLength = 254;
// A request is built in a record of this size: header 7, function code 1, data 261 bytes.
inline constexpr size_t kTcpFrameCapacity = 269;

// Counts above these are sent as these.
inline constexpr uint16_t kTcpMaxReadRegisters = 125;
inline constexpr uint16_t kTcpMaxCoils = 250;
// Write Multiple Registers takes 1 to 123 registers (Modbus Application Protocol V1.1b3, 6.12);
// more are refused before anything is sent.
inline constexpr uint16_t kTcpMaxWriteRegisters = 123;
// Report Server ID fills this many words.
inline constexpr size_t kServerIdWords = 125;

// Messages of the TCP client's own misuse checks, beside the library's table.
namespace tcpmsg {
inline constexpr const char* FunctionUnsupported = "Function code %d is not supported";
inline constexpr const char* ValuesMissing = "The request needs %d values but %d were given";
}  // namespace tcpmsg

// A reply as the events see it. Header fields are decoded, high byte first (the wire order);
// MBPData holds the bytes after the function code, RecLength - 2 of them when the length was
// valid; everything that did not arrive is zero. The first byte of MBPData is the byte count of
// a read reply or the exception code of an exception reply.
struct TModbusTcpReply {
    uint16_t TransactionID = 0;
    uint16_t ProtocolID = 0;
    uint16_t RecLength = 0;
    uint8_t UnitID = 0;
    uint8_t FunctionCode = 0;
    std::array<uint8_t, 261> MBPData{};
};

TModbusTcpReply MakeTcpReplyRecord(const uint8_t* bytes, size_t size);

// What the bytes at the front of the receive buffer are, as the answer to one request.
enum class TTcpFrameKind : uint8_t {
    Incomplete,     // more bytes are needed to decide
    Foreign,        // a whole frame for another transaction or protocol: drop it and read on
    BadLength,      // MBAP length outside 2..254: the frame's end cannot be found
    BadLayout,      // the answer, but its length contradicts the function's layout
    Success,
    Exception,      // the request's function code with 0x80 set, of any data size
    OtherFunction,  // the answer, with a function code that belongs to no reply of this request
};

struct TTcpFrameParse {
    TTcpFrameKind Kind = TTcpFrameKind::Incomplete;
    size_t FrameSize = 0;        // 6 + length, once the whole frame has arrived
    uint8_t FunctionCode = 0;    // the reply's, 0 before it has arrived
    uint8_t ExceptionCode = 0;   // Exception only: the first data byte, 0 when there is none
    size_t ValueCount = 0;       // values stored, Success of a read only
};

// Judges the bytes received so far against the request (transaction id, function code). Reads
// no byte at or beyond `size`. On Success of a read (functions 1, 2, 3, 4, 17), stores the
// values into `values`, never more than it holds: bits as 0/1 words (at most 250), registers
// high byte first (at most 125, an odd last byte dropped). Nothing else is written.
TTcpFrameParse ParseTcpReply(const uint8_t* bytes, size_t size, uint16_t transactionID,
                             uint8_t function, std::span<uint16_t> values);

// Raises EModbusError for an unsupported function code, a Write Multiple Registers count
// outside 1..123, or fewer values than the write needs.
void CheckTcpRequest(uint8_t function, uint16_t count, size_t valueCount);

// Builds the request ADU at the start of `frame`; returns its size (6 + length). `address` is
// the register number as sent (BaseRegister already subtracted). Checks as CheckTcpRequest.
size_t BuildTcpRequest(std::span<uint8_t, kTcpFrameCapacity> frame, uint16_t transactionID,
                       uint8_t unitID, uint8_t function, uint16_t address, uint16_t count,
                       std::span<const uint16_t> values);

// The outcome of the last operation. Reply is trSuccess, trNoReply (nothing whole within
// TimeOut, or the operation raised a socket error), trExceptionReply or trUnmatchedReply.
struct TModbusTcpResult {
    TTransactionReply Reply = trNoReply;
    uint8_t ExceptionCode = 0;      // trExceptionReply
    uint8_t ReplyFunctionCode = 0;  // of the reply that decided the outcome, 0 when none did
    // trUnmatchedReply for a frame that broke its MBAP length or its function's layout. Only a
    // broken length closes the connection (the byte stream can no longer be followed).
    bool Malformed = false;
};

class TModbusTcpClient {
public:
    using TErrorEvent =
        std::function<void(uint8_t functionCode, uint8_t errorCode, const TModbusTcpReply& reply)>;
    using TMismatchEvent = std::function<void(uint8_t requestFunctionCode,
                                              uint8_t responseFunctionCode,
                                              const TModbusTcpReply& reply)>;

    TModbusTcpClient() { socket_.SetPort(502); }

    // The socket layer's part.
    const std::string& Host() const { return socket_.Host(); }
    void SetHost(std::string host) { socket_.SetHost(std::move(host)); }
    int32_t Port() const { return socket_.Port(); }
    void SetPort(int32_t port) { socket_.SetPort(port); }
    // timeoutMs <= 0: no limit of its own. Restarts the transaction ids, then fires OnConnected.
    void Connect(int timeoutMs = -1);
    void Disconnect() noexcept { socket_.Disconnect(); }
    bool Connected() { return socket_.Connected(); }
    std::function<void()> OnConnected;

    bool AutoConnect() const { return autoConnect_; }
    void SetAutoConnect(bool on) { autoConnect_ = on; }
    uint16_t BaseRegister() const { return baseRegister_; }
    void SetBaseRegister(uint16_t base) { baseRegister_ = base; }
    int32_t ConnectTimeOut() const { return connectTimeOutMs_; }
    void SetConnectTimeOut(int32_t ms) { connectTimeOutMs_ = ms; }
    // Longest single poll() within the reply wait; 0 (or less): one poll up to the deadline.
    int32_t ReadTimeout() const { return readTimeoutMs_; }
    void SetReadTimeout(int32_t ms) { readTimeoutMs_ = ms; }
    // Longest wait for a whole reply; 0: take only what has already arrived.
    uint32_t TimeOut() const { return timeOutMs_; }
    void SetTimeOut(uint32_t ms) { timeOutMs_ = ms; }
    uint8_t UnitID() const { return unitID_; }
    void SetUnitID(uint8_t id) { unitID_ = id; }
    std::string_view Version() const { return "1.0.0"; }

    TErrorEvent OnResponseError;
    TMismatchEvent OnResponseMismatch;  // only for a function code that answers no request of ours
    // Every ADU sent, and every reply frame that decided an outcome, MBAP header included:
    // for a traffic monitor. Unset, it costs nothing.
    std::function<void(std::span<const uint8_t> adu, bool sent)> OnFrame;

    // All operations return true on success. Misuse raises EModbusError before anything is
    // sent; connection failures raise ESocketError.

    // Function 3. `values` receives exactly `count` words, zero where nothing arrived.
    bool ReadHoldingRegisters(uint16_t reg, uint16_t count, std::vector<uint16_t>& values);
    bool WriteSingleRegister(uint16_t reg, uint16_t value);
    bool WriteMultipleRegisters(uint16_t reg, std::span<const uint16_t> values);
    // Function 17. `values` receives 125 words, two reply bytes each, the earlier in the high
    // half; zero where nothing arrived.
    bool ReportServerIdentification(std::vector<uint16_t>& values);
    // The core of every operation, for functions 1, 2, 3, 4, 5, 6, 15, 16 and 17. Write
    // functions take their values from `data` (one for 5 and 6, `count` for 15 and 16); read
    // functions store into it, never more than it holds.
    bool SendCommand(uint8_t function, uint16_t reg, uint16_t count, std::span<uint16_t> data);

    uint16_t GetNewTransactionID();
    uint16_t LastTransactionID() const { return lastTransactionID_; }
    const TModbusTcpResult& LastResult() const { return lastResult_; }

private:
    class AutoConnection;

    bool Execute(uint8_t function, uint16_t reg, uint16_t count, std::span<const uint16_t> out,
                 std::span<uint16_t> in);
    bool AwaitReply(uint16_t transactionID, uint8_t function, std::span<uint16_t> values);
    bool Conclude(const TTcpFrameParse& parse, uint8_t function, size_t received);

    TcpSocket socket_;
    bool autoConnect_ = true;
    uint16_t baseRegister_ = 1;
    int32_t connectTimeOutMs_ = -1;
    int32_t readTimeoutMs_ = 0;
    uint32_t timeOutMs_ = 15000;
    uint8_t unitID_ = 255;
    uint16_t lastTransactionID_ = 0;
    TModbusTcpResult lastResult_;
    std::array<uint8_t, kTcpFrameCapacity> request_{};
    // Every frame is at most 260 bytes, so a frame at the front always fits whole.
    std::array<uint8_t, kTcpFrameCapacity> received_{};
    TModbusTcpReply reply_;
};

}  // namespace modbus
