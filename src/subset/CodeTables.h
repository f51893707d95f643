#pragma once

// The lists of the parameter pages and the tables between a list position and the device code
// behind it. Positions are ints as combo boxes give them: -1 means no entry selected. A device
// code that no entry stands for reads as -1, so that the page shows nothing rather than a
// neighbour's name, and the words read are written back unchanged (see PageTransfer).

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace subset {

using Names = std::span<const std::string_view>;

extern const std::array<std::string_view, 27> MaterialNames;
extern const std::array<std::string_view, 57> FluidNames;
extern const std::array<std::string_view, 24> OutputQuantityNames;
extern const std::array<std::string_view, 4> OutputChannelNames;
extern const std::array<std::string_view, 4> LinkageNames;
extern const std::array<std::string_view, 7> InputChannelNames;
extern const std::array<std::string_view, 7> MeasQuantityNames;

int MaterialValueToItemIndex(int code);
int MaterialItemIndexToValue(int position);  // -1 outside the list

int FluidValueToItemIndex(int code);
int FluidItemIndexToValue(int position);

// The output quantity list has an entry of its own for codes it does not know: "Not found ...".
int CurrentLoopMeasValueToIndex(std::uint32_t code);
// Position 0 and no selection give 0.
std::uint32_t ItemIndexToOutputMeasValue(int position);

int OutputChannelToItemIndex(int code);
int ItemIndexToOutputChannel(int position);

// The calculation input lists are "None", "Channel A", "Channel B" and the other calculation
// channel: 'Z' in the list of channel Y, 'Y' in the list of channel Z.
std::array<std::string_view, 4> CalcInputNames(char otherChannel);
int CalcInputToInteger(int code, char otherChannel);
// The code of an entry's text; -1 for a text that is no entry.
int InputItemIndexToChar(std::string_view entryText);

int LinkageIDToItemIndex(int code);
int ItemIndexToLinkageID(int position);

int InputChannelToItemIndex(int code);
int ItemIndexToInputChannel(int position);

// A register of check boxes, one bit each; bits without a box read as nothing and are sent as 0.
struct Bit {
    std::uint16_t value;
    std::string_view control;
    std::string_view text;  // the box's caption
};
extern const std::array<Bit, 4> LoggerChannelBits;  // 29250
extern const std::array<Bit, 6> LoggerOptionBits;   // 29253
// The bits of a row's register by the row's control name; empty for other rows.
std::span<const Bit> BitsOf(std::string_view rowControl);
std::uint16_t WordOfBits(std::span<const Bit> bits, std::span<const bool> checked);

// Modbus process inputs: the quantity list and, by its position, the unit list (the unit
// register holds a position in it). "Unused" has no list of its own.
extern const std::array<std::string_view, 9> ProcessQuantityNames;
Names ProcessInputUnitNames(int quantityPosition);
// The status word as shown: its single error bits by name, 3 by its own name, any other
// combination as the number.
std::string ProcessInputStatusText(std::uint16_t status);

// What the window shows of a row beside its value: the entries of a list whose position is the
// value, and the unit of a number (Latin-1). One table for the pages and the configuration file.
struct RowTexts {
    std::string_view control;
    Names items;
    std::string_view unit;
};
// Null for a row with neither. The lists of a quantity's unit and the current loop's scale
// unit follow another row's value: UnitListAfter, units::currentLoopUnitLabel.
const RowTexts* TextsOf(std::string_view rowControl);
Names ItemsOf(std::string_view rowControl);
std::string_view UnitOf(std::string_view rowControl);
// The unit list of a row that follows the quantity chosen in the row before it (MeasuringUnit,
// CalculationMeasUnit, ProcessInputUnit); false for any other row.
bool IsUnitAfterQuantity(std::string_view rowControl);
Names UnitListAfter(std::string_view rowControl, int quantityPosition);
// The rows scaled in the unit of the current loop's output quantity.
bool IsCurrentLoopScale(std::string_view rowControl);

}  // namespace subset
