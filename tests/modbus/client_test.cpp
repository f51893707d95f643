// Client operations end to end over a pty on both paths: arguments, wire bytes, replies, events.
#include "Expect.h"
#include "SerialHarness.h"

#include <gtest/gtest.h>

using namespace modbus;
using namespace testing_support;
using namespace std::chrono_literals;
using Piece = ScriptedPeer::Piece;

class ClientPath : public ::testing::TestWithParam<Path> {};

// What a result event reported, in a line.
std::string Describe(const Result& r)
{
    std::string s;
    if (r.command == 8)
        s = std::string(DiagnosticActionName(r.action)) + " " + std::to_string(r.diagResult);
    else if (r.command == 17)
        s = std::to_string(r.count) + ": " + Hex(r.data);
    else
        s = std::to_string(r.start) + ":";
    for (uint16_t w : r.values)
        s += " " + std::to_string(w);
    if (r.info.Reply == trExceptionReply)
        s += " exception " + std::to_string(r.info.ExceptionCode) + " " + std::string(ServerExceptionName(r.info.ServerException));
    return s;
}

INSTANTIATE_TEST_SUITE_P(Client, ClientPath, BothPaths(), [](const auto& info) { return PathName(info.param); });

// Arguments checked before queueing; ids count from 0, shared by a connection's clients.
TEST_P(ClientPath, ArgumentsAndTransactionIds)
{
    SerialHarness h(GetParam());
    h.connection.SetReceiveTimeout(20);  // nobody answers the accepted ones
    TModbusClient loose;
    {
        TModbusConnection gone(h.events);
        loose.SetConnection(&gone);
        EXPECT_TRUE(gone.HasClient(&loose));
    }
    EXPECT_EQ(loose.Connection(), nullptr);
    EXPECT_EQ(ErrorOf([&] { loose.ReadHoldingRegisters(0, 1); }), "There is no active connection");
    EXPECT_EQ(ErrorOf([&] { h.client.ReportServerIdentification(); }), "There is no active connection");
    h.Open();
    TModbusClient other;
    other.SetConnection(&h.connection);
    EXPECT_EQ(h.client.ReadHoldingRegisters(0, 1), 0u);
    EXPECT_EQ(other.ReadHoldingRegisters(0, 1), 1u);
    EXPECT_EQ(h.client.ReportServerIdentification(), 2u);
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

struct WireCase {
    const char* name;
    TTransmissionMode mode;
    uint8_t address;
    std::function<void(TModbusClient&)> call;
    Bytes request, reply;  // PDUs; the frames are built for the mode and the address
    TTransactionReply outcome;
    std::string reported;  // Describe() of the result
};

class ClientWire : public ::testing::TestWithParam<std::tuple<WireCase, Path>> {};

TEST_P(ClientWire, RequestBytesAndReplyHandling)
{
    const WireCase& c = std::get<0>(GetParam());
    SerialHarness h(std::get<1>(GetParam()), c.mode);
    ScriptedPeer peer(h.pty, Device(c.mode, [&c](const Bytes&) { return c.reply; }));
    h.Open();
    h.client.SetServerAddress(c.address);
    c.call(h.client);
    ASSERT_TRUE(h.WaitResults(1));
    const auto req = peer.Requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(Hex(req[0].bytes), Hex(SerialFrame(c.mode, c.address, c.request)));
    EXPECT_EQ(h.Last().info.Reply, c.outcome) << TransactionReplyName(h.Last().info.Reply);
    EXPECT_EQ(h.Last().info.Attempts, 1u);
    EXPECT_EQ(Describe(h.Last()), c.reported);
}

const auto kReadOne = [](TModbusClient& c) { c.ReadHoldingRegisters(0, 1); };

INSTANTIATE_TEST_SUITE_P(
    Client, ClientWire,
    ::testing::Combine(::testing::Values(
        WireCase{"ReadOne", tmRTU, 1, kReadOne, Pdu(3, {0, 1}), RegistersPdu(3, {0xABCD}), trSuccess, "0: 43981"},
        WireCase{"ReadOneAscii", tmASCII, 1, kReadOne, Pdu(3, {0, 1}), RegistersPdu(3, {0xABCD}), trSuccess,
                 "0: 43981"},
        WireCase{"ReadCountLies", tmRTU, 1, [](TModbusClient& c) { c.ReadHoldingRegisters(0, 2); }, Pdu(3, {0, 2}),
                 {3, 4, 0xAB, 0xCD}, trUnmatchedReply, "0: 0 0"},
        WireCase{"DiagnosticsEcho", tmRTU, 70, [](TModbusClient& c) { c.Diagnostics(daReturnQueryData); },
                 Pdu(8, {0, 0xA537}), Pdu(8, {0, 0xA537}), trSuccess, "daReturnQueryData 0"},
        WireCase{"DiagnosticsWrongEcho", tmRTU, 70, [](TModbusClient& c) { c.Diagnostics(daReturnQueryData); },
                 Pdu(8, {0, 0xA537}), Pdu(8, {0, 0xA538}), trUnmatchedReply, "daReturnQueryData 0"},
        WireCase{"DiagnosticsValue", tmRTU, 1, [](TModbusClient& c) { c.Diagnostics(daReturnBusMessageCount); },
                 Pdu(8, {0x0B, 0}), Pdu(8, {0x0B, 300}), trSuccess, "daReturnBusMessageCount 300"},
        WireCase{"ReportId", tmRTU, 70, [](TModbusClient& c) { c.ReportServerIdentification(); }, Pdu(17),
                 {0x11, 4, 0x56, 0x4F, 0xFF, 0x31}, trSuccess, "4: 56 4F FF 31"},
        WireCase{"ReportIdCountLies", tmRTU, 70, [](TModbusClient& c) { c.ReportServerIdentification(); }, Pdu(17),
                 {0x11, 0xFA, 0x56, 0x4F}, trUnmatchedReply, "2: 56 4F"},
        WireCase{"WriteSingle", tmRTU, 1, [](TModbusClient& c) { c.WriteSingleRegister(9115, 3); },
                 Pdu(6, {9115, 3}), Pdu(6, {9115, 3}), trSuccess, "9115: 3"},
        WireCase{"WriteSingleBadEcho", tmRTU, 1, [](TModbusClient& c) { c.WriteSingleRegister(9115, 3); },
                 Pdu(6, {9115, 3}), Pdu(6, {9115, 4}), trUnmatchedReply, "9115: 3"},
        WireCase{"WriteMultiple", tmRTU, 1,
                 [](TModbusClient& c) {
                     const uint16_t v[] = {1, 0x0203};
                     c.WriteMultipleRegisters(140, v);
                 },
                 WriteRegistersPdu(140, {1, 0x0203}), Pdu(16, {140, 2}), trSuccess, "140: 1 515"},
        WireCase{"Exception2", tmRTU, 1, kReadOne, Pdu(3, {0, 1}), ExceptionPdu(3, 2), trExceptionReply,
                 "0: 0 exception 2 seIllegalDataAddress"},
        WireCase{"Exception9", tmRTU, 1, kReadOne, Pdu(3, {0, 1}), ExceptionPdu(3, 9), trExceptionReply,
                 "0: 0 exception 9 seUnknown"},
        WireCase{"ExceptionAscii", tmASCII, 1, kReadOne, Pdu(3, {0, 1}), ExceptionPdu(3, 3), trExceptionReply,
                 "0: 0 exception 3 seIllegalDataValue"}),
        BothPaths()),
    [](const auto& info) { return CaseOnPath(info); });

TEST_P(ClientPath, TimeoutLimitCountsFramesWithoutUsableAnswer)
{
    SerialHarness h(GetParam());
    h.connection.SetReceiveTimeout(60);
    std::atomic<bool> answer{false};
    ScriptedPeer peer(h.pty, [&](const Bytes&) {
        return answer ? std::vector<Piece>{{RtuFrame(1, RegistersPdu(3, {1})), 0}} : std::vector<Piece>{};
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
