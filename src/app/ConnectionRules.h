#pragma once

// Rules of the main window's connection handling that need no window: the serial silent
// interval, the hint shown when a serial meter does not answer, the TCP port text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

// SilentInterval for a line rate in bits per second (0 for a custom rate).
std::uint32_t silentIntervalForBaud(std::uint32_t bitsPerSecond);

// Text of the "ERROR" box after a failed connection test; CR LF line ends. The last two lines
// name the echo setting and appear only while the connection removes an echo.
std::string connectionFailureText(int slaveAddress, bool echoQueryBeforeReply);

inline constexpr std::string_view TcpIdleCaption = "Disconnected";
inline constexpr std::string_view TcpIdleText = "Your connection is inactiv.\r\n\r\nPlease reconnect...";

// The port edit's text as a TCP port (1..65535, surrounding blanks allowed); nothing otherwise.
std::optional<int> parseTcpPort(std::string_view text);

}  // namespace app
