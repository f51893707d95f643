#pragma once

// The measured value of one quantity of one channel, as the meter keeps it in a block of 16
// registers, decoded the way the window shows it.

#include "Transaction.h"

#include <optional>
#include <string>

namespace cli {

struct MeasureTarget {
    int channel = 0;   // position in A, B, C, D, Z, Y
    int quantity = 0;  // position in the quantity list, 0..45
    uint16_t address = 0;
};

// "A".."Y" (any case) and a quantity given by its position or its name (any case). Nothing, with
// the reason in `error`, when either is not known.
std::optional<MeasureTarget> ParseMeasureTarget(const std::string& channel, const std::string& quantity,
                                                std::string& error);

// Fills the decoded fields of a successful read of the block.
void DecodeMeasurement(const MeasureTarget& target, Outcome& o);

}  // namespace cli
