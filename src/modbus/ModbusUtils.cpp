#include "ModbusUtils.h"

#include <algorithm>

namespace modbus {

void PackCoils(std::span<const uint16_t> values, size_t count, uint8_t* dest)
{
    std::fill_n(dest, CoilByteCount(count), uint8_t{0});
    for (size_t i = 0; i < count; ++i) {
        if (values[i] != 0)
            dest[i / 8] = static_cast<uint8_t>(dest[i / 8] | (1u << (i % 8)));
    }
}

void UnpackCoils(const uint8_t* src, size_t count, std::span<uint16_t> values)
{
    const size_t n = std::min(count, values.size());
    for (size_t i = 0; i < n; ++i)
        values[i] = static_cast<uint16_t>((src[i / 8] >> (i % 8)) & 1u);
}

}  // namespace modbus
