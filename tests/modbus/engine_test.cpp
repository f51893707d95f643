// The transaction engine over a real pty, on the worker thread and on the caller's thread.
#include "Expect.h"
#include "SerialHarness.h"
#include "TransactionThread.h"

#include <gtest/gtest.h>
#include <thread>

using namespace modbus;
using namespace testing_support;
using namespace std::chrono_literals;
using Piece = ScriptedPeer::Piece;
using Pieces = std::vector<Piece>;

const Bytes kReadReq = HexBytes("01 03 00 00 00 01 84 0A");
const Bytes kGoodReply = RtuFrame(1, RegistersPdu(3, {0x1234}));

long long MsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

Pieces One(const Bytes& b)
{
    return {{b, 0}};
}

// The good reply two bytes at a time, gapMs apart.
Pieces InPairs(int gapMs)
{
    Pieces pieces;
    for (size_t i = 0; i < kGoodReply.size(); i += 2)
        pieces.push_back({Bytes(kGoodReply.begin() + static_cast<long>(i),
                                kGoodReply.begin() + static_cast<long>(std::min(i + 2, kGoodReply.size()))),
                          i ? gapMs : 0});
    return pieces;
}

class EnginePath : public ::testing::TestWithParam<Path> {};
INSTANTIATE_TEST_SUITE_P(Engine, EnginePath, BothPaths(), [](const auto& info) { return PathName(info.param); });

// One read of register 0 against a peer that answers each attempt as the row says.
struct ExchangeCase {
    const char* name;
    std::vector<Pieces> answers;  // one per attempt; silence beyond them
    TTransactionReply reply;
    uint32_t attempts = 1;
    uint32_t retries = 1, timeoutMs = 1000, refetchMs = 0, silent = 4;
    bool echo = false, byLength = false;
    long long fasterMs = 60000, slowerMs = 0;  // bounds on the time from the request to the result
};

class EngineExchange : public ::testing::TestWithParam<std::tuple<ExchangeCase, Path>> {};

TEST_P(EngineExchange, RetriesTimingEchoAndFrameEnds)
{
    const ExchangeCase& c = std::get<0>(GetParam());
    SerialHarness h(std::get<1>(GetParam()));
    h.connection.SetMaxRetries(c.retries);
    h.connection.SetReceiveTimeout(c.timeoutMs);
    h.connection.SetRefetchDelay(c.refetchMs);
    h.connection.SetSilentInterval(c.silent);
    h.connection.SetEchoQueryBeforeReply(c.echo);
    h.connection.SetEndFrameByLength(c.byLength);
    std::atomic<size_t> attempt{0};
    ScriptedPeer peer(h.pty, [&](const Bytes&) {
        const size_t i = attempt++;
        return i < c.answers.size() ? c.answers[i] : Pieces{};
    });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, c.reply) << TransactionReplyName(h.Last().info.Reply);
    EXPECT_EQ(h.Last().info.Attempts, c.attempts);
    const auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), c.attempts);
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(Hex(requests[i].bytes), Hex(kReadReq));
        if (i && c.refetchMs) {
            EXPECT_GE(MsBetween(requests[i - 1].at, requests[i].at), c.timeoutMs + c.refetchMs - 10);
        }
    }
    EXPECT_EQ(h.sentFrames.size(), c.attempts);
    if (c.reply == trSuccess) {
        EXPECT_EQ(h.Last().values, TRegValues{0x1234});
        ASSERT_TRUE(h.events.RunUntil([&] { return !h.receivedFrames.empty(); }, 5s));
        EXPECT_EQ(Hex(h.receivedFrames.back()), Hex(kGoodReply));  // the reply only, never the echo
    } else if (c.reply == trNoReply) {
        EXPECT_EQ(h.Last().values, TRegValues{0});
        EXPECT_TRUE(h.receivedFrames.empty());
    }
    const auto took = MsBetween(requests[0].at, h.Last().at);
    EXPECT_LT(took, c.fasterMs);
    EXPECT_GE(took, c.slowerMs);
}

const Bytes kBadCrc = HexBytes("01 03 02 12 34 00 00");
const Bytes kEchoAndReply = Concat(kReadReq, kGoodReply);

