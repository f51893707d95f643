#pragma once

// Byte order and coil packing of the Modbus TCP client. The wire carries 16-bit fields high byte
// first and packs coils eight to a byte, the first coil in the least significant bit.

#include <cstddef>
#include <cstdint>
#include <span>

namespace modbus {

// Exchanges the two bytes of a 16-bit value.
constexpr uint16_t Swap(uint16_t w)
{
    return static_cast<uint16_t>((w << 8) | (w >> 8));
}

// Reads and writes a 16-bit field in wire order, whatever the host's order.
constexpr uint16_t GetWordBE(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
constexpr void PutWordBE(uint8_t* p, uint16_t w)
{
    p[0] = static_cast<uint8_t>(w >> 8);
    p[1] = static_cast<uint8_t>(w & 0xFF);
}

// Bytes needed for `count` coils.
constexpr size_t CoilByteCount(size_t count)
{
    return (count + 7) / 8;
}

// Packs the first `count` values (non-zero = on) into CoilByteCount(count) bytes at `dest`;
// unused high bits of the last byte are 0. `values` must hold at least `count` elements.
void PackCoils(std::span<const uint16_t> values, size_t count, uint8_t* dest);

// Unpacks `count` bits from `src` into values[0 .. count-1] as 0 or 1; stops early when
// `values` is shorter. Reads CoilByteCount(count) bytes at most.
void UnpackCoils(const uint8_t* src, size_t count, std::span<uint16_t> values);

}  // namespace modbus
