// The Modbus TCP client against another stack: a pymodbus server (tests/support/
// pymodbus_server.py) started as a child process on a loopback ephemeral port. Holding register
// i (0..999) holds 0x1000 + i there; other addresses answer with exception 2.

#include "ModbusTcpClient.h"
#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace modbus;
using namespace std::chrono_literals;

constexpr uint16_t kFirstValue = 0x1000;

std::string Python()
{
    return testing_support::PythonInterpreter();
}

std::string ServerScript()
{
    return testing_support::SourcePath("tests/support/pymodbus_server.py");
}

std::vector<uint16_t> Expected(uint16_t first, uint16_t count)
{
    std::vector<uint16_t> v;
    for (uint16_t i = 0; i < count; ++i)
        v.push_back(static_cast<uint16_t>(kFirstValue + first + i));
    return v;
}

class TcpInterop : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string python = Python();
        if (::access(python.c_str(), X_OK) != 0)
            GTEST_SKIP() << python << " is not there";
        peer_.emplace(std::vector<std::string>{python, ServerScript()});
        // Importing pymodbus takes a moment on a cold machine.
        const std::optional<std::string> line = peer_->ReadLine(30s);
        ASSERT_TRUE(line.has_value()) << "the pymodbus server printed no port";
        if (line->rfind("SKIP ", 0) == 0)
            GTEST_SKIP() << line->substr(5);
        ASSERT_EQ(line->rfind("PORT ", 0), 0u) << *line;
        client.SetHost("127.0.0.1");
        client.SetPort(std::stoi(line->substr(5)));
        client.SetBaseRegister(0);
        client.SetTimeOut(5000);
        client.OnResponseError = [this](uint8_t f, uint8_t code, const TModbusTcpReply&) {
            errors.emplace_back(f, code);
        };
    }

    TModbusTcpClient client;
    std::vector<std::pair<uint8_t, uint8_t>> errors;

private:
    std::optional<testing_support::ChildProcess> peer_;  // stopped by pid and reaped when it goes
};

TEST_F(TcpInterop, ReadsKnownRegisters)
{
    client.SetAutoConnect(false);
    client.Connect(5000);
    std::vector<uint16_t> values;
    ASSERT_TRUE(client.ReadHoldingRegisters(100, 10, values));
    EXPECT_EQ(values, Expected(100, 10));
    ASSERT_TRUE(client.ReadHoldingRegisters(0, 125, values));
    EXPECT_EQ(values, Expected(0, 125));
    ASSERT_TRUE(client.ReadHoldingRegisters(875, 200, values));  // asks for 125
    EXPECT_EQ(std::vector<uint16_t>(values.begin(), values.begin() + 125), Expected(875, 125));
    EXPECT_EQ(values[125], 0);
    EXPECT_EQ(client.LastTransactionID(), 3);
}

TEST_F(TcpInterop, BaseRegisterOneCountsFromOne)
{
    client.SetBaseRegister(1);
    std::vector<uint16_t> values;
    ASSERT_TRUE(client.ReadHoldingRegisters(1, 2, values));  // with AutoConnect
    EXPECT_EQ(values, Expected(0, 2));
    EXPECT_FALSE(client.Connected());
}

TEST_F(TcpInterop, WritesAreReadBack)
{
    client.SetAutoConnect(false);
    client.Connect(5000);
    std::vector<uint16_t> values;
    ASSERT_TRUE(client.WriteSingleRegister(500, 0xBEEF));
    ASSERT_TRUE(client.ReadHoldingRegisters(500, 1, values));
    EXPECT_EQ(values, std::vector<uint16_t>{0xBEEF});

    std::vector<uint16_t> block(123);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint16_t>(0xA000 + i);
    ASSERT_TRUE(client.WriteMultipleRegisters(600, block));
    ASSERT_TRUE(client.ReadHoldingRegisters(600, 123, values));
    EXPECT_EQ(values, block);
}

TEST_F(TcpInterop, UnknownAddressAnswersIllegalDataAddress)
{
    std::vector<uint16_t> values(2, 0xEEEE);
    EXPECT_FALSE(client.ReadHoldingRegisters(2000, 2, values));
    EXPECT_EQ(values, std::vector<uint16_t>(2, 0));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], (std::pair<uint8_t, uint8_t>{3, 2}));
    EXPECT_EQ(client.LastResult().Reply, trExceptionReply);
    EXPECT_EQ(client.LastResult().ExceptionCode, 2);
}

TEST_F(TcpInterop, ReportServerIdentificationReadsTheIdentifier)
{
    std::vector<uint16_t> values;
    ASSERT_TRUE(client.ReportServerIdentification(values));
    ASSERT_EQ(values.size(), 125u);
    std::string text;
    for (uint16_t w : values) {
        if (w == 0)
            break;
        text += static_cast<char>(w >> 8);
        text += static_cast<char>(w & 0xFF);
    }
    // 16 identifier bytes and the run status 0xFF: the odd last byte is dropped.
    EXPECT_EQ(text, "TARNWICK-INTEROP");
}

TEST_F(TcpInterop, ManyExchangesOnOneConnection)
{
    client.SetAutoConnect(false);
    client.Connect(5000);
    std::vector<uint16_t> values;
    for (uint16_t i = 0; i < 200; ++i) {
        ASSERT_TRUE(client.ReadHoldingRegisters(i, 1, values)) << "read " << i;
        ASSERT_EQ(values[0], kFirstValue + i);
    }
}

}  // namespace
