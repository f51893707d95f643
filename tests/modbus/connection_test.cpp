// The serial connection: properties, opening, line settings, the ASCII receiver, RTS toggling.
#include "Expect.h"
#include "SerialHarness.h"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <condition_variable>
#include <mutex>
#include <unistd.h>

using namespace modbus;
using namespace testing_support;
using namespace std::chrono_literals;

// The silent interval in ms, and the gap: 3.5 characters with their start bit, or the interval if longer.
TEST(ConnectionSilentInterval, ComputedFromLineSettings)
{
    const struct {
        TTransmissionMode mode;
        uint32_t silent, baud;
        TDataBits data;
        TParityScheme parity;
        TStopBits stop;
        uint32_t expectedMs, gapMs;
    } cases[] = {
        {tmRTU, 4, 19200, db8, psEven, sb1, 16, 16},  // 2.08 -> 3 -> 16; 2.01
        {tmRTU, 4, 1200, db8, psEven, sb1, 34, 34},   // 33.3 -> 34; 32.1
        {tmRTU, 1, 1200, db8, psNone, sb1, 16, 30},   // 7.5 -> 8 -> 16; 29.2 -> 30
        {tmRTU, 10, 1200, db7, psNone, sb1, 67, 67},  // 66.7 -> 67; 26.3
        {tmRTU, 40, 9600, db8, psOdd, sb2, 46, 46},   // 45.8 -> 46; 4.4
        {tmASCII, 50, 19200, db8, psEven, sb1, 50, 0},
        {tmASCII, 5, 1200, db8, psEven, sb1, 16, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.silent) + " at " + std::to_string(c.baud));
        EXPECT_EQ(ComputeEffectiveSilentInterval(c.mode, c.silent, c.baud, c.data, c.parity, c.stop),
                  c.expectedMs);
        EXPECT_EQ(ComputeInterFrameGap(c.mode, c.silent, c.baud, c.data, c.parity, c.stop), c.gapMs);
    }
}

// Defaults; opening: its events, a missing or busy port, setters of an open port, a hooked handle.
TEST(ConnectionOpen, DefaultsEventsRefusalsSettersAndHookedHandles)
{
    EventQueue events;
    TModbusConnection missing(events);
    EXPECT_EQ(missing.Port(), "COM1");
    const std::vector<long> defaults = {
        missing.Active(), missing.BaudRate(), missing.ConnectionMode(), missing.CustomBaudRate(),
        missing.DataBits(), missing.DTREnabled(), missing.EchoQueryBeforeReply(), missing.FlowControl(),
        missing.InputBufferSize(), missing.MaxRetries(), missing.Parity(), missing.ReceiveTimeout(),
        missing.RefetchDelay(), missing.SendTimeout(), missing.SilentInterval(), missing.StopBits(),
        missing.TransmissionMode(), missing.TurnaroundDelay()};
    EXPECT_EQ(defaults, (std::vector<long>{false, br19200, cmClient, 19200, db8, true, false, fcNone, 1024, 1,
                                           psEven, 1000, 0, 1000, 4, sb1, tmRTU, 100}));
    std::vector<std::string> calls;
    missing.OnBeforeOpen = [&](TModbusConnection&) { calls.push_back("before"); };
    missing.OnAfterOpen = [&](TModbusConnection&) { calls.push_back("after"); };
    missing.SetPort("/dev/tarnwick-no-such-port");
    const auto e = RaisedBy<EModbusError>([&] { missing.Open(); }).value();
    EXPECT_STREQ(e.what(), "Could not open serial port");
    EXPECT_NE(e.Reason().find("No such file or directory"), std::string::npos) << e.Reason();
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

// Bytes with a parity or framing error arrive as read (the checksum decides), never as 0x00.
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
        termios t{};
        const int fd = ::open(h.pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        ::tcgetattr(fd, &t);
        ::close(fd);
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

class ConnectionPath : public ::testing::TestWithParam<Path> {};
INSTANTIATE_TEST_SUITE_P(Connection, ConnectionPath, BothPaths(), [](const auto& info) { return PathName(info.param); });

// An incomplete ASCII frame ends at the silent interval; stray bytes do not extend the wait.
TEST_P(ConnectionPath, AsciiIncompleteFrameAndStrayBytes)
{
    SerialHarness h(GetParam(), tmASCII);
    h.connection.SetSilentInterval(40);
    h.connection.SetReceiveTimeout(300);
    std::atomic<int> requests{0};
    ScriptedPeer peer(h.pty, [&](const Bytes&) {
        if (requests++ == 0)
            return std::vector<ScriptedPeer::Piece>{{Ascii("xy:01"), 0}, {Ascii("03"), 200}};
        return std::vector<ScriptedPeer::Piece>(40, {Ascii("?"), 20});
    });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, trInvalidFrame);
    ASSERT_FALSE(h.receivedFrames.empty());
    EXPECT_EQ(Hex(h.receivedFrames[0]), Hex(Ascii(":01")));

    h.connection.SetSilentInterval(4);
    const auto t0 = Clock::now();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(2));
    EXPECT_EQ(h.Last().info.Reply, trNoReply);
    EXPECT_LT(Clock::now() - t0, 700ms);
}

