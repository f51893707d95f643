// Byte-level tests: buffer rules, checksums, framing and reply classification, with frames
// worked out by hand from the Modbus serial line rules.
#include "Expect.h"
#include "ModbusError.h"
#include "ModbusFrame.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

using namespace modbus;
using testing_support::ErrorOf;
using testing_support::Ascii;
using testing_support::Bytes;
using testing_support::Hex;
using testing_support::HexBytes;

namespace {


Bytes Wire(TTransmissionMode m, const TModbusBuffer& raw)
{
    uint8_t out[600];
    const int n = EncodeFrame(m, raw, out, sizeof out);
    return Bytes(out, out + n);
}

}  // namespace

TEST(Checksum, KnownValues)
{
    const Bytes digits = Ascii("123456789");
    EXPECT_EQ(Crc16(digits.data(), digits.size()), 0x4B37);
    EXPECT_EQ(Crc16(digits.data(), 0), 0xFFFF);
    const Bytes abc = Ascii("abc");
    EXPECT_EQ(Lrc(abc.data(), abc.size()), 0xDA);
    const Bytes pdu = HexBytes("01 03 00 00 00 01");
    EXPECT_EQ(Lrc(pdu.data(), pdu.size()), 0xFB);
    EXPECT_EQ(Lrc(pdu.data(), 0), 0);
}

TEST(Buffer, RoomPositionAndSizeRules)
{
    TModbusBuffer b(4);
    for (int i = 0; i < 4; ++i)
        b.WriteByte(static_cast<uint8_t>(i));
    EXPECT_EQ(ErrorOf([&] { b.WriteByte(9); }), msg::NoBufferSpace);
    EXPECT_EQ(b.Size(), 4);
    EXPECT_EQ(b.Position(), 4);

    b.SetPosition(4);  // Position = Size is allowed
    EXPECT_EQ(ErrorOf([&] { b.SetPosition(5); }), "Buffer position is invalid (5)");
    EXPECT_EQ(ErrorOf([&] { b.SetPosition(-1); }), "Buffer position is invalid (-1)");
    EXPECT_EQ(ErrorOf([&] { b.SetSize(5); }), "Buffer size is invalid (5)");

    b.SetSize(2);  // pulls Position back
    EXPECT_EQ(b.Position(), 2);
    EXPECT_EQ(ErrorOf([&] { b.Seek(bsForwardByte); }), "Buffer position is invalid (3)");
    b.Seek(bsStart);
    EXPECT_EQ(b.ReadWord(), 0x0001);
    EXPECT_EQ(b.ReadWordLE(), 0x0100);
    EXPECT_EQ(b.Position(), 0);  // reads never advance
}

TEST(Buffer, ReadRoomIsMeasuredAgainstCapacity)
{
    TModbusBuffer full(6);
    for (int i = 0; i < 6; ++i)
        full.WriteByte(static_cast<uint8_t>(i));
    full.SetPosition(5);
    EXPECT_EQ(ErrorOf([&] { (void)full.ReadWord(); }), msg::NoBufferSpace);

    TModbusBuffer roomy(8);
    roomy.WriteWord(0x1234);
    EXPECT_EQ(ErrorOf([&] { (void)roomy.ReadWord(); }), "");  // Position = Size <= Capacity - 2
}

TEST(Buffer, FailedWriteLeavesBufferUnchanged)
{
    TModbusBuffer b(3);
    b.WriteWord(0xABCD);
    EXPECT_EQ(ErrorOf([&] { b.WriteWord(0x1111); }), msg::NoBufferSpace);
    EXPECT_EQ(b.Size(), 2);
    EXPECT_EQ(b.Position(), 2);
}

struct RequestCase {
    const char* name;
    TTransmissionMode mode;
    std::function<void(TModbusBuffer&, TTransmissionMode)> build;
    const char* wire;  // hex for RTU, text for ASCII
};

