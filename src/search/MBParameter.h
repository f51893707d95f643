#pragma once

// The choice texts of the search window and what each stands for on the line.

#include "ModbusTypes.h"

#include <array>
#include <optional>
#include <string_view>

namespace search {

// "-" first: it stands for "try every value".
inline constexpr std::array<std::string_view, 3> BaudTexts = {"-", "9600", "19200"};
inline constexpr std::array<std::string_view, 4> ParityTexts = {"-", "None", "Odd", "Even"};

// br9600 for "9600", br19200 for anything else, as the search sets the line.
modbus::TBaudRate BaudOfText(std::string_view text);
// psNone, psOdd, psEven in the order of the list; "Even" for anything else.
modbus::TParityScheme ParityOfText(std::string_view text);
std::string_view TextOfParity(modbus::TParityScheme p);

}  // namespace search
