// The Modbus TCP client: frames as bytes, the socket layer, exchanges with a scripted server and pymodbus.

#include "ChildProcess.h"
#include "Expect.h"
#include "ModbusTcpClient.h"
#include "ScriptedTcpServer.h"
#include "TcpSocket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <numeric>

namespace {

using namespace modbus;
using namespace std::chrono_literals;
using namespace testing_support;
using tcptest::Answer;
using tcptest::Request;
using tcptest::ScriptedTcpServer;
using tcptest::Send;
using tcptest::Step;
using Clock = std::chrono::steady_clock;
using Words = std::vector<uint16_t>;

// Requests match the protocol's examples; misuse raises a Modbus error.
TEST(TcpRequestFrame, MatchesTheProtocolExamplesAndMisuseRaises)
{
    Bytes coils300 = Pdu(15, {0, 250});  // 32 bytes of coils, 248 and 249 in the last
    coils300.push_back(32);
    coils300.insert(coils300.end(), 31, 0xFF);
    coils300.push_back(0x03);
    const struct {
        uint8_t function;
        uint16_t address, count;
        Words values;
        Bytes pdu;  // sent with transaction id 1 and unit id 0x11
    } cases[] = {
        {1, 0x13, 0x13, {}, Pdu(1, {0x13, 0x13})},
        {2, 0xC4, 0x16, {}, Pdu(2, {0xC4, 0x16})},
        {3, 0x6B, 3, {}, Pdu(3, {0x6B, 3})},
        {4, 0x08, 1, {}, Pdu(4, {0x08, 1})},
        {5, 0xAC, 1, {1}, Pdu(5, {0xAC, 0xFF00})},
        {5, 0xAC, 1, {0x1234}, Pdu(5, {0xAC, 0xFF00})},  // any value but 0 is on
        {5, 0xAC, 1, {0}, Pdu(5, {0xAC, 0})},
        {6, 0x01, 1, {3}, Pdu(6, {1, 3})},
        // Coils pack least significant bit first: 1 0 1 1 0 0 1 1 1 0 travel as CD 01.
        {15, 0x13, 10, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0}, Concat(Pdu(15, {0x13, 10}), {2, 0xCD, 0x01})},
        {16, 0x01, 2, {0x000A, 0x0102}, WriteRegistersPdu(1, {0x000A, 0x0102})},
        {17, 0, 0, {}, Pdu(17)},
        {3, 0, 200, {}, Pdu(3, {0, 125})},  // counts above the limit go as the limit
        {1, 0, 300, {}, Pdu(1, {0, 250})},
        {15, 0, 300, Words(300, 1), coils300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.pdu));
        std::array<uint8_t, kTcpFrameCapacity> frame;
        frame.fill(0xAA);  // no bit of what the buffer held before may show
        const size_t size = BuildTcpRequest(frame, 1, 0x11, c.function, c.address, c.count, c.values);
        EXPECT_EQ(Hex(Bytes(frame.begin(), frame.begin() + size)), Hex(MbapFrame(1, 0x11, c.pdu)));
    }

    const std::string range = "Register count must be between 1 and 123";
    const struct {
        uint8_t function;
        uint16_t count;
        size_t valueCount;
        std::string message;
    } misuse[] = {
        {16, 124, 124, range}, {16, 127, 127, range}, {16, 0, 0, range},
        {7, 1, 1, "Function code 7 is not supported"}, {0, 1, 1, "Function code 0 is not supported"},
        {6, 1, 0, "The request needs 1 values but 0 were given"},
        {15, 10, 9, "The request needs 10 values but 9 were given"},
    };
    for (const auto& c : misuse)
        EXPECT_EQ(ErrorOf([&] { CheckTcpRequest(c.function, c.count, c.valueCount); }), c.message);
}

const auto Reply7 = [](const Bytes& pdu) { return MbapFrame(7, 1, pdu); };

const auto WithLength = [](Bytes frame, uint16_t length) {
    frame[4] = static_cast<uint8_t>(length >> 8);
    frame[5] = static_cast<uint8_t>(length);
    return frame;
};

