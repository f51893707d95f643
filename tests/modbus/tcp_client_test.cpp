// The Modbus TCP client: request frames and reply judgement as functions of bytes, the socket
// layer's errors, and whole exchanges against a scripted server on a loopback ephemeral port.
// Hex frames without a source named are the examples of the Modbus Application Protocol V1.1b3
// (chapter 6), wrapped in an MBAP header by hand.

#include "ModbusError.h"
#include "ModbusTcpClient.h"
#include "ModbusUtils.h"
#include "ScriptedTcpServer.h"
#include "TcpPeers.h"
#include "TcpSocket.h"

#include <gtest/gtest.h>

#include <netdb.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace modbus;
using namespace std::chrono_literals;
using tcptest::Answer;
using tcptest::Bytes;
using tcptest::Frame;
using tcptest::RegistersPdu;
using tcptest::Request;
using tcptest::ScriptedTcpServer;
using tcptest::Send;
using tcptest::Step;
using Clock = std::chrono::steady_clock;

// The error of type E that `action` raises, if it raises one.
template <class E, class F>
std::optional<E> RaisedBy(F&& action)
{
    try {
        action();
    } catch (const E& e) {
        return e;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Byte order and coils

TEST(TcpModbusUtils, SwapExchangesBytes)
{
    EXPECT_EQ(Swap(0x1234), 0x3412);
    EXPECT_EQ(Swap(0x00FF), 0xFF00);
    EXPECT_EQ(Swap(Swap(0xBEEF)), 0xBEEF);
}

TEST(TcpModbusUtils, CoilsPackLeastSignificantBitFirst)
{
    // Write Multiple Coils example: coils 20..29 = 1 0 1 1 0 0 1 1 1 0 travel as CD 01.
    const std::vector<uint16_t> coils = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
    uint8_t packed[2] = {0xAA, 0xAA};
    PackCoils(coils, coils.size(), packed);
    EXPECT_EQ(packed[0], 0xCD);
    EXPECT_EQ(packed[1], 0x01);

    std::vector<uint16_t> back(10, 7);
    UnpackCoils(packed, 10, back);
    EXPECT_EQ(back, coils);

    std::vector<uint16_t> shorter(3, 7);  // stops at the end of the destination
    UnpackCoils(packed, 10, shorter);
    EXPECT_EQ(shorter, (std::vector<uint16_t>{1, 0, 1}));
}

// ---------------------------------------------------------------------------------------------
// Request frames

struct RequestCase {
    const char* name;
    uint8_t function;
    uint16_t address;
    uint16_t count;
    std::vector<uint16_t> values;
    Bytes expected;  // with transaction id 1 and unit id 0x11
};

class TcpRequestFrame : public testing::TestWithParam<RequestCase> {};

TEST_P(TcpRequestFrame, MatchesHandWrittenBytes)
{
    const RequestCase& c = GetParam();
    std::array<uint8_t, kTcpFrameCapacity> frame{};
    const size_t size = BuildTcpRequest(frame, 1, 0x11, c.function, c.address, c.count, c.values);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + size), c.expected);
}

std::vector<uint16_t> Ones(size_t n)
{
    return std::vector<uint16_t>(n, 1);
}

Bytes WithHeader(uint16_t length, const Bytes& pdu)
{
    return tcptest::Concat({0x00, 0x01, 0x00, 0x00, static_cast<uint8_t>(length >> 8),
                            static_cast<uint8_t>(length), 0x11},
                           pdu);
}

Bytes CoilRequestOf300()
{
    Bytes pdu = {0x0F, 0x00, 0x00, 0x00, 0xFA, 0x20};  // 250 coils, 32 bytes
    for (int i = 0; i < 31; ++i)
        pdu.push_back(0xFF);
    pdu.push_back(0x03);  // coils 248 and 249
    return WithHeader(0x27, pdu);
}

INSTANTIATE_TEST_SUITE_P(
    Functions, TcpRequestFrame,
    testing::Values(
        RequestCase{"ReadCoils", 1, 0x13, 0x13, {}, WithHeader(6, {0x01, 0x00, 0x13, 0x00, 0x13})},
        RequestCase{"ReadDiscreteInputs", 2, 0xC4, 0x16, {},
                    WithHeader(6, {0x02, 0x00, 0xC4, 0x00, 0x16})},
        RequestCase{"ReadHolding", 3, 0x6B, 3, {}, WithHeader(6, {0x03, 0x00, 0x6B, 0x00, 0x03})},
        RequestCase{"ReadInput", 4, 0x08, 1, {}, WithHeader(6, {0x04, 0x00, 0x08, 0x00, 0x01})},
        RequestCase{"WriteCoilOn", 5, 0xAC, 1, {1}, WithHeader(6, {0x05, 0x00, 0xAC, 0xFF, 0x00})},
        RequestCase{"WriteCoilAnyNonZeroIsOn", 5, 0xAC, 1, {0x1234},
                    WithHeader(6, {0x05, 0x00, 0xAC, 0xFF, 0x00})},
        RequestCase{"WriteCoilOff", 5, 0xAC, 1, {0}, WithHeader(6, {0x05, 0x00, 0xAC, 0x00, 0x00})},
        RequestCase{"WriteRegister", 6, 0x01, 1, {3}, WithHeader(6, {0x06, 0x00, 0x01, 0x00, 0x03})},
        RequestCase{"WriteCoils", 15, 0x13, 10, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0},
                    WithHeader(9, {0x0F, 0x00, 0x13, 0x00, 0x0A, 0x02, 0xCD, 0x01})},
        RequestCase{"WriteRegisters", 16, 0x01, 2, {0x000A, 0x0102},
                    WithHeader(11, {0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02})},
        RequestCase{"ReportServerId", 17, 0, 0, {}, WithHeader(2, {0x11})},
        RequestCase{"ReadHoldingCountAbove125SentAs125", 3, 0, 200, {},
                    WithHeader(6, {0x03, 0x00, 0x00, 0x00, 0x7D})},
        RequestCase{"ReadCoilsCountAbove250SentAs250", 1, 0, 300, {},
                    WithHeader(6, {0x01, 0x00, 0x00, 0x00, 0xFA})},
        RequestCase{"WriteCoilsCountAbove250SentAs250", 15, 0, 300, Ones(300),
                    CoilRequestOf300()}),
    [](const testing::TestParamInfo<RequestCase>& i) { return std::string(i.param.name); });

