#include "ModbusTcpClient.h"

#include "ModbusError.h"
#include "ModbusUtils.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

namespace modbus {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kReadCoils = 1;
constexpr uint8_t kReadDiscreteInputs = 2;
constexpr uint8_t kReadHoldingRegisters = 3;
constexpr uint8_t kReadInputRegisters = 4;
constexpr uint8_t kWriteSingleCoil = 5;
constexpr uint8_t kWriteSingleRegister = 6;
constexpr uint8_t kWriteMultipleCoils = 15;
constexpr uint8_t kWriteMultipleRegisters = 16;
constexpr uint8_t kReportServerId = 17;
constexpr uint8_t kExceptionFlag = 0x80;

// Data bytes of a write reply: the echoed address and value or count.
constexpr size_t kWriteEchoSize = 4;

uint16_t CappedCount(uint8_t function, uint16_t count)
{
    switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kWriteMultipleCoils:
        return std::min(count, kTcpMaxCoils);
    case kReadHoldingRegisters:
    case kReadInputRegisters:
        return std::min(count, kTcpMaxReadRegisters);
    default:
        return count;
    }
}

size_t ValuesNeeded(uint8_t function, uint16_t count)
{
    switch (function) {
    case kWriteSingleCoil:
    case kWriteSingleRegister:
        return 1;
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
        return CappedCount(function, count);
    default:
        return 0;
    }
}

// Data part of a read reply: a byte count, then exactly that many bytes.
bool ByteCountFits(const uint8_t* data, size_t dataSize)
{
    return dataSize >= 1 && data[0] == dataSize - 1;
}

}  // namespace

TModbusTcpReply MakeTcpReplyRecord(const uint8_t* bytes, size_t size)
{
    TModbusTcpReply r;
    auto word = [&](size_t at) { return size >= at + 2 ? GetWordBE(bytes + at) : uint16_t{0}; };
    r.TransactionID = word(0);
    r.ProtocolID = word(2);
    r.RecLength = word(kMbapLengthOffset);
    if (size > 6)
        r.UnitID = bytes[6];
    if (size > 7)
        r.FunctionCode = bytes[7];
    if (size > 8)
        std::memcpy(r.MBPData.data(), bytes + 8, std::min(size - 8, r.MBPData.size()));
    return r;
}

TTcpFrameParse ParseTcpReply(const uint8_t* bytes, size_t size, uint16_t transactionID,
                             uint8_t function, std::span<uint16_t> values)
{
    TTcpFrameParse r;
    if (size > 7)
        r.FunctionCode = bytes[7];
    if (size < kMbapPrefixSize)
        return r;
    const uint16_t length = GetWordBE(bytes + kMbapLengthOffset);
    if (length < kMbapMinLength || length > kMbapMaxLength) {
        r.Kind = TTcpFrameKind::BadLength;
        return r;
    }
    const size_t frameSize = kMbapPrefixSize + length;
    if (size < frameSize)
        return r;
    r.FrameSize = frameSize;
    // A late answer to a request that timed out carries that request's id: it is not ours.
    if (GetWordBE(bytes) != transactionID || GetWordBE(bytes + 2) != 0) {
        r.Kind = TTcpFrameKind::Foreign;
        return r;
    }

    const uint8_t* data = bytes + 8;
    const size_t dataSize = length - 2u;
    // An exception reply is one whatever its size: its code is the first data byte, 0 when
    // there is none.
    if (r.FunctionCode == (function | kExceptionFlag)) {
        r.Kind = TTcpFrameKind::Exception;
        r.ExceptionCode = dataSize > 0 ? data[0] : 0;
        return r;
    }
    r.Kind = TTcpFrameKind::BadLayout;
    if (r.FunctionCode != function) {
        r.Kind = TTcpFrameKind::OtherFunction;
        return r;
    }
    switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
        if (ByteCountFits(data, dataSize)) {
            const size_t bits = std::min<size_t>(data[0] * 8u, kTcpMaxCoils);
            UnpackCoils(data + 1, bits, values);
            r.ValueCount = std::min(bits, values.size());
            r.Kind = TTcpFrameKind::Success;
        }
        break;
    case kReadHoldingRegisters:
    case kReadInputRegisters:
    case kReportServerId:
        if (ByteCountFits(data, dataSize)) {
            const size_t words =
                std::min({size_t{data[0] / 2u}, size_t{kTcpMaxReadRegisters}, values.size()});
            for (size_t i = 0; i < words; ++i)
                values[i] = GetWordBE(data + 1 + 2 * i);
            r.ValueCount = words;
            r.Kind = TTcpFrameKind::Success;
        }
        break;
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
        // The echo's contents are not compared, only its size.
        if (dataSize == kWriteEchoSize)
            r.Kind = TTcpFrameKind::Success;
        break;
    default:
        break;  // a function this client never sends has no known layout
    }
    return r;
}