// A silent interval of 400 characters at 19200 baud (209 ms) tells an end by length from silence.
INSTANTIATE_TEST_SUITE_P(
    Engine, EngineExchange,
    ::testing::Combine(::testing::Values(
        // Only a missing or invalid reply is asked again, after the time-out and the refetch delay.
        ExchangeCase{.name = "SilentServer", .answers = {}, .reply = trNoReply, .attempts = 3, .retries = 3, .timeoutMs = 150,
                     .refetchMs = 60, .slowerMs = 3 * 150 + 2 * 60 - 10},
        ExchangeCase{.name = "WrongFunctionNotRetried", .answers = {One(RtuFrame(1, RegistersPdu(4, {1})))},
                     .reply = trUnmatchedReply, .retries = 3, .timeoutMs = 150},
        ExchangeCase{.name = "ExceptionNotRetried", .answers = {One(RtuFrame(1, ExceptionPdu(3, 2)))},
                     .reply = trExceptionReply, .retries = 3, .timeoutMs = 150},
        ExchangeCase{.name = "BadCrcRetried", .answers = {One(kBadCrc), One(kGoodReply)}, .reply = trSuccess,
                     .attempts = 2, .retries = 3, .timeoutMs = 150},
        ExchangeCase{.name = "GarbageEveryTime", .answers = {One({0xFF}), One({0xFF}), One({0xFF})},
                     .reply = trInvalidFrame, .attempts = 3, .retries = 3, .timeoutMs = 150},
        // A frame from another server restarts the full wait: the reply comes 220 ms after the request.
        ExchangeCase{.name = "OtherServerRestartsTheWait",
                     .answers = {{{RtuFrame(5, RegistersPdu(3, {7})), 100}, {kGoodReply, 120}}},
                     .reply = trSuccess, .timeoutMs = 150, .slowerMs = 200},
        // The echo of the request is removed before decoding.
        ExchangeCase{.name = "EchoAndReplyInOneBurst", .answers = {One(kEchoAndReply)}, .reply = trSuccess,
                     .timeoutMs = 300, .echo = true},
        ExchangeCase{.name = "EchoAloneThenReply", .answers = {{{kReadReq, 0}, {kGoodReply, 80}}},
                     .reply = trSuccess, .timeoutMs = 300, .echo = true},
        ExchangeCase{.name = "EchoExpectedButAbsent", .answers = {One(kGoodReply)}, .reply = trSuccess,
                     .timeoutMs = 300, .echo = true},
        ExchangeCase{.name = "EchoNotExpected", .answers = {One(kEchoAndReply)}, .reply = trInvalidFrame,
                     .timeoutMs = 300},
        // 19200 8E1: a silent interval of 16 ms ends the frame.
        ExchangeCase{.name = "ShortGapsJoin", .answers = {InPairs(4)}, .reply = trSuccess},
        ExchangeCase{.name = "LongGapSplits", .answers = {InPairs(60)}, .reply = trInvalidFrame},
        // Whole frames end by their length, anything else by silence.
        ExchangeCase{.name = "GoodReplyByLength", .answers = {One(kGoodReply)}, .reply = trSuccess, .silent = 400,
                     .byLength = true, .fasterMs = 150},
        ExchangeCase{.name = "GoodReplyBySilence", .answers = {One(kGoodReply)}, .reply = trSuccess, .silent = 400,
                     .slowerMs = 200},
        ExchangeCase{.name = "SplitReplyWaitsForTheRest",
                     .answers = {{{Bytes(kGoodReply.begin(), kGoodReply.begin() + 3), 0},
                                  {Bytes(kGoodReply.begin() + 3, kGoodReply.end()), 30}}},
                     .reply = trSuccess, .silent = 400, .byLength = true, .fasterMs = 150},
        ExchangeCase{.name = "EchoThenReplyByLength", .answers = {One(kEchoAndReply)}, .reply = trSuccess,
                     .silent = 400, .echo = true, .byLength = true, .fasterMs = 150},
        ExchangeCase{.name = "BadCrcEndsAtSilence", .answers = {One(kBadCrc)}, .reply = trInvalidFrame,
                     .silent = 400, .byLength = true, .slowerMs = 200},
        ExchangeCase{.name = "TrailingByteEndsAtSilence", .answers = {One(Concat(kGoodReply, {0xFF}))},
                     .reply = trInvalidFrame, .silent = 400, .byLength = true, .slowerMs = 200}),
        BothPaths()),
    [](const auto& info) { return CaseOnPath(info); });