TEST(TcpRequestFrame, WriteRegistersTakes123AtMost)
{
    std::array<uint8_t, kTcpFrameCapacity> frame{};
    const std::vector<uint16_t> values(123, 0xABCD);
    EXPECT_EQ(BuildTcpRequest(frame, 1, 1, 16, 0, 123, values), 6u + 253u);
    EXPECT_EQ(frame[4], 0x00);
    EXPECT_EQ(frame[5], 253);   // unit + function + address + count + byte count + 246
    EXPECT_EQ(frame[12], 246);  // byte count
}

struct RefusalCase {
    const char* name;
    uint8_t function;
    uint16_t count;
    size_t valueCount;
    std::string message;
};

class TcpRequestRefused : public testing::TestWithParam<RefusalCase> {};

TEST_P(TcpRequestRefused, RaisesModbusError)
{
    const RefusalCase& c = GetParam();
    const auto e =
        RaisedBy<EModbusError>([&] { CheckTcpRequest(c.function, c.count, c.valueCount); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->what(), c.message);
}

const std::string kCountRange = "Register count must be between 1 and 123";

INSTANTIATE_TEST_SUITE_P(
    Misuse, TcpRequestRefused,
    testing::Values(RefusalCase{"WriteRegisters124", 16, 124, 124, kCountRange},
                    RefusalCase{"WriteRegisters127", 16, 127, 127, kCountRange},
                    RefusalCase{"WriteRegistersNone", 16, 0, 0, kCountRange},
                    RefusalCase{"Function7", 7, 1, 1, "Function code 7 is not supported"},
                    RefusalCase{"Function0", 0, 1, 1, "Function code 0 is not supported"},
                    RefusalCase{"WriteRegisterWithoutValue", 6, 1, 0,
                                "The request needs 1 values but 0 were given"},
                    RefusalCase{"WriteCoilsShortOfValues", 15, 10, 9,
                                "The request needs 10 values but 9 were given"}),
    [](const testing::TestParamInfo<RefusalCase>& i) { return std::string(i.param.name); });

TEST(TcpRequestRefused, MessageIsTheLibraryTableText)
{
    EXPECT_EQ(FormatMessage(msg::RegisterCountRange, 123), kCountRange);
}

// ---------------------------------------------------------------------------------------------
// Reply judgement

// A reply frame with transaction id 7, protocol id 0, unit 1 and a length that fits the PDU.
Bytes Reply7(const Bytes& pdu)
{
    return Frame(7, 1, pdu);
}

Bytes WithLength(Bytes frame, uint16_t length)
{
    frame[4] = static_cast<uint8_t>(length >> 8);
    frame[5] = static_cast<uint8_t>(length);
    return frame;
}

struct ParseCase {
    const char* name;
    uint8_t function;
    Bytes bytes;
    TTcpFrameKind kind;
    std::vector<uint16_t> values;  // the first values stored (Success of a read)
    uint8_t exceptionCode = 0;
};

class TcpReplyParse : public testing::TestWithParam<ParseCase> {};

TEST_P(TcpReplyParse, JudgesTheWholeFrame)
{
    const ParseCase& c = GetParam();
    // An exact-size heap copy: a read past the bytes received trips AddressSanitizer.
    const std::vector<uint8_t> exact(c.bytes);
    std::vector<uint16_t> values(16, 0xEEEE);
    const TTcpFrameParse r = ParseTcpReply(exact.data(), exact.size(), 7, c.function, values);
    EXPECT_EQ(r.Kind, c.kind);
    EXPECT_EQ(r.ExceptionCode, c.exceptionCode);
    ASSERT_EQ(r.ValueCount, c.values.size());
    for (size_t i = 0; i < c.values.size(); ++i)
        EXPECT_EQ(values[i], c.values[i]) << "value " << i;
    for (size_t i = c.values.size(); i < values.size(); ++i)
        EXPECT_EQ(values[i], 0xEEEE) << "value " << i << " was written";
    if (c.kind != TTcpFrameKind::BadLength && c.kind != TTcpFrameKind::Incomplete) {
        EXPECT_EQ(r.FrameSize, 6u + (size_t{c.bytes[4]} << 8 | c.bytes[5]));
    }
}

const Bytes kHoldingReply = Reply7({0x03, 0x06, 0x02, 0x2B, 0x00, 0x00, 0x00, 0x64});

INSTANTIATE_TEST_SUITE_P(
    Frames, TcpReplyParse,
    testing::Values(
        ParseCase{"ReadHolding", 3, kHoldingReply, TTcpFrameKind::Success, {0x022B, 0, 0x64}},
        ParseCase{"ReadInput", 4, Reply7({0x04, 0x02, 0x00, 0x0A}), TTcpFrameKind::Success,
                  {0x000A}},
        ParseCase{"ReadCoils", 1, Reply7({0x01, 0x01, 0xCD}), TTcpFrameKind::Success,
                  {1, 0, 1, 1, 0, 0, 1, 1}},
        ParseCase{"ReadDiscreteInputs", 2, Reply7({0x02, 0x01, 0x05}), TTcpFrameKind::Success,
                  {1, 0, 1, 0, 0, 0, 0, 0}},
        ParseCase{"ReportServerIdOddByteDropped", 17, Reply7({0x11, 0x03, 'V', 'O', 0xFF}),
                  TTcpFrameKind::Success, {0x564F}},
        ParseCase{"WriteRegisterEcho", 6, Reply7({0x06, 0x00, 0x01, 0x00, 0x03}),
                  TTcpFrameKind::Success, {}},
        ParseCase{"WriteRegistersEcho", 16, Reply7({0x10, 0x00, 0x01, 0x00, 0x02}),
                  TTcpFrameKind::Success, {}},
        ParseCase{"TrailingBytesOfTheNextFrameIgnored", 3,
                  tcptest::Concat(kHoldingReply, Frame(8, 1, {0x03, 0x02, 0x12, 0x34})),
                  TTcpFrameKind::Success, {0x022B, 0, 0x64}},
        ParseCase{"Exception", 3, Reply7({0x83, 0x02}), TTcpFrameKind::Exception, {}, 2},
        ParseCase{"OtherFunction", 3, Reply7({0x04, 0x02, 0x00, 0x0A}),
                  TTcpFrameKind::OtherFunction, {}},
        ParseCase{"ExceptionOfOtherFunction", 3, Reply7({0x84, 0x02}),
                  TTcpFrameKind::OtherFunction, {}},
        ParseCase{"OtherTransaction", 3, Frame(6, 1, {0x03, 0x02, 0x12, 0x34}),
                  TTcpFrameKind::Foreign, {}},
        ParseCase{"OtherProtocol", 3,
                  Bytes{0x00, 0x07, 0x00, 0x01, 0x00, 0x05, 0x01, 0x03, 0x02, 0x12, 0x34},
                  TTcpFrameKind::Foreign, {}},
        ParseCase{"Length0", 3, WithLength(kHoldingReply, 0), TTcpFrameKind::BadLength, {}},
        ParseCase{"Length1", 3, WithLength(kHoldingReply, 1), TTcpFrameKind::BadLength, {}},
        ParseCase{"Length255", 3, WithLength(kHoldingReply, 255), TTcpFrameKind::BadLength, {}},
        ParseCase{"LengthFFFF", 3, WithLength(kHoldingReply, 0xFFFF), TTcpFrameKind::BadLength,
                  {}},
        ParseCase{"LengthFFFFHeaderOnly", 3, Bytes{0x00, 0x07, 0x00, 0x00, 0xFF, 0xFF},
                  TTcpFrameKind::BadLength, {}},
        ParseCase{"ByteCountRunsPastLength", 3, Reply7({0x03, 0x08, 0x02, 0x2B, 0x00, 0x00}),
                  TTcpFrameKind::BadLayout, {}},
        ParseCase{"ByteCountShortOfLength", 3, Reply7({0x03, 0x02, 0x02, 0x2B, 0x00, 0x00}),
                  TTcpFrameKind::BadLayout, {}},
        ParseCase{"ReadWithoutByteCount", 3, Reply7({0x03}), TTcpFrameKind::BadLayout, {}},
        ParseCase{"ExceptionWithExtraByte", 3, Reply7({0x83, 0x02, 0x00}),
                  TTcpFrameKind::Exception, {}, 2},
        ParseCase{"ExceptionWithoutCode", 3, Reply7({0x83}), TTcpFrameKind::Exception, {}, 0},
        ParseCase{"ExceptionOfAWrite", 16, Reply7({0x90, 0x04, 0x00, 0x00, 0x00}),
                  TTcpFrameKind::Exception, {}, 4},
        ParseCase{"WriteEchoShort", 6, Reply7({0x06, 0x00, 0x01, 0x00}), TTcpFrameKind::BadLayout,
                  {}},
        ParseCase{"WriteEchoLong", 16, Reply7({0x10, 0x00, 0x01, 0x00, 0x02, 0x00}),
                  TTcpFrameKind::BadLayout, {}},
        ParseCase{"ForeignWithBadLengthStillBreaksTheStream", 3,
                  WithLength(Frame(6, 1, {0x03, 0x02, 0x12, 0x34}), 0x1000),
                  TTcpFrameKind::BadLength, {}}),
    [](const testing::TestParamInfo<ParseCase>& i) { return std::string(i.param.name); });

TEST(TcpReplyParse, EveryProperPrefixIsIncomplete)
{
    for (size_t n = 0; n < kHoldingReply.size(); ++n) {
        const std::vector<uint8_t> prefix(kHoldingReply.begin(), kHoldingReply.begin() + n);
        std::vector<uint16_t> values(3, 0xEEEE);
        const TTcpFrameParse r = ParseTcpReply(prefix.data(), prefix.size(), 7, 3, values);
        EXPECT_EQ(r.Kind, TTcpFrameKind::Incomplete) << n << " bytes";
        EXPECT_EQ(values, std::vector<uint16_t>(3, 0xEEEE)) << n << " bytes";
    }
}

TEST(TcpReplyParse, StoresNoMoreValuesThanTheDestinationHolds)
{
    std::vector<uint16_t> values(2, 0);
    const TTcpFrameParse r = ParseTcpReply(kHoldingReply.data(), kHoldingReply.size(), 7, 3,
                                           std::span<uint16_t>(values));
    EXPECT_EQ(r.Kind, TTcpFrameKind::Success);
    EXPECT_EQ(r.ValueCount, 2u);
    EXPECT_EQ(values, (std::vector<uint16_t>{0x022B, 0}));
}

TEST(TcpReplyParse, RecordHoldsDecodedHeaderAndData)
{
    const TModbusTcpReply r = MakeTcpReplyRecord(kHoldingReply.data(), kHoldingReply.size());
    EXPECT_EQ(r.TransactionID, 7);
    EXPECT_EQ(r.ProtocolID, 0);
    EXPECT_EQ(r.RecLength, 9);
    EXPECT_EQ(r.UnitID, 1);
    EXPECT_EQ(r.FunctionCode, 3);
    EXPECT_EQ(r.MBPData[0], 6);
    EXPECT_EQ(r.MBPData[6], 0x64);
    EXPECT_EQ(r.MBPData[7], 0);
    const TModbusTcpReply partial = MakeTcpReplyRecord(kHoldingReply.data(), 5);
    EXPECT_EQ(partial.TransactionID, 7);
    EXPECT_EQ(partial.RecLength, 0);  // only its first byte arrived
}

// ---------------------------------------------------------------------------------------------
// Exchanges with a scripted server

Bytes Prefix(const Bytes& b, size_t n)
{
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
}

// Answers every request well: reads with register value = address + i, writes with the echo.
std::vector<Step> Echo(const Request& r)
{
    const uint8_t f = r.Function();
    if (f == 3 || f == 4) {
        const uint16_t address = static_cast<uint16_t>(r.bytes[8] << 8 | r.bytes[9]);
        const uint16_t count = static_cast<uint16_t>(r.bytes[10] << 8 | r.bytes[11]);
        std::vector<uint16_t> words;
        for (uint16_t i = 0; i < count; ++i)
            words.push_back(static_cast<uint16_t>(address + i));
        return {Send(Answer(r, RegistersPdu(f, words)))};
    }
    if (f == 17)
        return {Send(Answer(r, {0x11, 0x07, 'V', 'O', 'R', 'T', 'A', 'N', 0xFF}))};
    return {Send(Answer(r, Bytes(r.bytes.begin() + 7, r.bytes.begin() + 12)))};
}

struct ErrorEvent {
    uint8_t function, code;
    TModbusTcpReply reply;
};
struct MismatchEvent {
    uint8_t request, response;
    TModbusTcpReply reply;
};

// A client aimed at the server, events recorded. Short time-outs so that a fault fails fast.
class TcpClientTest : public testing::Test {
protected:
    void Start(ScriptedTcpServer::Script script, ScriptedTcpServer::AcceptScript onAccept = {})
    {
        server.emplace(std::move(script), std::move(onAccept));
        client.SetHost("127.0.0.1");
        client.SetPort(server->Port());
        client.SetTimeOut(2000);
        client.SetConnectTimeOut(2000);
        client.OnResponseError = [this](uint8_t f, uint8_t c, const TModbusTcpReply& r) {
            errors.push_back({f, c, r});
        };
        client.OnResponseMismatch = [this](uint8_t q, uint8_t a, const TModbusTcpReply& r) {
            mismatches.push_back({q, a, r});
        };
    }
    std::vector<Request> Requests() const { return server->Requests(); }
    Bytes LastRequest() const { return server->Requests().back().bytes; }

    std::optional<ScriptedTcpServer> server;
    TModbusTcpClient client;
    std::vector<ErrorEvent> errors;
    std::vector<MismatchEvent> mismatches;
};

TEST(TcpClientDefaults, AreThePublishedOnes)
{
    TModbusTcpClient c;
    EXPECT_TRUE(c.AutoConnect());
    EXPECT_EQ(c.BaseRegister(), 1);
    EXPECT_EQ(c.ConnectTimeOut(), -1);
    EXPECT_EQ(c.ReadTimeout(), 0);
    EXPECT_EQ(c.Port(), 502);
    EXPECT_EQ(c.TimeOut(), 15000u);
    EXPECT_EQ(c.UnitID(), 255);
    EXPECT_EQ(c.Version(), "1.0.0");
    EXPECT_EQ(c.LastTransactionID(), 0);
    EXPECT_FALSE(c.Connected());
}

TEST_F(TcpClientTest, WriteSingleRegisterSendsTheDocumentedBytes)
{
    Start(Echo);
    client.SetUnitID(1);
    client.SetBaseRegister(0);
    client.SetAutoConnect(false);
    client.Connect(2000);
    EXPECT_TRUE(client.WriteSingleRegister(9115, 3));
    EXPECT_EQ(LastRequest(), (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x06, 0x23, 0x9B,
                                    0x00, 0x03}));
    EXPECT_EQ(client.LastResult().Reply, trSuccess);
}

