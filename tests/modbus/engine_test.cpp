// The transaction engine over a real pty, on the worker thread and on the caller's thread:
// attempts, timing, echo, foreign frames, broadcast, closing, a device that goes away, and
// server mode.
#include "ModbusError.h"
#include "SerialHarness.h"
#include "TransactionThread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

using namespace modbus;
using namespace testing_support;
using namespace std::chrono_literals;
using Piece = ScriptedPeer::Piece;

namespace {

const Bytes kReadReq = HexBytes("01 03 00 00 00 01 84 0A");
const Bytes kGoodReply = WithCrc(HexBytes("01 03 02 12 34"));

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long long MsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

class EnginePath : public ::testing::TestWithParam<Path> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Engine, EnginePath, BothPaths(),
                         [](const auto& info) { return PathName(info.param); });

TEST_P(EnginePath, SilentServerIsAskedMaxRetriesTimesWithTimeoutAndRefetchBetween)
{
    SerialHarness h(GetParam());
    h.connection.SetMaxRetries(3);
    h.connection.SetReceiveTimeout(150);
    h.connection.SetRefetchDelay(60);
    ScriptedPeer peer(h.pty, Silent());
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, trNoReply);
    EXPECT_EQ(h.Last().info.Attempts, 3u);
    EXPECT_EQ(h.Last().values, TRegValues{0});
    const auto req = peer.Requests();
    ASSERT_EQ(req.size(), 3u);
    for (size_t i = 1; i < req.size(); ++i) {
        EXPECT_EQ(req[i].bytes, kReadReq);
        EXPECT_GE(MsBetween(req[i - 1].at, req[i].at), 150 + 60 - 10);
    }
    EXPECT_EQ(h.sentFrames.size(), 3u);
    EXPECT_TRUE(h.receivedFrames.empty());
}

struct OutcomeCase {
    const char* name;
    std::vector<Bytes> replies;  // one per attempt, in order; empty = silence
    TTransactionReply reply;
    uint32_t attempts;
};

class EngineOutcome : public ::testing::TestWithParam<std::tuple<OutcomeCase, Path>> {};

TEST_P(EngineOutcome, RetriesOnlyMissingOrInvalidReplies)
{
    const auto& [c, path] = GetParam();
    SerialHarness h(path);
    h.connection.SetMaxRetries(3);
    h.connection.SetReceiveTimeout(150);
    size_t attempt = 0;
    ScriptedPeer peer(h.pty, [&](const Bytes&) {
        const Bytes r = attempt < c.replies.size() ? c.replies[attempt] : Bytes{};
        ++attempt;
        return r.empty() ? std::vector<Piece>{} : std::vector<Piece>{{r, 0}};
    });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, c.reply);
    EXPECT_EQ(h.Last().info.Attempts, c.attempts);
    EXPECT_EQ(peer.RequestCount(), c.attempts);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, EngineOutcome,
    ::testing::Combine(::testing::Values(
        OutcomeCase{"WrongFunctionNotRetried", {WithCrc(HexBytes("01 04 02 00 01"))}, trUnmatchedReply, 1},
        OutcomeCase{"ExceptionNotRetried", {WithCrc(HexBytes("01 83 02"))}, trExceptionReply, 1},
        OutcomeCase{"BadCrcRetried", {HexBytes("01 03 02 12 34 00 00"), kGoodReply}, trSuccess, 2},
        OutcomeCase{"SilenceThenGood", {{}, {}, kGoodReply}, trSuccess, 3},
        OutcomeCase{"GarbageEveryTime", {HexBytes("FF"), HexBytes("FF"), HexBytes("FF")}, trInvalidFrame, 3}),
        BothPaths()),
    [](const auto& info) { return CaseOnPath(info); });

struct EchoCase {
    const char* name;
    bool echoSetting;
    std::vector<Piece> pieces;
    TTransactionReply reply;
};

class EngineEcho : public ::testing::TestWithParam<std::tuple<EchoCase, Path>> {};