// After a reply ended by its length the engine waits 4 characters (34 ms at 1200 8E1) to send again.
TEST_P(EnginePath, NextRequestWaitsTheGapAfterTheReplysLastByte)
{
    SerialHarness h(GetParam());
    h.connection.SetBaudRate(br1200);
    h.connection.SetEndFrameByLength(true);
    // The meter answers after the request's wire time (73 ms at 1200 baud), as on a real line.
    ScriptedPeer peer(h.pty, [](const Bytes&) { return Pieces{{kGoodReply, 100}}; });
    h.Open();
    ASSERT_EQ(h.pty.SlaveBaud(), 1200u);
    for (int i = 0; i < 3; ++i)
        h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(3));
    const auto requests = peer.Requests();
    const auto answers = peer.AnswerEnds();
    ASSERT_EQ(requests.size(), 3u);
    ASSERT_GE(answers.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(h.results[i].info.Reply, trSuccess);
        EXPECT_GE(MsBetween(answers[i], requests[i + 1].at), 34) << "after reply " << i;
    }
}

// A broadcast waits the turnaround delay silently; a raising handler is shown and the engine goes on.
TEST_P(EnginePath, BroadcastThenARaisingHandler)
{
    SerialHarness h(GetParam());
    h.connection.SetTurnaroundDelay(120);
    ScriptedPeer peer(h.pty, [](const Bytes& request) { return request[0] == 0 ? Pieces{} : One(kGoodReply); });
    h.Open();
    TModbusClient everyone;
    everyone.SetConnection(&h.connection);
    everyone.SetServerAddress(0);
    int broadcastEvents = 0;
    everyone.OnTransactionProcessed = [&](auto&&...) { ++broadcastEvents; };
    everyone.WriteSingleRegister(5, 1);
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.Last().command, 3);
    const auto req = peer.Requests();
    ASSERT_EQ(req.size(), 2u);
    EXPECT_EQ(Hex(req[0].bytes), Hex(RtuFrame(0, Pdu(6, {5, 1}))));
    EXPECT_GE(MsBetween(req[0].at, req[1].at), 120 - 10);
    EXPECT_EQ(h.receivedFrames.size(), 1u);  // the broadcast got no receive notice
    EXPECT_EQ(broadcastEvents, 0);

    h.connection.SetOnFrameReceive(nullptr);
    int processed = 0;
    h.client.OnTransactionProcessed = [&](auto&&...) { ++processed; };
    auto keep = h.client.OnHoldingRegistersRead;
    h.client.OnHoldingRegistersRead = [](auto&&...) { throw std::runtime_error("handler failed"); };
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.events.RunUntil([&] { return !h.exceptions.empty(); }, 5s));
    EXPECT_EQ(h.exceptions[0], "handler failed");
    EXPECT_EQ(processed, 0);  // the dispatch ended with the exception
    const size_t sent = h.sentFrames.size();
    h.client.OnHoldingRegistersRead = keep;
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(2));
    EXPECT_EQ(h.Last().info.Reply, trSuccess);
    ASSERT_EQ(h.sentFrames.size(), sent + 1);
    EXPECT_EQ(Hex(h.sentFrames.back()), Hex(kReadReq));
    EXPECT_EQ(h.receivedFrames.size(), 1u);
}


// Closing or a new server address drops queued requests and the one on the line, without events.
TEST(EngineQueue, CloseOrNewAddressDropsQueuedRequestsWithoutEvents)
{
    for (const bool close : {true, false}) {
        SCOPED_TRACE(close ? "close" : "new address");
        SerialHarness h;
        ScriptedPeer peer(h.pty, [](const Bytes&) { return Pieces{{kGoodReply, 150}}; });
        h.Open();
        for (int i = 0; i < 10; ++i)
            h.client.ReadHoldingRegisters(0, 1);
        for (int i = 0; i < 1000 && peer.RequestCount() == 0; ++i)
            std::this_thread::sleep_for(2ms);
        ASSERT_EQ(peer.RequestCount(), 1u);
        if (close)
            h.connection.Close();
        else
            h.client.SetServerAddress(2);
        EXPECT_EQ(h.connection.Active(), !close);
        h.events.RunUntil([] { return false; }, 400ms);
        EXPECT_EQ(peer.RequestCount(), 1u);
        EXPECT_TRUE(h.results.empty());
    }
}