struct BaseCase {
    uint16_t base, reg, sent;
};

class TcpClientBaseRegister : public TcpClientTest, public testing::WithParamInterface<BaseCase> {
};

TEST_P(TcpClientBaseRegister, IsSubtractedModulo65536)
{
    Start(Echo);
    client.SetBaseRegister(GetParam().base);
    std::vector<uint16_t> values;
    ASSERT_TRUE(client.ReadHoldingRegisters(GetParam().reg, 16, values));
    const Bytes q = LastRequest();
    EXPECT_EQ(q[8] << 8 | q[9], GetParam().sent);
    EXPECT_EQ(values[0], GetParam().sent);  // the echo server answers with the address
}

INSTANTIATE_TEST_SUITE_P(Registers, TcpClientBaseRegister,
                         testing::Values(BaseCase{1, 1000, 999}, BaseCase{0, 1000, 1000},
                                         BaseCase{1, 1, 0}, BaseCase{1, 0, 65535},
                                         BaseCase{100, 50, 65486}));

TEST_F(TcpClientTest, ReadOf200RegistersAsksFor125AndZeroFillsTheRest)
{
    Start(Echo);
    client.SetBaseRegister(0);
    std::vector<uint16_t> values(3, 0xEEEE);
    ASSERT_TRUE(client.ReadHoldingRegisters(0, 200, values));
    EXPECT_EQ(LastRequest()[11], 125);
    ASSERT_EQ(values.size(), 200u);
    EXPECT_EQ(values[124], 124);
    EXPECT_EQ(values[125], 0);
    EXPECT_EQ(values[199], 0);
}