const Bytes kHoldingReply = Reply7(RegistersPdu(3, {0x022B, 0, 0x64}));

TEST(TcpReplyParse, JudgesTheWholeFrame)
{
    using K = TTcpFrameKind;
    const Bytes other = MbapFrame(6, 1, RegistersPdu(3, {0x1234}));
    const struct {
        const char* name;
        uint8_t function;
        Bytes bytes;
        TTcpFrameKind kind;
        Words values;  // the values stored (Success of a read)
        uint8_t exceptionCode = 0;
    } cases[] = {
        {"ReadHolding", 3, kHoldingReply, K::Success, {0x022B, 0, 0x64}},
        {"ReadInput", 4, Reply7(RegistersPdu(4, {0x0A})), K::Success, {0x000A}},
        {"ReadCoils", 1, Reply7({0x01, 0x02, 0xCD, 0x01}), K::Success,
         {1, 0, 1, 1, 0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"ReadDiscreteInputs", 2, Reply7({0x02, 0x01, 0x05}), K::Success, {1, 0, 1, 0, 0, 0, 0, 0}},
        {"ReportServerIdOddByteDropped", 17, Reply7({0x11, 0x03, 'V', 'O', 0xFF}), K::Success, {0x564F}},
        {"WriteRegisterEcho", 6, Reply7(Pdu(6, {1, 3})), K::Success, {}},
        {"WriteRegistersEcho", 16, Reply7(Pdu(16, {1, 2})), K::Success, {}},
        {"WriteCoilEcho", 5, Reply7(Pdu(5, {0x13, 0xFF00})), K::Success, {}},
        {"WriteCoilsEcho", 15, Reply7(Pdu(15, {0x13, 10})), K::Success, {}},
        {"TrailingBytesOfTheNextFrameIgnored", 3, Concat(kHoldingReply, MbapFrame(8, 1, RegistersPdu(3, {1}))),
         K::Success, {0x022B, 0, 0x64}},
        {"Exception", 3, Reply7(ExceptionPdu(3, 2)), K::Exception, {}, 2},
        {"OtherFunction", 3, Reply7(RegistersPdu(4, {0x0A})), K::OtherFunction, {}},
        {"ExceptionOfOtherFunction", 3, Reply7(ExceptionPdu(4, 2)), K::OtherFunction, {}},
        {"OtherTransaction", 3, other, K::Foreign, {}},
        {"OtherProtocol", 3, Bytes{0x00, 0x07, 0x00, 0x01, 0x00, 0x05, 0x01, 0x03, 0x02, 0x12, 0x34}, K::Foreign, {}},
        {"Length0", 3, WithLength(kHoldingReply, 0), K::BadLength, {}},
        {"Length1", 3, WithLength(kHoldingReply, 1), K::BadLength, {}},
        {"Length255", 3, WithLength(kHoldingReply, 255), K::BadLength, {}},
        {"LengthFFFF", 3, WithLength(kHoldingReply, 0xFFFF), K::BadLength, {}},
        {"LengthFFFFHeaderOnly", 3, Bytes{0x00, 0x07, 0x00, 0x00, 0xFF, 0xFF}, K::BadLength, {}},
        {"ByteCountRunsPastLength", 3, Reply7({0x03, 0x08, 0x02, 0x2B, 0x00, 0x00}), K::BadLayout, {}},
        {"ByteCountShortOfLength", 3, Reply7({0x03, 0x02, 0x02, 0x2B, 0x00, 0x00}), K::BadLayout, {}},
        {"ReadWithoutByteCount", 3, Reply7({0x03}), K::BadLayout, {}},
        {"ExceptionWithExtraByte", 3, Reply7({0x83, 0x02, 0x00}), K::Exception, {}, 2},
        {"ExceptionWithoutCode", 3, Reply7({0x83}), K::Exception, {}, 0},
        {"ExceptionOfAWrite", 16, Reply7({0x90, 0x04, 0x00, 0x00, 0x00}), K::Exception, {}, 4},
        {"WriteEchoShort", 6, Reply7({0x06, 0x00, 0x01, 0x00}), K::BadLayout, {}},
        {"WriteEchoLong", 16, Reply7({0x10, 0x00, 0x01, 0x00, 0x02, 0x00}), K::BadLayout, {}},
        {"ForeignWithBadLengthStillBreaksTheStream", 3, WithLength(other, 0x1000), K::BadLength, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // An exact-size heap copy: a read past the bytes received trips AddressSanitizer.
        const std::vector<uint8_t> exact(c.bytes);
        Words values(16, 0xEEEE);
        const TTcpFrameParse r = ParseTcpReply(exact.data(), exact.size(), 7, c.function, values);
        EXPECT_EQ(r.Kind, c.kind);
        EXPECT_EQ(r.ExceptionCode, c.exceptionCode);
        ASSERT_EQ(r.ValueCount, c.values.size());
        Words expected = c.values;
        expected.resize(16, 0xEEEE);  // nothing written beyond them
        EXPECT_EQ(values, expected);
        if (c.kind != K::BadLength) {
            EXPECT_EQ(r.FrameSize, 6u + (size_t{c.bytes[4]} << 8 | c.bytes[5]));
        }
    }
    for (size_t n = 0; n < kHoldingReply.size(); ++n) {
        const std::vector<uint8_t> prefix(kHoldingReply.begin(), kHoldingReply.begin() + n);
        Words values(3, 0xEEEE);
        EXPECT_EQ(ParseTcpReply(prefix.data(), prefix.size(), 7, 3, values).Kind, K::Incomplete) << n << " bytes";
        EXPECT_EQ(values, Words(3, 0xEEEE)) << n << " bytes";
    }
    Words two(2, 0);  // no more values stored than the destination holds
    const TTcpFrameParse r = ParseTcpReply(kHoldingReply.data(), kHoldingReply.size(), 7, 3, std::span<uint16_t>(two));
    EXPECT_EQ(r.Kind, K::Success);
    EXPECT_EQ(r.ValueCount, 2u);
    EXPECT_EQ(two, (Words{0x022B, 0}));

    // The record of a reply: its decoded header and data; of a cut one, only what arrived.
    const TModbusTcpReply rec = MakeTcpReplyRecord(kHoldingReply.data(), kHoldingReply.size());
    EXPECT_EQ((Words{rec.TransactionID, rec.ProtocolID, rec.RecLength, rec.UnitID, rec.FunctionCode,
                     rec.MBPData[0], rec.MBPData[6], rec.MBPData[7]}),
              (Words{7, 0, 9, 1, 3, 6, 0x64, 0}));
    const TModbusTcpReply partial = MakeTcpReplyRecord(kHoldingReply.data(), 5);
    EXPECT_EQ((Words{partial.TransactionID, partial.RecLength}), (Words{7, 0}));
}

// A client aimed at the server, its events written out. Short time-outs so that a fault fails fast.
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
            events += " error " + std::to_string(f) + "/" + std::to_string(c) + " reply " +
                      Hex({r.FunctionCode, r.MBPData[0]});
        };
        client.OnResponseMismatch = [this](uint8_t q, uint8_t a, const TModbusTcpReply&) {
            events += " mismatch " + std::to_string(q) + "/" + std::to_string(a);
        };
    }
    Bytes LastRequest() const { return server->Requests().back().bytes; }

    std::optional<ScriptedTcpServer> server;
    TModbusTcpClient client;
    std::string events;
};