TEST_P(EngineEcho, EchoIsRemovedBeforeDecoding)
{
    const auto& [c, path] = GetParam();
    SerialHarness h(path);
    h.connection.SetEchoQueryBeforeReply(c.echoSetting);
    h.connection.SetReceiveTimeout(300);
    ScriptedPeer peer(h.pty, [&](const Bytes&) { return c.pieces; });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, c.reply);
    if (c.reply == trSuccess) {
        EXPECT_EQ(h.Last().values, TRegValues{0x1234});
        ASSERT_TRUE(h.Pump([&] { return !h.receivedFrames.empty(); }));
        EXPECT_EQ(Hex(h.receivedFrames.back()), Hex(kGoodReply));  // the reply only
    }
}

Bytes Join(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Engine, EngineEcho,
    ::testing::Combine(::testing::Values(
        EchoCase{"EchoAndReplyInOneBurst", true, {{Join(kReadReq, kGoodReply), 0}}, trSuccess},
        EchoCase{"EchoAloneThenReply", true, {{kReadReq, 0}, {kGoodReply, 80}}, trSuccess},
        EchoCase{"EchoExpectedButAbsent", true, {{kGoodReply, 0}}, trSuccess},
        EchoCase{"EchoNotExpected", false, {{Join(kReadReq, kGoodReply), 0}}, trInvalidFrame}),
        BothPaths()),
    [](const auto& info) { return CaseOnPath(info); });

TEST_P(EnginePath, FrameFromAnotherServerRestartsTheFullWait)
{
    SerialHarness h(GetParam());
    h.connection.SetReceiveTimeout(150);
    ScriptedPeer peer(h.pty, [](const Bytes&) {
        return std::vector<Piece>{{WithCrc(HexBytes("05 03 02 00 07")), 100}, {kGoodReply, 120}};
    });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, trSuccess);  // 220 ms after sending, beyond one time-out
    EXPECT_EQ(h.Last().values, TRegValues{0x1234});
}

struct PiecesCase {
    const char* name;
    int gapMs;
    TTransactionReply reply;
};

class EngineGaps : public ::testing::TestWithParam<std::tuple<PiecesCase, Path>> {};

TEST_P(EngineGaps, SilentIntervalEndsTheFrame)
{
    const auto& [c, path] = GetParam();
    SerialHarness h(path);  // 19200 8E1: 16 ms
    ScriptedPeer peer(h.pty, [&](const Bytes&) {
        std::vector<Piece> pieces;
        for (size_t i = 0; i < kGoodReply.size(); i += 2)
            pieces.push_back({Bytes(kGoodReply.begin() + static_cast<long>(i),
                                    kGoodReply.begin() + static_cast<long>(std::min(i + 2, kGoodReply.size()))),
                              i ? c.gapMs : 0});
        return pieces;
    });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, c.reply);
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineGaps,
                         ::testing::Combine(::testing::Values(PiecesCase{"ShortGapsJoin", 4, trSuccess},
                                                              PiecesCase{"LongGapSplits", 60, trInvalidFrame}),
                                            BothPaths()),
                         [](const auto& info) { return CaseOnPath(info); });

struct InterFrameGapCase {
    const char* name;
    TBaudRate baud;
    uint32_t bitsPerSecond;
    long long gapMs;  // 8E1: the silent interval of 4 characters, longer than 3.5 characters
};

class EngineInterFrameGap : public ::testing::TestWithParam<std::tuple<InterFrameGapCase, Path>> {};

