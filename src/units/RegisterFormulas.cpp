#include "RegisterFormulas.h"

#include "MBMasterUnitIDs.h"
#include "UnitTables.h"

#include <array>

namespace units {

std::optional<std::uint16_t> measuredValueBlockAddress(int channelPosition, int q)
{
    if (q < 0 || q >= QuantityCount)
        return std::nullopt;
    if (q >= FirstPathDiffQuantity)
        return static_cast<std::uint16_t>(PathDiffBase + MeasuredValueBlockSize * (q - FirstPathDiffQuantity));
    const auto base = channelBase(channelPosition);
    if (!base)
        return std::nullopt;
    if (q >= FirstDiagnosticQuantity)
        return static_cast<std::uint16_t>(*base + DiagnosticBlockOffset
                                          + MeasuredValueBlockSize * (q - FirstDiagnosticQuantity));
    return static_cast<std::uint16_t>(*base + MeasuredValueBlockSize * q);
}

int calculatorChannelSummand(int channelPosition, int q)
{
    // Path differences are not per channel: the calculator gives the address the meter uses.
    if (q >= FirstPathDiffQuantity)
        return 0;
    // Z and Y sit at positions 4 and 5 but have bases 9000 and 10000.
    return channelPosition < 4 ? (channelPosition + 1) * 1000 : (channelPosition + 5) * 1000;
}

int calculatorQuantitySummand(int q)
{
    if (q >= FirstPathDiffQuantity)
        return PathDiffBase + MeasuredValueBlockSize * (q - FirstPathDiffQuantity);
    return q < FirstDiagnosticQuantity
               ? MeasuredValueBlockSize * q
               : DiagnosticBlockOffset + MeasuredValueBlockSize * (q - FirstDiagnosticQuantity);
}

int calculatorOffsetSummand(int offsetPosition)
{
    return offsetPosition;
}

int calculatorAddress(int channelPosition, int q, int offsetPosition)
{
    return calculatorChannelSummand(channelPosition, q) + calculatorQuantitySummand(q)
           + calculatorOffsetSummand(offsetPosition);
}

std::string_view calculatorDataType(int offsetPosition)
{
    static constexpr std::array<std::string_view, 10> types = {
        "Int16", "Float", "Float", "Int16", "Float", "Float", "Char", "Char", "Char", "Int16",
    };
    if (offsetPosition < 0 || offsetPosition >= static_cast<int>(types.size()))
        return {};
    return types[static_cast<std::size_t>(offsetPosition)];
}

}  // namespace units
