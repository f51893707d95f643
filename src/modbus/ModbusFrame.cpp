#include "ModbusFrame.h"

#include "ModbusError.h"

#include <array>

namespace modbus {

namespace {

char HexDigit(uint8_t nibble)
{
    return static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
}

// Characters are not validated one by one: a foreign character decodes to a wrong nibble and the
// frame then fails its LRC.
uint8_t HexValue(uint8_t c)
{
    return static_cast<uint8_t>(c < 'A' ? c - '0' : c - 0x37);
}

// Reads fields of a reply's data, bounded by the bytes received before the checksum.
class ReplyReader {
public:
    ReplyReader(const TModbusBuffer& buf, TTransmissionMode m)
        : buf_(buf), end_(buf.Size() - ChecksumSize(m))
    {
    }
    bool Has(int index, int width) const { return index >= 0 && index + width <= end_; }
    uint8_t Byte(int index) const { return buf_.Data()[index]; }
    uint16_t Word(int index) const
    {
        return static_cast<uint16_t>((buf_.Data()[index] << 8) | buf_.Data()[index + 1]);
    }
    int End() const { return end_; }

private:
    const TModbusBuffer& buf_;
    int end_;
};

struct DiagRow {
    TDiagnosticAction action;
    DiagnosticRequest request;
};

constexpr std::array<DiagRow, 15> kDiagTable = {{
    {daReturnQueryData, {0x0000, 0xA537, true}},
    {daRestartCommunications, {0x0001, 0x0000, true}},
    {daRestartCommunicationsClearLog, {0x0001, 0xFF00, true}},
    {daReturnDiagnosticRegister, {0x0002, 0x0000, false}},
    {daForceListenOnlyMode, {0x0004, 0x0000, false}},
    {daClearCounters, {0x000A, 0x0000, true}},
    {daReturnBusMessageCount, {0x000B, 0x0000, false}},
    {daReturnBusCommErrorCount, {0x000C, 0x0000, false}},
    {daReturnBusExceptionErrorCount, {0x000D, 0x0000, false}},
    {daReturnServerMessageCount, {0x000E, 0x0000, false}},
    {daReturnServerNoResponseCount, {0x000F, 0x0000, false}},
    {daReturnServerNAKCount, {0x0010, 0x0000, false}},
    {daReturnServerBusyCount, {0x0011, 0x0000, false}},
    {daReturnBusCharOverrunCount, {0x0012, 0x0000, false}},
    {daClearOverrunCounter, {0x0014, 0x0000, true}},
}};

}  // namespace

void WriteHeader(TModbusBuffer& buf, uint8_t serverAddress)
{
    buf.WriteByte(serverAddress);
}

void AppendChecksum(TModbusBuffer& buf, TTransmissionMode m)
{
    if (m == tmRTU)
        buf.WriteWordLE(buf.CalcCRC16());
    else
        buf.WriteByte(buf.CalcLRC());
}

bool CheckChecksum(TModbusBuffer& buf, TTransmissionMode m)
{
    if (m == tmRTU) {
        buf.SetPosition(buf.Size() - 2);
        return buf.CalcCRC16() == buf.ReadWordLE();
    }
    buf.SetPosition(buf.Size() - 1);
    return buf.CalcLRC() == buf.ReadByte();
}

int EncodeFrame(TTransmissionMode m, const TModbusBuffer& raw, uint8_t* dest, int destCapacity)
{
    const int n = raw.Size();
    if (n <= 0)
        return 0;
    if (m == tmRTU) {
        if (n > destCapacity)
            throw EModbusError(msg::EncodeFailed);
        std::copy(raw.Data(), raw.Data() + n, dest);
        return n;
    }
    const int length = 2 * n + 3;
    if (length > destCapacity)
        throw EModbusError(msg::EncodeFailed);
    uint8_t* out = dest;
    *out++ = ':';
    for (int i = 0; i < n; ++i) {
        *out++ = static_cast<uint8_t>(HexDigit(raw.Data()[i] >> 4));
        *out++ = static_cast<uint8_t>(HexDigit(raw.Data()[i] & 0x0F));
    }
    *out++ = '\r';
    *out++ = '\n';
    return length;
}

bool DecodeFrame(TTransmissionMode m, TConnectionMode side, const uint8_t* src, int length,
                 TModbusBuffer& raw)
{
    raw.SetSize(0);
    if (m == tmRTU) {
        if (length < MinRawFrame(m, side))
            return false;
        if (length > raw.Capacity())
            throw EModbusError(msg::DecodeFailed);
        raw.Assign(src, length);
        return CheckChecksum(raw, m);
    }
    // ASCII: the minimum counts the colon and CR LF, not the doubling of the hex digits.
    const int minimum = MinRawFrame(m, side) + 3;
    if (length < minimum || length % 2 == 0 || src[0] != ':' || src[length - 2] != '\r' ||
        src[length - 1] != '\n')
        return false;
    const int k = (length - 3) / 2;
    if (k > raw.Capacity())
        throw EModbusError(msg::DecodeFailed);
    uint8_t* out = raw.Data();
    for (int i = 0; i < k; ++i)
        out[i] = static_cast<uint8_t>((HexValue(src[1 + 2 * i]) << 4) + HexValue(src[2 + 2 * i]));
    raw.SetSize(k);
    return CheckChecksum(raw, m);
}

int ExpectedRtuReplyLength(const uint8_t* bytes, int count)
{
    if (count < 2)
        return 0;
    const uint8_t fc = bytes[1];
    if (fc & 0x80)
        return 5;  // address, function, exception code, CRC
    switch (fc) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x0C: case 0x11: case 0x14: case 0x15:
    case 0x17:
        // address, function, byte count, data, CRC
        return count < 3 ? 0 : 3 + bytes[2] + 2;
    case 0x05: case 0x06: case 0x08: case 0x0B: case 0x0F: case 0x10:
        return 8;  // address, function, two words, CRC
    case 0x07:
        return 5;
    default:
        return -1;
    }
}

