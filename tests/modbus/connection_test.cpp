// The serial connection: property rules, open and close, line settings on a live pty, the
// silent interval, the ASCII receiver and RTS toggling.
#include "Expect.h"
#include "ModbusError.h"
#include "SerialHarness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <condition_variable>
#include <mutex>
#include <unistd.h>

using namespace modbus;
using namespace testing_support;
using namespace std::chrono_literals;

TEST(ConnectionDefaults, AsDocumented)
{
    EventQueue events;
    TModbusConnection c(events);
    EXPECT_FALSE(c.Active());
    EXPECT_EQ(c.BaudRate(), br19200);
    EXPECT_EQ(c.ConnectionMode(), cmClient);
    EXPECT_EQ(c.CustomBaudRate(), 19200u);
    EXPECT_EQ(c.DataBits(), db8);
    EXPECT_TRUE(c.DTREnabled());
    EXPECT_FALSE(c.EchoQueryBeforeReply());
    EXPECT_EQ(c.FlowControl(), fcNone);
    EXPECT_EQ(c.InputBufferSize(), 1024);
    EXPECT_EQ(c.MaxRetries(), 1u);
    EXPECT_EQ(c.Parity(), psEven);
    EXPECT_EQ(c.Port(), "COM1");
    EXPECT_EQ(c.ReceiveTimeout(), 1000u);
    EXPECT_EQ(c.RefetchDelay(), 0u);
    EXPECT_EQ(c.SendTimeout(), 1000u);
    EXPECT_EQ(c.SilentInterval(), 4u);
    EXPECT_EQ(c.StopBits(), sb1);
    EXPECT_EQ(c.TransmissionMode(), tmRTU);
    EXPECT_EQ(c.TurnaroundDelay(), 100u);
}

struct SilentCase {
    TTransmissionMode mode;
    uint32_t silent, baud;
    TDataBits data;
    TParityScheme parity;
    TStopBits stop;
    uint32_t expectedMs;
    uint32_t gapMs;
};

class ConnectionSilentInterval : public ::testing::TestWithParam<SilentCase> {};

TEST_P(ConnectionSilentInterval, ComputedFromLineSettings)
{
    const SilentCase& c = GetParam();
    EXPECT_EQ(ComputeEffectiveSilentInterval(c.mode, c.silent, c.baud, c.data, c.parity, c.stop), c.expectedMs);
    EXPECT_EQ(ComputeInterFrameGap(c.mode, c.silent, c.baud, c.data, c.parity, c.stop), c.gapMs);
}

INSTANTIATE_TEST_SUITE_P(
    Connection, ConnectionSilentInterval,
    // Gap: 3.5 characters with their start bit, or the silent interval if longer.
    ::testing::Values(SilentCase{tmRTU, 4, 19200, db8, psEven, sb1, 16, 16},  // 2.08 -> 3 -> 16; 2.01
                      SilentCase{tmRTU, 4, 1200, db8, psEven, sb1, 34, 34},   // 33.3 -> 34; 32.1
                      SilentCase{tmRTU, 1, 1200, db8, psNone, sb1, 16, 30},   // 7.5 -> 8 -> 16; 29.2 -> 30
                      SilentCase{tmRTU, 10, 1200, db7, psNone, sb1, 67, 67},  // 66.7 -> 67; 26.3
                      SilentCase{tmRTU, 40, 9600, db8, psOdd, sb2, 46, 46},   // 45.8 -> 46; 4.4
                      SilentCase{tmASCII, 50, 19200, db8, psEven, sb1, 50, 0},
                      SilentCase{tmASCII, 5, 1200, db8, psEven, sb1, 16, 0}));


// Opening: the events around it, a missing or busy port, and a handle hooked from its owner.
TEST(ConnectionOpen, EventsRefusalsAndHookedHandles)
{
    EventQueue events;
    TModbusConnection missing(events);
    std::vector<std::string> calls;
    missing.OnBeforeOpen = [&](TModbusConnection&) { calls.push_back("before"); };
    missing.OnAfterOpen = [&](TModbusConnection&) { calls.push_back("after"); };
    missing.SetPort("/dev/tarnwick-no-such-port");
    try {
        missing.Open();
        ADD_FAILURE() << "opened";
    } catch (const EModbusError& e) {
        EXPECT_STREQ(e.what(), "Could not open serial port");
        EXPECT_NE(e.Reason().find("No such file or directory"), std::string::npos) << e.Reason();
    }
    EXPECT_FALSE(missing.Active());
    EXPECT_EQ(calls, std::vector<std::string>{"before"});

    SerialHarness h;
    std::vector<bool> seen;
    h.connection.OnAfterOpen = [&](TModbusConnection& c) { seen.push_back(c.Active()); };
    h.connection.OnAfterClose = [&](TModbusConnection& c) { seen.push_back(c.Active()); };
    h.Open();
    EXPECT_TRUE(h.connection.Active());
    TModbusConnection second(events);
    second.SetPort(h.pty.SlavePath());
    EXPECT_EQ(ErrorOf([&] { second.Open(); }), "Could not open serial port");
    h.connection.Close();
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));

    const int fd = ::open(h.pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    h.connection.SetHookExistingPort(true);
    h.connection.OnGetHookedPortHandle = [fd](TModbusConnection&, int& handle) { handle = fd; };
    h.Open();
    h.connection.Close();
    EXPECT_NE(::fcntl(fd, F_GETFD), -1);  // left open for its owner
    ::close(fd);
    h.connection.OnGetHookedPortHandle = nullptr;
    EXPECT_EQ(ErrorOf([&] { h.Open(); }), "Could not open serial port");
}

