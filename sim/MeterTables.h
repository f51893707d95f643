#pragma once

// What the meter knows about its quantities and units: the 46 measured quantities with their unit
// classes, each class's unit list with the factor from the meter's internal unit, and the unit
// lists of the Modbus process inputs.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vsim {

enum class TUnitClass : uint8_t {
    Temperature, Pressure, NoUnit, Decibel, Percent, Bit, Velocity, VolumeFlow, Volume,
    MassFlow, Mass, HeatFlow, Heat, Density,
};

// One entry of a unit list. A value in the internal unit x shows as x * factor + offset.
// Texts are Latin-1 bytes ("\xB0" is the degree sign), at most six of them (three registers).
struct TUnit {
    std::string_view text;
    double factor;
    double offset = 0.0;
};

std::span<const TUnit> UnitsOf(TUnitClass c);

constexpr int kQuantityCount = 46;
constexpr int kProcessQuantities = 30;    // q 0..29: base + 16 q
constexpr int kDiagnosticQuantities = 6;  // q 30..35: base + 700 + 16 (q - 30)
constexpr int kFirstPathDiff = 36;        // q 36..45: 30000 + 16 (q - 36), not per channel
constexpr int kBlockSize = 16;

TUnitClass UnitClassOf(int q);

// Measuring channels in the order of the channel box.
constexpr std::array<char, 6> kChannelLetters = {'A', 'B', 'C', 'D', 'Z', 'Y'};
constexpr std::array<uint16_t, 6> kChannelBases = {1000, 2000, 3000, 4000, 9000, 10000};
constexpr uint16_t kPathDiffBase = 30000;

// First register of a quantity's block; channel is ignored for the path differences.
uint16_t BlockAddress(int channel, int q);

// Where a register sits in the measured-value map.
struct TBlockRef {
    int channel;  // index into kChannelLetters, -1 for the path differences
    int q;
    int offset;   // 0..15
};
bool FindBlock(uint16_t address, TBlockRef& ref);

// Modbus process inputs: quantity positions 1..8 and their unit lists.
enum TProcessQuantity : uint16_t {
    pqUnused, pqTemperatureFluid, pqTemperatureAux, pqPressureFluid, pqPressureAux, pqDensity,
    pqKinematicViscosity, pqDynamicViscosity, pqGasCompressFactor,
};
constexpr int kProcessQuantityCount = 9;
// Units of a process input quantity, against the internal units °C, bar absolute, kg/m3, mm2/s,
// mPa s and none; an empty list for "Unused" and unknown positions.
std::span<const TUnit> ProcessInputUnits(uint16_t quantity);

}  // namespace vsim