// Connecting, transaction ids, register numbers, counts, SendCommand.
TEST_F(TcpClientTest, ConnectionsIdsRegistersAndCommands)
{
    Start(tcptest::Device);
    client.SetAutoConnect(false);
    const auto e = RaisedBy<ESocketError>([&] { client.WriteSingleRegister(1, 1); }).value();
    EXPECT_STREQ(e.what(), "Not Connected");
    EXPECT_EQ(e.Kind(), ESocketError::skNotConnected);
    EXPECT_EQ(server->Connections(), 0);

    client.GetNewTransactionID();  // ids of an earlier connection must not carry over
    bool probed = false;
    client.OnConnected = [&] {
        Words v;
        probed = client.ReadHoldingRegisters(65535, 1, v);  // the main window's probe, inside Connect
    };
    client.Connect(2000);
    EXPECT_TRUE(probed);
    client.OnConnected = nullptr;
    EXPECT_EQ(ErrorOf<ESocketError>([&] { client.Connect(2000); }), "Already connected.");
    EXPECT_TRUE(client.Connected());

    client.SetUnitID(1);
    client.SetBaseRegister(0);
    EXPECT_TRUE(client.WriteSingleRegister(9115, 3));
    EXPECT_EQ(LastRequest(), (Bytes{0x00, 0x02, 0x00, 0x00, 0x00, 0x06, 0x01, 0x06, 0x23, 0x9B, 0x00, 0x03}));
    EXPECT_EQ(client.LastResult().Reply, trSuccess);
    ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    client.Disconnect();
    client.Connect(2000);
    ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    for (int i = 0; i < 65535 && client.LastTransactionID() != 65534; ++i)  // a stuck id fails, not hangs
        client.GetNewTransactionID();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    std::vector<uint16_t> ids;
    for (const Request& r : server->Requests())
        ids.push_back(r.TransactionID());
    EXPECT_EQ(ids, (std::vector<uint16_t>{1, 2, 3, 1, 65535, 0, 1}));

    // AutoConnect leaves an open connection open, and otherwise connects around each operation.
    client.SetAutoConnect(true);
    ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(server->Connections(), 2);
    client.Disconnect();
    Words values;
    ASSERT_TRUE(client.ReadHoldingRegisters(1, 1, values));
    EXPECT_FALSE(client.Connected());
    ASSERT_TRUE(client.WriteSingleRegister(1, 1));
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(server->Connections(), 4);
    EXPECT_EQ(server->Requests().back().connection, 4);
    EXPECT_EQ(server->Requests().back().TransactionID(), 1);

    // The base register is subtracted modulo 65536; counts above the limits are refused or capped.
    const Words values124(124, 1);
    EXPECT_EQ(ErrorOf([&] { client.WriteMultipleRegisters(1, values124); }), "Register count must be between 1 and 123");
    EXPECT_EQ(server->Connections(), 4);  // refused before anything was sent
    EXPECT_TRUE(client.WriteMultipleRegisters(1, std::span(values124).first(123)));

    const struct {
        uint16_t base, reg, sent;
    } cases[] = {{1, 1000, 999}, {0, 1000, 1000}, {1, 1, 0}, {1, 0, 65535}, {100, 50, 65486}};
    for (const auto& c : cases) {
        client.SetBaseRegister(c.base);
        ASSERT_TRUE(client.ReadHoldingRegisters(c.reg, 16, values));
        const Bytes q = LastRequest();
        EXPECT_EQ(q[8] << 8 | q[9], c.sent) << c.base << " " << c.reg;
        EXPECT_EQ(values[0], c.sent);  // the device answers with the address
    }

    // SendCommand reads into and writes from one array, no further than it reaches.
    client.SetBaseRegister(0);
    client.SetUnitID(0x11);
    Words data(1, 9);
    ASSERT_TRUE(client.SendCommand(4, 0x13, 3, data));
    EXPECT_EQ(Hex(LastRequest()), Hex(MbapFrame(1, 0x11, Pdu(4, {0x13, 3}))));
    EXPECT_EQ(data, Words{0x13});
}

