// Against tests/support/pymodbus_server.py: register i (0..999) holds 0x1000 + i, others raise 2.

#include "ChildProcess.h"
#include "ModbusTcpClient.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

using namespace modbus;
using namespace std::chrono_literals;
using Words = std::vector<uint16_t>;

static Words Expected(uint16_t first, uint16_t count)
{
    Words v(count);
    std::iota(v.begin(), v.end(), static_cast<uint16_t>(0x1000 + first));
    return v;
}

TEST(TcpInterop, ReadsWritesExceptionsAndIdentification)
{
    // Debian's python3, where python3-pymodbus lives, whatever PATH says.
    const char* chosen = std::getenv("TARNWICK_PYTHON");
    const std::string python = chosen && *chosen ? chosen : "/usr/bin/python3";
    if (::access(python.c_str(), X_OK) != 0)
        GTEST_SKIP() << python << " is not there";
    testing_support::ChildProcess peer({python, testing_support::SourcePath("tests/support/pymodbus_server.py")});
    // Importing pymodbus takes a moment on a cold machine.
    const std::optional<std::string> line = peer.ReadLine(30s);
    ASSERT_TRUE(line.has_value()) << "the pymodbus server printed no port";
    if (line->rfind("SKIP ", 0) == 0)
        GTEST_SKIP() << line->substr(5);
    ASSERT_EQ(line->rfind("PORT ", 0), 0u) << *line;
    TModbusTcpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(std::stoi(line->substr(5)));
    client.SetTimeOut(5000);
    std::vector<std::pair<uint8_t, uint8_t>> errors;
    client.OnResponseError = [&](uint8_t f, uint8_t code, const TModbusTcpReply&) { errors.emplace_back(f, code); };

    // With AutoConnect and the default base register 1, register 1 is the first on the wire.
    Words values;
    ASSERT_TRUE(client.ReadHoldingRegisters(1, 2, values));
    EXPECT_EQ(values, Expected(0, 2));
    EXPECT_FALSE(client.Connected());

    client.SetBaseRegister(0);
    client.SetAutoConnect(false);
    client.Connect(5000);
    ASSERT_TRUE(client.ReadHoldingRegisters(100, 10, values));
    EXPECT_EQ(values, Expected(100, 10));
    ASSERT_TRUE(client.ReadHoldingRegisters(0, 125, values));
    EXPECT_EQ(values, Expected(0, 125));
    ASSERT_TRUE(client.ReadHoldingRegisters(875, 200, values));  // asks for 125
    EXPECT_EQ(Words(values.begin(), values.begin() + 125), Expected(875, 125));
    EXPECT_EQ(values[125], 0);
    EXPECT_EQ(client.LastTransactionID(), 3);
    for (uint16_t i = 0; i < 200; ++i) {
        ASSERT_TRUE(client.ReadHoldingRegisters(i, 1, values)) << "read " << i;
        ASSERT_EQ(values[0], 0x1000 + i);
    }

    ASSERT_TRUE(client.WriteSingleRegister(500, 0xBEEF));
    ASSERT_TRUE(client.ReadHoldingRegisters(500, 1, values));
    EXPECT_EQ(values, Words{0xBEEF});
    Words block(123);
    std::iota(block.begin(), block.end(), uint16_t{0xA000});
    ASSERT_TRUE(client.WriteMultipleRegisters(600, block));
    ASSERT_TRUE(client.ReadHoldingRegisters(600, 123, values));
    EXPECT_EQ(values, block);

    values.assign(2, 0xEEEE);
    EXPECT_FALSE(client.ReadHoldingRegisters(2000, 2, values));
    EXPECT_EQ(values, Words(2, 0));
    EXPECT_EQ(errors, (std::vector<std::pair<uint8_t, uint8_t>>{{3, 2}}));
    EXPECT_EQ(client.LastResult().Reply, trExceptionReply);
    EXPECT_EQ(client.LastResult().ExceptionCode, 2);

    ASSERT_TRUE(client.ReportServerIdentification(values));
    ASSERT_EQ(values.size(), 125u);
    std::string text;
    for (size_t i = 0; i < values.size() && values[i]; ++i)
        text += std::string{static_cast<char>(values[i] >> 8), static_cast<char>(values[i] & 0xFF)};
    // 16 identifier bytes and the run status 0xFF: the odd last byte is dropped.
    EXPECT_EQ(text, "TARNWICK-INTEROP");
}
