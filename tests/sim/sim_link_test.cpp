// vortan-sim as a process: its links through raw bytes and our clients, its switches and its log.

#include "RawLink.h"
#include "SerialHarness.h"
#include "SimLog.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

using namespace simtest;
using modbus::TTransactionReply;
using testing_support::Hex;
using Lines = std::vector<std::string>;

const Bytes kReadCrt = WithCrc({0x01, 0x03, 0xFF, 0xFF, 0x00, 0x01});
const Bytes kCrtReply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x00});
const Bytes kCrtPdu = {0x03, 0xFF, 0xFF, 0x00, 0x01};

TEST(SimCliTest, BadArgumentsExitWithStatusTwo)
{
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"--device", "address=300"}, "--device address=300: address=300: must be between 1 and 247"},
        {{"--device", "address=3", "--device", "address=3,baud=9600"}, "address 3 is already taken"},
        {{"--tcp", "127.0.0.1:http"}, "--tcp 127.0.0.1:http: port must be a number from 0 to 65535"},
        {{"--tcp"}, "--tcp needs a value"}, {{"--serial"}, "unknown option \"--serial\""},
        {{"--device", "set=1:5"}, "register 1 is computed by the meter and cannot be preset"},
    };
    for (const auto& [args, message] : rows) {
        SimProcess sim(args);
        EXPECT_EQ(std::tuple(sim.WaitExit(), sim.Lines().size()), std::tuple(2, 0u)) << message;
        EXPECT_NE(sim.Stderr().find(message), std::string::npos) << sim.Stderr();
    }
}

TEST(SimLogTest, EveryRequestKindIsLoggedWithItsFieldsEachSignalDumpsAgainAndExitDumpsTheChanges)
{
    LoggedSim sim({"--tcp", "0", "--pty"});
    EXPECT_EQ(sim.Process().Lines(),
              (std::vector<std::string>{"tcp: 127.0.0.1:" + std::to_string(sim.TcpPort()), "pty: " + sim.PtyPath()}));
    const auto first = sim.Dump();
    EXPECT_EQ(first.at("sequence"), 1);
    EXPECT_TRUE(first.at("requests").empty());
    EXPECT_EQ(sim.Dump().at("sequence"), 2);  // each signal writes a new dump
    RawTcp tcp(sim.TcpPort());
    RawSerial line(sim.PtyPath(), 19200);
    enum Via { Tcp, Rtu, Ascii };
    struct Row { Via via; Bytes adu; const char* brief; };  // adu: unit/address and PDU
    const Row rows[] = {
        {Tcp, {0x01, 0x03, 0x03, 0xE8, 0x00, 0x10}, "fc3 1000+16 reply"},
        {Tcp, {0x01, 0x06, 0x00, 0x11, 0x1F, 0x1F}, "fc6 17+1 [7967] reply"},
        {Tcp, {0x01, 0x10, 0x00, 0x70, 0x00, 0x02, 0x04, 0x00, 0x00, 0x40, 0x20}, "fc16 112+2 [0,16416] reply"},
        {Tcp, {0x01, 0x11}, "fc17 reply"}, {Tcp, {0x01, 0x2B, 0x0E, 0x01, 0x00}, "fc43 exception 1"},
        {Rtu, {0x01, 0x08, 0x00, 0x00, 0x12, 0x34}, "fc8 sub0 [4660] reply"},
        {Rtu, {0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, "fc3 0+1 exception 2"},
        {Rtu, {0x00, 0x06, 0x00, 0x14, 0x00, 0x01}, "fc6 20+1 [1] silent (broadcast)"},
        {Ascii, {0x01, 0x06, 0x00, 0x14, 0x00, 0x00}, "fc6 20+1 [0] reply"}, {Ascii, {0x01, 0x11}, "fc17 reply"},
    };
    uint16_t tid = 1;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.brief);
        Bytes wire;
        if (r.via == Tcp) {
            wire = MbapFrame(tid++, r.adu[0], Bytes(r.adu.begin() + 1, r.adu.end()));
            tcp.Write(wire);
            EXPECT_FALSE(tcp.ReadFrame().empty());
        } else {
            wire = r.via == Rtu ? WithCrc(r.adu) : testing_support::Ascii(AsciiFrame(r.adu));
            line.Write(wire);
            EXPECT_EQ(line.ReadUntilQuiet(100ms, r.adu[0] == 0 ? 300ms : 2000ms).empty(), r.adu[0] == 0);
        }
        const auto got = sim.WaitNewRequests(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(std::tuple(Brief(got[0]), got[0].transport, got[0].baud, got[0].unit, got[0].tid, got[0].hex),
                  std::tuple(r.brief, r.via == Tcp ? "tcp" : r.via == Rtu ? "rtu" : "ascii",
                             r.via == Tcp ? 0u : 19200u, int{r.adu[0]}, r.via == Tcp ? tid - 1 : -1, Hex(wire)));
    }
    const auto last = sim.Dump();
    const auto all = RequestsOf(last);
    ASSERT_EQ(all.size(), std::size(rows));
    for (size_t i = 1; i < all.size(); ++i) {
        EXPECT_EQ(all[i].n, all[i - 1].n + 1);
        EXPECT_GE(all[i].tMs, all[i - 1].tMs);
    }
    ASSERT_EQ(sim.Process().Stop(), 0);
    const auto json = nlohmann::json::parse(std::ifstream(sim.DumpPath()));
    EXPECT_EQ(json.at("sequence"), last.at("sequence").get<int>() + 1);
    EXPECT_EQ(Briefs(RequestsOf(json)), Briefs(all));
    EXPECT_EQ(json.at("changes"), last.at("changes"));
    Lines changes;
    for (const auto& c : json.at("changes")) {
        EXPECT_TRUE(c.at("time").is_string());
        changes.push_back(c.at("address").dump() + ":" + c.at("old").dump() + ">" + c.at("new").dump() + "@" +
                          c.at("device").dump());
    }
    // A write of the value already there is listed too; the broadcast changed device 1.
    EXPECT_EQ(changes, (Lines{"17:0>7967@1", "112:0>0@1", "113:16256>16416@1", "20:0>1@1", "20:1>0@1"}));
}