// Request 1 gets the row's steps, later ones 0102 0304; a bad length or a partial reply closes.
const Bytes kGoodPdu = RegistersPdu(3, {0x0102, 0x0304});
const Bytes kGood = MbapFrame(1, 0xFF, kGoodPdu);
const Bytes kCut(kGood.begin(), kGood.begin() + 9);
const Bytes kOneTwo = MbapFrame(1, 0xFF, RegistersPdu(3, {1, 2}));
const auto Bad = [](uint16_t id) { return MbapFrame(id, 0xFF, RegistersPdu(3, {0xBAD, 0xBAD})); };
const auto EveryByteApart = [] {
    std::vector<Step> steps;
    for (uint8_t b : kGood)
        steps.insert(steps.end(), {tcptest::Pause(2ms), Send({b})});
    return steps;
};

struct ReplyCase {
    const char* name;
    std::vector<Step> first;
    // The read of 2: "ok"/"failed", values or error raised, verdict, events, "open"/"closed".
    std::string outcome;
    ESocketError::TKind kind = ESocketError::skSystem;  // of the error raised
    uint32_t timeoutMs = 2000;
    bool settle = false;  // the next request waits until the server has done all it was told
    int32_t readTimeoutMs = 0;
};

class TcpClientReply : public TcpClientTest, public testing::WithParamInterface<ReplyCase> {};

