// The Report Server ID answer as the window decodes it, from serial bytes (with a claimed byte
// count) and from the TCP register form, down to the report text.

#include "DeviceIdentification.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int status = data[0] % 7;
    const size_t byteCount = data[1];
    const std::span<const uint8_t> bytes(data + 2, size - 2);

    const app::DeviceIdentification id = app::decodeIdentification(bytes, byteCount);
    if (id.idText.size() > bytes.size())
        std::abort();
    (void)app::identificationReportText(id);
    (void)app::identificationReport(status, bytes, byteCount);

    std::vector<uint16_t> words(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    const std::vector<uint8_t> fromTcp = app::identificationBytesFromTcpWords(words);
    if (fromTcp.size() > 250)
        std::abort();
    (void)app::identificationReportText(app::decodeIdentification(fromTcp));
    return 0;
}
