#pragma once

// Decoding of a measured-value block (16 registers, the first ten defined) and of the
// heartbeat, into the texts of the window's grid.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace app {

inline constexpr std::size_t MeasRecordSize = 10;  // registers of a block that carry data

enum class MeasStatus { NeverSet, Ok, Failed };
MeasStatus measStatus(std::uint16_t statusRegister);
std::string_view measStatusText(MeasStatus status);  // "OK", "Never set", "Failed"

// IEEE 754 single from two registers, the one at the lower address holding the low 16 bits.
float floatFromRegisters(std::uint16_t low, std::uint16_t high);

// Order of the two characters within one register of the unit text. The meter puts the first
// character of a text in the low byte elsewhere too, so that is the default.
enum class TextByteOrder { LowByteFirst, HighByteFirst };

struct MeasuredValueBlock {
    std::array<std::uint16_t, MeasRecordSize> registers{};  // kept as meas_record
    MeasStatus status = MeasStatus::NeverSet;
    float unscaled = 0.0f;
    std::uint16_t unitId = 0;
    float scaled = 0.0f;
    std::string unitText;  // Latin-1, up to six characters, ends at the first NUL
    std::uint16_t secondsSinceUpdate = 0;
};

// Nothing when fewer than ten registers are given: such a reply is not a block.
std::optional<MeasuredValueBlock> decodeMeasuredValueBlock(
    std::span<const std::uint16_t> registers, TextByteOrder order = TextByteOrder::LowByteFirst);

// The value as the grid shows it. The value is first rounded to four significant digits
// (half away from zero, on the value's exact binary expansion), then shown with exactly two
// decimals (again half away from zero): 12.3456 -> "12.35",
// 0.012345 -> "0.01", 1234.56 -> "1235.00". When the rounded value has more than four digits
// before the point it is shown in exponent form instead: the four significant digits without
// trailing zeros, "E", and the exponent without sign or padding unless negative:
// 12345.6 -> "1.235E4", 100000 -> "1E5". Zero never gets a minus sign; NaN and infinities
// read "NAN", "INF", "-INF". The separator is the locale's decimal separator.
std::string formatMeasuredValue(double value, std::string_view decimalSeparator = ".");

// The grid's value column after a block: status row, value row, and whether the value and
// heartbeat rows are emptied (every status but OK empties them, so nothing stale remains).
struct MeasuredValueCells {
    std::string status;
    std::string value;
    bool clearValueAndHeartbeat = false;
};
MeasuredValueCells measuredValueCells(const MeasuredValueBlock& block,
                                      std::string_view decimalSeparator = ".");

// Register 1 as an unsigned decimal number.
std::string heartbeatText(std::uint16_t heartbeat);

}  // namespace app