// An event on the caller's thread may close the line, queued or mid-transaction; the next open works.
TEST(EngineSynchronous, ClosingFromAnEventEndsTheRunAndLosesNothingElse)
{
    SerialHarness h(Path::Synchronous);
    ScriptedPeer peer(h.pty, Device(tmRTU));
    h.Open();
    h.client.OnTransactionProcessed = [&](TModbusClient& c, const TTransactionInfo&, uint8_t, bool) {
        if (h.results.size() == 1) {
            for (int i = 0; i < 3; ++i)
                c.ReadHoldingRegisters(0, 1);
            EXPECT_EQ(h.connection.QueuedTransactions(), 3u);
            h.connection.Close();
        }
    };
    h.client.ReadHoldingRegisters(0, 1);
    EXPECT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.connection.QueuedTransactions(), 0u);
    EXPECT_EQ(peer.RequestCount(), 1u);

    h.client.OnTransactionProcessed = nullptr;
    h.connection.SetOnFrameSend([&](TModbusConnection& c, const TFrameData&) { c.Close(); });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    EXPECT_FALSE(h.connection.Active());
    EXPECT_EQ(h.results.size(), 1u);

    h.connection.SetOnFrameSend(nullptr);
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_EQ(h.results.size(), 2u);
    EXPECT_EQ(h.Last().info.Reply, trSuccess);
    EXPECT_EQ(peer.RequestCount(), 2u);
}

TEST_P(EnginePath, VanishedDeviceEndsAsNoReplyWithoutSpinning)
{
    SerialHarness h(GetParam());
    h.connection.SetReceiveTimeout(2000);
    h.connection.SetMaxRetries(3);
    int lost = 0;
    size_t resultsWhenLost = 0;
    h.connection.OnLineLost = [&](TModbusConnection&) {
        ++lost;
        resultsWhenLost = h.results.size();
    };
    h.Open();
    std::atomic<bool> heard{false};
    std::thread unplug([&] {
        heard = !h.pty.ReadFrame(1000).empty();
        h.pty.CloseMaster();
    });
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1, 10s));
    unplug.join();
    EXPECT_TRUE(heard.load());
    EXPECT_EQ(h.Last().info.Reply, trNoReply);
    EXPECT_EQ(h.Last().info.Attempts, 1u);  // retrying a device that has gone repeats the failure
    EXPECT_TRUE(h.connection.LineLost());

    h.client.ReadHoldingRegisters(0, 1);  // the worker is still there
    ASSERT_TRUE(h.WaitResults(2, 10s));
    EXPECT_EQ(h.Last().info.Reply, trNoReply);
    ASSERT_TRUE(h.events.RunUntil([&] { return lost > 0; }, 5s));
    EXPECT_EQ(lost, 1);  // once per opening, after the result it explains
    EXPECT_EQ(resultsWhenLost, 1u);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_LT(CpuSeconds() - cpu0, 0.2 + wall * 0.2);
    h.connection.Close();
    EXPECT_FALSE(h.connection.Active());
}

TEST(EngineServer, RequestsAreReceivedNeverAnsweredAndClientRequestsNeverSent)
{
    SerialHarness h;
    h.connection.SetConnectionMode(cmServer);
    int discarded = 0;
    h.connection.OnInvalidFrameDiscard = [&](TModbusConnection&) { ++discarded; };
    std::atomic<int> sendEvents{0};
    h.connection.OnAfterFrameSendAsync = [&](TModbusConnection&) { ++sendEvents; };
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);  // queued, never taken
    // The worker purges the line when it starts: offer the request until it has been heard.
    for (int i = 0; i < 50 && h.receivedFrames.empty(); ++i) {
        h.pty.Write(kReadReq);
        h.events.RunUntil([&] { return !h.receivedFrames.empty(); }, 1000ms);
    }
    ASSERT_FALSE(h.receivedFrames.empty());
    EXPECT_EQ(Hex(h.receivedFrames[0]), Hex(kReadReq));
    // It purges the line before its (empty) answer: write the next frame after that.
    ASSERT_TRUE(h.events.RunUntil([&] { return sendEvents.load() >= 1; }, 5s));
    const int discardedBefore = discarded;
    h.pty.Write(HexBytes("01 03 00 00 00 01 00 00"));
    ASSERT_TRUE(h.events.RunUntil([&] { return discarded == discardedBefore + 1; }, 5s));
    EXPECT_TRUE(h.pty.ReadFrame(100).empty());  // nothing written back
    EXPECT_EQ(h.connection.QueuedTransactions(), 1u);
    h.connection.Close();
    h.events.RunUntil([] { return false; }, 50ms);
    EXPECT_TRUE(h.results.empty());
    // Each good request ran the send procedure once, with an empty reply.
    EXPECT_EQ(sendEvents.load(), std::count(h.receivedFrames.begin(), h.receivedFrames.end(), kReadReq));
}
