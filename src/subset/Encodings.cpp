#include "Encodings.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

namespace subset {

float DecodeF32(std::span<const std::uint16_t> words) { return std::bit_cast<float>(DecodeU32(words)); }

std::optional<Words> EncodeF32(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
        return std::nullopt;
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(value));
    return Words{static_cast<std::uint16_t>(bits & 0xFFFF), static_cast<std::uint16_t>(bits >> 16)};
}

std::uint32_t DecodeU32(std::span<const std::uint16_t> words)
{
    if (words.size() < 2)
        return 0;
    return words[0] | static_cast<std::uint32_t>(words[1]) << 16;
}

std::optional<Words> EncodeU32(long long value)
{
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    const auto bits = static_cast<std::uint32_t>(value);
    return Words{static_cast<std::uint16_t>(bits & 0xFFFF), static_cast<std::uint16_t>(bits >> 16)};
}

std::optional<Words> EncodeU16(long long value)
{
    if (value < 0 || value > 0xFFFF)
        return std::nullopt;
    return Words{static_cast<std::uint16_t>(value)};
}

std::optional<Words> EncodeChars7(std::string_view latin1)
{
    if (latin1.size() > Chars7Length)
        return std::nullopt;
    std::string text(latin1);
    text.resize(Chars7Length, ' ');
    text.push_back('\0');
    Words words;
    for (std::size_t k = 0; k < 4; ++k)
        words.push_back(static_cast<std::uint16_t>(static_cast<unsigned char>(text[2 * k]) |
                                                   static_cast<unsigned char>(text[2 * k + 1]) << 8));
    return words;
}

std::string TransducerIntegerToType(std::span<const std::uint16_t> words)
{
    std::string text;
    for (std::size_t k = 0; k < 4 && k < words.size(); ++k) {
        text.push_back(static_cast<char>(words[k] & 0xFF));
        text.push_back(static_cast<char>(words[k] >> 8));
    }
    text.resize(Chars7Length, '\0');
    return text;
}

std::optional<long long> ParseInteger(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-')
        text.remove_prefix(1);
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

double RoundSignificant(double value, int digits)
{
    if (value == 0.0 || !std::isfinite(value))
        return value;
    const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
    const double scale = std::pow(10.0, digits - magnitude);
    return std::round(value * scale) / scale;
}

}  // namespace subset