class RequestWire : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestWire, MatchesHandWorkedFrame)
{
    const RequestCase& c = GetParam();
    TModbusBuffer q(RawFrameCapacity(c.mode));
    c.build(q, c.mode);
    const Bytes expected = c.mode == tmRTU ? HexBytes(c.wire) : Ascii(c.wire);
    EXPECT_EQ(Hex(Wire(c.mode, q)), Hex(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, RequestWire,
    ::testing::Values(
        RequestCase{"ReadOneRegister", tmRTU,
                    [](TModbusBuffer& q, TTransmissionMode m) { BuildReadHoldingRegisters(q, m, 1, 0, 1); },
                    "01 03 00 00 00 01 84 0A"},
        RequestCase{"DiagnosticsEcho", tmRTU,
                    [](TModbusBuffer& q, TTransmissionMode m) { BuildDiagnostics(q, m, 70, daReturnQueryData); },
                    "46 08 00 00 A5 37 D5 FA"},
        RequestCase{"ReportServerId", tmRTU,
                    [](TModbusBuffer& q, TTransmissionMode m) { BuildReportServerIdentification(q, m, 70); },
                    "46 11 F3 DC"},
        RequestCase{"ReadOneRegisterAscii", tmASCII,
                    [](TModbusBuffer& q, TTransmissionMode m) { BuildReadHoldingRegisters(q, m, 1, 0, 1); },
                    ":010300000001FB\r\n"},
        RequestCase{"WriteMultipleAscii", tmASCII,
                    [](TModbusBuffer& q, TTransmissionMode m) {
                        const uint16_t v[] = {0x000A, 0x0102};
                        BuildWriteMultipleRegisters(q, m, 0x11, 1, v);
                    },
                    // 11 10 0001 0002 04 000A 0102: sum 0x35, LRC 0xCB
                    ":1110000100020400" "0A0102CB\r\n"},
        RequestCase{"ClearLogDiagnostics", tmRTU,
                    [](TModbusBuffer& q, TTransmissionMode m) {
                        BuildDiagnostics(q, m, 1, daRestartCommunicationsClearLog);
                    },
                    "01 08 00 01 FF 00 F0 3B"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DecodeCase {
    const char* name;
    TTransmissionMode mode;
    Bytes wire;
    bool ok;
    int rawSize;
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, AcceptsOnlyWholeFramesWithRightChecksum)
{
    const DecodeCase& c = GetParam();
    TModbusBuffer raw(RawFrameCapacity(c.mode));
    EXPECT_EQ(DecodeFrame(c.mode, cmClient, c.wire.data(), static_cast<int>(c.wire.size()), raw), c.ok);
    if (c.ok) {
        EXPECT_EQ(raw.Size(), c.rawSize);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Decode,
    ::testing::Values(
        DecodeCase{"RtuRequestExample", tmRTU, HexBytes("01 03 00 00 00 01 84 0A"), true, 8},
        DecodeCase{"RtuBadCrc", tmRTU, HexBytes("01 03 00 00 00 01 84 0B"), false, 0},
        DecodeCase{"RtuFourBytesTooShort", tmRTU, HexBytes("46 11 F3 DC"), false, 0},
        DecodeCase{"RtuExceptionFiveBytes", tmRTU, testing_support::WithCrc(HexBytes("01 83 02")), true, 5},
        DecodeCase{"AsciiExample", tmASCII, Ascii(":010300000001FB\r\n"), true, 7},
        DecodeCase{"AsciiEvenLength", tmASCII, Ascii(":010300000001FB0\r\n"), false, 0},
        DecodeCase{"AsciiNoColon", tmASCII, Ascii("0010300000001FB\r\n"), false, 0},
        DecodeCase{"AsciiNoCrLf", tmASCII, Ascii(":010300000001FB\r\r"), false, 0},
        DecodeCase{"AsciiLowerCaseFailsLrc", tmASCII, Ascii(":010300000001fb\r\n"), false, 0},
        DecodeCase{"AsciiBadLrc", tmASCII, Ascii(":010300000001FC\r\n"), false, 0},
        DecodeCase{"AsciiTooShort", tmASCII, Ascii(":0102\r\n"), false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Decode, ServerSideAcceptsShorterFrames)
{
    TModbusBuffer raw(256);
    const Bytes four = HexBytes("46 11 F3 DC");
    EXPECT_TRUE(DecodeFrame(tmRTU, cmServer, four.data(), 4, raw));
    EXPECT_FALSE(DecodeFrame(tmRTU, cmClient, four.data(), 4, raw));
}

TEST(Encode, RefusesWireFormLargerThanDestination)
{
    TModbusBuffer raw(255);
    for (int i = 0; i < 255; ++i)
        raw.WriteByte(0);
    uint8_t out[513];
    EXPECT_EQ(EncodeFrame(tmASCII, raw, out, 513), 513);
    EXPECT_EQ(ErrorOf([&] { EncodeFrame(tmASCII, raw, out, 512); }), msg::EncodeFailed);
    TModbusBuffer empty(8);
    EXPECT_EQ(EncodeFrame(tmRTU, empty, out, 0), 0);
}

struct ClassifyCase {
    const char* name;
    Bytes reply;  // without CRC
    bool addCrc;
    TTransactionReply expected;
    uint8_t exceptionCode;
};

class Classify : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(Classify, SortsReplyAgainstRequestToServer7)
{
    const ClassifyCase& c = GetParam();
    TModbusBuffer q(256), r(256);
    BuildReadHoldingRegisters(q, tmRTU, 7, 100, 1);
    const Bytes wire = c.addCrc ? testing_support::WithCrc(c.reply) : c.reply;
    const Classification got = ClassifyReply(tmRTU, wire.data(), static_cast<int>(wire.size()), q, r);
    EXPECT_EQ(got.reply, c.expected);
    EXPECT_EQ(got.exceptionCode, c.exceptionCode);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Classify,
    ::testing::Values(
        ClassifyCase{"Nothing", {}, false, trNoReply, 0},
        ClassifyCase{"BadCrc", HexBytes("07 03 02 00 01 00 00"), false, trInvalidFrame, 0},
        ClassifyCase{"OtherServer", HexBytes("05 03 02 00 01"), true, trOtherServer, 0},
        ClassifyCase{"OtherFunction", HexBytes("07 04 02 00 01"), true, trUnmatchedReply, 0},
        ClassifyCase{"Exception2", HexBytes("07 83 02"), true, trExceptionReply, 2},
        ClassifyCase{"Exception9", HexBytes("07 83 09"), true, trExceptionReply, 9},
        ClassifyCase{"ExceptionBitLongFrame", HexBytes("07 83 02 00"), true, trSuccess, 0},
        ClassifyCase{"Good", HexBytes("07 03 02 12 34"), true, trSuccess, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Reply contents are read only from the bytes that arrived, never past the frame's data.
struct ContentCase {
    const char* name;
    Bytes reply;  // raw RTU reply without CRC
    uint16_t count;
    bool fits;
    size_t values;
};

class ReadReplyContent : public ::testing::TestWithParam<ContentCase> {};

TEST_P(ReadReplyContent, ByteCountMustFitRequestAndFrame)
{
    const ContentCase& c = GetParam();
    const Bytes wire = testing_support::WithCrc(c.reply);
    TModbusBuffer r(256);
    r.Assign(wire.data(), static_cast<int>(wire.size()));
    TRegValues values;
    EXPECT_EQ(ReadHoldingRegistersReply(r, tmRTU, c.count, values), c.fits);
    if (c.fits) {
        EXPECT_EQ(values.size(), c.values);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ReadReplyContent,
    ::testing::Values(
        ContentCase{"Exact", HexBytes("01 03 04 00 01 00 02"), 2, true, 2},
        ContentCase{"OddCountSameHalf", HexBytes("01 03 05 00 01 00 02 00"), 2, true, 2},
        ContentCase{"TwoMoreBytes", HexBytes("01 03 06 00 01 00 02 00 03"), 2, false, 0},
        ContentCase{"CountClaimsMoreThanArrived", HexBytes("01 03 04 00 01"), 2, false, 0},
        ContentCase{"NoByteCount", HexBytes("01 03"), 1, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyContent, WriteAndDiagnosticEchoesAreCompared)
{
    auto raw = [](const char* hex) {
        auto r = std::make_unique<TModbusBuffer>(256);
        const Bytes w = testing_support::WithCrc(HexBytes(hex));
        r->Assign(w.data(), static_cast<int>(w.size()));
        return r;
    };
    EXPECT_TRUE(WriteSingleRegisterReply(*raw("01 06 23 9B 00 03"), tmRTU, 9115, 3));
    EXPECT_FALSE(WriteSingleRegisterReply(*raw("01 06 23 9B 00 04"), tmRTU, 9115, 3));
    EXPECT_FALSE(WriteSingleRegisterReply(*raw("01 06 23 9B"), tmRTU, 9115, 3));  // short
    EXPECT_TRUE(WriteMultipleRegistersReply(*raw("01 10 00 01 00 02"), tmRTU, 1, 2));
    EXPECT_FALSE(WriteMultipleRegistersReply(*raw("01 10 00 01 00 03"), tmRTU, 1, 2));

    uint16_t result = 99;
    const DiagnosticRequest echo = DiagnosticRequestOf(daReturnQueryData);
    EXPECT_TRUE(DiagnosticsReply(*raw("46 08 00 00 A5 37"), tmRTU, echo, result));
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(DiagnosticsReply(*raw("46 08 00 00 A5 38"), tmRTU, echo, result));
    const DiagnosticRequest count = DiagnosticRequestOf(daReturnBusMessageCount);
    EXPECT_TRUE(DiagnosticsReply(*raw("46 08 00 0B 01 2C"), tmRTU, count, result));
    EXPECT_EQ(result, 300);
    EXPECT_FALSE(DiagnosticsReply(*raw("46 08 00 0C 01 2C"), tmRTU, count, result));
}

TEST(ReplyContent, IdentificationStopsAtReceivedData)
{
    TModbusBuffer r(256);
    const Bytes whole = testing_support::WithCrc(HexBytes("01 11 03 41 42 FF"));
    r.Assign(whole.data(), static_cast<int>(whole.size()));
    TServerIdentificationData data;
    EXPECT_TRUE(ServerIdentificationReply(r, tmRTU, data));
    EXPECT_EQ(Hex(data), "41 42 FF");

    const Bytes lying = testing_support::WithCrc(HexBytes("01 11 F0 41 42"));
    r.Assign(lying.data(), static_cast<int>(lying.size()));
    EXPECT_FALSE(ServerIdentificationReply(r, tmRTU, data));
    EXPECT_EQ(Hex(data), "41 42");  // what arrived, nothing from beyond the frame
}

TEST(Diagnostics, ActionFoundFromQuery)
{
    EXPECT_EQ(DiagnosticActionOf(0x0001, 0xFF00), daRestartCommunicationsClearLog);
    EXPECT_EQ(DiagnosticActionOf(0x0001, 0x0000), daRestartCommunications);
    EXPECT_EQ(DiagnosticActionOf(0x0014, 0), daClearOverrunCounter);
    EXPECT_EQ(ErrorOf([] { DiagnosticActionOf(0x0003, 0); }), msg::DiagnosticUnknown);
}

TEST(Messages, FormattedWithTheirValues)
{
    EXPECT_EQ(FormatMessage(msg::ValueRange, 1, 4294967295LL), "Value must be between 1 and 4294967295");
    EXPECT_EQ(FormatMessage(msg::RegisterCountRange, 125), "Register count must be between 1 and 125");
}

TEST(FrameLength, ExpectedFromContent)
{
    const struct {
        const char* hex;
        int expected;
    } cases[] = {
        {"01", 0},                    // too short to tell
        {"01 03", 0},                 // byte count not there yet
        {"01 03 04", 9},
        {"01 11 4A", 79},
        {"01 83", 5},
        {"01 06 00", 8},
        {"01 10", 8},
        {"01 08", 8},
        {"01 2B 0E", -1},             // length not given by the content
    };
    for (const auto& c : cases) {
        const Bytes b = HexBytes(c.hex);
        EXPECT_EQ(ExpectedRtuReplyLength(b.data(), static_cast<int>(b.size())), c.expected) << c.hex;
    }
    const Bytes good = testing_support::WithCrc(HexBytes("01 03 02 12 34"));
    EXPECT_TRUE(IsCompleteRtuReply(good.data(), static_cast<int>(good.size())));
    EXPECT_FALSE(IsCompleteRtuReply(good.data(), static_cast<int>(good.size()) - 1));
    Bytes bad = good;
    bad.back() ^= 1;
    EXPECT_FALSE(IsCompleteRtuReply(bad.data(), static_cast<int>(bad.size())));
}
