// vortan-sim on its pty: raw frames for the framing rules, the project's serial client for the
// fault switches.

#include "RawLink.h"
#include "SerialHarness.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using namespace simtest;
using modbus::TTransactionReply;

const Bytes kReadCrt = WithCrc({0x01, 0x03, 0xFF, 0xFF, 0x00, 0x01});
const Bytes kCrtReply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x00});

TEST(SimSerialTest, AnswersRtuAndAsciiOnTheSameLine)
{
    SimProcess sim({"--pty"});
    ASSERT_FALSE(sim.PtyPath().empty());
    RawSerial line(sim.PtyPath(), 19200);
    EXPECT_EQ(line.Transact(kReadCrt, kCrtReply.size()), kCrtReply);

    const Bytes block = line.Transact(WithCrc({0x01, 0x03, 0x04, 0x58, 0x00, 0x10}), 37);
    ASSERT_EQ(block.size(), 37u);
    EXPECT_EQ(block[2], 32);
    EXPECT_EQ(block[4], 1);   // status valid
    EXPECT_EQ(block[15], '3');  // unit text "m3/h", first character in the low byte
    EXPECT_EQ(block[16], 'm');

    const std::string reply = AsciiFrame({0x01, 0x03, 0x02, 0x00, 0x00});
    EXPECT_EQ(line.Transact(ToBytes(AsciiFrame({0x01, 0x03, 0xFF, 0xFF, 0x00, 0x01})), reply.size()),
              ToBytes(reply));
}

TEST(SimSerialTest, LineNoiseAndBrokenFramesAreDropped)
{
    SimProcess sim({"--pty"});
    RawSerial line(sim.PtyPath(), 19200);
    struct Row { const char* what; Bytes bytes; bool answered; };
    Bytes badCrc = kReadCrt;
    badCrc.back() ^= 0xFF;
    Bytes noisy = {0x00, 0xFF, 0x13};
    noisy.insert(noisy.end(), kReadCrt.begin(), kReadCrt.end());
    const Row rows[] = {
        {"wrong CRC", badCrc, false},
        {"truncated", Bytes(kReadCrt.begin(), kReadCrt.begin() + 5), false},
        {"other address", WithCrc({0x02, 0x03, 0xFF, 0xFF, 0x00, 0x01}), false},
        {"noise before the frame", noisy, true},
        {"ASCII with a bad LRC", ToBytes(":010300000001FA\r\n"), false},
        {"ASCII without CR LF", ToBytes(":010300000001FB"), false},
        {"lone bytes", Bytes{0x3A, 0x01}, false},
    };
    for (const Row& r : rows) {
        line.Write(r.bytes);
        const Bytes got = line.ReadUntilQuiet(150ms, r.answered ? 2000ms : 300ms);
        if (r.answered)
            EXPECT_EQ(got, kCrtReply) << r.what;
        else
            EXPECT_TRUE(got.empty()) << r.what;
        // The next good request is answered whatever came before.
        EXPECT_EQ(line.Transact(kReadCrt, kCrtReply.size()), kCrtReply) << "after " << r.what;
    }
}

TEST(SimSerialTest, RequestWrittenInPiecesIsStillOneRequest)
{
    SimProcess sim({"--pty"});
    RawSerial line(sim.PtyPath(), 19200);
    line.Write(Bytes(kReadCrt.begin(), kReadCrt.begin() + 3));
    usleep(20000);  // a slow writer: longer than 3.5 characters at 19200
    line.Write(Bytes(kReadCrt.begin() + 3, kReadCrt.end()));
    EXPECT_EQ(line.Read(kCrtReply.size()), kCrtReply);
}

TEST(SimSerialTest, DevicesShareTheLineByAddressAndSpeed)
{
    SimProcess sim({"--device", "address=1", "--device", "address=7,baud=9600"});
    RawSerial line(sim.PtyPath(), 19200);
    const Bytes to7 = WithCrc({0x07, 0x03, 0xFF, 0xFF, 0x00, 0x01});
    const Bytes from7 = WithCrc({0x07, 0x03, 0x02, 0x00, 0x00});
    EXPECT_EQ(line.Transact(kReadCrt, kCrtReply.size()), kCrtReply);
    line.Write(to7);
    EXPECT_TRUE(line.ReadUntilQuiet(100ms, 300ms).empty());  // 7 listens at 9600
    line.SetBaud(9600);
    EXPECT_EQ(line.Transact(to7, from7.size()), from7);
    line.Write(kReadCrt);
    EXPECT_TRUE(line.ReadUntilQuiet(100ms, 300ms).empty());
}

