#include "RegisterValues.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace app {

namespace {

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string outOfRange(std::string_view text, std::string_view range)
{
    return "'" + std::string(text) + "' is out of range (" + std::string(range) + ")";
}

// Seven significant digits shown with two decimals; past seven integer digits, in exponent form.
std::string formatFloat(float value, std::string_view sep)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6e", static_cast<double>(value));
    const double rounded = std::strtod(buf, nullptr);
    const int exponent = std::atoi(std::strchr(buf, 'e') + 1);
    std::string out;
    if (exponent >= 7) {
        std::string mantissa(buf, std::strchr(buf, 'e'));
        while (mantissa.back() == '0')
            mantissa.pop_back();
        if (mantissa.back() == '.')
            mantissa.pop_back();
        out = mantissa + "E" + std::to_string(exponent);
    } else {
        std::snprintf(buf, sizeof buf, "%.2f", rounded);
        out = buf;
        if (out == "-0.00")
            out = "0.00";
    }
    if (const auto dot = out.find('.'); dot != std::string::npos)
        out.replace(dot, 1, sep);
    return out;
}

}  // namespace

std::optional<DataType> dataTypeFromText(std::string_view text)
{
    if (text == "Int16")
        return DataType::Int16;
    if (text == "Int32")
        return DataType::Int32;
    if (text == "Float")
        return DataType::Float;
    if (text == "Char")
        return DataType::Char;
    return std::nullopt;
}

int registerCount(DataType type)
{
    return type == DataType::Int32 || type == DataType::Float ? 2 : 1;
}

std::string decodeRegisters(DataType type, std::span<const std::uint16_t> regs, std::string_view sep)
{
    if (regs.size() < static_cast<std::size_t>(registerCount(type)))
        return {};
    const std::uint32_t pair = regs.size() >= 2 ? static_cast<std::uint32_t>(regs[1]) << 16 | regs[0] : 0;
    switch (type) {
    case DataType::Int16: return std::to_string(regs[0]);
    case DataType::Int32: return std::to_string(pair);
    case DataType::Float: return formatFloat(std::bit_cast<float>(pair), sep);
    case DataType::Char: return std::string(1, static_cast<char>(regs[0] & 0xFF));
    }
    return {};
}

std::optional<long long> parseInteger(std::string_view text, long long low, long long high)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < low || v > high)
        return std::nullopt;
    return v;
}

std::optional<double> parseDecimal(std::string_view text)
{
    std::string s(trimmed(text));
    if (s.empty())
        return std::nullopt;
    // A comma and a period both mean the decimal point; two of them mean nothing.
    std::size_t separators = 0;
    for (char& c : s) {
        if (c == ',' || c == '.') {
            c = '.';
            ++separators;
        } else if (!(c >= '0' && c <= '9') && c != '-' && c != '+' && c != 'e' && c != 'E') {
            return std::nullopt;
        }
    }
    if (separators > 1)
        return std::nullopt;
    const char* first = s.data() + (s.front() == '+' ? 1 : 0);
    double v = 0;
    const auto [end, ec] = std::from_chars(first, s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<std::vector<std::uint16_t>> floatRegisters(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
        return std::nullopt;
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(value));
    return std::vector<std::uint16_t>{static_cast<std::uint16_t>(bits & 0xFFFF), static_cast<std::uint16_t>(bits >> 16)};
}

std::string notAnInteger(std::string_view text) { return "'" + std::string(text) + "' is not a valid integer value"; }
std::string notAFloat(std::string_view text) { return "'" + std::string(text) + "' is not a valid floating point value"; }

Encoded encodeValue(DataType type, std::string_view text)
{
    Encoded e;
    switch (type) {
    case DataType::Int16: {
        if (!parseInteger(text, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max()))
            e.error = notAnInteger(text);
        else if (const auto v = parseInteger(text, -32768, 65535))
            e.words = {static_cast<std::uint16_t>(*v & 0xFFFF)};
        else
            e.error = outOfRange(text, "-32768 to 65535");
        break;
    }
    case DataType::Int32: {
        if (!parseInteger(text, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max()))
            e.error = notAnInteger(text);
        else if (const auto v = parseInteger(text, -2147483648LL, 4294967295LL)) {
            const auto bits = static_cast<std::uint32_t>(*v & 0xFFFFFFFF);
            e.words = {static_cast<std::uint16_t>(bits & 0xFFFF), static_cast<std::uint16_t>(bits >> 16)};
        } else
            e.error = outOfRange(text, "-2147483648 to 4294967295");
        break;
    }
    case DataType::Float: {
        const auto v = parseDecimal(text);
        if (!v)
            e.error = notAFloat(text);
        else if (const auto words = floatRegisters(*v))
            e.words = *words;
        else
            e.error = outOfRange(text, "single precision");
        break;
    }
    case DataType::Char:
        if (text.size() == 1)
            e.words = {static_cast<std::uint8_t>(text[0])};
        break;
    }
    return e;
}

std::uint16_t byteOrderRegister(int order16, int orderLong, int orderFloat)
{
    auto field = [](int position, int max) { return position < 0 || position > max ? 0 : position; };
    const int byte = field(order16, 1) | field(orderLong, 3) << 1 | field(orderFloat, 3) << 3;
    return static_cast<std::uint16_t>(byte * 0x0101);
}

std::string hexWord(std::uint16_t value)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", value);
    return buf;
}

}  // namespace app
