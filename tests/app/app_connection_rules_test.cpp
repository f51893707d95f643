// Silent interval by line rate, the connection failure hint and the TCP port text.

#include "ConnectionRules.h"

#include <gtest/gtest.h>

namespace {

TEST(ConnectionRules, SilentIntervalByBaudRate)
{
    const std::pair<uint32_t, uint32_t> table[] = {
        {110, 4}, {300, 4}, {600, 4}, {1200, 4}, {2400, 8}, {4800, 8}, {9600, 40}, {14400, 4},
        {19200, 40}, {38400, 80}, {56000, 4}, {57600, 80}, {115200, 40}, {128000, 4}, {256000, 4},
        {0, 4},  // a custom rate
    };
    for (const auto& [baud, interval] : table)
        EXPECT_EQ(app::silentIntervalForBaud(baud), interval) << baud;
}

TEST(ConnectionRules, FailureHintEndsWithTheEchoLinesOnlyWhileEchoIsRemoved)
{
    const std::string base =
        "Connection can't be established to Slave-Address 247 !\r\n\r\nPlease check the following settings:\r\n\r\n"
        "Modbus Settings -> Echo Reply\r\nModbus Slave Address\r\nBaud Rate, Stop Bit, Parity, Serial Port\r\n"
        "Did you want to use TCP/IP?";
    EXPECT_EQ(app::connectionFailureText(247, false), base);
    EXPECT_EQ(app::connectionFailureText(247, true),
              base + "\r\n\r\nThe Kaldor standard Brisko 485 stick needs to check\r\n[Remove Echo]!");
}

TEST(ConnectionRules, TcpPortText)
{
    const std::pair<const char*, std::optional<int>> table[] = {
        {"502", 502}, {" 1502 ", 1502}, {"1", 1}, {"65535", 65535}, {"0", std::nullopt},
        {"65536", std::nullopt}, {"-1", std::nullopt}, {"", std::nullopt}, {"50x2", std::nullopt},
        {"5 02", std::nullopt}, {"0x1F6", std::nullopt},
    };
    for (const auto& [text, port] : table)
        EXPECT_EQ(app::parseTcpPort(text), port) << '"' << text << '"';
}

}  // namespace
