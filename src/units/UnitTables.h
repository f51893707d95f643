#pragma once

// Lookups over the tables of MBMasterUnitIDs.h, and the unit-box rules that follow from them.
// Positions are ints because they come straight from combo boxes, where -1 means "no selection".

#include "MBMasterUnitIDs.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace units {

using UnitList = std::span<const std::string_view>;

// Name of quantity q in the combined list; empty for a position outside 0..45.
std::string_view quantityName(int q);

std::optional<UnitClass> unitClassOfQuantity(int q);
UnitList unitListOfClass(UnitClass unitClass);
// Empty for a position outside 0..45 (the unit box then stays empty).
UnitList unitListOfQuantity(int q);

// Text of a unit id read from the device; nothing for an id outside the quantity's list,
// including UnitMismatchId.
std::optional<std::string_view> unitText(int q, int unitId);

// The device reports this unit id when the scaled value's unit does not match.
inline constexpr std::uint16_t UnitMismatchId = 65535;
inline constexpr std::string_view UnitMismatchText = "Unit Missmatch";

// The path-difference quantities never allow a unit change; nor does an empty selection.
bool unitBoxEnabled(int q, bool connected);

// What the unit box shows after a block was read. The "Read Register" button shows the
// mismatch text for id 65535; the loop only sets the position. An id outside the list
// leaves the box without a selection.
struct UnitReadBack {
    int position = -1;
    bool showMismatchText = false;
};
UnitReadBack unitReadBack(int q, std::uint16_t unitId, bool fromReadButton);

// Word written as the new unit id: the position, -1 (no selection) as 65535.
std::uint16_t unitIdWriteValue(int position);

// Channel base register by cb_channel position; nothing outside 0..5.
std::optional<int> channelBase(int channelPosition);

// Register that holds quantity q's unit id: the fourth register of its measured-value
// block. Nothing when there is no such block or no unit box (path differences).
std::optional<std::uint16_t> unitIdRegister(int channelPosition, int q);

// Unit list of the parameter pages' measured-value box position; empty for any other position.
UnitList subsetMeasUnitList(int valuePosition);

// Four characters, the first in the most significant byte ("CFLU" -> 0x43464C55).
std::uint32_t outputQuantityCode(std::string_view fourChars);
std::string_view currentLoopUnitLabel(std::uint32_t code);

}  // namespace units
