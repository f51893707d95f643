#include "ConnectionRules.h"

#include <charconv>

namespace app {

std::uint32_t silentIntervalForBaud(std::uint32_t bitsPerSecond)
{
    switch (bitsPerSecond) {
    case 1200: return 4;
    case 2400:
    case 4800: return 8;
    case 9600:
    case 19200:
    case 115200: return 40;
    case 38400:
    case 57600: return 80;
    default: return 4;
    }
}

std::string connectionFailureText(int slaveAddress, bool echoQueryBeforeReply)
{
    std::string text = "Connection can't be established to Slave-Address " + std::to_string(slaveAddress) +
                       " !\r\n\r\nPlease check the following settings:\r\n\r\n"
                       "Modbus Settings -> Echo Reply\r\n"
                       "Modbus Slave Address\r\n"
                       "Baud Rate, Stop Bit, Parity, Serial Port\r\n"
                       "Did you want to use TCP/IP?";
    if (echoQueryBeforeReply)
        text += "\r\n\r\nThe Kaldor standard Brisko 485 stick needs to check\r\n[Remove Echo]!";
    return text;
}

std::optional<int> parseTcpPort(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    int port = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

}  // namespace app