// A reply that ends as soon as it is whole leaves the line silent only as long as the engine
// waits before the next request.
TEST_P(EngineInterFrameGap, NextRequestWaitsTheGapAfterTheReplysLastByte)
{
    const auto& [c, path] = GetParam();
    SerialHarness h(path);
    h.connection.SetBaudRate(c.baud);
    h.connection.SetEndFrameByLength(true);
    // A pty delivers the request at once; the meter answers after the request's wire time
    // (73 ms at 1200 baud) has passed, as on a real line.
    ScriptedPeer peer(h.pty, [](const Bytes&) { return std::vector<Piece>{{kGoodReply, 100}}; });
    h.Open();
    ASSERT_EQ(h.pty.SlaveBaud(), c.bitsPerSecond);
    for (int i = 0; i < 3; ++i)
        h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(3));
    const auto requests = peer.Requests();
    const auto answers = peer.AnswerEnds();
    ASSERT_EQ(requests.size(), 3u);
    ASSERT_GE(answers.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(h.results[i].info.Reply, trSuccess);
        EXPECT_GE(MsBetween(answers[i], requests[i + 1].at), c.gapMs) << "after reply " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineInterFrameGap,
                         ::testing::Combine(::testing::Values(InterFrameGapCase{"At1200", br1200, 1200, 34},
                                                              InterFrameGapCase{"At19200", br19200, 19200, 16}),
                                            BothPaths()),
                         [](const auto& info) { return CaseOnPath(info); });

TEST_P(EnginePath, BroadcastSleepsTurnaroundAndReportsNothing)
{
    SerialHarness h(GetParam());
    h.connection.SetTurnaroundDelay(120);
    ScriptedPeer peer(h.pty, [](const Bytes& request) {
        return request[0] == 0 ? std::vector<Piece>{} : std::vector<Piece>{{kGoodReply, 0}};
    });
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
    EXPECT_EQ(req[0].bytes[0], 0);
    EXPECT_GE(MsBetween(req[0].at, req[1].at), 120 - 10);
    EXPECT_EQ(h.receivedFrames.size(), 1u);  // the broadcast got no receive notice
    EXPECT_EQ(broadcastEvents, 0);
}

TEST(EngineClose, QueuedTransactionsAreFreedWithoutEvents)
{
    SerialHarness h;
    ScriptedPeer peer(h.pty, [](const Bytes&) { return std::vector<Piece>{{kGoodReply, 150}}; });
    h.Open();
    for (int i = 0; i < 10; ++i)
        h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(peer.WaitForRequests(1, 2s));
    h.connection.Close();  // waits for the one on the line
    EXPECT_FALSE(h.connection.Active());
    EXPECT_EQ(peer.RequestCount(), 1u);
    h.events.RunUntil([] { return false; }, 100ms);
    EXPECT_TRUE(h.results.empty());
}

// On the caller's thread an event may close the line in the middle of a transaction (the sent
// frame's event) or with requests queued behind it (a result event): the attempt ends, the queued
// requests go without events, and the next open works.
TEST(EngineSynchronous, ClosingFromAnEventEndsTheRunAndLosesNothingElse)
{
    SerialHarness h(Path::Synchronous);
    ScriptedPeer peer(h.pty, Always(kGoodReply));
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

TEST_P(EnginePath, OnlyAssignedFrameEventsAreRaised)
{
    SerialHarness h(GetParam());
    h.connection.SetOnFrameReceive(nullptr);
    ScriptedPeer peer(h.pty, Always(kGoodReply));
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.sentFrames.size(), 1u);
    EXPECT_EQ(Hex(h.sentFrames[0]), Hex(kReadReq));
    EXPECT_TRUE(h.receivedFrames.empty());
}

