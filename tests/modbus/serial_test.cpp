// The serial stack: buffer, checksums, framing (hand-worked frames anchor them), the port list; then over
// a real pty, on the worker and on the caller's thread, the connection, the client and the engine.
#include "Expect.h"
#include "FakeSysfs.h"
#include "ModbusFrame.h"
#include "SerialHarness.h"
#include "SerialPortList.h"
#include "TransactionThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace modbus;
using namespace testing_support;
using namespace std::chrono_literals;
using Piece = ScriptedPeer::Piece;
using Pieces = std::vector<Piece>;

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

    std::vector<uint16_t> wire;  // each action's sub-function and data word as the protocol defines them
    for (int a = daReturnQueryData; a <= daClearOverrunCounter; ++a) {
        const DiagnosticRequest r = DiagnosticRequestOf(static_cast<TDiagnosticAction>(a));
        wire.insert(wire.end(), {r.subFunction, r.data});
    }
    EXPECT_EQ(wire, (std::vector<uint16_t>{0, 0xA537, 1, 0, 1, 0xFF00, 2, 0, 4, 0, 0x0A, 0, 0x0B, 0, 0x0C, 0,
                                           0x0D, 0, 0x0E, 0, 0x0F, 0, 0x10, 0, 0x11, 0, 0x12, 0, 0x14, 0}));
    EXPECT_EQ(DiagnosticActionOf(0x0001, 0xFF00), daRestartCommunicationsClearLog);
    EXPECT_EQ(DiagnosticActionOf(0x0001, 0x0000), daRestartCommunications);
    EXPECT_EQ(DiagnosticActionOf(0x0014, 0), daClearOverrunCounter);
    EXPECT_EQ(ErrorOf([] { DiagnosticActionOf(0x0003, 0); }), msg::DiagnosticUnknown);
}

// Each port as path | by-id name | description | label | setting (the by-id name when there is one).
TEST(PortList, RealPortsThenVirtualOnesFoundByAnyName)
{
    const char* virt = "/tmp/tarnwick-virtual-a:/dev/pts/97";
    ::setenv("TARNWICK_SERIAL_PORTS", virt, 1);
    FakeSysfs tree;
    const auto ports = ListSerialPorts(tree.Roots());
    std::vector<std::string> got;
    for (const auto& p : ports)
        got.push_back(p.path + " | " + p.stableName + " | " + p.description + " | " + p.Label() + " | " +
                      p.Setting());
    const std::string ftdi = FakeSysfs::FtdiById, ch340 = FakeSysfs::Ch340ById;
    const std::string ftdiText = "FTDI USB-RS485 Cable FT4ABCDE", ch340Text = "QinHeng USB2.0-Serial";
    // ttyS0 (no UART) and tty0 (no device) are not offered; the CH340 is named by its vendor id.
    const std::vector<std::string> expected = {
        "/dev/ttyS1 |  |  | /dev/ttyS1 | /dev/ttyS1",
        "/dev/ttyUSB0 | " + ftdi + " | " + ftdiText + " | " + ftdiText + " (ttyUSB0) | " + ftdi,
        "/dev/ttyUSB1 | " + ch340 + " | " + ch340Text + " | " + ch340Text + " (ttyUSB1) | " + ch340,
        "/tmp/tarnwick-virtual-a |  |  | /tmp/tarnwick-virtual-a | /tmp/tarnwick-virtual-a",
        "/dev/pts/97 |  |  | /dev/pts/97 | /dev/pts/97",
    };
    EXPECT_EQ(got, expected);
    ASSERT_EQ(ports.size(), 5u);
    EXPECT_EQ((std::vector<std::string>{ports[1].vendorId, ports[1].serial, ports[2].manufacturer}),
              (std::vector<std::string>{"0403", "FT4ABCDE", ""}));

    // A setting finds its port by any of its names; a user's link to a virtual port is that port.
    const auto dir = std::filesystem::temp_directory_path();
    const auto target = dir / ("tarnwick-port-target-" + std::to_string(::getpid()));
    const auto link = dir / ("tarnwick-port-link-" + std::to_string(::getpid()));
    std::ofstream(target).put('x');
    std::filesystem::remove(link);
    std::filesystem::create_symlink(target, link);
    ::setenv("TARNWICK_SERIAL_PORTS", target.c_str(), 1);
    const auto withLink = ListSerialPorts(tree.Roots());
    const struct {
        std::string setting;
        int index;
    } cases[] = {
        {"ttyUSB0", 1},            // settings of earlier versions
        {"/dev/ttyUSB0", 1},
        {FakeSysfs::FtdiById, 1},  // the adapter in another socket is still found by this
        {FakeSysfs::Ch340ById, 2},
        {"ttyS1", 0},
        {target.string(), 3},
        {link.string(), 3},
        {"/dev/ttyGONE", -1},
        {"COM1", -1},
        {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindSerialPort(withLink, c.setting), c.index) << c.setting;
    std::filesystem::remove(link);
    std::filesystem::remove(target);

    ::setenv("TARNWICK_SERIAL_PORTS", virt, 1);
    const auto none = ListSerialPorts({"/nonexistent/sys", "/nonexistent/dev"});
    ASSERT_EQ(none.size(), 2u);
    EXPECT_EQ(none[0].path, "/tmp/tarnwick-virtual-a");

    // The list of names from the real trees: the devices, then the virtual ports; nothing stale.
    std::vector<std::string> list{"stale"};
    EnumerateSerialPorts(list);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[list.size() - 2], "/tmp/tarnwick-virtual-a");
    EXPECT_EQ(list.back(), "/dev/pts/97");
    EXPECT_EQ(std::count(list.begin(), list.end(), "stale"), 0);
    ::unsetenv("TARNWICK_SERIAL_PORTS");
}

