// Client operations end to end over a pty, on the worker thread and on the caller's thread:
// argument checks, wire bytes, reply contents, events.
#include "Expect.h"
#include "ModbusError.h"
#include "SerialHarness.h"

#include <gtest/gtest.h>

using namespace modbus;
using namespace testing_support;
using namespace std::chrono_literals;
using Piece = ScriptedPeer::Piece;

namespace {

class ClientPath : public ::testing::TestWithParam<Path> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Client, ClientPath, BothPaths(), [](const auto& info) { return PathName(info.param); });

TEST_P(ClientPath, ArgumentsRejectedWithTheLibraryMessage)
{
    SerialHarness h(GetParam());
    h.connection.SetReceiveTimeout(20);  // nobody answers the accepted ones
    TModbusClient loose;
    EXPECT_EQ(ErrorOf([&] { loose.ReadHoldingRegisters(0, 1); }), "There is no active connection");
    EXPECT_EQ(ErrorOf([&] { h.client.ReportServerIdentification(); }), "There is no active connection");
    h.Open();
    const std::vector<uint16_t> v124(124, 0), v2(2, 0), none;
    const struct {
        std::function<void()> call;
        const char* message;
    } cases[] = {
        {[&] { h.client.ReadHoldingRegisters(0, 0); }, "Register count must be between 1 and 125"},
        {[&] { h.client.ReadHoldingRegisters(0, 126); }, "Register count must be between 1 and 125"},
        {[&] { h.client.ReadHoldingRegisters(65500, 100); }, "Starting register index is invalid (65500)"},
        {[&] { h.client.ReadHoldingRegisters(65535, 1); }, ""},
        {[&] { h.client.ReadHoldingRegisters(0, 125); }, ""},
        {[&] { h.client.WriteMultipleRegisters(0, v124); }, "Register count must be between 1 and 123"},
        {[&] { h.client.WriteMultipleRegisters(0, none); }, "Register count must be between 1 and 123"},
        {[&] { h.client.WriteMultipleRegisters(65535, v2); }, "Starting register index is invalid (65535)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf(c.call), c.message);
}

TEST_P(ClientPath, IdsCountFromZeroAndAreSharedByClientsOfOneConnection)
{
    SerialHarness h(GetParam());
    h.connection.SetReceiveTimeout(20);
    h.Open();
    TModbusClient other;
    other.SetConnection(&h.connection);
    EXPECT_EQ(h.client.ReadHoldingRegisters(0, 1), 0u);
    EXPECT_EQ(other.ReadHoldingRegisters(0, 1), 1u);
    EXPECT_EQ(h.client.ReportServerIdentification(), 2u);
}

struct WireCase {
    const char* name;
    TTransmissionMode mode;
    uint8_t address;
    std::function<void(TModbusClient&)> call;
    std::string request;  // hex (RTU) or text (ASCII) the peer must see
    std::string reply;    // what the peer answers, same notation, checksum included
    TTransactionReply outcome;
    std::function<void(const Result&)> check;
};

class ClientWire : public ::testing::TestWithParam<std::tuple<WireCase, Path>> {};

TEST_P(ClientWire, RequestBytesAndReplyHandling)
{
    const auto& [c, path] = GetParam();
    SerialHarness h(path, c.mode);
    const Bytes reply = c.mode == tmRTU ? HexBytes(c.reply) : Ascii(c.reply);
    ScriptedPeer peer(h.pty, Always(reply));
    h.Open();
    h.client.SetServerAddress(c.address);
    c.call(h.client);
    ASSERT_TRUE(h.WaitResults(1));
    const auto req = peer.Requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(Hex(req[0].bytes), Hex(c.mode == tmRTU ? HexBytes(c.request) : Ascii(c.request)));
    EXPECT_EQ(h.Last().info.Reply, c.outcome) << TransactionReplyName(h.Last().info.Reply);
    EXPECT_EQ(h.Last().info.Attempts, 1u);
    if (c.check)
        c.check(h.Last());
}

INSTANTIATE_TEST_SUITE_P(
    Client, ClientWire,
    ::testing::Combine(::testing::Values(
        WireCase{"ReadOne", tmRTU, 1, [](TModbusClient& c) { c.ReadHoldingRegisters(0, 1); },
                 "01 03 00 00 00 01 84 0A", Hex(WithCrc(HexBytes("01 03 02 AB CD"))), trSuccess,
                 [](const Result& r) { EXPECT_EQ(r.values, TRegValues{0xABCD}); }},
        WireCase{"ReadOneAscii", tmASCII, 1, [](TModbusClient& c) { c.ReadHoldingRegisters(0, 1); },
                 ":010300000001FB\r\n", ":010302ABCD82\r\n", trSuccess,
                 [](const Result& r) { EXPECT_EQ(r.values, TRegValues{0xABCD}); }},
        WireCase{"ReadCountTwoMore", tmRTU, 1, [](TModbusClient& c) { c.ReadHoldingRegisters(0, 1); },
                 "01 03 00 00 00 01 84 0A", Hex(WithCrc(HexBytes("01 03 04 AB CD 00 00"))), trUnmatchedReply,
                 [](const Result& r) { EXPECT_EQ(r.values, TRegValues{0}); }},
        WireCase{"ReadCountLies", tmRTU, 1, [](TModbusClient& c) { c.ReadHoldingRegisters(0, 2); },
                 Hex(WithCrc(HexBytes("01 03 00 00 00 02"))), Hex(WithCrc(HexBytes("01 03 04 AB CD"))),
                 trUnmatchedReply, [](const Result& r) { EXPECT_EQ(r.values, (TRegValues{0, 0})); }},
        WireCase{"DiagnosticsEcho", tmRTU, 70, [](TModbusClient& c) { c.Diagnostics(daReturnQueryData); },
                 "46 08 00 00 A5 37 D5 FA", "46 08 00 00 A5 37 D5 FA", trSuccess,
                 [](const Result& r) {
                     EXPECT_EQ(r.action, daReturnQueryData);
                     EXPECT_EQ(r.diagResult, 0);
                 }},
        WireCase{"DiagnosticsWrongEcho", tmRTU, 70, [](TModbusClient& c) { c.Diagnostics(daReturnQueryData); },
                 "46 08 00 00 A5 37 D5 FA", Hex(WithCrc(HexBytes("46 08 00 00 A5 38"))), trUnmatchedReply, nullptr},
        WireCase{"DiagnosticsValue", tmRTU, 1, [](TModbusClient& c) { c.Diagnostics(daReturnBusMessageCount); },
                 Hex(WithCrc(HexBytes("01 08 00 0B 00 00"))), Hex(WithCrc(HexBytes("01 08 00 0B 01 2C"))), trSuccess,
                 [](const Result& r) { EXPECT_EQ(r.diagResult, 300); }},
        WireCase{"ReportId", tmRTU, 70, [](TModbusClient& c) { c.ReportServerIdentification(); },
                 "46 11 F3 DC", Hex(WithCrc(HexBytes("46 11 04 56 4F FF 31"))), trSuccess,
                 [](const Result& r) {
                     EXPECT_EQ(r.count, 4);
                     EXPECT_EQ(Hex(r.data), "56 4F FF 31");
                 }},
        WireCase{"ReportIdCountLies", tmRTU, 70, [](TModbusClient& c) { c.ReportServerIdentification(); },
                 "46 11 F3 DC", Hex(WithCrc(HexBytes("46 11 FA 56 4F"))), trUnmatchedReply,
                 [](const Result& r) {
                     EXPECT_EQ(r.count, 2);
                     EXPECT_EQ(Hex(r.data), "56 4F");
                 }},
        WireCase{"WriteSingle", tmRTU, 1, [](TModbusClient& c) { c.WriteSingleRegister(9115, 3); },
                 Hex(WithCrc(HexBytes("01 06 23 9B 00 03"))), Hex(WithCrc(HexBytes("01 06 23 9B 00 03"))), trSuccess,
                 [](const Result& r) {
                     EXPECT_EQ(r.start, 9115);
                     EXPECT_EQ(r.values, TRegValues{3});
                 }},
        WireCase{"WriteSingleBadEcho", tmRTU, 1, [](TModbusClient& c) { c.WriteSingleRegister(9115, 3); },
                 Hex(WithCrc(HexBytes("01 06 23 9B 00 03"))), Hex(WithCrc(HexBytes("01 06 23 9B 00 04"))),
                 trUnmatchedReply, nullptr},
        WireCase{"WriteMultiple", tmRTU, 1,
                 [](TModbusClient& c) {
                     const uint16_t v[] = {1, 0x0203};
                     c.WriteMultipleRegisters(140, v);
                 },
                 Hex(WithCrc(HexBytes("01 10 00 8C 00 02 04 00 01 02 03"))), Hex(WithCrc(HexBytes("01 10 00 8C 00 02"))),
                 trSuccess, [](const Result& r) { EXPECT_EQ(r.values, (TRegValues{1, 0x0203})); }},
        WireCase{"Exception2", tmRTU, 1, [](TModbusClient& c) { c.ReadHoldingRegisters(0, 1); },
                 "01 03 00 00 00 01 84 0A", Hex(WithCrc(HexBytes("01 83 02"))), trExceptionReply,
                 [](const Result& r) {
                     EXPECT_EQ(r.info.ExceptionCode, 2);
                     EXPECT_EQ(ServerExceptionName(r.info.ServerException), "seIllegalDataAddress");
                 }},
        WireCase{"Exception9", tmRTU, 1, [](TModbusClient& c) { c.ReadHoldingRegisters(0, 1); },
                 "01 03 00 00 00 01 84 0A", Hex(WithCrc(HexBytes("01 83 09"))), trExceptionReply,
                 [](const Result& r) {
                     EXPECT_EQ(r.info.ExceptionCode, 9);
                     EXPECT_EQ(r.info.ServerException, seUnknown);
                 }},
        WireCase{"ExceptionAscii", tmASCII, 1, [](TModbusClient& c) { c.ReadHoldingRegisters(0, 1); },
                 ":010300000001FB\r\n", ":01830379\r\n", trExceptionReply,
                 [](const Result& r) { EXPECT_EQ(r.info.ServerException, seIllegalDataValue); }}),
        BothPaths()),
    [](const auto& info) { return CaseOnPath(info); });

TEST_P(ClientPath, TimeoutLimitCountsFramesWithoutUsableAnswer)
{
    SerialHarness h(GetParam());
    h.connection.SetReceiveTimeout(60);
    std::atomic<bool> answer{false};
    ScriptedPeer peer(h.pty, [&](const Bytes&) {
        return answer ? std::vector<Piece>{{WithCrc(HexBytes("01 03 02 00 01")), 0}} : std::vector<Piece>{};
    });
    h.client.SetMaxConsecutiveTimeouts(2);
    std::vector<std::string> order;
    h.client.OnTransactionProcessed = [&](auto&&...) { order.push_back("processed"); };
    h.client.OnConsecutiveTimeoutLimitExceed = [&](TModbusClient&) { order.push_back("limit"); };
    h.Open();

    h.client.ReadHoldingRegisters(0, 1);
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(2));
    EXPECT_EQ(h.client.ConsecutiveTimeouts(), 2);
    answer = true;  // a good reply in between starts the count again
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(3));
    EXPECT_EQ(h.client.ConsecutiveTimeouts(), 0);
    answer = false;
    for (int i = 0; i < 3; ++i)
        h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(6));
    h.events.ProcessEvents();
    EXPECT_EQ(order, (std::vector<std::string>{"processed", "processed", "processed", "processed",
                                               "processed", "processed", "limit"}));
    EXPECT_EQ(h.client.ConsecutiveTimeouts(), 0);
}

TEST(ClientAddress, ChangeDropsQueuedRequestsAndTheResultOnTheLine)
{
    SerialHarness h;
    ScriptedPeer peer(h.pty, [](const Bytes&) {
        return std::vector<Piece>{{WithCrc(HexBytes("01 03 02 00 01")), 100}};
    });
    h.Open();
    for (int i = 0; i < 5; ++i)
        h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(peer.WaitForRequests(1, 2s));
    h.client.SetServerAddress(2);
    h.events.RunUntil([] { return false; }, 400ms);
    EXPECT_EQ(peer.RequestCount(), 1u);
    EXPECT_TRUE(h.results.empty());
}

TEST(ClientConnection, DestroyedConnectionClearsTheReference)
{
    EventQueue events;
    TModbusClient client;
    {
        TModbusConnection connection(events);
        client.SetConnection(&connection);
        EXPECT_TRUE(connection.HasClient(&client));
    }
    EXPECT_EQ(client.Connection(), nullptr);
    EXPECT_EQ(ErrorOf([&] { client.ReadHoldingRegisters(0, 1); }), "There is no active connection");
}
