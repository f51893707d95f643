#pragma once

// Register values as a technician types and reads them: the expert access's data types, the
// service registers' compositions, and the checks a text passes before anything is sent.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace app {

enum class DataType { Int16, Int32, Float, Char };

// "Int16", "Int32", "Float", "Char"; nothing for any other text.
std::optional<DataType> dataTypeFromText(std::string_view text);
int registerCount(DataType type);

// The text shown for registers read as type (low word first for two registers); empty when
// fewer registers than the type needs arrived. Char is the low byte, as Latin-1.
std::string decodeRegisters(DataType type, std::span<const std::uint16_t> regs,
                            std::string_view decimalSeparator = ".");

// Registers to write for a typed text, or the reason it is refused. Ranges accept what a
// read shows as well as the signed form: Int16 -32768..65535, Int32 -2147483648..4294967295.
// Float takes either decimal separator and refuses what single precision cannot hold. Char
// takes exactly one character of Latin-1; any other length is refused without a reason
// (nothing happens, as for a wrong length).
struct Encoded {
    std::vector<std::uint16_t> words;
    std::string error;  // empty when words hold the value
};
Encoded encodeValue(DataType type, std::string_view latin1Text);

// A decimal number typed with a comma or a period; nothing for any other text, or for a
// value that is not finite.
std::optional<double> parseDecimal(std::string_view text);
// A whole number within [low, high]; nothing otherwise.
std::optional<long long> parseInteger(std::string_view text, long long low, long long high);

// Single precision as two registers, low 16 bits first; nothing when the value does not fit.
std::optional<std::vector<std::uint16_t>> floatRegisters(double value);

// Register 17 from the three byte-order boxes' positions (-1, no choice, counts as 0):
// bit 0 the 16-bit order, bits 1-2 long integers, bits 3-4 floats, in both bytes.
std::uint16_t byteOrderRegister(int order16, int orderLong, int orderFloat);
// "0x" and four upper-case hexadecimal digits.
std::string hexWord(std::uint16_t value);

// The messages of a refused text.
std::string notAnInteger(std::string_view text);
std::string notAFloat(std::string_view text);

}  // namespace app