class SerialPath : public ::testing::TestWithParam<Path> {};
INSTANTIATE_TEST_SUITE_P(Serial, SerialPath, ::testing::Values(Path::Threaded, Path::Synchronous),
                         [](const auto& info) { return PathName(info.param); });

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

// Defaults; opening: its events, a missing or busy port, setters of an open port, raw mode, a hooked handle.
TEST(ConnectionOpen, DefaultsEventsRefusalsSettersRawModeAndHookedHandles)
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
    // Bytes with a parity or framing error arrive as read (the checksum decides), never as 0x00.
    const struct {
        TParityScheme parity;
        TStopBits stop;
        TFlowControl flow;
    } cases[] = {{psEven, sb1, fcNone}, {psOdd, sb2, fcRtsCts}, {psNone, sb2, fcRtsToggle}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parity);
        h.connection.SetParity(c.parity);
        h.connection.SetStopBits(c.stop);
        h.connection.SetFlowControl(c.flow);
        h.Open();
        termios t{};
        ::tcgetattr(fd, &t);
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
        h.connection.Close();
    }
    h.connection.SetHookExistingPort(true);
    h.connection.OnGetHookedPortHandle = [fd](TModbusConnection&, int& handle) { handle = fd; };
    h.Open();
    h.connection.Close();
    EXPECT_NE(::fcntl(fd, F_GETFD), -1);  // left open for its owner
    ::close(fd);
    h.connection.OnGetHookedPortHandle = nullptr;
    EXPECT_EQ(ErrorOf([&] { h.Open(); }), "Could not open serial port");
}

// An incomplete ASCII frame ends at the silent interval; stray bytes do not extend the wait.
TEST_P(SerialPath, AsciiIncompleteFrameAndStrayBytes)
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
TEST_P(SerialPath, RtsToggleThenAStalledTransmitter)
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

// Arguments checked before queueing; ids count from 0, shared by a connection's clients.
TEST_P(SerialPath, ArgumentsAndTransactionIds)
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
        ::testing::Values(Path::Threaded, Path::Synchronous)),
    [](const auto& info) { return CaseOnPath(info); });

TEST_P(SerialPath, TimeoutLimitCountsFramesWithoutUsableAnswer)
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

const Bytes kReadReq = HexBytes("01 03 00 00 00 01 84 0A");
const Bytes kGoodReply = RtuFrame(1, RegistersPdu(3, {0x1234}));

const auto MsBetween = [](Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
};
const auto One = [](const Bytes& b) { return Pieces{{b, 0}}; };

Pieces InPairs(int gapMs)
{
    Pieces pieces;
    for (long i = 0; i < std::ssize(kGoodReply); i += 2)
        pieces.push_back({Bytes(kGoodReply.begin() + i,
                                kGoodReply.begin() + std::min(i + 2, std::ssize(kGoodReply))),
                          i ? gapMs : 0});
    return pieces;
}

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
        ::testing::Values(Path::Threaded, Path::Synchronous)),
    [](const auto& info) { return CaseOnPath(info); });

// After a reply ended by its length the engine waits 4 characters (34 ms at 1200 8E1) to send again.
TEST_P(SerialPath, NextRequestWaitsTheGapAfterTheReplysLastByte)
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
TEST_P(SerialPath, BroadcastARaisingHandlerAndClosingFromAnEvent)
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
    if (GetParam() == Path::Threaded)
        return;

    // An event on the caller's thread may close the line, queued or mid-transaction; the next open works.
    h.client.OnTransactionProcessed = [&](TModbusClient& c, const TTransactionInfo&, uint8_t, bool) {
        if (h.results.size() == 3) {
            for (int i = 0; i < 3; ++i)
                c.ReadHoldingRegisters(0, 1);
            EXPECT_EQ(h.connection.QueuedTransactions(), 3u);
            h.connection.Close();
        }
    };
    h.client.ReadHoldingRegisters(0, 1);
    EXPECT_EQ(h.results.size(), 3u);
    EXPECT_EQ(h.connection.QueuedTransactions(), 0u);
    EXPECT_EQ(peer.RequestCount(), 5u);

    h.client.OnTransactionProcessed = nullptr;
    h.connection.SetOnFrameSend([&](TModbusConnection& c, const TFrameData&) { c.Close(); });
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    EXPECT_FALSE(h.connection.Active());
    EXPECT_EQ(h.results.size(), 3u);

    h.connection.SetOnFrameSend(nullptr);
    h.Open();
    h.client.ReadHoldingRegisters(0, 1);
    ASSERT_EQ(h.results.size(), 4u);
    EXPECT_EQ(h.Last().info.Reply, trSuccess);
    EXPECT_EQ(peer.RequestCount(), 6u);
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

TEST_P(SerialPath, VanishedDeviceEndsAsNoReplyWithoutSpinning)
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