// Unwanted frames are logged as ignored, the line goes on; --link goes away with the simulator.
TEST(SimSerialTest, BrokenFramesAreDroppedAndLoggedAndDevicesShareTheLine)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string link = std::string(tmp ? tmp : "/tmp") + "/vortan-sim-link-" + std::to_string(getpid());
    LoggedSim sim({"--link", link, "--device", "address=1", "--device", "address=7,baud=9600"});
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(target, sim.PtyPath());
    {
        RawSerial line(link, 19200);  // the block over RTU: cli_test measure
        const std::string reply = AsciiFrame({0x01, 0x03, 0x02, 0x00, 0x00});  // ASCII on the same line
        EXPECT_EQ(line.Transact(Ascii(AsciiFrame({0x01, 0x03, 0xFF, 0xFF, 0x00, 0x01})), reply.size()), Ascii(reply));
        line.Write(Bytes(kReadCrt.begin(), kReadCrt.begin() + 3));
        usleep(20000);  // a slow writer: longer than 3.5 characters at 19200, still one request
        line.Write(Bytes(kReadCrt.begin() + 3, kReadCrt.end()));
        EXPECT_EQ(line.Read(kCrtReply.size()), kCrtReply);
    }
    sim.NewRequests();
    RawSerial line(sim.PtyPath(), 19200);
    Bytes badCrc = kReadCrt;
    badCrc.back() ^= 0xFF;
    const Bytes to7 = WithCrc({0x07, 0x03, 0xFF, 0xFF, 0x00, 0x01});
    struct Row { const char* what; uint32_t baud; Bytes bytes; Lines briefs; Bytes reply = {}; };
    const Row rows[] = {  // briefs none: unchecked
        {"wrong speed", 9600, kReadCrt, {"fc3 65535+1 ignored (other speed)"}},
        {"other address", 19200, WithCrc({0x02, 0x03, 0xFF, 0xFF, 0x00, 0x01}),
         {"fc3 65535+1 ignored (other address)"}},
        {"bad CRC", 19200, badCrc, {"- ignored (bad checksum)"}},
        {"truncated", 19200, Bytes(kReadCrt.begin(), kReadCrt.begin() + 5), {"- ignored (incomplete frame)"}},
        {"ASCII bad LRC", 19200, Ascii(":010300000001FA\r\n"), {"- ignored (bad checksum)"}},
        {"ASCII without CR LF", 19200, Ascii(":010300000001FB"), {}},
        {"lone bytes", 19200, Bytes{0x3A, 0x01}, {}},
        {"noise, then a request", 19200, testing_support::Concat({0x00, 0xFF, 0x13}, kReadCrt),
         {"- ignored (noise)", "fc3 65535+1 reply"}, kCrtReply},
        {"device 7 at another speed", 19200, to7, {"fc3 65535+1 ignored (other speed)"}},
        {"device 7 at its speed", 9600, to7, {"fc3 65535+1 reply"}, WithCrc({0x07, 0x03, 0x02, 0x00, 0x00})},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        line.SetBaud(r.baud);
        line.Write(r.bytes);
        EXPECT_EQ(line.ReadUntilQuiet(150ms, r.reply.empty() ? 300ms : 2000ms), r.reply);
        if (!r.briefs.empty()) {
            const auto logged = sim.WaitNewRequests(r.briefs.size());
            EXPECT_EQ(Briefs(logged), r.briefs);
            ASSERT_FALSE(logged.empty());
            EXPECT_EQ(logged[0].baud, r.baud);
            const size_t first = r.briefs.size() == 2 ? 3 : r.bytes.size();  // the noise is logged on its own
            EXPECT_EQ(logged[0].hex, Hex(Bytes(r.bytes.begin(), r.bytes.begin() + first)));
        }
        line.SetBaud(19200);
        EXPECT_EQ(line.Transact(kReadCrt, kCrtReply.size()), kCrtReply);
        sim.NewRequests();
    }
    EXPECT_EQ(sim.Process().Stop(SIGINT), 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(SimLogTest, PresetsAnswerAsDescribed)
{
    struct Row { const char* settings; Bytes pdu, reply; };
    const Row rows[] = {
        {"set=5000:7:0x1F1F", {0x03, 0x13, 0x88, 0x00, 0x02}, {0x03, 0x04, 0x00, 0x07, 0x1F, 0x1F}},
        {"set=1115:3", {0x03, 0x04, 0x5E, 0x00, 0x01}, {0x03, 0x02, 0x33, 0x6D}},  // unit text "m3/min"
        {"set=29257:0", {0x03, 0x72, 0x49, 0x00, 0x01}, {0x03, 0x02, 0x00, 0x00}},  // measuring stopped
        {"id=ACME PUMP, model 7", {0x11},
         Ascii("\x11\x58" "ACME PUMP, model 7\xFFVT23000004711001 3.12.0 2024-05-17"
               "2.04  2023-11-06MB00000000815001ARM")},
        {"noid", {0x11}, {0x91, 0x01}},
        {"noid", {0x08, 0x00, 0x00, 0x12, 0x34}, {0x08, 0x00, 0x00, 0x12, 0x34}},
        {"nocrt", kCrtPdu, {0x83, 0x02}},
        {"nocrt", {0x06, 0xFF, 0xFF, 0x00, 0x01}, {0x86, 0x02}},
        {"refuse=20", {0x06, 0x00, 0x14, 0x00, 0x01}, {0x86, 0x04}},
        {"refuse=20", {0x10, 0x00, 0x13, 0x00, 0x02, 0x04, 0, 0, 0, 1}, {0x90, 0x04}},
        {"refuse=20", {0x06, 0x00, 0x11, 0x00, 0x00}, {0x06, 0x00, 0x11, 0x00, 0x00}},
        // Locked by the given code; the model's tests check the lock itself.
        {"protect=4711", {0x06, 0x5D, 0xC0, 0x00, 0x01}, {0x86, 0x02}},
        {"protect=4711", {0x10, 0x72, 0x46, 0x00, 0x03, 0x06, 0, 0, 0x12, 0x67, 0, 0}, {0x10, 0x72, 0x46, 0x00, 0x03}},
        {"marker=XYZ,serial=SIM-0001", {0x11},
         Ascii("\x11\x56KALDOR VORTAN V3\xFFSIM-0001         3.12.0 2024-05-17"
               "2.04  2023-11-06MB00000000815001XYZ")},
        {"wrongfc", kCrtPdu, {0x04, 0x02, 0x00, 0x00}}, {"silent", kCrtPdu, {}},  // none: no reply
        {"delay=1500", kCrtPdu, {}},
    };
    std::unique_ptr<LoggedSim> sim;
    std::unique_ptr<RawTcp> tcp;
    std::string running;
    uint16_t tid = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.settings) + ", function " + std::to_string(r.pdu[0]));
        if (running != r.settings) {
            if (sim && running.starts_with("set=")) {  // presets are not changes
                EXPECT_TRUE(sim->Dump().at("changes").empty());
            }
            tcp.reset();
            sim = std::make_unique<LoggedSim>(std::vector<std::string>{"--tcp", "0", "--device", r.settings});
            tcp = std::make_unique<RawTcp>(sim->TcpPort());
            running = r.settings;
        }
        tcp->Write(MbapFrame(++tid, 1, r.pdu));
        EXPECT_EQ(tcp->ReadFrame(r.reply.empty() ? 1000ms : 2000ms),
                  r.reply.empty() ? Bytes{} : MbapFrame(tid, 1, r.reply));
    }
}

