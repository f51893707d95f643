// vortan-sim's request log and scenario presets, through real sockets and ptys: what a client
// sends is what the log says, and a preset meter answers as its preset says.

#include "RawLink.h"
#include "SimLog.h"

#include <gtest/gtest.h>

namespace {

using namespace simtest;

std::string HexOf(const Bytes& b)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t c : b)
        s += std::string(s.empty() ? "" : " ") + kDigits[c >> 4] + kDigits[c & 15];
    return s;
}

TEST(SimLogTest, EveryRequestKindIsLoggedWithItsFields)
{
    LoggedSim sim({"--tcp", "0", "--pty"});
    RawTcp tcp(sim.TcpPort());
    RawSerial line(sim.PtyPath(), 19200);
    enum Via { Tcp, Rtu, Ascii };
    struct Row { Via via; Bytes adu; const char* brief; };  // adu: unit/address and PDU
    const Row rows[] = {
        {Tcp, {0x01, 0x03, 0x03, 0xE8, 0x00, 0x10}, "fc3 1000+16 reply"},
        {Tcp, {0x01, 0x06, 0x00, 0x11, 0x1F, 0x1F}, "fc6 17+1 [7967] reply"},
        {Tcp, {0x01, 0x10, 0x00, 0x70, 0x00, 0x02, 0x04, 0x00, 0x00, 0x40, 0x20}, "fc16 112+2 [0,16416] reply"},
        {Tcp, {0x01, 0x11}, "fc17 reply"},
        {Tcp, {0x01, 0x2B, 0x0E, 0x01, 0x00}, "fc43 exception 1"},
        {Rtu, {0x01, 0x08, 0x00, 0x00, 0x12, 0x34}, "fc8 sub0 [4660] reply"},
        {Rtu, {0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, "fc3 0+1 exception 2"},
        {Rtu, {0x00, 0x06, 0x00, 0x14, 0x00, 0x01}, "fc6 20+1 [1] silent (broadcast)"},
        {Ascii, {0x01, 0x06, 0x00, 0x14, 0x00, 0x00}, "fc6 20+1 [0] reply"},
        {Ascii, {0x01, 0x11}, "fc17 reply"},
    };
    uint16_t tid = 1;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.brief);
        Bytes wire;
        if (r.via == Tcp) {
            wire = Mbap(tid++, r.adu[0], Bytes(r.adu.begin() + 1, r.adu.end()));
            tcp.Write(wire);
            EXPECT_FALSE(tcp.ReadFrame().empty());
        } else {
            wire = r.via == Rtu ? WithCrc(r.adu) : ToBytes(AsciiFrame(r.adu));
            line.Write(wire);
            EXPECT_EQ(line.ReadUntilQuiet(100ms, r.adu[0] == 0 ? 300ms : 2000ms).empty(), r.adu[0] == 0);
        }
        const auto got = sim.WaitNewRequests(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(Brief(got[0]), r.brief);
        EXPECT_EQ(got[0].transport, r.via == Tcp ? "tcp" : r.via == Rtu ? "rtu" : "ascii");
        EXPECT_EQ(got[0].baud, r.via == Tcp ? 0u : 19200u);
        EXPECT_EQ(got[0].unit, r.adu[0]);
        EXPECT_EQ(got[0].tid, r.via == Tcp ? tid - 1 : -1);
        EXPECT_EQ(got[0].hex, HexOf(wire));
    }
    const auto all = sim.Requests();
    ASSERT_EQ(all.size(), std::size(rows));
    for (size_t i = 1; i < all.size(); ++i) {
        EXPECT_EQ(all[i].n, all[i - 1].n + 1);
        EXPECT_GE(all[i].tMs, all[i - 1].tMs);
    }
}

TEST(SimLogTest, FramesNoDeviceTakesAreLoggedAsIgnored)
{
    LoggedSim sim({"--device", "address=1"});
    RawSerial line(sim.PtyPath(), 19200);
    const Bytes readCrt = WithCrc({0x01, 0x03, 0xFF, 0xFF, 0x00, 0x01});
    Bytes badCrc = readCrt;
    badCrc.back() ^= 0xFF;
    Bytes noisy = {0x00, 0xFF, 0x13};
    noisy.insert(noisy.end(), readCrt.begin(), readCrt.end());
    struct Row { const char* what; uint32_t baud; Bytes bytes; std::vector<std::string> briefs; };
    const Row rows[] = {
        {"wrong speed", 9600, readCrt, {"fc3 65535+1 ignored (other speed)"}},
        {"other address", 19200, WithCrc({0x02, 0x03, 0xFF, 0xFF, 0x00, 0x01}), {"fc3 65535+1 ignored (other address)"}},
        {"bad CRC", 19200, badCrc, {"- ignored (bad checksum)"}},
        {"truncated", 19200, Bytes(readCrt.begin(), readCrt.begin() + 5), {"- ignored (incomplete frame)"}},
        {"ASCII bad LRC", 19200, ToBytes(":010300000001FA\r\n"), {"- ignored (bad checksum)"}},
        {"noise, then a request", 19200, noisy, {"- ignored (noise)", "fc3 65535+1 reply"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        line.SetBaud(r.baud);
        line.Write(r.bytes);
        line.ReadUntilQuiet(100ms, 300ms);
        const auto got = sim.WaitNewRequests(r.briefs.size());
        EXPECT_EQ(Briefs(got), r.briefs);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0].baud, r.baud);
        EXPECT_EQ(got[0].hex, HexOf(Bytes(r.bytes.begin(), r.bytes.begin() + static_cast<long>(
                                               r.briefs.size() == 1 ? r.bytes.size() : 3))));
    }
}

