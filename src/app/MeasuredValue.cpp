#include "MeasuredValue.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace app {

MeasStatus measStatus(std::uint16_t statusRegister)
{
    switch (statusRegister) {
    case 0: return MeasStatus::NeverSet;
    case 1: return MeasStatus::Ok;
    default: return MeasStatus::Failed;
    }
}

std::string_view measStatusText(MeasStatus status)
{
    switch (status) {
    case MeasStatus::Ok: return "OK";
    case MeasStatus::NeverSet: return "Never set";
    case MeasStatus::Failed: return "Failed";
    }
    return "Failed";
}

float floatFromRegisters(std::uint16_t low, std::uint16_t high)
{
    return std::bit_cast<float>(static_cast<std::uint32_t>(high) << 16 | low);
}

std::optional<MeasuredValueBlock> decodeMeasuredValueBlock(std::span<const std::uint16_t> regs,
                                                           TextByteOrder order)
{
    if (regs.size() < MeasRecordSize)
        return std::nullopt;
    MeasuredValueBlock b;
    for (std::size_t i = 0; i < MeasRecordSize; ++i)
        b.registers[i] = regs[i];
    b.status = measStatus(regs[0]);
    b.unscaled = floatFromRegisters(regs[1], regs[2]);
    b.unitId = regs[3];
    b.scaled = floatFromRegisters(regs[4], regs[5]);
    for (std::size_t i = 6; i <= 8; ++i) {
        const auto lo = static_cast<char>(regs[i] & 0xFF);
        const auto hi = static_cast<char>(regs[i] >> 8);
        b.unitText.push_back(order == TextByteOrder::LowByteFirst ? lo : hi);
        b.unitText.push_back(order == TextByteOrder::LowByteFirst ? hi : lo);
    }
    b.unitText.resize(b.unitText.find('\0') == std::string::npos ? b.unitText.size()
                                                                 : b.unitText.find('\0'));
    b.secondsSinceUpdate = regs[9];
    return b;
}

std::string formatMeasuredValue(double value, std::string_view sep)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";

    const std::string zero = "0" + std::string(sep) + "00";
    if (value == 0.0)
        return zero;

    // Enough digits to hold a float's exact decimal expansion in the range that is shown, so
    // the rounding to four significant digits below sees ties as ties.
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.60e", std::fabs(value));
    long long m = (buf[0] - '0') * 1000 + (buf[2] - '0') * 100 + (buf[3] - '0') * 10 + (buf[4] - '0');
    int exponent = std::atoi(std::strchr(buf, 'e') + 1);
    if (buf[5] >= '5' && ++m == 10000) {
        m = 1000;
        ++exponent;
    }
    const std::string digits = std::to_string(m);
    const bool negative = value < 0;

    if (exponent >= 4) {
        std::string mantissa = digits;
        while (mantissa.size() > 1 && mantissa.back() == '0')
            mantissa.pop_back();
        std::string out = negative ? "-" : "";
        out += mantissa[0];
        if (mantissa.size() > 1)
            out += std::string(sep) + mantissa.substr(1);
        return out + "E" + std::to_string(exponent);
    }

    // The rounded value is m * 10^(exponent - 3); in hundredths that is m * 10^(exponent - 1).
    long long hundredths = 0;
    if (exponent >= 1) {
        hundredths = m;
        for (int i = 1; i < exponent; ++i)
            hundredths *= 10;
    } else if (1 - exponent <= 4) {
        long long divisor = 1;
        for (int i = 0; i < 1 - exponent; ++i)
            divisor *= 10;
        hundredths = (m + divisor / 2) / divisor;
    }
    if (hundredths == 0)
        return zero;
    const auto cents = static_cast<int>(hundredths % 100);
    const std::string frac = {static_cast<char>('0' + cents / 10), static_cast<char>('0' + cents % 10)};
    return (negative ? "-" : "") + std::to_string(hundredths / 100) + std::string(sep) + frac;
}

MeasuredValueCells measuredValueCells(const MeasuredValueBlock& block, std::string_view sep)
{
    MeasuredValueCells cells;
    cells.status = measStatusText(block.status);
    if (block.status == MeasStatus::Ok)
        cells.value = formatMeasuredValue(block.scaled, sep);
    else
        cells.clearValueAndHeartbeat = true;
    return cells;
}

std::string heartbeatText(std::uint16_t heartbeat)
{
    return std::to_string(heartbeat);
}

}  // namespace app
