#pragma once

// The Report Server ID answer taken apart, and the text of the identification report.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace app {

struct DeviceIdentification {
    std::string idText;  // Latin-1 bytes before the run indicator
    std::optional<std::uint8_t> runIndicator;  // 0x00 off, 0xFF on; absent when neither occurs
    // Fields after the run indicator (positions counted from 1). Each is cut short when the
    // data is, and ends at its first NUL so padding cannot cut off the rest of the report.
    std::string serialNumber;           // 1..16
    std::string firmwareVersion;        // 18..34
    std::string modbusFirmwareVersion;  // 35..50
    std::string modbusSerialNumber;     // 51..66
    std::string marker;                 // 67..69

    bool isVortan() const;  // the family's meters name themselves "VORTAN"
    bool hasArmMarker() const;
};

// Reads at most min(byteCount, data.size()) bytes.
DeviceIdentification decodeIdentification(std::span<const std::uint8_t> data, std::size_t byteCount);
DeviceIdentification decodeIdentification(std::span<const std::uint8_t> data);

// The message box text for a decoded answer; lines end with CR LF.
std::string identificationReportText(const DeviceIdentification& id);

// The message box text for a reply status other than success; empty for a status that has none.
std::string_view identificationFailureText(int replyStatus);

// Report text for any reply status: success decodes data, others give their failure text.
std::string identificationReport(int replyStatus, std::span<const std::uint8_t> data, std::size_t byteCount);

// Over TCP the answer arrives as up to 125 registers of two bytes, the earlier in the high
// half. The bytes end before the first zero register; at most 125 registers are used.
std::vector<std::uint8_t> identificationBytesFromTcpWords(std::span<const std::uint16_t> words);

}  // namespace app