bool IsCompleteRtuReply(const uint8_t* bytes, int count)
{
    if (count < MinRawFrame(tmRTU, cmClient) || ExpectedRtuReplyLength(bytes, count) != count)
        return false;
    const uint16_t crc = Crc16(bytes, static_cast<size_t>(count - 2));
    return bytes[count - 2] == static_cast<uint8_t>(crc) && bytes[count - 1] == static_cast<uint8_t>(crc >> 8);
}

Classification ClassifyReply(TTransmissionMode m, const uint8_t* wire, int length,
                             const TModbusBuffer& query, TModbusBuffer& reply)
{
    Classification c;
    if (length <= 0) {
        reply.SetSize(0);
        return c;
    }
    if (!DecodeFrame(m, cmClient, wire, length, reply)) {
        c.reply = trInvalidFrame;
        return c;
    }
    const uint8_t* r = reply.Data();
    const uint8_t* q = query.Data();
    if (r[0] != q[0]) {
        c.reply = trOtherServer;
        return c;
    }
    const uint8_t fc = r[kFunctionCodeIndex];
    if ((fc & 0x7F) != q[kFunctionCodeIndex]) {
        c.reply = trUnmatchedReply;
        return c;
    }
    if (reply.Size() == MinRawFrame(m, cmClient) && fc >= 0x81) {
        c.reply = trExceptionReply;
        c.exceptionCode = r[2];
        return c;
    }
    c.reply = trSuccess;
    return c;
}

DiagnosticRequest DiagnosticRequestOf(TDiagnosticAction a)
{
    for (const auto& row : kDiagTable)
        if (row.action == a)
            return row.request;
    return kDiagTable[0].request;
}

TDiagnosticAction DiagnosticActionOf(uint16_t subFunction, uint16_t data)
{
    if (subFunction == 0x0001 && data == 0xFF00)
        return daRestartCommunicationsClearLog;
    for (const auto& row : kDiagTable)
        if (row.request.subFunction == subFunction)
            return row.action;
    throw EModbusError(msg::DiagnosticUnknown);
}