TEST_P(TcpClientReply, IsJudgedAndTheNextExchangeWorks)
{
    const ReplyCase c = GetParam();
    Start([c](const Request& r) {
        const bool first = r.connection == 1 && r.TransactionID() == 1;
        return first ? c.first : std::vector<Step>{Send(Answer(r, kGoodPdu))};
    });
    client.SetAutoConnect(false);
    client.SetTimeOut(c.timeoutMs);
    client.SetReadTimeout(c.readTimeoutMs);
    client.Connect(2000);
    Words values(2, 0xEEEE);
    bool ok = false;
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    const auto e = RaisedBy<ESocketError>([&] { ok = client.ReadHoldingRegisters(1, 2, values); });
    const auto elapsed = Clock::now() - t0;
    EXPECT_LT(elapsed, std::chrono::milliseconds(c.timeoutMs + 500));
    const auto& last = client.LastResult();
    std::string got = ok ? "ok" : "failed";
    if (e) {
        got += " raises " + std::string(e->what());
        EXPECT_EQ(e->Kind(), c.kind);
    } else {
        for (uint16_t v : values)
            got += " " + std::to_string(v);
    }
    got += " " + std::string(TransactionReplyName(last.Reply)) + (last.Malformed ? " malformed" : "");
    if (last.Reply == trExceptionReply)
        got += " code " + std::to_string(last.ExceptionCode);
    const bool open = client.Connected();
    EXPECT_EQ(got + events + (open ? " open" : " closed"), c.outcome);
    if (last.Reply == trNoReply && !e) {  // the whole time-out waited, without spinning
        EXPECT_GE(elapsed, std::chrono::milliseconds(c.timeoutMs));
        EXPECT_LT(CpuSeconds() - cpu0, 0.1) << "CPU seconds spent waiting";
    }

    if (c.settle) {
        ASSERT_TRUE(server->WaitForAnswers(1, 2000ms));
    }
    client.SetTimeOut(2000);
    if (!open) {
        EXPECT_TRUE(server->WaitForConnectionClosed(1, 2000ms));
        EXPECT_EQ(ErrorOf<ESocketError>([&] { client.ReadHoldingRegisters(1, 2, values); }), "Not Connected");
        client.SetAutoConnect(true);
    }
    EXPECT_TRUE(client.ReadHoldingRegisters(1, 2, values));
    EXPECT_EQ(values, (Words{0x0102, 0x0304}));
    EXPECT_EQ(server->Connections(), open ? 1 : 2);
}