TEST(SimSerialTest, LineSurvivesClientsThatCloseIt)
{
    SimProcess sim({"--pty"});
    for (int i = 0; i < 3; ++i) {
        RawSerial line(sim.PtyPath(), 19200);
        EXPECT_EQ(line.Transact(kReadCrt, kCrtReply.size()), kCrtReply) << "client " << i;
    }
}

// The fault switches, seen through the project's serial client.
class SimClientTest : public ::testing::Test {
protected:
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<testing_support::SerialHarness> h;

    void Start(const std::string& settings, bool echo = false)
    {
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--device", settings});
        ASSERT_FALSE(sim->PtyPath().empty());
        h = std::make_unique<testing_support::SerialHarness>();
        h->connection.SetPort(sim->PtyPath());
        h->connection.SetBaudRate(modbus::br19200);
        h->connection.SetParity(modbus::psEven);
        h->connection.SetReceiveTimeout(400);
        h->connection.SetEchoQueryBeforeReply(echo);
        h->Open();
    }
    const testing_support::Result& ReadCrt()
    {
        const size_t n = h->results.size();
        h->client.ReadHoldingRegisters(65535, 1);
        EXPECT_TRUE(h->WaitResults(n + 1, 5s));
        return h->results.back();
    }
    void TearDown() override
    {
        h.reset();
        if (sim)
            sim->Stop();
    }
};

TEST_F(SimClientTest, FaultSwitchesGiveTheirOutcome)
{
    struct Row { const char* settings; bool echo; TTransactionReply reply; uint8_t exception; };
    const Row rows[] = {
        {"address=1", false, modbus::trSuccess, 0},
        {"silent", false, modbus::trNoReply, 0},
        {"exception=4", false, modbus::trExceptionReply, 4},
        {"exception=11", false, modbus::trExceptionReply, 11},
        {"wrongfc", false, modbus::trUnmatchedReply, 0},
        {"otheraddr", false, modbus::trSuccess, 0},
        {"echo", true, modbus::trSuccess, 0},
        {"badcrc=1", false, modbus::trInvalidFrame, 0},
        {"gap=150", false, modbus::trInvalidFrame, 0},
        {"delay=100", false, modbus::trSuccess, 0},
        {"delay=1500", false, modbus::trNoReply, 0},
        {"garbage", false, modbus::trInvalidFrame, 0},  // noise first, the reply later
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.settings);
        Start(r.settings, r.echo);
        const auto& result = ReadCrt();
        EXPECT_EQ(result.info.Reply, r.reply);
        EXPECT_EQ(result.info.ExceptionCode, r.exception);
        if (r.reply == modbus::trSuccess) {
            EXPECT_EQ(result.values, (modbus::TRegValues{0}));
        }
        TearDown();
    }
}

TEST_F(SimClientTest, BadCrcHitsEveryNthReply)
{
    Start("badcrc=3");
    std::vector<TTransactionReply> seen;
    for (int i = 0; i < 6; ++i)
        seen.push_back(ReadCrt().info.Reply);
    const std::vector<TTransactionReply> expected = {
        modbus::trSuccess, modbus::trSuccess, modbus::trInvalidFrame,
        modbus::trSuccess, modbus::trSuccess, modbus::trInvalidFrame};
    EXPECT_EQ(seen, expected);
}

TEST_F(SimClientTest, WritesReadBackAndIdentificationArrives)
{
    Start("address=1,marker=XYZ,serial=SIM-0001");
    h->client.WriteSingleRegister(1115, 3);  // volume flow of channel A in m3/min
    ASSERT_TRUE(h->WaitResults(1));
    EXPECT_EQ(h->Last().info.Reply, modbus::trSuccess);
    h->client.ReadHoldingRegisters(1112, 16);
    ASSERT_TRUE(h->WaitResults(2));
    ASSERT_EQ(h->Last().values.size(), 16u);
    EXPECT_EQ(h->Last().values[3], 3);
    EXPECT_EQ(h->Last().values[6], 0x336D);  // "m3/min"

    h->client.ReportServerIdentification();
    ASSERT_TRUE(h->WaitResults(3));
    const auto& data = h->Last().data;
    const std::string text(data.begin(), data.end());
    EXPECT_NE(text.find("VORTAN"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 3), "XYZ");
    EXPECT_NE(text.find("SIM-0001"), std::string::npos);

    h->client.Diagnostics(modbus::daReturnQueryData);
    ASSERT_TRUE(h->WaitResults(4));
    EXPECT_EQ(h->Last().info.Reply, modbus::trSuccess);
}

}  // namespace