TEST(ConnectionProperties, SettersOfAnOpenPort)
{
    SerialHarness h;
    h.Open();
    const std::string busy = "Connection must NOT be active for the requested action to be performed";
    EXPECT_EQ(ErrorOf([&] { h.connection.SetPort("/dev/null"); }), busy);
    EXPECT_EQ(h.connection.Port(), h.pty.SlavePath());
    EXPECT_EQ(ErrorOf([&] { h.connection.SetPort(h.pty.SlavePath()); }), "");  // same name
    EXPECT_EQ(ErrorOf([&] { h.connection.SetTransmissionMode(tmASCII); }), busy);
    EXPECT_EQ(ErrorOf([&] { h.connection.SetFlowControl(fcRtsToggle); }), busy);
    EXPECT_EQ(ErrorOf([&] { h.connection.SetConnectionMode(cmServer); }), busy);
    EXPECT_EQ(ErrorOf([&] { h.connection.SetMaxRetries(0); }), "Value must be between 1 and 4294967295");
    EXPECT_EQ(h.connection.MaxRetries(), 1u);

    // Line settings reprogram the open port.
    EXPECT_EQ(h.pty.SlaveBaud(), 19200u);
    h.connection.SetBaudRate(br9600);
    EXPECT_TRUE(h.connection.Active());
    EXPECT_EQ(h.pty.SlaveBaud(), 9600u);
    // A pty cannot carry parity; changing only the parity must not fail the line.
    EXPECT_EQ(ErrorOf([&] { h.connection.SetParity(psNone); }), "");
    EXPECT_EQ(ErrorOf([&] { h.connection.SetParity(psOdd); }), "");
    h.connection.SetCustomBaudRate(56000);
    EXPECT_EQ(h.connection.BaudRate(), brCustom);
    EXPECT_EQ(h.connection.LineBaud(), 56000u);
    h.connection.SetBaudRate(br1200);
    EXPECT_EQ(h.connection.EffectiveSilentInterval(), 34u);  // 8O1 at 1200
}

// Bytes arrive as the line delivered them, also those with a parity or framing error: the
// checksum decides. With input parity checking the kernel would hand over 0x00 instead.
TEST(ConnectionLine, RawModeDeliversEveryByteAsRead)
{
    const struct {
        TParityScheme parity;
        TStopBits stop;
        TFlowControl flow;
    } cases[] = {{psEven, sb1, fcNone}, {psOdd, sb2, fcRtsCts}, {psNone, sb2, fcRtsToggle}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parity);
        SerialHarness h;
        h.connection.SetParity(c.parity);
        h.connection.SetStopBits(c.stop);
        h.connection.SetFlowControl(c.flow);
        h.Open();
        const termios t = h.pty.SlaveTermios();
        EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR | PARMRK | ISTRIP | IGNBRK | BRKINT | INLCR | IGNCR | ICRNL |
                               IXON | IXOFF | IXANY),
                  0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stop == sb2);
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.flow == fcRtsCts);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
    }
}

namespace {

class ConnectionPath : public ::testing::TestWithParam<Path> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Connection, ConnectionPath, BothPaths(), [](const auto& info) { return PathName(info.param); });

TEST_P(ConnectionPath, AsciiIncompleteFrameEndsAtTheSilentIntervalAndIsInvalid)
{
    SerialHarness h(GetParam(), tmASCII);
    h.connection.SetSilentInterval(40);
    ScriptedPeer peer(h.pty, [](const Bytes&) {
        return std::vector<ScriptedPeer::Piece>{{Ascii("xy:01"), 0}, {Ascii("03"), 200}};
    });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, trInvalidFrame);
    ASSERT_FALSE(h.receivedFrames.empty());
    EXPECT_EQ(Hex(h.receivedFrames[0]), Hex(Ascii(":01")));
}

TEST_P(ConnectionPath, AsciiStrayBytesDoNotExtendTheWaitForAFrame)
{
    SerialHarness h(GetParam(), tmASCII);
    h.connection.SetReceiveTimeout(300);
    ScriptedPeer peer(h.pty, [](const Bytes&) { return std::vector<ScriptedPeer::Piece>(40, {Ascii("?"), 20}); });
    h.Open();
    const auto t0 = Clock::now();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, trNoReply);
    EXPECT_LT(Clock::now() - t0, 700ms);
}