TEST_F(TcpClientTest, TransactionIdsCountFromOneAfterEachConnect)
{
    Start(Echo);
    client.SetAutoConnect(false);
    client.Connect(2000);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    client.Disconnect();
    client.Connect(2000);
    ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    std::vector<uint16_t> ids;
    for (const Request& r : Requests())
        ids.push_back(r.TransactionID());
    EXPECT_EQ(ids, (std::vector<uint16_t>{1, 2, 3, 1}));
}

TEST_F(TcpClientTest, TransactionIdWrapsAfter65535)
{
    Start(Echo);
    client.SetAutoConnect(false);
    client.Connect(2000);
    while (client.LastTransactionID() != 65534)
        client.GetNewTransactionID();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    std::vector<uint16_t> ids;
    for (const Request& r : Requests())
        ids.push_back(r.TransactionID());
    EXPECT_EQ(ids, (std::vector<uint16_t>{65535, 0, 1}));
}

TEST_F(TcpClientTest, OnConnectedFiresInsideConnectWithIdsAlreadyRestarted)
{
    Start(Echo);
    client.SetAutoConnect(false);
    client.GetNewTransactionID();  // ids of an earlier connection must not carry over
    bool probed = false;
    client.OnConnected = [&] {
        std::vector<uint16_t> v;
        probed = client.ReadHoldingRegisters(65535, 1, v);  // the main window's probe
    };
    client.Connect(2000);
    EXPECT_TRUE(probed);
    ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    ASSERT_EQ(Requests().size(), 2u);
    EXPECT_EQ(Requests()[0].TransactionID(), 1);
    EXPECT_EQ(Requests()[1].TransactionID(), 2);
}

TEST_F(TcpClientTest, AutoConnectConnectsAndDisconnectsAroundEachOperation)
{
    Start(Echo);
    std::vector<uint16_t> values;
    ASSERT_TRUE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_FALSE(client.Connected());
    ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(server->Connections(), 2);
    EXPECT_EQ(Requests()[1].connection, 2);
    EXPECT_EQ(Requests()[1].TransactionID(), 1);
}

TEST_F(TcpClientTest, AutoConnectLeavesAnOpenConnectionOpen)
{
    Start(Echo);
    client.Connect(2000);
    ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(server->Connections(), 1);
}

TEST_F(TcpClientTest, AutoConnectDisconnectsAlsoWhenTheExchangeRaises)
{
    Start([](const Request& r) {
        return std::vector<Step>{Send(Prefix(Answer(r, {0x06, 0, 1, 0, 1}), 5)),
                                 tcptest::CloseConnection()};
    });
    EXPECT_THROW(client.WriteSingleRegister(1, 1), ESocketError);
    EXPECT_FALSE(client.Connected());
}