void BuildReadHoldingRegisters(TModbusBuffer& q, TTransmissionMode m, uint8_t addr,
                               uint16_t start, uint16_t count)
{
    WriteHeader(q, addr);
    q.WriteByte(fc::ReadHoldingRegisters);
    q.WriteWord(start);
    q.WriteWord(count);
    AppendChecksum(q, m);
}

void BuildWriteSingleRegister(TModbusBuffer& q, TTransmissionMode m, uint8_t addr, uint16_t reg,
                              uint16_t value)
{
    WriteHeader(q, addr);
    q.WriteByte(fc::WriteSingleRegister);
    q.WriteWord(reg);
    q.WriteWord(value);
    AppendChecksum(q, m);
}

void BuildWriteMultipleRegisters(TModbusBuffer& q, TTransmissionMode m, uint8_t addr,
                                 uint16_t start, std::span<const uint16_t> values)
{
    WriteHeader(q, addr);
    q.WriteByte(fc::WriteMultipleRegisters);
    q.WriteWord(start);
    q.WriteWord(static_cast<uint16_t>(values.size()));
    q.WriteByte(static_cast<uint8_t>(2 * values.size()));
    for (uint16_t v : values)
        q.WriteWord(v);
    AppendChecksum(q, m);
}

void BuildDiagnostics(TModbusBuffer& q, TTransmissionMode m, uint8_t addr, TDiagnosticAction a)
{
    const DiagnosticRequest d = DiagnosticRequestOf(a);
    WriteHeader(q, addr);
    q.WriteByte(fc::Diagnostics);
    q.WriteWord(d.subFunction);
    q.WriteWord(d.data);
    AppendChecksum(q, m);
}

void BuildReportServerIdentification(TModbusBuffer& q, TTransmissionMode m, uint8_t addr)
{
    WriteHeader(q, addr);
    q.WriteByte(fc::ReportServerId);
    AppendChecksum(q, m);
}

bool ReadHoldingRegistersReply(const TModbusBuffer& reply, TTransmissionMode m, uint16_t count,
                               TRegValues& values)
{
    ReplyReader r(reply, m);
    if (!r.Has(2, 1) || r.Byte(2) / 2 != count || !r.Has(3, 2 * count))
        return false;
    values.resize(count);
    for (int i = 0; i < count; ++i)
        values[static_cast<size_t>(i)] = r.Word(3 + 2 * i);
    return true;
}

bool WriteSingleRegisterReply(const TModbusBuffer& reply, TTransmissionMode m, uint16_t reg,
                              uint16_t value)
{
    ReplyReader r(reply, m);
    return r.Has(2, 4) && r.Word(2) == reg && r.Word(4) == value;
}

bool WriteMultipleRegistersReply(const TModbusBuffer& reply, TTransmissionMode m, uint16_t start,
                                 uint16_t count)
{
    ReplyReader r(reply, m);
    return r.Has(2, 4) && r.Word(2) == start && r.Word(4) == count;
}

bool DiagnosticsReply(const TModbusBuffer& reply, TTransmissionMode m,
                      const DiagnosticRequest& request, uint16_t& result)
{
    ReplyReader r(reply, m);
    result = 0;
    if (!r.Has(2, 4) || r.Word(2) != request.subFunction)
        return false;
    if (request.echo)
        return r.Word(4) == request.data;
    result = r.Word(4);
    return true;
}

bool ServerIdentificationReply(const TModbusBuffer& reply, TTransmissionMode m,
                               TServerIdentificationData& data)
{
    ReplyReader r(reply, m);
    data.clear();
    if (!r.Has(2, 1))
        return false;
    const int claimed = r.Byte(2);
    const int available = r.End() - 3;
    const int n = claimed <= available ? claimed : available;
    data.assign(reply.Data() + 3, reply.Data() + 3 + n);
    return n == claimed;
}

}  // namespace modbus