TEST(SimClientTest, FaultSwitchesGiveTheirOutcome)
{
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<testing_support::SerialHarness> h;
    const auto Start = [&](const std::string& settings) {
        h.reset();
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--device", settings});
        h = std::make_unique<testing_support::SerialHarness>();
        h->connection.SetPort(sim->PtyPath());
        h->connection.SetBaudRate(modbus::br19200);
        h->connection.SetParity(modbus::psEven);
        h->connection.SetReceiveTimeout(400);
        h->connection.SetEchoQueryBeforeReply(settings == "echo");
        h->Open();
    };
    const auto ReadCrt = [&]() -> const testing_support::Result& {
        const size_t n = h->results.size();
        h->client.ReadHoldingRegisters(65535, 1);
        EXPECT_TRUE(h->WaitResults(n + 1, 5s));
        return h->results.back();
    };
    struct Row { const char* settings; TTransactionReply reply; uint8_t exception; };
    const Row rows[] = {
        {"address=1", modbus::trSuccess, 0}, {"silent", modbus::trNoReply, 0},
        {"exception=4", modbus::trExceptionReply, 4}, {"exception=11", modbus::trExceptionReply, 11},
        {"wrongfc", modbus::trUnmatchedReply, 0}, {"otheraddr", modbus::trSuccess, 0},
        {"echo", modbus::trSuccess, 0}, {"badcrc=1", modbus::trInvalidFrame, 0},
        {"gap=150", modbus::trInvalidFrame, 0}, {"delay=100", modbus::trSuccess, 0},
        {"delay=1500", modbus::trNoReply, 0},
        {"garbage", modbus::trInvalidFrame, 0},  // noise first, the reply later
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.settings);
        Start(r.settings);
        const auto& result = ReadCrt();
        EXPECT_EQ(std::tuple(result.info.Reply, result.info.ExceptionCode), std::tuple(r.reply, r.exception));
        if (r.reply == modbus::trSuccess) {
            EXPECT_EQ(result.values, (modbus::TRegValues{0}));
        }
    }
    Start("badcrc=3");  // every third reply
    std::vector<TTransactionReply> seen;
    for (int i = 0; i < 6; ++i)
        seen.push_back(ReadCrt().info.Reply);
    using enum TTransactionReply;
    EXPECT_EQ(seen, (std::vector{trSuccess, trSuccess, trInvalidFrame, trSuccess, trSuccess, trInvalidFrame}));
}