using tcptest::Pause;
INSTANTIATE_TEST_SUITE_P(
    Replies, TcpClientReply,
    testing::Values(
        ReplyCase{"Exception", {Send(MbapFrame(1, 0xFF, {0x83, 2}))},
                  "failed 0 0 trExceptionReply code 2 error 3/2 reply 83 02 open"},
        ReplyCase{"OtherFunction", {Send(MbapFrame(1, 0xFF, {4, 2, 0x12, 0x34}))},
                  "failed 0 0 trUnmatchedReply mismatch 3/4 open"},
        ReplyCase{"LengthFFFFHeaderOnly", {Send({0, 1, 0, 0, 0xFF, 0xFF})},
                  "failed 0 0 trUnmatchedReply malformed closed"},
        ReplyCase{"ByteCountRunsPastLength", {Send(MbapFrame(1, 0xFF, {3, 0x20, 1, 2, 3, 4}))},
                  "failed 0 0 trUnmatchedReply malformed open"},
        ReplyCase{"PartialAtTimeOut", {Send(kCut)}, "failed 0 0 trNoReply closed", ESocketError::skSystem,
                  200},
        ReplyCase{"ServerClosesMidReply", {Send(kCut), Pause(20ms), tcptest::CloseConnection()},
                  "failed raises Connection Closed Gracefully. trNoReply closed", ESocketError::skClosedGracefully},
        ReplyCase{"ServerResetsMidReply", {Send(kCut), Pause(20ms), tcptest::ResetConnection()},
                  "failed raises Socket Error # 104\r\nConnection reset by peer trNoReply closed"},
        ReplyCase{"SplitAtEveryByte", EveryByteApart(), "ok 258 772 trSuccess open"},
        ReplyCase{"StaleIdInSameSegment", {Send(Concat(Bad(0), kGood))}, "ok 258 772 trSuccess open"},
        ReplyCase{"NextIdInTheSameSegment", {Send(Concat(kOneTwo, Bad(2)))}, "ok 1 2 trSuccess open"},
        ReplyCase{"NextIdBetweenExchanges",
                  {Send(kOneTwo), Pause(20ms), Send(Bad(2))},
                  "ok 1 2 trSuccess open", ESocketError::skSystem, 2000, true},
        ReplyCase{"LateAnswer", {Pause(300ms), Send(Bad(1))}, "failed 0 0 trNoReply open",
                  ESocketError::skSystem, 150},
        // Silence: no event, and nothing out of step; time-out 0 takes only what has arrived.
        ReplyCase{"Silence", {}, "failed 0 0 trNoReply open", ESocketError::skSystem, 1000},
        ReplyCase{"SilenceReadTimeout50", {}, "failed 0 0 trNoReply open", ESocketError::skSystem, 1000, false,
                  50},
        ReplyCase{"SilenceTimeOut0", {}, "failed 0 0 trNoReply open", ESocketError::skSystem, 0}),
    [](const testing::TestParamInfo<ReplyCase>& i) { return std::string(i.param.name); });


// The server closes connections 1 and 2 at once: without AutoConnect the write finds it, with it a new one.
TEST_F(TcpClientTest, ServerThatClosedIsFoundBeforeWriting)
{
    Start(tcptest::Device, [](int connection) {
        return connection <= 2 ? std::vector<Step>{tcptest::CloseConnection()} : std::vector<Step>{};
    });
    client.SetAutoConnect(false);
    client.Connect(2000);
    ASSERT_TRUE(server->WaitForConnectionClosed(1, 2000ms));
    EXPECT_EQ(ErrorOf<ESocketError>([&] { client.WriteSingleRegister(1, 1); }), "Connection Closed Gracefully.");
    // The failure closed this side as well: the next operation finds nothing to use.
    EXPECT_EQ(ErrorOf<ESocketError>([&] { client.WriteSingleRegister(1, 1); }), "Not Connected");
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server->Requests().empty());

    client.SetAutoConnect(true);
    client.Connect(2000);
    ASSERT_TRUE(server->WaitForConnectionClosed(2, 2000ms));
    EXPECT_TRUE(client.WriteSingleRegister(1, 1));
    EXPECT_EQ(server->Connections(), 3);
}