TEST_F(TcpClientTest, WithoutAutoConnectAClosedClientRaisesNotConnectedAndSendsNothing)
{
    Start(Echo);
    client.SetAutoConnect(false);
    const auto e = RaisedBy<ESocketError>([&] { client.WriteSingleRegister(1, 1); });
    ASSERT_TRUE(e.has_value());
    EXPECT_STREQ(e->what(), "Not Connected");
    EXPECT_EQ(e->Kind(), ESocketError::skNotConnected);
    EXPECT_EQ(server->Connections(), 0);
}

struct ExceptionCase {
    const char* name;
    Bytes pdu;
    uint8_t code;  // the first data byte, 0 when there is none
};

class TcpClientException : public TcpClientTest,
                           public testing::WithParamInterface<ExceptionCase> {};

TEST_P(TcpClientException, RaisesOnResponseErrorWithTheFirstDataByteAndLeavesValuesZero)
{
    const ExceptionCase c = GetParam();
    Start([c](const Request& r) { return std::vector<Step>{Send(Answer(r, c.pdu))}; });
    client.SetAutoConnect(false);
    client.Connect(2000);
    std::vector<uint16_t> values(4, 0xEEEE);
    EXPECT_FALSE(client.ReadHoldingRegisters(1000, 4, values));
    EXPECT_EQ(values, std::vector<uint16_t>(4, 0));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].function, 3);
    EXPECT_EQ(errors[0].code, c.code);
    EXPECT_EQ(errors[0].reply.FunctionCode, 0x83);
    EXPECT_EQ(errors[0].reply.MBPData[0], c.code);
    EXPECT_TRUE(mismatches.empty());
    EXPECT_EQ(client.LastResult().Reply, trExceptionReply);
    EXPECT_EQ(client.LastResult().ExceptionCode, c.code);
    EXPECT_TRUE(client.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TcpClientException,
    testing::Values(ExceptionCase{"Code", {0x83, 0x02}, 2},
                    ExceptionCase{"CodeAndMore", {0x83, 0x02, 0x00, 0x17}, 2},
                    ExceptionCase{"NoCode", {0x83}, 0}),
    [](const testing::TestParamInfo<ExceptionCase>& i) { return std::string(i.param.name); });

TEST_F(TcpClientTest, OtherFunctionRaisesOnResponseMismatchAndKeepsTheConnection)
{
    Start([](const Request& r) {
        return std::vector<Step>{Send(Answer(r, RegistersPdu(4, {0x1234})))};
    });
    client.SetAutoConnect(false);
    client.Connect(2000);
    std::vector<uint16_t> values;
    EXPECT_FALSE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_EQ(values, std::vector<uint16_t>{0});
    ASSERT_EQ(mismatches.size(), 1u);
    EXPECT_EQ(mismatches[0].request, 3);
    EXPECT_EQ(mismatches[0].response, 4);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(client.LastResult().Reply, trUnmatchedReply);
    EXPECT_FALSE(client.LastResult().Malformed);
    EXPECT_TRUE(client.Connected());
}

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class TcpClientSilence : public TcpClientTest, public testing::WithParamInterface<int32_t> {};

TEST_P(TcpClientSilence, EndsAfterTimeOutWithoutEventAndWithoutSpinning)
{
    Start([](const Request&) { return std::vector<Step>{}; });
    client.SetAutoConnect(false);
    client.SetReadTimeout(GetParam());
    client.SetTimeOut(1000);
    client.Connect(2000);
    std::vector<uint16_t> values;
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    EXPECT_FALSE(client.ReadHoldingRegisters(1, 1, values));
    const auto elapsed = Clock::now() - t0;
    const double cpu = CpuSeconds() - cpu0;
    EXPECT_GE(elapsed, 1000ms);
    EXPECT_LT(elapsed, 1500ms);
    EXPECT_LT(cpu, 0.1) << "CPU seconds spent waiting";
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(mismatches.empty());
    EXPECT_EQ(client.LastResult().Reply, trNoReply);
    EXPECT_TRUE(client.Connected());  // nothing arrived, so nothing is out of step
}

INSTANTIATE_TEST_SUITE_P(ReadTimeouts, TcpClientSilence, testing::Values(0, 50));

TEST_F(TcpClientTest, TimeOutZeroTakesOnlyWhatHasArrived)
{
    Start([](const Request&) { return std::vector<Step>{}; });
    client.SetTimeOut(0);
    std::vector<uint16_t> values;
    const auto t0 = Clock::now();
    EXPECT_FALSE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_LT(Clock::now() - t0, 500ms);
}

TEST_F(TcpClientTest, ReplySplitAtEveryBytePositionIsReassembled)
{
    const std::vector<uint16_t> words = {0x0102, 0x0304, 0x0506};
    const size_t size = Answer(Request{0, Bytes(12, 0)}, RegistersPdu(3, words)).size();
    // Request n (from 1) is answered in two segments cut after byte n; the last request in one
    // segment per byte.
    Start([&](const Request& r) {
        const Bytes reply = Answer(r, RegistersPdu(3, words));
        const size_t cut = r.TransactionID();
        if (cut < reply.size())
            return tcptest::SendInPieces(reply, {cut});
        std::vector<size_t> everyByte;
        for (size_t i = 1; i < reply.size(); ++i)
            everyByte.push_back(i);
        return tcptest::SendInPieces(reply, everyByte, 2ms);
    });
    client.SetAutoConnect(false);
    client.Connect(2000);
    for (size_t cut = 1; cut <= size; ++cut) {
        std::vector<uint16_t> values;
        EXPECT_TRUE(client.ReadHoldingRegisters(1, 3, values)) << "cut after byte " << cut;
        EXPECT_EQ(values, words) << "cut after byte " << cut;
    }
    EXPECT_TRUE(mismatches.empty());
}

TEST_F(TcpClientTest, SecondReplyInTheSameSegmentIsNotTakenForTheNextRequest)
{
    // The first answer carries a second frame with the id the next request will have; the next
    // request must get the server's real answer, not that leftover.
    Start([](const Request& r) {
        if (r.TransactionID() == 1)
            return std::vector<Step>{Send(tcptest::Concat(Answer(r, RegistersPdu(3, {0x1111})),
                                                          Frame(2, 1, RegistersPdu(3, {0xBAD}))))};
        return std::vector<Step>{Send(Answer(r, RegistersPdu(3, {0x2222})))};
    });
    client.SetAutoConnect(false);
    client.Connect(2000);
    std::vector<uint16_t> values;
    ASSERT_TRUE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_EQ(values, std::vector<uint16_t>{0x1111});
    ASSERT_TRUE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_EQ(values, std::vector<uint16_t>{0x2222});
    EXPECT_EQ(Requests().back().TransactionID(), 2);
}

