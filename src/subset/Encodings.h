#pragma once

// How a page's value sits in its registers. Every multi-register value puts its low-order
// word first. Encoders refuse what the registers cannot carry instead of wrapping it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace subset {

using Words = std::vector<std::uint16_t>;

float DecodeF32(std::span<const std::uint16_t> words);
std::optional<Words> EncodeF32(double value);  // finite and within single precision

std::uint32_t DecodeU32(std::span<const std::uint16_t> words);
// -2147483648 .. 4294967295, so that a negative text and the unsigned number read back both fit.
std::optional<Words> EncodeU32(long long value);
std::optional<Words> EncodeU16(long long value);

// Seven 8-bit characters, two to a register, the first in the low byte; the fourth register's
// high byte is 0. A shorter text is padded with blanks; a longer one does not fit.
inline constexpr std::size_t Chars7Length = 7;
std::optional<Words> EncodeChars7(std::string_view latin1);
std::string TransducerIntegerToType(std::span<const std::uint16_t> words);

// A whole number in decimal, optional sign, surrounding blanks allowed.
std::optional<long long> ParseInteger(std::string_view text);

// The value rounded to the given number of significant digits, for a display of at most that many.
double RoundSignificant(double value, int digits);

}  // namespace subset
