#pragma once

// The lists of the parameter pages and the tables between a list position and the device code
// behind it. Positions are ints as combo boxes give them: -1 means no entry selected. A device
// code that no entry stands for reads as -1, so that the page shows nothing rather than a
// neighbour's name, and the words read are written back unchanged (see PageTransfer).

#include <array>
#include <cstdint>
#include <span>
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

}  // namespace subset
