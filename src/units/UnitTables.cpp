#include "UnitTables.h"

#include "RegisterFormulas.h"

namespace units {

std::string_view quantityName(int q)
{
    if (q < 0 || q >= QuantityCount)
        return {};
    if (q < FirstDiagnosticQuantity)
        return QuantityNames[static_cast<std::size_t>(q)];
    if (q < FirstPathDiffQuantity)
        return DiagnosticNames[static_cast<std::size_t>(q - FirstDiagnosticQuantity)];
    return PathDiffNames[static_cast<std::size_t>(q - FirstPathDiffQuantity)];
}

std::optional<UnitClass> unitClassOfQuantity(int q)
{
    if (q < 0 || q >= QuantityCount)
        return std::nullopt;
    return QuantityUnitClasses[static_cast<std::size_t>(q)];
}

UnitList unitListOfClass(UnitClass unitClass)
{
    switch (unitClass) {
    case UnitClass::Temperature: return UnitsTemperature;
    case UnitClass::Pressure: return UnitsPressure;
    case UnitClass::NoUnit: return UnitsNoUnit;
    case UnitClass::Velocity: return UnitsVelocity;
    case UnitClass::VolumeFlow: return UnitsVolumeFlow;
    case UnitClass::Volume: return UnitsVolume;
    case UnitClass::MassFlow: return UnitsMassFlow;
    case UnitClass::Mass: return UnitsMass;
    case UnitClass::HeatFlow: return UnitsHeatFlow;
    case UnitClass::Heat: return UnitsHeat;
    case UnitClass::Decibel: return UnitsDecibel;
    case UnitClass::Percent: return UnitsPercent;
    case UnitClass::Bit: return UnitsBit;
    case UnitClass::Density: return UnitsDensity;
    }
    return {};
}

UnitList unitListOfQuantity(int q)
{
    const auto unitClass = unitClassOfQuantity(q);
    return unitClass ? unitListOfClass(*unitClass) : UnitList{};
}

std::optional<std::string_view> unitText(int q, int unitId)
{
    const UnitList list = unitListOfQuantity(q);
    if (unitId < 0 || unitId >= static_cast<int>(list.size()))
        return std::nullopt;
    return list[static_cast<std::size_t>(unitId)];
}

bool unitBoxEnabled(int q, bool connected)
{
    return connected && q >= 0 && q < FirstPathDiffQuantity;
}

UnitReadBack unitReadBack(int q, std::uint16_t unitId, bool fromReadButton)
{
    if (fromReadButton && unitId == UnitMismatchId)
        return {-1, true};
    if (unitId >= unitListOfQuantity(q).size())
        return {-1, false};
    return {static_cast<int>(unitId), false};
}

std::uint16_t unitIdWriteValue(int position)
{
    return static_cast<std::uint16_t>(position);  // -1 wraps to 65535 as the device expects
}

std::optional<int> channelBase(int channelPosition)
{
    if (channelPosition < 0 || channelPosition >= static_cast<int>(ChannelBases.size()))
        return std::nullopt;
    return ChannelBases[static_cast<std::size_t>(channelPosition)];
}

std::optional<std::uint16_t> unitIdRegister(int channelPosition, int q)
{
    // The diagnostic quantities' unit id lives in their own block (base + 700 + ...), so the
    // write goes there rather than to base + 16 q + 3, which belongs to no block.
    if (q < 0 || q >= FirstPathDiffQuantity)
        return std::nullopt;
    const auto block = measuredValueBlockAddress(channelPosition, q);
    if (!block)
        return std::nullopt;
    return static_cast<std::uint16_t>(*block + 3);
}

UnitList subsetMeasUnitList(int valuePosition)
{
    switch (valuePosition) {
    case 0: return SubsetUnitsVelocity;
    case 1:
    case 2: return SubsetUnitsVolumeFlow;
    case 3: return SubsetUnitsMassFlow;
    case 4: return SubsetUnitsHeatFlow;
    case 5: return SubsetUnitsSoundSpeed;
    case 6: return SubsetUnitsConcentration;
    default: return {};
    }
}

std::uint32_t outputQuantityCode(std::string_view fourChars)
{
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto c = i < fourChars.size() ? static_cast<unsigned char>(fourChars[i]) : 0u;
        code = (code << 8) | c;
    }
    return code;
}

std::string_view currentLoopUnitLabel(std::uint32_t code)
{
    for (const CurrentLoopUnit& entry : CurrentLoopUnits) {
        if (outputQuantityCode(entry.code) == code)
            return entry.label;
    }
    return CurrentLoopDefaultUnit;
}

}  // namespace units