// Rows with the same settings run against one simulator, in order.
TEST(SimLogTest, PresetsAnswerAsDescribed)
{
    struct Row { const char* settings; Bytes pdu; Bytes reply; };
    const Row rows[] = {
        {"set=5000:7:0x1F1F", {0x03, 0x13, 0x88, 0x00, 0x02}, {0x03, 0x04, 0x00, 0x07, 0x1F, 0x1F}},
        {"set=1115:3", {0x03, 0x04, 0x5E, 0x00, 0x01}, {0x03, 0x02, 0x33, 0x6D}},  // unit text "m3/min"
        {"id=ACME PUMP, model 7", {0x11}, {0x11, 0x58, 'A', 'C', 'M', 'E', ' ', 'P', 'U', 'M', 'P', ',', ' ',
                                          'm', 'o', 'd', 'e', 'l', ' ', '7', 0xFF}},
        {"noid", {0x11}, {0x91, 0x01}},
        {"noid", {0x08, 0x00, 0x00, 0x12, 0x34}, {0x08, 0x00, 0x00, 0x12, 0x34}},
        {"nocrt", {0x03, 0xFF, 0xFF, 0x00, 0x01}, {0x83, 0x02}},
        {"nocrt", {0x06, 0xFF, 0xFF, 0x00, 0x01}, {0x86, 0x02}},
        {"refuse=20", {0x06, 0x00, 0x14, 0x00, 0x01}, {0x86, 0x04}},
        {"refuse=20", {0x10, 0x00, 0x13, 0x00, 0x02, 0x04, 0, 0, 0, 1}, {0x90, 0x04}},
        {"refuse=20", {0x06, 0x00, 0x11, 0x00, 0x00}, {0x06, 0x00, 0x11, 0x00, 0x00}},
        // Locked: the code reads 0, parameters refuse writes, only the right code unlocks.
        {"protect=4711", {0x03, 0x72, 0x46, 0x00, 0x03}, {0x03, 0x06, 0, 1, 0, 0, 0, 0}},
        {"protect=4711", {0x06, 0x5D, 0xC0, 0x00, 0x01}, {0x86, 0x02}},
        {"protect=4711", {0x10, 0x72, 0x46, 0x00, 0x03, 0x06, 0, 0, 0x12, 0x66, 0, 0}, {0x90, 0x02}},
        {"protect=4711", {0x10, 0x72, 0x46, 0x00, 0x03, 0x06, 0, 0, 0x12, 0x67, 0, 0}, {0x10, 0x72, 0x46, 0x00, 0x03}},
        {"protect=4711", {0x06, 0x5D, 0xC0, 0x00, 0x01}, {0x06, 0x5D, 0xC0, 0x00, 0x01}},
        {"protect=4711", {0x03, 0x72, 0x46, 0x00, 0x01}, {0x03, 0x02, 0, 0}},
    };
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<RawTcp> tcp;
    const char* running = "";
    uint16_t tid = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.settings) + ", function " + std::to_string(r.pdu[0]));
        if (std::string(running) != r.settings) {
            tcp.reset();
            sim = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp", "0", "--device", r.settings});
            tcp = std::make_unique<RawTcp>(sim->TcpPort());
            running = r.settings;
        }
        tcp->Write(Mbap(++tid, 1, r.pdu));
        const Bytes frame = tcp->ReadFrame();
        ASSERT_GE(frame.size(), 7u);
        const Bytes reply(frame.begin() + 7, frame.end());
        // The identification goes on with the fields, which other tests check.
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + static_cast<long>(std::min(reply.size(), r.reply.size()))),
                  r.reply);
        if (r.pdu[0] != 0x11 || (r.reply[0] & 0x80)) {
            EXPECT_EQ(reply.size(), r.reply.size());
        }
    }
}

TEST(SimLogTest, EachSignalWritesANewDump)
{
    LoggedSim sim({"--tcp", "0", "--device", "set=29257:0"});
    const auto first = sim.Dump();
    EXPECT_EQ(first.at("sequence"), 1);
    EXPECT_TRUE(first.at("requests").empty());
    RawTcp tcp(sim.TcpPort());
    tcp.Write(Mbap(9, 1, {0x03, 0x72, 0x49, 0x00, 0x01}));
    EXPECT_EQ(tcp.ReadFrame(), Mbap(9, 1, {0x03, 0x02, 0x00, 0x00}));  // measuring stopped
    const auto second = sim.Dump();
    EXPECT_EQ(second.at("sequence"), 2);
    EXPECT_EQ(Briefs(RequestsOf(second)), std::vector<std::string>{"fc3 29257+1 reply"});
    EXPECT_TRUE(second.at("changes").empty());  // presets are not changes
}

}  // namespace