TEST_P(EnginePath, ExceptionInHandlerIsShownAndTheEngineGoesOn)
{
    SerialHarness h(GetParam());
    ScriptedPeer peer(h.pty, Always(kGoodReply));
    h.Open();
    int processed = 0;
    h.client.OnTransactionProcessed = [&](TModbusClient&, const TTransactionInfo&, uint8_t, bool) {
        ++processed;
    };
    auto keep = h.client.OnHoldingRegistersRead;
    h.client.OnHoldingRegistersRead = [](auto&&...) { throw std::runtime_error("handler failed"); };
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.Pump([&] { return !h.exceptions.empty(); }));
    EXPECT_EQ(h.exceptions[0], "handler failed");
    EXPECT_EQ(processed, 0);  // the dispatch ended with the exception
    h.client.OnHoldingRegistersRead = keep;
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, trSuccess);
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
    ASSERT_TRUE(h.Pump([&] { return lost > 0; }));
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
    // The worker purges the line when it starts; offer the request until it has been heard.
    for (int i = 0; i < 50 && h.receivedFrames.empty(); ++i) {
        h.pty.Write(kReadReq);
        h.Pump([&] { return !h.receivedFrames.empty(); }, 1000ms);
    }
    ASSERT_FALSE(h.receivedFrames.empty());
    EXPECT_EQ(Hex(h.receivedFrames[0]), Hex(kReadReq));
    // The worker purges the line before its (empty) answer; write the next frame after that.
    ASSERT_TRUE(h.Pump([&] { return sendEvents.load() >= 1; }));
    const int discardedBefore = discarded;
    h.pty.Write(HexBytes("01 03 00 00 00 01 00 00"));
    ASSERT_TRUE(h.Pump([&] { return discarded == discardedBefore + 1; }));
    EXPECT_TRUE(h.pty.ReadFrame(100).empty());  // nothing written back
    EXPECT_EQ(h.connection.QueuedTransactions(), 1u);
    h.connection.Close();
    h.events.RunUntil([] { return false; }, 50ms);
    EXPECT_TRUE(h.results.empty());
    // Each good request ran the send procedure once, with an empty reply.
    EXPECT_EQ(sendEvents.load(), std::count(h.receivedFrames.begin(), h.receivedFrames.end(), kReadReq));
}

struct FrameEndCase {
    const char* name;
    bool byLength;
    bool echo;
    std::vector<Piece> pieces;
    TTransactionReply reply;
    bool endsBeforeSilence;
};

class EngineFrameEnd : public ::testing::TestWithParam<std::tuple<FrameEndCase, Path>> {};

// A silent interval of 400 characters at 19200 baud is 209 ms: long enough to tell an end by
// length from an end by silence.
TEST_P(EngineFrameEnd, WholeFramesEndByLengthAnythingElseBySilence)
{
    const auto& [c, path] = GetParam();
    SerialHarness h(path);
    h.connection.SetSilentInterval(400);
    h.connection.SetEndFrameByLength(c.byLength);
    h.connection.SetEchoQueryBeforeReply(c.echo);
    ScriptedPeer peer(h.pty, [&](const Bytes&) { return c.pieces; });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, c.reply);
    const auto sent = peer.Requests().at(0).at;
    const auto took = MsBetween(sent, h.Last().at);
    if (c.endsBeforeSilence)
        EXPECT_LT(took, 150);
    else
        EXPECT_GE(took, 200);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, EngineFrameEnd,
    ::testing::Combine(::testing::Values(
        FrameEndCase{"GoodReplyByLength", true, false, {{kGoodReply, 0}}, trSuccess, true},
        FrameEndCase{"GoodReplyBySilence", false, false, {{kGoodReply, 0}}, trSuccess, false},
        FrameEndCase{"ExceptionByLength", true, false, {{WithCrc(HexBytes("01 83 02")), 0}}, trExceptionReply, true},
        FrameEndCase{"SplitReplyWaitsForTheRest", true, false,
                     {{Bytes(kGoodReply.begin(), kGoodReply.begin() + 3), 0},
                      {Bytes(kGoodReply.begin() + 3, kGoodReply.end()), 30}},
                     trSuccess, true},
        FrameEndCase{"EchoThenReplyByLength", true, true, {{Join(kReadReq, kGoodReply), 0}}, trSuccess, true},
        FrameEndCase{"BadCrcEndsAtSilence", true, false, {{HexBytes("01 03 02 12 34 00 00"), 0}}, trInvalidFrame, false},
        FrameEndCase{"TrailingByteEndsAtSilence", true, false, {{Join(kGoodReply, HexBytes("FF")), 0}}, trInvalidFrame, false}),
        BothPaths()),
    [](const auto& info) { return CaseOnPath(info); });