// A real pty port that logs what the connection does to the line. With `stalled` it plays a
// transmitter held by CTS: the driver accepts the bytes and keeps them queued until the output
// is purged (a pty cannot stall: its queue reads empty and its drain returns at once). The log
// outlives the port, which the connection destroys when it closes.
struct LineLog {
    bool stalled = false;
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::pair<std::string, Clock::time_point>> events;
    int queued = 0, writes = 0, purgedWhileQueued = 0;
};

class InstrumentedPort : public ISerialPort {
public:
    explicit InstrumentedPort(LineLog& log) : real_(CreatePosixSerialPort()), log_(log) {}
    void Open(const std::string& n) override { real_->Open(n); }
    void Hook(int fd) override { real_->Hook(fd); }
    void Close() override { real_->Close(); }
    bool IsOpen() const override { return real_->IsOpen(); }
    bool Configure(const LineSettings& s) override { return real_->Configure(s); }
    void Purge(bool i, bool o) override
    {
        real_->Purge(i, o);
        std::lock_guard l(log_.m);
        if (o && log_.queued > 0)
            ++log_.purgedWhileQueued;
        if (o)
            log_.queued = 0;
    }
    WaitResult WaitForData(int t) override { return real_->WaitForData(t); }
    void Stop() override { real_->Stop(); }
    int Read(uint8_t* b, int n) override { return real_->Read(b, n); }
    bool Write(const uint8_t* b, int n, int t) override
    {
        {
            std::lock_guard l(log_.m);
            log_.events.emplace_back("write", Clock::now());
            ++log_.writes;
            if (log_.stalled)
                log_.queued += n;
        }
        log_.cv.notify_all();
        return log_.stalled || real_->Write(b, n, t);
    }
    int OutputQueued() override
    {
        std::lock_guard l(log_.m);
        return log_.stalled ? log_.queued : real_->OutputQueued();
    }
    void SetRTS(bool on) override
    {
        {
            std::lock_guard l(log_.m);
            log_.events.emplace_back(on ? "rts on" : "rts off", Clock::now());
        }
        real_->SetRTS(on);
    }
    void SetDTR(bool on) override { real_->SetDTR(on); }

private:
    std::unique_ptr<ISerialPort> real_;
    LineLog& log_;
};

TEST_P(ConnectionPath, RtsToggleRaisesBeforeSendingAndDropsAfterTheHoldDelay)
{
    LineLog log;
    SerialHarness h(GetParam(), tmRTU, [&] { return std::make_unique<InstrumentedPort>(log); });
    h.connection.SetFlowControl(fcRtsToggle);
    h.connection.SetRTSHoldDelay(5);
    ScriptedPeer peer(h.pty, Always(RtuFrame(1, RegistersPdu(3, {1}))));
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, trSuccess);
    std::lock_guard l(log.m);
    std::vector<std::string> what;
    for (const auto& e : log.events)
        what.push_back(e.first);
    ASSERT_EQ(what, (std::vector<std::string>{"rts on", "write", "rts off"}));
    // The request's 8 bytes take 4.6 ms at 19200 baud 8E1; the hold delay follows.
    EXPECT_GE(log.events[2].second - log.events[1].second, 9600us);
}

TEST_P(ConnectionPath, StalledTransmitterFailsTheSendWithinSendTimeoutAndCloseReturns)
{
    LineLog line;
    line.stalled = true;
    SerialHarness h(GetParam(), tmRTU, [&] { return std::make_unique<InstrumentedPort>(line); });
    h.connection.SetSendTimeout(200);
    ScriptedPeer peer(h.pty, Always(RtuFrame(1, RegistersPdu(3, {1}))));
    h.Open();
    const auto t0 = Clock::now();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1, 3s));
    EXPECT_GE(Clock::now() - t0, 200ms);
    EXPECT_EQ(h.Last().info.Reply, trNoReply);
    EXPECT_EQ(h.Last().info.Attempts, 1u);
    {
        std::lock_guard l(line.m);
        EXPECT_EQ(line.purgedWhileQueued, 1);
    }
    if (GetParam() == Path::Synchronous)
        return;  // nothing can close the line while the caller's thread is sending

    // Closing while a send is stuck waits for that send only, which gives up at SendTimeout.
    h.connection.SetSendTimeout(300);
    h.client.ReadHoldingRegisters(0, 1);
    {
        std::unique_lock l(line.m);
        ASSERT_TRUE(line.cv.wait_for(l, 3s, [&] { return line.writes == 2; }));
    }
    h.connection.Close();
    EXPECT_FALSE(h.connection.Active());
    std::lock_guard l(line.m);
    EXPECT_EQ(line.purgedWhileQueued, 2);
    EXPECT_EQ(peer.RequestCount(), 0u);
}
