// Buffer rules, checksums, framing, classification; hand-worked frames anchor encoder and builder.
#include "Expect.h"
#include "Frames.h"
#include "ModbusError.h"
#include "ModbusFrame.h"

#include <gtest/gtest.h>

using namespace modbus;
using namespace testing_support;

static std::unique_ptr<TModbusBuffer> Received(const char* hex)
{
    auto r = std::make_unique<TModbusBuffer>(256);
    const Bytes w = WithCrc(HexBytes(hex));
    r->Assign(w.data(), static_cast<int>(w.size()));
    return r;
}

TEST(Buffer, RoomPositionAndSizeRules)
{
    TModbusBuffer b(4);
    for (int i = 0; i < 4; ++i)
        b.WriteByte(static_cast<uint8_t>(i));
    EXPECT_EQ(ErrorOf([&] { b.WriteByte(9); }), msg::NoBufferSpace);
    EXPECT_EQ(std::pair(b.Size(), b.Position()), std::pair(4, 4));

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

    // Room for reads is measured against the capacity, not the size.
    TModbusBuffer full(6);
    for (int i = 0; i < 6; ++i)
        full.WriteByte(static_cast<uint8_t>(i));
    full.SetPosition(5);
    EXPECT_EQ(ErrorOf([&] { (void)full.ReadWord(); }), msg::NoBufferSpace);
    TModbusBuffer roomy(8);
    roomy.WriteWord(0x1234);
    EXPECT_EQ(ErrorOf([&] { (void)roomy.ReadWord(); }), "");  // Position = Size <= Capacity - 2

    // A failed write leaves the buffer as it was.
    TModbusBuffer three(3);
    three.WriteWord(0xABCD);
    EXPECT_EQ(ErrorOf([&] { three.WriteWord(0x1111); }), msg::NoBufferSpace);
    EXPECT_EQ(std::pair(three.Size(), three.Position()), std::pair(2, 2));
}