void CheckTcpRequest(uint8_t function, uint16_t count, size_t valueCount)
{
    switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters:
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
    case kReportServerId:
        break;
    default:
        throw EModbusError(tcpmsg::FunctionUnsupported, function);
    }
    if (function == kWriteMultipleRegisters && (count < 1 || count > kTcpMaxWriteRegisters))
        throw EModbusError(msg::RegisterCountRange, kTcpMaxWriteRegisters);
    const size_t needed = ValuesNeeded(function, count);
    if (valueCount < needed)
        throw EModbusError(tcpmsg::ValuesMissing, static_cast<long long>(needed),
                           static_cast<long long>(valueCount));
}

size_t BuildTcpRequest(std::span<uint8_t, kTcpFrameCapacity> frame, uint16_t transactionID,
                       uint8_t unitID, uint8_t function, uint16_t address, uint16_t count,
                       std::span<const uint16_t> values)
{
    CheckTcpRequest(function, count, values.size());
    uint8_t* p = frame.data();
    PutWordBE(p, transactionID);
    PutWordBE(p + 2, 0);
    p[6] = unitID;
    p[7] = function;
    uint8_t* data = p + 8;
    size_t dataSize = 0;
    const uint16_t n = CappedCount(function, count);
    switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters:
        PutWordBE(data, address);
        PutWordBE(data + 2, n);
        dataSize = 4;
        break;
    case kWriteSingleCoil:
        PutWordBE(data, address);
        PutWordBE(data + 2, values[0] != 0 ? 0xFF00 : 0x0000);
        dataSize = 4;
        break;
    case kWriteSingleRegister:
        PutWordBE(data, address);
        PutWordBE(data + 2, values[0]);
        dataSize = 4;
        break;
    case kWriteMultipleCoils:
        PutWordBE(data, address);
        PutWordBE(data + 2, n);
        data[4] = static_cast<uint8_t>(CoilByteCount(n));
        PackCoils(values, n, data + 5);
        dataSize = 5 + data[4];
        break;
    case kWriteMultipleRegisters:
        PutWordBE(data, address);
        PutWordBE(data + 2, n);
        data[4] = static_cast<uint8_t>(2 * n);
        for (size_t i = 0; i < n; ++i)
            PutWordBE(data + 5 + 2 * i, values[i]);
        dataSize = 5 + data[4];
        break;
    default:  // Report Server ID has no data
        break;
    }
    const size_t length = 2 + dataSize;
    PutWordBE(p + kMbapLengthOffset, static_cast<uint16_t>(length));
    return kMbapPrefixSize + length;
}

// Connects for one operation when AutoConnect asks for it, and disconnects again afterwards,
// also when the operation raises.
class TModbusTcpClient::AutoConnection {
public:
    explicit AutoConnection(TModbusTcpClient& client) : client_(client)
    {
        if (!client.autoConnect_)
            return;
        bool waiting = false;
        if (client.socket_.Connected(&waiting)) {
            checked_ = true;
            waiting_ = waiting;
        } else {
            client.Connect(client.connectTimeOutMs_);
            connected_ = true;
        }
    }
    ~AutoConnection()
    {
        if (connected_)
            client_.Disconnect();
    }
    AutoConnection(const AutoConnection&) = delete;
    AutoConnection& operator=(const AutoConnection&) = delete;

    // Whether the connection was found open just now, and bytes were then waiting: a second
    // look would cost a system call per transaction for nothing.
    bool Checked() const { return checked_; }
    bool Waiting() const { return waiting_; }

private:
    TModbusTcpClient& client_;
    bool connected_ = false;
    bool checked_ = false;
    bool waiting_ = false;
};

void TModbusTcpClient::Connect(int timeoutMs)
{
    socket_.Connect(timeoutMs);
    // Before OnConnected: a request its handler sends is the first of this connection, and a
    // later request must not reuse its id (a late answer to it would pass for the later one's).
    lastTransactionID_ = 0;
    if (OnConnected)
        OnConnected();
}

uint16_t TModbusTcpClient::GetNewTransactionID()
{
    lastTransactionID_ = lastTransactionID_ == 65535 ? 0 : lastTransactionID_ + 1;
    return lastTransactionID_;
}

bool TModbusTcpClient::ReadHoldingRegisters(uint16_t reg, uint16_t count,
                                            std::vector<uint16_t>& values)
{
    values.assign(count, 0);
    return Execute(kReadHoldingRegisters, reg, count, {}, values);
}

bool TModbusTcpClient::WriteSingleRegister(uint16_t reg, uint16_t value)
{
    const uint16_t one[1] = {value};
    return Execute(kWriteSingleRegister, reg, 1, one, {});
}

