#pragma once

// Register addresses of measured values, as the readout uses them and as the register
// calculator shows them to customers; both give the same address for every quantity.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace units {

inline constexpr int MeasuredValueBlockSize = 16;  // registers per quantity
inline constexpr int DiagnosticBlockOffset = 700;  // from the channel base
inline constexpr int PathDiffBase = 30000;         // path differences are not per channel
inline constexpr std::uint16_t HeartbeatRegister = 1;

// Items of the calculator's cb_mb_data: the registers of a block, by offset.
inline constexpr std::array<std::string_view, 10> MeasDataItems = {
    "Status",
    "Meas. value unscaled Lo Word",
    "Meas. value unscaled Hi Word",
    "Meas. unit ID",
    "Meas. value scaled Lo Word",
    "Meas. value scaled Hi Word",
    "Meas. unit ASCII part1",
    "Meas. unit ASCII part2",
    "Meas. unit ASCII part3",
    "Seconds since last update",
};

// Start of quantity q's block on the channel at cb_channel position channelPosition.
// Nothing for a quantity outside 0..45 or, for q below 36, a channel outside 0..5, so that
// no request goes to an address the tables do not define.
std::optional<std::uint16_t> measuredValueBlockAddress(int channelPosition, int q);

// Calculator summands. Positions are those of its combo boxes, -1 when text was typed:
// channel -1 gives 0, quantity -1 gives -16, offset -1 gives -1, exactly as shown.
// The channel summand is 0 for the path-difference quantities (q of 36 or more).
int calculatorChannelSummand(int channelPosition, int q = -1);
int calculatorQuantitySummand(int q);
int calculatorOffsetSummand(int offsetPosition);
int calculatorAddress(int channelPosition, int q, int offsetPosition);

// "Int16", "Float" or "Char" for offsets 0..9; empty when no offset is selected.
std::string_view calculatorDataType(int offsetPosition);

}  // namespace units