TEST_F(TcpClientTest, LeftoverArrivingBetweenExchangesIsPurgedBeforeTheNextRequest)
{
    // After the first answer, a frame with the id the next request will have arrives on its
    // own, while no request is outstanding.
    Start([](const Request& r) {
        if (r.TransactionID() == 1)
            return std::vector<Step>{Send(Answer(r, RegistersPdu(3, {0x1111}))),
                                     tcptest::Pause(20ms),
                                     Send(Frame(2, 1, RegistersPdu(3, {0xBAD})))};
        return std::vector<Step>{Send(Answer(r, RegistersPdu(3, {0x2222})))};
    });
    client.SetAutoConnect(false);
    client.Connect(2000);
    std::vector<uint16_t> values;
    ASSERT_TRUE(client.ReadHoldingRegisters(1, 1, values));
    ASSERT_TRUE(server->WaitForAnswers(1, 2000ms));
    ASSERT_TRUE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_EQ(values, std::vector<uint16_t>{0x2222});
}

struct ForeignCase {
    const char* name;
    bool sameSegment;    // the foreign frame and the answer in one write
    bool otherProtocol;  // protocol id 1 instead of an earlier transaction id
};

class TcpClientForeignFrame : public TcpClientTest,
                              public testing::WithParamInterface<ForeignCase> {};

