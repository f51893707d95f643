#include "DeviceIdentification.h"

#include <algorithm>

namespace app {

namespace {

constexpr std::size_t MaxTcpIdentificationWords = 125;
constexpr std::uint8_t ReplySuccess = 5;

// Field at 1-based positions first..last of rest, clipped to what is there.
std::string field(std::string_view rest, std::size_t first, std::size_t last)
{
    if (rest.size() < first)
        return {};
    std::string_view f = rest.substr(first - 1, last - first + 1);
    return std::string(f.substr(0, f.find('\0')));
}

}  // namespace

bool DeviceIdentification::isVortan() const
{
    return idText.find("VORTAN") != std::string::npos;
}

bool DeviceIdentification::hasArmMarker() const
{
    return marker == "ARM";
}

DeviceIdentification decodeIdentification(std::span<const std::uint8_t> data, std::size_t byteCount)
{
    const std::span<const std::uint8_t> bytes = data.first(std::min(byteCount, data.size()));
    DeviceIdentification id;
    const auto indicator = std::find_if(bytes.begin(), bytes.end(),
                                        [](std::uint8_t b) { return b == 0x00 || b == 0xFF; });
    id.idText.assign(bytes.begin(), indicator);
    if (indicator == bytes.end())
        return id;
    id.runIndicator = *indicator;
    const std::string rest(indicator + 1, bytes.end());
    id.serialNumber = field(rest, 1, 16);
    id.firmwareVersion = field(rest, 18, 34);
    id.modbusFirmwareVersion = field(rest, 35, 50);
    id.modbusSerialNumber = field(rest, 51, 66);
    id.marker = field(rest, 67, 69);
    return id;
}

DeviceIdentification decodeIdentification(std::span<const std::uint8_t> data)
{
    return decodeIdentification(data, data.size());
}

std::string identificationReportText(const DeviceIdentification& id)
{
    if (!id.isVortan())
        return id.idText;
    std::string text = id.idText + "\r\n\r\n";
    text += "Vortan serial no.:         " + id.serialNumber + "\r\n";
    text += "Vortan FW version:     " + id.firmwareVersion + "\r\n";
    if (!id.hasArmMarker()) {
        text += "Modbus FW version:  " + id.modbusFirmwareVersion + "\r\n";
        text += "Modbus serial no.:      " + id.modbusSerialNumber + "\r\n";
    }
    return text;
}

std::string_view identificationFailureText(int replyStatus)
{
    switch (replyStatus) {
    case 0: return "Received no reply!";
    case 1: return "Received invalid frame!";
    case 3: return "Received unmatched reply!";
    case 4: return "Received server exception!";
    default: return {};
    }
}

std::string identificationReport(int replyStatus, std::span<const std::uint8_t> data, std::size_t byteCount)
{
    if (replyStatus == ReplySuccess)
        return identificationReportText(decodeIdentification(data, byteCount));
    return std::string(identificationFailureText(replyStatus));
}

std::vector<std::uint8_t> identificationBytesFromTcpWords(std::span<const std::uint16_t> words)
{
    std::vector<std::uint8_t> bytes;
    const std::size_t n = std::min(words.size(), MaxTcpIdentificationWords);
    for (std::size_t i = 0; i < n && words[i] != 0; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(words[i] >> 8));
        bytes.push_back(static_cast<std::uint8_t>(words[i] & 0xFF));
    }
    return bytes;
}

}  // namespace app
