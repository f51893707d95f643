// vortan-sim over Modbus TCP: the project's TCP client for reads, writes and faults; raw
// sockets for what the client cannot send.

#include "ModbusTcpClient.h"
#include "RawLink.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

namespace {

using namespace simtest;

struct TcpSim {
    explicit TcpSim(const std::vector<std::string>& devices = {})
    {
        std::vector<std::string> args = {"--tcp", "0"};
        for (const auto& d : devices) {
            args.push_back("--device");
            args.push_back(d);
        }
        sim = std::make_unique<SimProcess>(args);
        client.SetHost("127.0.0.1");
        client.SetPort(sim->TcpPort());
        client.SetBaseRegister(0);
        client.SetUnitID(1);
        client.SetTimeOut(1000);
    }
    std::unique_ptr<SimProcess> sim;
    modbus::TModbusTcpClient client;
};

TEST(SimTcpTest, ProbeBlockWriteAndIdentification)
{
    TcpSim t;
    ASSERT_NE(t.sim->TcpPort(), 0);
    EXPECT_EQ(t.sim->Lines().front(), "tcp: 127.0.0.1:" + std::to_string(t.sim->TcpPort()));
    t.client.Connect(2000);
    std::vector<uint16_t> v;
    ASSERT_TRUE(t.client.ReadHoldingRegisters(65535, 1, v));
    EXPECT_EQ(v, std::vector<uint16_t>{0});

    ASSERT_TRUE(t.client.WriteSingleRegister(1003, 1));  // fluid temperature in °F
    ASSERT_TRUE(t.client.ReadHoldingRegisters(1000, 16, v));
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[3], 1);
    EXPECT_EQ(v[6], 0x46B0);  // "°F", Latin-1

    std::vector<uint16_t> id;
    ASSERT_TRUE(t.client.ReportServerIdentification(id));
    std::string text;
    for (uint16_t w : id) {
        if (w == 0)
            break;
        text += static_cast<char>(w >> 8);
        text += static_cast<char>(w & 0xFF);
    }
    const size_t run = text.find('\xFF');
    ASSERT_NE(run, std::string::npos);
    EXPECT_NE(text.substr(0, run).find("VORTAN"), std::string::npos);
    EXPECT_EQ(text.substr(run + 1 + 66, 3), "ARM");

    EXPECT_FALSE(t.client.ReadHoldingRegisters(2, 1, v));
    EXPECT_EQ(t.client.LastResult().Reply, modbus::trExceptionReply);
    EXPECT_EQ(t.client.LastResult().ExceptionCode, 2);
}

TEST(SimTcpTest, FaultSwitches)
{
    struct Row { const char* settings; modbus::TTransactionReply reply; uint8_t exception; };
    const Row rows[] = {
        {"split=150", modbus::trSuccess, 0},
        {"staleid", modbus::trSuccess, 0},
        {"exception=6", modbus::trExceptionReply, 6},
        {"wrongfc", modbus::trUnmatchedReply, 0},
        {"silent", modbus::trNoReply, 0},
        {"delay=1500", modbus::trNoReply, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.settings);
        TcpSim t({r.settings});
        t.client.SetTimeOut(500);
        t.client.Connect(2000);
        std::vector<uint16_t> v;
        const bool ok = t.client.ReadHoldingRegisters(65535, 1, v);
        EXPECT_EQ(ok, r.reply == modbus::trSuccess);
        EXPECT_EQ(t.client.LastResult().Reply, r.reply);
        EXPECT_EQ(t.client.LastResult().ExceptionCode, r.exception);
    }
}

TEST(SimTcpTest, RawFaultShapes)
{
    TcpSim t({"staleid,otheraddr,split=50"});
    RawTcp raw(t.sim->TcpPort());
    raw.Write(Mbap(0x0102, 1, {0x03, 0xFF, 0xFF, 0x00, 0x01}));
    const Bytes reply = {0x03, 0x02, 0x00, 0x00};
    EXPECT_EQ(raw.ReadFrame(), Mbap(0x0102, 2, reply));  // another unit first
    EXPECT_EQ(raw.ReadFrame(), Mbap(0x0101, 1, reply));  // then the previous id
    EXPECT_EQ(raw.ReadFrame(), Mbap(0x0102, 1, reply));  // then the answer, in two segments
}

TEST(SimTcpTest, UnitIdPicksTheDeviceAndBadHeadersHangUp)
{
    TcpSim t({"address=1", "address=5,exception=3"});
    RawTcp raw(t.sim->TcpPort());
    const Bytes read = {0x03, 0xFF, 0xFF, 0x00, 0x01};
    raw.Write(Mbap(1, 1, read));
    EXPECT_EQ(raw.ReadFrame(), Mbap(1, 1, {0x03, 0x02, 0x00, 0x00}));
    raw.Write(Mbap(2, 5, read));
    EXPECT_EQ(raw.ReadFrame(), Mbap(2, 5, {0x83, 0x03}));
    raw.Write(Mbap(3, 9, read));
    EXPECT_EQ(raw.ReadFrame(), Mbap(3, 9, {0x83, 0x0B}));  // no such device behind the gateway

    Bytes lying = Mbap(4, 1, read);
    lying[5] = 0xFF;  // length 255: no PDU is that long
    raw.Write(lying);
    EXPECT_TRUE(raw.WaitClosed());

    RawTcp again(t.sim->TcpPort());  // the server itself lives on
    again.Write(Mbap(5, 1, read));
    EXPECT_EQ(again.ReadFrame(), Mbap(5, 1, {0x03, 0x02, 0x00, 0x00}));
}

}  // namespace