TEST_P(TcpClientForeignFrame, IsDroppedAndTheWaitGoesOn)
{
    const ForeignCase c = GetParam();
    Start([c](const Request& r) {
        Bytes foreign = Frame(static_cast<uint16_t>(r.TransactionID() - 1), r.UnitID(),
                              RegistersPdu(3, {0xBAD}));
        if (c.otherProtocol) {
            foreign = Answer(r, RegistersPdu(3, {0xBAD}));
            foreign[3] = 1;
        }
        const Bytes answer = Answer(r, RegistersPdu(3, {0x600D}));
        if (c.sameSegment)
            return std::vector<Step>{Send(tcptest::Concat(foreign, answer))};
        return std::vector<Step>{Send(foreign), tcptest::Pause(20ms), Send(answer)};
    });
    client.SetAutoConnect(false);
    client.Connect(2000);
    std::vector<uint16_t> values;
    EXPECT_TRUE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_EQ(values, std::vector<uint16_t>{0x600D});
    EXPECT_TRUE(mismatches.empty());
    EXPECT_TRUE(client.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, TcpClientForeignFrame,
    testing::Values(ForeignCase{"StaleIdFirst", false, false},
                    ForeignCase{"StaleIdInSameSegment", true, false},
                    ForeignCase{"OtherProtocolFirst", false, true}),
    [](const testing::TestParamInfo<ForeignCase>& i) { return std::string(i.param.name); });

TEST_F(TcpClientTest, LateReplyToATimedOutRequestIsNotTakenForTheNextOne)
{
    Start([](const Request& r) {
        if (r.TransactionID() == 1)  // answered after the client gave up on it
            return std::vector<Step>{tcptest::Pause(300ms), Send(Answer(r, RegistersPdu(3, {0xBAD})))};
        return std::vector<Step>{Send(Answer(r, RegistersPdu(3, {0x600D})))};
    });
    client.SetAutoConnect(false);
    client.SetTimeOut(150);
    client.Connect(2000);
    std::vector<uint16_t> values;
    EXPECT_FALSE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_EQ(client.LastResult().Reply, trNoReply);
    client.SetTimeOut(2000);
    EXPECT_TRUE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_EQ(values, std::vector<uint16_t>{0x600D});
}

struct MalformedCase {
    const char* name;
    Bytes (*reply)(const Request&);
    bool closes;  // the MBAP length is impossible: where the next frame starts is unknown
};

class TcpClientMalformed : public TcpClientTest,
                           public testing::WithParamInterface<MalformedCase> {};

Bytes SetLength(Bytes b, uint16_t length)
{
    b[4] = static_cast<uint8_t>(length >> 8);
    b[5] = static_cast<uint8_t>(length);
    return b;
}

Bytes GoodRead(const Request& r)
{
    return Answer(r, RegistersPdu(3, {0x0102, 0x0304}));
}

// Reported as unmatched without an event (the function code is the expected one). A sound MBAP
// length still marks where the frame ends, so only an impossible one closes the connection.
TEST_P(TcpClientMalformed, IsNotDecodedAndClosesOnlyForAnImpossibleLength)
{
    const MalformedCase c = GetParam();
    Start([c](const Request& r) {
        if (r.connection == 1 && r.TransactionID() == 1)
            return std::vector<Step>{Send(c.reply(r))};
        return std::vector<Step>{Send(GoodRead(r))};
    });
    client.SetAutoConnect(false);
    client.Connect(2000);
    std::vector<uint16_t> values(2, 0xEEEE);
    EXPECT_FALSE(client.ReadHoldingRegisters(1, 2, values));
    EXPECT_EQ(values, std::vector<uint16_t>(2, 0));
    EXPECT_TRUE(mismatches.empty());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(client.LastResult().Reply, trUnmatchedReply);
    EXPECT_TRUE(client.LastResult().Malformed);
    EXPECT_EQ(client.Connected(), !c.closes);

    if (c.closes) {
        EXPECT_TRUE(server->WaitForConnectionClosed(1, 2000ms));
        const auto e = RaisedBy<ESocketError>([&] { client.ReadHoldingRegisters(1, 2, values); });
        ASSERT_TRUE(e.has_value());
        EXPECT_STREQ(e->what(), "Not Connected");
        client.SetAutoConnect(true);
    }
    EXPECT_TRUE(client.ReadHoldingRegisters(1, 2, values));
    EXPECT_EQ(values, (std::vector<uint16_t>{0x0102, 0x0304}));
    EXPECT_EQ(server->Connections(), c.closes ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TcpClientMalformed,
    testing::Values(
        MalformedCase{"Length0", [](const Request& r) { return SetLength(GoodRead(r), 0); }, true},
        MalformedCase{"Length1", [](const Request& r) { return SetLength(GoodRead(r), 1); }, true},
        MalformedCase{"Length255", [](const Request& r) { return SetLength(GoodRead(r), 255); },
                      true},
        MalformedCase{"LengthFFFF",
                      [](const Request& r) { return SetLength(GoodRead(r), 0xFFFF); }, true},
        MalformedCase{"LengthFFFFHeaderOnly",
                      [](const Request& r) { return Prefix(SetLength(GoodRead(r), 0xFFFF), 6); },
                      true},
        MalformedCase{"ByteCountRunsPastLength",
                      [](const Request& r) {
                          Bytes b = GoodRead(r);
                          b[8] = 0x20;
                          return b;
                      },
                      false},
        MalformedCase{"ByteCountShortOfLength",
                      [](const Request& r) {
                          Bytes b = GoodRead(r);
                          b[8] = 2;
                          return b;
                      },
                      false},
        MalformedCase{"ReadWithoutByteCount", [](const Request& r) { return Answer(r, {0x03}); },
                      false}),
    [](const testing::TestParamInfo<MalformedCase>& i) { return std::string(i.param.name); });

TEST_F(TcpClientTest, PartialReplyAtTimeOutClosesTheConnection)
{
    // The rest would arrive during the next exchange and be read as the start of a frame.
    Start([](const Request& r) {
        return std::vector<Step>{Send(Prefix(GoodRead(r), 9))};
    });
    client.SetAutoConnect(false);
    client.SetTimeOut(200);
    client.Connect(2000);
    std::vector<uint16_t> values;
    EXPECT_FALSE(client.ReadHoldingRegisters(1, 2, values));
    EXPECT_EQ(client.LastResult().Reply, trNoReply);
    EXPECT_TRUE(mismatches.empty());
    EXPECT_FALSE(client.Connected());
}

struct ClosedCase {
    const char* name;
    Step how;
    ESocketError::TKind kind;
    std::string text;
};

class TcpClientServerCloses : public TcpClientTest,
                              public testing::WithParamInterface<ClosedCase> {};

TEST_P(TcpClientServerCloses, MidReplyRaisesTheSocketError)
{
    const ClosedCase c = GetParam();
    Start([c](const Request& r) {
        return std::vector<Step>{Send(Prefix(GoodRead(r), 9)), tcptest::Pause(20ms), c.how};
    });
    client.SetAutoConnect(false);
    client.Connect(2000);
    std::vector<uint16_t> values;
    const auto e = RaisedBy<ESocketError>([&] { client.ReadHoldingRegisters(1, 2, values); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->Kind(), c.kind);
    EXPECT_EQ(e->what(), c.text);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.LastResult().Reply, trNoReply);
}

INSTANTIATE_TEST_SUITE_P(
    Closes, TcpClientServerCloses,
    testing::Values(ClosedCase{"Orderly", tcptest::CloseConnection(),
                               ESocketError::skClosedGracefully, "Connection Closed Gracefully."},
                    ClosedCase{"Reset", tcptest::ResetConnection(), ESocketError::skSystem,
                               "Socket Error # 104\r\nConnection reset by peer"}),
    [](const testing::TestParamInfo<ClosedCase>& i) { return std::string(i.param.name); });

TEST_F(TcpClientTest, ServerThatClosedIsReportedBeforeAnythingIsWritten)
{
    Start(Echo, [](int) { return std::vector<Step>{tcptest::CloseConnection()}; });
    client.SetAutoConnect(false);
    client.Connect(2000);
    ASSERT_TRUE(server->WaitForConnectionClosed(1, 2000ms));
    const auto e = RaisedBy<ESocketError>([&] { client.WriteSingleRegister(1, 1); });
    ASSERT_TRUE(e.has_value());
    EXPECT_STREQ(e->what(), "Connection Closed Gracefully.");
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(Requests().empty());
}

TEST_F(TcpClientTest, AutoConnectReconnectsToAServerThatClosed)
{
    Start(Echo, [](int connection) {
        return connection == 1 ? std::vector<Step>{tcptest::CloseConnection()}
                               : std::vector<Step>{};
    });
    client.Connect(2000);
    ASSERT_TRUE(server->WaitForConnectionClosed(1, 2000ms));
    EXPECT_TRUE(client.WriteSingleRegister(1, 1));
    EXPECT_EQ(server->Connections(), 2);
}

TEST_F(TcpClientTest, WriteMultipleRegistersAbove123IsRefusedBeforeAnythingIsSent)
{
    Start(Echo);
    const std::vector<uint16_t> values(124, 1);
    const auto e = RaisedBy<EModbusError>([&] { client.WriteMultipleRegisters(1, values); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->what(), FormatMessage(msg::RegisterCountRange, 123));
    EXPECT_EQ(server->Connections(), 0);
    EXPECT_TRUE(client.WriteMultipleRegisters(1, std::span(values).first(123)));
    EXPECT_EQ(LastRequest().size(), 6u + 253u);
}

TEST_F(TcpClientTest, ReportServerIdentificationPacksTwoBytesPerWord)
{
    Start(Echo);  // answers "VORTAN" and the run status 0xFF
    std::vector<uint16_t> values;
    ASSERT_TRUE(client.ReportServerIdentification(values));
    EXPECT_EQ(LastRequest(), (Bytes{0, 1, 0, 0, 0, 2, 0xFF, 0x11}));
    ASSERT_EQ(values.size(), 125u);
    EXPECT_EQ(values[0], 'V' << 8 | 'O');
    EXPECT_EQ(values[2], 'A' << 8 | 'N');
    EXPECT_EQ(values[3], 0);  // the odd last byte, the run status, is dropped
}

struct CommandCase {
    const char* name;
    uint8_t function;
    uint16_t count;
    std::vector<uint16_t> data;
    Bytes replyPdu;
    Bytes requestPdu;                // expected, after the MBAP header and unit id
    std::vector<uint16_t> dataAfter;  // the data array after the exchange
};

class TcpClientSendCommand : public TcpClientTest,
                             public testing::WithParamInterface<CommandCase> {};

TEST_P(TcpClientSendCommand, SendsAndDecodes)
{
    const CommandCase c = GetParam();
    Start([c](const Request& r) { return std::vector<Step>{Send(Answer(r, c.replyPdu))}; });
    client.SetBaseRegister(0);
    client.SetUnitID(0x11);
    std::vector<uint16_t> data = c.data;
    ASSERT_TRUE(client.SendCommand(c.function, 0x13, c.count, data));
    const Bytes q = LastRequest();
    EXPECT_EQ(Bytes(q.begin() + 7, q.end()), c.requestPdu);
    EXPECT_EQ(data, c.dataAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Functions, TcpClientSendCommand,
    testing::Values(
        CommandCase{"ReadCoils", 1, 10, std::vector<uint16_t>(10, 9), {0x01, 0x02, 0xCD, 0x01},
                    {0x01, 0x00, 0x13, 0x00, 0x0A}, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0}},
        CommandCase{"ReadDiscreteInputsIntoAShortArray", 2, 10, std::vector<uint16_t>(4, 9),
                    {0x02, 0x02, 0xCD, 0x01}, {0x02, 0x00, 0x13, 0x00, 0x0A}, {1, 0, 1, 1}},
        CommandCase{"ReadInputRegisters", 4, 1, {9}, {0x04, 0x02, 0x00, 0x0A},
                    {0x04, 0x00, 0x13, 0x00, 0x01}, {0x000A}},
        CommandCase{"WriteSingleCoil", 5, 1, {1}, {0x05, 0x00, 0x13, 0xFF, 0x00},
                    {0x05, 0x00, 0x13, 0xFF, 0x00}, {1}},
        CommandCase{"WriteMultipleCoils", 15, 10, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0},
                    {0x0F, 0x00, 0x13, 0x00, 0x0A},
                    {0x0F, 0x00, 0x13, 0x00, 0x0A, 0x02, 0xCD, 0x01},
                    {1, 0, 1, 1, 0, 0, 1, 1, 1, 0}}),
    [](const testing::TestParamInfo<CommandCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------------------------
// Connecting

TEST(TcpClientConnect, RefusedConnectionRaisesTheSystemError)
{
    const tcptest::RefusingPort refusing;
    TModbusTcpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(refusing.Port());
    const auto e = RaisedBy<ESocketError>([&] { client.Connect(2000); });
    ASSERT_TRUE(e.has_value());
    EXPECT_STREQ(e->what(), "Socket Error # 111\r\nConnection refused");
    EXPECT_EQ(e->Code(), ECONNREFUSED);
    EXPECT_FALSE(client.Connected());
}

TEST(TcpClientConnect, AutoConnectRaisesTheConnectError)
{
    const tcptest::RefusingPort refusing;
    TModbusTcpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(refusing.Port());
    std::vector<uint16_t> values(2, 0xEEEE);
    EXPECT_THROW(client.ReadHoldingRegisters(1, 2, values), ESocketError);
    EXPECT_EQ(values, std::vector<uint16_t>(2, 0));
}

TEST(TcpClientConnect, TimesOutOnAListenerThatAcceptsNothing)
{
    const tcptest::FullBacklogListener listener;
    if (!listener.Full())
        GTEST_SKIP() << "the loopback listener's accept queue could not be filled on this kernel";
    TModbusTcpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(listener.Port());
    client.SetConnectTimeOut(300);
    const auto t0 = Clock::now();
    // The automatic connect uses ConnectTimeOut.
    const auto e = RaisedBy<ESocketError>([&] { client.WriteSingleRegister(1, 1); });
    const auto elapsed = Clock::now() - t0;
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, 1000ms);
    ASSERT_TRUE(e.has_value());
    EXPECT_STREQ(e->what(), "Connect timed out.");
    EXPECT_EQ(e->Kind(), ESocketError::skConnectTimedOut);
    EXPECT_FALSE(client.Connected());
}

TEST_F(TcpClientTest, ConnectWhileConnectedRaisesAlreadyConnected)
{
    Start(Echo);
    client.Connect(2000);
    const auto e = RaisedBy<ESocketError>([&] { client.Connect(2000); });
    ASSERT_TRUE(e.has_value());
    EXPECT_STREQ(e->what(), "Already connected.");
    EXPECT_TRUE(client.Connected());
}

TEST(TcpClientConnect, UnresolvableHostRaisesTheResolverError)
{
    TModbusTcpClient client;
    // A DNS label holds 63 bytes at most, so the resolver refuses this name without asking any
    // server: the test does not depend on the network.
    client.SetHost(std::string(70, 'a') + ".invalid");
    const auto e = RaisedBy<ESocketError>([&] { client.Connect(2000); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->Kind(), ESocketError::skSystem);
    EXPECT_EQ(e->Code(), EAI_NONAME);
    EXPECT_STREQ(e->what(), "Socket Error # -2\r\nName or service not known");
}

// ---------------------------------------------------------------------------------------------
// The socket layer alone

TEST(TcpSocketLayer, WritingToAClosedConnectionNeverRaisesSigpipe)
{
    // Default disposition: a SIGPIPE would end this test process.
    std::signal(SIGPIPE, SIG_DFL);
    ScriptedTcpServer server([](const Request&) { return std::vector<Step>{}; },
                             [](int) { return std::vector<Step>{tcptest::CloseConnection()}; });
    TcpSocket socket;
    socket.SetHost("127.0.0.1");
    socket.SetPort(server.Port());
    socket.Connect(2000);
    ASSERT_TRUE(server.WaitForConnectionClosed(1, 2000ms));
    const uint8_t block[12] = {};
    // The first write draws the server's reset; a later one meets the broken pipe.
    std::optional<ESocketError> error;
    for (int i = 0; i < 50 && !error; ++i) {
        try {
            socket.Write(block, sizeof block);
            socket.WaitReadable(20);
        } catch (const ESocketError& e) {
            error = e;
        }
    }
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->Code() == EPIPE || error->Code() == ECONNRESET) << error->what();
    EXPECT_FALSE(socket.Connected());
}

TEST(TcpSocketLayer, OperationsOnAClosedSocketRaiseNotConnected)
{
    TcpSocket socket;
    uint8_t b[1] = {};
    EXPECT_THROW(socket.Write(b, 1), ESocketError);
    EXPECT_THROW(socket.WaitReadable(0), ESocketError);
    EXPECT_THROW(socket.Read(b, 1), ESocketError);
    EXPECT_THROW(socket.CheckForDisconnect(), ESocketError);
    EXPECT_FALSE(socket.Connected());
}

TEST(TcpSocketLayer, EmptyHostIsRefused)
{
    TcpSocket socket;
    const auto e = RaisedBy<ESocketError>([&] { socket.Connect(100); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->Kind(), ESocketError::skHostRequired);
}

TEST(TcpSocketLayer, SocketErrorTextHasTheSystemText)
{
    EXPECT_EQ(SocketErrorText(ECONNRESET), "Socket Error # 104\r\nConnection reset by peer");
}

}  // namespace