// The defaults, then refused, unresolvable, unusable socket, timed out: each raises its own error.
TEST(TcpClientConnect, DefaultsAndFailures)
{
    TModbusTcpClient client;
    EXPECT_EQ((std::vector<long>{client.AutoConnect(), client.BaseRegister(), client.ConnectTimeOut(),
                                 client.ReadTimeout(), client.Port(), client.TimeOut(), client.UnitID(),
                                 client.LastTransactionID(), client.Connected()}),
              (std::vector<long>{true, 1, -1, 0, 502, 15000, 255, 0, false}));
    // Bound but not listening, the port refuses.
    sockaddr_in addr;
    const int fd = tcptest::BoundLoopbackSocket(addr);
    client.SetHost("127.0.0.1");
    client.SetPort(ntohs(addr.sin_port));
    auto e = RaisedBy<ESocketError>([&] { client.Connect(2000); }).value();
    EXPECT_STREQ(e.what(), "Socket Error # 111\r\nConnection refused");
    EXPECT_EQ(e.Code(), ECONNREFUSED);
    EXPECT_FALSE(client.Connected());
    Words values(2, 0xEEEE);
    EXPECT_THROW(client.ReadHoldingRegisters(1, 2, values), ESocketError);
    EXPECT_EQ(values, Words(2, 0));

    // A DNS label holds 63 bytes at most: the resolver refuses this name without asking the network.
    client.SetHost(std::string(70, 'a') + ".invalid");
    e = RaisedBy<ESocketError>([&] { client.Connect(2000); }).value();
    EXPECT_EQ(e.Kind(), ESocketError::skSystem);
    EXPECT_EQ(e.Code(), EAI_NONAME);
    EXPECT_STREQ(e.what(), "Socket Error # -2\r\nName or service not known");

    // A closed socket and an empty host are refused; a write to a closed peer never raises SIGPIPE.
    TcpSocket socket;
    uint8_t b[1] = {};
    EXPECT_THROW(socket.Write(b, 1), ESocketError);
    EXPECT_THROW(socket.WaitReadable(0), ESocketError);
    EXPECT_THROW(socket.Read(b, 1), ESocketError);
    EXPECT_THROW(socket.CheckForDisconnect(), ESocketError);
    EXPECT_FALSE(socket.Connected());
    const auto noHost = RaisedBy<ESocketError>([&] { socket.Connect(100); });
    EXPECT_EQ(noHost.value().Kind(), ESocketError::skHostRequired);
    std::signal(SIGPIPE, SIG_DFL);
    ScriptedTcpServer server([](const Request&) { return std::vector<Step>{}; },
                             [](int) { return std::vector<Step>{tcptest::CloseConnection()}; });
    socket.SetHost("127.0.0.1");
    socket.SetPort(server.Port());
    socket.Connect(2000);
    ASSERT_TRUE(server.WaitForConnectionClosed(1, 2000ms));
    // The first write draws the server's reset; a later one meets the broken pipe.
    std::optional<ESocketError> error;
    for (int i = 0; i < 50 && !error; ++i) {
        error = RaisedBy<ESocketError>([&] {
            socket.Write(b, 1);
            socket.WaitReadable(20);
        });
    }
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->Code() == EPIPE || error->Code() == ECONNRESET) << error->what();
    EXPECT_FALSE(socket.Connected());

    // Backlog 0, its queue filled by our own connects: Linux drops SYNs, so a connect stays pending.
    ::listen(fd, 0);
    std::vector<int> fds{fd};
    bool full = false;
    while (fds.size() <= 8 && !full) {
        fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        pollfd p{fds.back(), POLLOUT, 0};
        const bool pending = ::connect(fds.back(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0;
        full = pending && errno == EINPROGRESS && ::poll(&p, 1, 200) == 0;
    }
    client.SetHost("127.0.0.1");
    client.SetConnectTimeOut(300);
    const auto t0 = Clock::now();
    if (full)
        e = RaisedBy<ESocketError>([&] { client.WriteSingleRegister(1, 1); }).value();  // with ConnectTimeOut
    const auto elapsed = Clock::now() - t0;
    for (int f : fds)
        ::close(f);
    if (!full)
        GTEST_SKIP() << "the loopback listener's accept queue could not be filled on this kernel";
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, 1000ms);
    EXPECT_STREQ(e.what(), "Connect timed out.");
    EXPECT_EQ(e.Kind(), ESocketError::skConnectTimedOut);
    EXPECT_FALSE(client.Connected());
}