// Checksums, then requests against frames worked out by hand.
TEST(Encode, ChecksumsBuilderAndRequestsMatchHandWorkedFrames)
{
    const Bytes digits = Ascii("123456789");
    EXPECT_EQ(Crc16(digits.data(), digits.size()), 0x4B37);
    EXPECT_EQ(Crc16(digits.data(), 0), 0xFFFF);
    const Bytes abc = Ascii("abc");
    EXPECT_EQ(Lrc(abc.data(), abc.size()), 0xDA);
    const Bytes pdu = HexBytes("01 03 00 00 00 01");
    EXPECT_EQ(Lrc(pdu.data(), pdu.size()), 0xFB);
    EXPECT_EQ(Lrc(pdu.data(), 0), 0);
    EXPECT_EQ(Hex(RtuFrame(1, Pdu(3, {0, 1}))), "01 03 00 00 00 01 84 0A");
    EXPECT_EQ(SerialFrame(tmASCII, 0x11, WriteRegistersPdu(1, {0x000A, 0x0102})),
              Ascii(":11100001000204000A0102CB\r\n"));
    EXPECT_EQ(Hex(MbapFrame(0x0102, 0x11, ExceptionPdu(3, 2))), "01 02 00 00 00 03 11 83 02");


    const uint16_t two[] = {0x000A, 0x0102};
    const struct {
        TTransmissionMode mode;
        std::function<void(TModbusBuffer&, TTransmissionMode)> build;
        const char* wire;  // hex for RTU, text for ASCII
    } cases[] = {
        {tmRTU, [](auto& q, auto m) { BuildReadHoldingRegisters(q, m, 1, 0, 1); }, "01 03 00 00 00 01 84 0A"},
        {tmRTU, [](auto& q, auto m) { BuildDiagnostics(q, m, 70, daReturnQueryData); }, "46 08 00 00 A5 37 D5 FA"},
        {tmRTU, [](auto& q, auto m) { BuildReportServerIdentification(q, m, 70); }, "46 11 F3 DC"},
        {tmRTU, [](auto& q, auto m) { BuildDiagnostics(q, m, 1, daRestartCommunicationsClearLog); },
         "01 08 00 01 FF 00 F0 3B"},
        {tmASCII, [](auto& q, auto m) { BuildReadHoldingRegisters(q, m, 1, 0, 1); }, ":010300000001FB\r\n"},
        // 11 10 0001 0002 04 000A 0102: sum 0x35, LRC 0xCB
        {tmASCII, [&](auto& q, auto m) { BuildWriteMultipleRegisters(q, m, 0x11, 1, two); },
         ":11100001000204000A0102CB\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wire);
        TModbusBuffer q(RawFrameCapacity(c.mode));
        c.build(q, c.mode);
        uint8_t out[600];
        const Bytes wire(out, out + EncodeFrame(c.mode, q, out, sizeof out));
        EXPECT_EQ(Hex(wire), Hex(c.mode == tmRTU ? HexBytes(c.wire) : Ascii(c.wire)));
    }
    // A wire form larger than the destination is refused.
    TModbusBuffer raw(255);
    for (int i = 0; i < 255; ++i)
        raw.WriteByte(0);
    uint8_t out[513];
    EXPECT_EQ(EncodeFrame(tmASCII, raw, out, 513), 513);
    EXPECT_EQ(ErrorOf([&] { EncodeFrame(tmASCII, raw, out, 512); }), msg::EncodeFailed);
    TModbusBuffer empty(8);
    EXPECT_EQ(EncodeFrame(tmRTU, empty, out, 0), 0);
}

// Whole frames with the right checksum; replies against a request to server 7; lengths by content.
TEST(Decode, WholeFramesRepliesSortedAndLengthsFromContent)
{
    const struct {
        TTransmissionMode mode;
        Bytes wire;
        int rawSize;  // 0: refused
    } cases[] = {
        {tmRTU, HexBytes("01 03 00 00 00 01 84 0A"), 8},
        {tmRTU, HexBytes("01 03 00 00 00 01 84 0B"), 0},
        {tmRTU, HexBytes("46 11 F3 DC"), 0},  // shorter than any reply
        {tmRTU, WithCrc(HexBytes("01 83 02")), 5},
        {tmASCII, Ascii(":010300000001FB\r\n"), 7},
        {tmASCII, Ascii(":010300000001FB0\r\n"), 0},  // odd digit count
        {tmASCII, Ascii("0010300000001FB\r\n"), 0},
        {tmASCII, Ascii(":010300000001FB\r\r"), 0},
        {tmASCII, Ascii(":010300000001fb\r\n"), 0},  // lower case fails the LRC
        {tmASCII, Ascii(":010300000001FC\r\n"), 0},
        {tmASCII, Ascii(":0102\r\n"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.wire));
        TModbusBuffer raw(RawFrameCapacity(c.mode));
        EXPECT_EQ(DecodeFrame(c.mode, cmClient, c.wire.data(), static_cast<int>(c.wire.size()), raw),
                  c.rawSize > 0);
        if (c.rawSize > 0) {
            EXPECT_EQ(raw.Size(), c.rawSize);
        }
    }
    // A request may be shorter than any reply.
    TModbusBuffer raw(256);
    const Bytes four = HexBytes("46 11 F3 DC");
    EXPECT_TRUE(DecodeFrame(tmRTU, cmServer, four.data(), 4, raw));

    const struct {
        Bytes wire;
        TTransactionReply expected;
        uint8_t exceptionCode;
    } replies[] = {
        {{}, trNoReply, 0},
        {HexBytes("07 03 02 00 01 00 00"), trInvalidFrame, 0},
        {WithCrc(HexBytes("05 03 02 00 01")), trOtherServer, 0},
        {WithCrc(HexBytes("07 04 02 00 01")), trUnmatchedReply, 0},
        {WithCrc(HexBytes("07 83 02")), trExceptionReply, 2},
        {WithCrc(HexBytes("07 83 09")), trExceptionReply, 9},
        {WithCrc(HexBytes("07 83 02 00")), trSuccess, 0},  // an exception is 5 bytes long
        {WithCrc(HexBytes("07 03 02 12 34")), trSuccess, 0},
    };
    for (const auto& c : replies) {
        SCOPED_TRACE(Hex(c.wire));
        TModbusBuffer q(256), r(256);
        BuildReadHoldingRegisters(q, tmRTU, 7, 100, 1);
        const Classification got = ClassifyReply(tmRTU, c.wire.data(), static_cast<int>(c.wire.size()), q, r);
        EXPECT_EQ(got.reply, c.expected);
        EXPECT_EQ(got.exceptionCode, c.exceptionCode);
    }

    const struct {
        const char* hex;
        int expected;
    } lengths[] = {
        {"01", 0},     // too short to tell
        {"01 03", 0},  // byte count not there yet
        {"01 03 04", 9}, {"01 11 4A", 79}, {"01 83", 5}, {"01 06 00", 8}, {"01 10", 8}, {"01 08", 8},
        {"01 2B 0E", -1},  // length not given by the content
    };
    for (const auto& c : lengths) {
        const Bytes b = HexBytes(c.hex);
        EXPECT_EQ(ExpectedRtuReplyLength(b.data(), static_cast<int>(b.size())), c.expected) << c.hex;
    }
    const Bytes good = WithCrc(HexBytes("01 03 02 12 34"));
    EXPECT_TRUE(IsCompleteRtuReply(good.data(), static_cast<int>(good.size())));
    EXPECT_FALSE(IsCompleteRtuReply(good.data(), static_cast<int>(good.size()) - 1));
    Bytes bad = good;
    bad.back() ^= 1;
    EXPECT_FALSE(IsCompleteRtuReply(bad.data(), static_cast<int>(bad.size())));
}

// Contents are read only from the bytes that arrived; echoes compared, diagnostic actions found.
TEST(ReplyContent, ByteCountsEchoesAndDiagnosticActions)
{
    const struct {
        const char* hex;  // without CRC
        uint16_t count;
        int values;  // -1: refused
    } cases[] = {
        {"01 03 04 00 01 00 02", 2, 2},
        {"01 03 05 00 01 00 02 00", 2, 2},  // an odd count of the same half
        {"01 03 06 00 01 00 02 00 03", 2, -1},
        {"01 03 04 00 01", 2, -1},  // claims more than arrived
        {"01 03", 1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        TRegValues values;
        EXPECT_EQ(ReadHoldingRegistersReply(*Received(c.hex), tmRTU, c.count, values), c.values >= 0);
        if (c.values >= 0) {
            EXPECT_EQ(values.size(), static_cast<size_t>(c.values));
        }
    }
    EXPECT_FALSE(WriteSingleRegisterReply(*Received("01 06 23 9B"), tmRTU, 9115, 3));  // short
    EXPECT_TRUE(WriteMultipleRegistersReply(*Received("01 10 00 01 00 02"), tmRTU, 1, 2));
    EXPECT_FALSE(WriteMultipleRegistersReply(*Received("01 10 00 01 00 03"), tmRTU, 1, 2));

    // The echoes and data of good replies are checked end to end in ClientWire.
    uint16_t result = 99;
    const DiagnosticRequest count = DiagnosticRequestOf(daReturnBusMessageCount);
    EXPECT_FALSE(DiagnosticsReply(*Received("46 08 00 0C 01 2C"), tmRTU, count, result));

    EXPECT_EQ(DiagnosticActionOf(0x0001, 0xFF00), daRestartCommunicationsClearLog);
    EXPECT_EQ(DiagnosticActionOf(0x0001, 0x0000), daRestartCommunications);
    EXPECT_EQ(DiagnosticActionOf(0x0014, 0), daClearOverrunCounter);
    EXPECT_EQ(ErrorOf([] { DiagnosticActionOf(0x0003, 0); }), msg::DiagnosticUnknown);
}