TEST(SimTcpTest, RawFaultShapesUnitIdsAndBadHeaders)
{
    const Bytes reply = {0x03, 0x02, 0x00, 0x00};
    {
        SimProcess sim({"--tcp", "0", "--device", "staleid,otheraddr,split=50"});
        RawTcp raw(sim.TcpPort());
        raw.Write(MbapFrame(0x0102, 1, kCrtPdu));
        EXPECT_EQ(raw.ReadFrame(), MbapFrame(0x0102, 2, reply));  // another unit first
        EXPECT_EQ(raw.ReadFrame(), MbapFrame(0x0101, 1, reply));  // then the previous id
        EXPECT_EQ(raw.ReadFrame(), MbapFrame(0x0102, 1, reply));  // then the answer, in two segments
    }
    SimProcess sim({"--tcp", "0", "--device", "address=1", "--device", "address=5,exception=3"});
    RawTcp raw(sim.TcpPort());
    raw.Write(MbapFrame(1, 1, kCrtPdu));
    EXPECT_EQ(raw.ReadFrame(), MbapFrame(1, 1, reply));
    raw.Write(MbapFrame(2, 5, kCrtPdu));
    EXPECT_EQ(raw.ReadFrame(), MbapFrame(2, 5, {0x83, 0x03}));
    raw.Write(MbapFrame(3, 9, kCrtPdu));
    EXPECT_EQ(raw.ReadFrame(), MbapFrame(3, 9, {0x83, 0x0B}));  // no such device behind the gateway
    Bytes lying = MbapFrame(4, 1, kCrtPdu);
    lying[5] = 0xFF;  // length 255: no PDU is that long
    raw.Write(lying);
    EXPECT_TRUE(raw.WaitClosed());
    RawTcp again(sim.TcpPort());  // the server itself lives on
    again.Write(MbapFrame(5, 1, kCrtPdu));
    EXPECT_EQ(again.ReadFrame(), MbapFrame(5, 1, reply));
}

}  // namespace