// Against tests/support/pymodbus_server.py: register i (0..999) holds 0x1000 + i, others raise 2.
const auto Expected = [](uint16_t first, uint16_t count) {
    Words v(count);
    std::iota(v.begin(), v.end(), static_cast<uint16_t>(0x1000 + first));
    return v;
};

TEST(TcpInterop, ReadsWritesExceptionsAndIdentification)
{
    // Debian's python3, where python3-pymodbus lives, whatever PATH says.
    const char* chosen = std::getenv("TARNWICK_PYTHON");
    const std::string python = chosen && *chosen ? chosen : "/usr/bin/python3";
    if (::access(python.c_str(), X_OK) != 0)
        GTEST_SKIP() << python << " is not there";
    ChildProcess peer({python, SourcePath("tests/support/pymodbus_server.py")});
    // Importing pymodbus takes a moment on a cold machine.
    const std::optional<std::string> line = peer.ReadLine(30s);
    ASSERT_TRUE(line.has_value()) << "the pymodbus server printed no port";
    if (line->rfind("SKIP ", 0) == 0)
        GTEST_SKIP() << line->substr(5);
    ASSERT_EQ(line->rfind("PORT ", 0), 0u) << *line;
    TModbusTcpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(std::stoi(line->substr(5)));
    client.SetTimeOut(5000);
    std::vector<std::pair<uint8_t, uint8_t>> errors;
    client.OnResponseError = [&](uint8_t f, uint8_t code, const TModbusTcpReply&) { errors.emplace_back(f, code); };

    // With AutoConnect and the default base register 1, register 1 is the first on the wire.
    Words values;
    ASSERT_TRUE(client.ReadHoldingRegisters(1, 2, values));
    EXPECT_EQ(values, Expected(0, 2));
    EXPECT_FALSE(client.Connected());

    client.SetBaseRegister(0);
    client.SetAutoConnect(false);
    client.Connect(5000);
    ASSERT_TRUE(client.ReadHoldingRegisters(0, 125, values));
    EXPECT_EQ(values, Expected(0, 125));
    ASSERT_TRUE(client.ReadHoldingRegisters(875, 200, values));  // asks for 125
    EXPECT_EQ(Words(values.begin(), values.begin() + 125), Expected(875, 125));
    EXPECT_EQ(values[125], 0);
    for (uint16_t i = 0; i < 200; ++i) {
        ASSERT_TRUE(client.ReadHoldingRegisters(i, 1, values)) << "read " << i;
        ASSERT_EQ(values[0], 0x1000 + i);
    }

    ASSERT_TRUE(client.WriteSingleRegister(500, 0xBEEF));
    ASSERT_TRUE(client.ReadHoldingRegisters(500, 1, values));
    EXPECT_EQ(values, Words{0xBEEF});
    Words block(123);
    std::iota(block.begin(), block.end(), uint16_t{0xA000});
    ASSERT_TRUE(client.WriteMultipleRegisters(600, block));
    ASSERT_TRUE(client.ReadHoldingRegisters(600, 123, values));
    EXPECT_EQ(values, block);

    values.assign(2, 0xEEEE);
    EXPECT_FALSE(client.ReadHoldingRegisters(2000, 2, values));
    EXPECT_EQ(values, Words(2, 0));
    EXPECT_EQ(errors, (std::vector<std::pair<uint8_t, uint8_t>>{{3, 2}}));
    EXPECT_EQ(client.LastResult().Reply, trExceptionReply);
    EXPECT_EQ(client.LastResult().ExceptionCode, 2);

    ASSERT_TRUE(client.ReportServerIdentification(values));
    ASSERT_EQ(values.size(), 125u);
    std::string text;
    for (size_t i = 0; i < values.size() && values[i]; ++i)
        text += std::string{static_cast<char>(values[i] >> 8), static_cast<char>(values[i] & 0xFF)};
    // 16 identifier bytes and the run status 0xFF: the odd last byte is dropped.
    EXPECT_EQ(text, "TARNWICK-INTEROP");
}

}  // namespace