// A pty port logging what is done to the line; `stalled` plays a transmitter held by CTS.
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
        log_.purgedWhileQueued += o && log_.queued > 0;
        log_.queued = o ? 0 : log_.queued;
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
        std::lock_guard l(log_.m);
        log_.events.emplace_back(on ? "rts on" : "rts off", Clock::now());
        real_->SetRTS(on);
    }
    void SetDTR(bool on) override { real_->SetDTR(on); }

private:
    std::unique_ptr<ISerialPort> real_;
    LineLog& log_;
};

// RTS up before sending, down after the hold delay; a stalled send fails at SendTimeout, close returns.
TEST_P(ConnectionPath, RtsToggleThenAStalledTransmitter)
{
    LineLog line;
    SerialHarness h(GetParam(), tmRTU, [&] { return std::make_unique<InstrumentedPort>(line); });
    h.connection.SetFlowControl(fcRtsToggle);
    h.connection.SetRTSHoldDelay(5);
    ScriptedPeer peer(h.pty, Device(tmRTU));
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(1));
    EXPECT_EQ(h.Last().info.Reply, trSuccess);
    {
        std::lock_guard l(line.m);
        std::vector<std::string> what;
        for (const auto& e : line.events)
            what.push_back(e.first);
        ASSERT_EQ(what, (std::vector<std::string>{"rts on", "write", "rts off"}));
        // The request's 8 bytes take 4.6 ms at 19200 baud 8E1; the hold delay follows.
        EXPECT_GE(line.events[2].second - line.events[1].second, 9600us);
    }

    h.connection.Close();
    h.connection.SetFlowControl(fcNone);
    h.connection.SetSendTimeout(200);
    line.stalled = true;
    h.Open();
    const auto t0 = Clock::now();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(h.WaitResults(2, 3s));
    EXPECT_GE(Clock::now() - t0, 200ms);
    EXPECT_EQ(h.Last().info.Reply, trNoReply);
    EXPECT_EQ(h.Last().info.Attempts, 1u);
    {
        std::lock_guard l(line.m);
        EXPECT_EQ(line.purgedWhileQueued, 1);
    }
    if (GetParam() == Path::Synchronous)
        return;  // nothing can close the line while the caller's thread is sending

    h.connection.SetSendTimeout(300);
    h.client.ReadHoldingRegisters(0, 1);
    {
        std::unique_lock l(line.m);
        ASSERT_TRUE(line.cv.wait_for(l, 3s, [&] { return line.writes == 3; }));
    }
    h.connection.Close();  // waits for the stuck send only, which gives up at SendTimeout
    EXPECT_FALSE(h.connection.Active());
    std::lock_guard l(line.m);
    EXPECT_EQ(line.purgedWhileQueued, 2);
    EXPECT_EQ(peer.RequestCount(), 1u);  // the first request only
}