bool TModbusTcpClient::WriteMultipleRegisters(uint16_t reg, std::span<const uint16_t> values)
{
    // A count that does not fit 16 bits is refused like any count above 123.
    const auto count = static_cast<uint16_t>(std::min<size_t>(values.size(), UINT16_MAX));
    return Execute(kWriteMultipleRegisters, reg, count, values, {});
}

bool TModbusTcpClient::ReportServerIdentification(std::vector<uint16_t>& values)
{
    values.assign(kServerIdWords, 0);
    return Execute(kReportServerId, 0, 0, {}, values);
}

bool TModbusTcpClient::SendCommand(uint8_t function, uint16_t reg, uint16_t count,
                                   std::span<uint16_t> data)
{
    return Execute(function, reg, count, data, data);
}

bool TModbusTcpClient::Execute(uint8_t function, uint16_t reg, uint16_t count,
                               std::span<const uint16_t> out, std::span<uint16_t> in)
{
    lastResult_ = {};
    CheckTcpRequest(function, count, out.size());  // before connecting: a refusal sends nothing
    const AutoConnection autoConnection(*this);
    const bool waiting = autoConnection.Checked() ? autoConnection.Waiting() : socket_.CheckForDisconnect();
    // Whatever is waiting answers no request of ours (a late reply, or the rest of a segment
    // that held two replies): drop it so that the reply to this request comes first.
    if (waiting)
        socket_.DiscardInput();
    const uint16_t transactionID = GetNewTransactionID();
    const auto address = static_cast<uint16_t>(reg - baseRegister_);
    const size_t size =
        BuildTcpRequest(request_, transactionID, unitID_, function, address, count, out);
    const int writeLimitMs =
        timeOutMs_ > 0 ? static_cast<int>(std::min<uint32_t>(timeOutMs_, INT_MAX)) : -1;
    socket_.Write(request_.data(), size, writeLimitMs);
    if (OnFrame)
        OnFrame(std::span<const uint8_t>(request_.data(), size), true);
    return AwaitReply(transactionID, function, in);
}

bool TModbusTcpClient::AwaitReply(uint16_t transactionID, uint8_t function,
                                  std::span<uint16_t> values)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeOutMs_);
    size_t received = 0;
    bool lastLook = false;
    for (;;) {
        TTcpFrameParse parse =
            ParseTcpReply(received_.data(), received, transactionID, function, values);
        while (parse.Kind == TTcpFrameKind::Foreign) {
            received -= parse.FrameSize;
            std::memmove(received_.data(), received_.data() + parse.FrameSize, received);
            parse = ParseTcpReply(received_.data(), received, transactionID, function, values);
        }
        if (parse.Kind != TTcpFrameKind::Incomplete)
            return Conclude(parse, function, received);
        if (lastLook) {
            // The rest of a partial frame would arrive out of step with the next request.
            if (received > 0)
                socket_.Disconnect();
            return false;
        }
        // One poll() for the whole time that is left unless ReadTimeout slices it; once the
        // deadline has passed, a last look at what has already arrived.
        const int leftMs = MillisecondsUntil(deadline);
        lastLook = leftMs == 0;
        const int waitMs = readTimeoutMs_ > 0 ? std::min(leftMs, readTimeoutMs_) : leftMs;
        if (socket_.WaitReadable(waitMs))
            received += socket_.Read(received_.data() + received, received_.size() - received);
    }
}

bool TModbusTcpClient::Conclude(const TTcpFrameParse& parse, uint8_t function, size_t received)
{
    const bool malformed =
        parse.Kind == TTcpFrameKind::BadLength || parse.Kind == TTcpFrameKind::BadLayout;
    // A frame whose length is unusable is shown as far as it arrived.
    reply_ = MakeTcpReplyRecord(received_.data(),
                                parse.FrameSize != 0 ? parse.FrameSize : received);
    lastResult_.ReplyFunctionCode = parse.FunctionCode;
    if (OnFrame)
        OnFrame(std::span<const uint8_t>(received_.data(), parse.FrameSize != 0 ? parse.FrameSize : received), false);
    switch (parse.Kind) {
    case TTcpFrameKind::Success:
        lastResult_.Reply = trSuccess;
        return true;
    case TTcpFrameKind::Exception:
        lastResult_.Reply = trExceptionReply;
        lastResult_.ExceptionCode = parse.ExceptionCode;
        if (OnResponseError)
            OnResponseError(function, parse.ExceptionCode, reply_);
        return false;
    default:
        lastResult_.Reply = trUnmatchedReply;
        lastResult_.Malformed = malformed;
        // Without a usable length the next frame's start is unknown: start the next exchange
        // on a new stream. A sound length has already marked where this frame ends.
        if (parse.Kind == TTcpFrameKind::BadLength)
            socket_.Disconnect();
        if (parse.Kind == TTcpFrameKind::OtherFunction && OnResponseMismatch)
            OnResponseMismatch(function, parse.FunctionCode, reply_);
        return false;
    }
}

}  // namespace modbus
