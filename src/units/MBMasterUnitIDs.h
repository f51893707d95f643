#pragma once

// The measured-quantity and unit vocabulary of the meter, as constant data.
//
// Unit texts are Latin-1 bytes ("\xB0" is the degree sign), because that is what
// the meter and earlier settings use; convert with latin1ToUtf8() for display.
// A unit id is the 0-based position in its class's list. Several lists repeat a
// text at two positions; those are distinct ids and must stay that way.

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace units {

inline constexpr std::array<std::string_view, 30> QuantityNames = {
    "Temperature Fluid",
    "Temperature Auxiliary",
    "Pressure Fluid",
    "Pressure Auxiliary",
    "Signal Amplitude",
    "Sound Velocity",
    "Flow Velocity",
    "Volume Flow",
    "Total Flow Positive",
    "Total Flow Negative",
    "Standardized Volume Flow",
    "Standardized Total Volume Positive",
    "Standardized Total Volume Negative",
    "Mass Flow Rate",
    "Total Mass Flow Positive",
    "Total Mass Flow Negative",
    "Heat Flow Rate",
    "Total Heat Flow Positive",
    "Total Heat Flow Negative",
    "Concentration",
    "Temperature Supply",
    "Temperature Return",
    "Pressure Supply",
    "Pressure Return",
    "Gas Compress Factor",
    "Density",
    "Netto Total Flow",
    "Netto Standardized Total Volume",
    "Netto Total Mass Flow",
    "Netto Total Heat Flow",
};

inline constexpr std::array<std::string_view, 6> DiagnosticNames = {
    "SNR", "SCNR", "VariAmp", "VariTime", "Detection Rate", "Error Bits",
};

inline constexpr std::array<std::string_view, 10> PathDiffNames = {
    "Abs. Flow Velocity Path Diff",
    "Rel. Flow Velocity Path Diff",
    "Abs. Sound Velocity Path Diff",
    "Rel. Sound Velocity Path Diff",
    "Abs. Signal Amplitude Path Diff",
    "Rel. Signal Amplitude Path Diff",
    "Abs. SNR Path Diff",
    "Rel. SNR Path Diff",
    "Abs. SCNR Path Diff",
    "Rel. SCNR Path Diff",
};

// Positions in the combined quantity list (QuantityNames, DiagnosticNames, PathDiffNames).
inline constexpr int FirstDiagnosticQuantity = 30;
inline constexpr int FirstPathDiffQuantity = 36;
inline constexpr int QuantityCount = 46;

enum class UnitClass {
    Temperature,
    Pressure,
    NoUnit,
    Velocity,
    VolumeFlow,
    Volume,
    MassFlow,
    Mass,
    HeatFlow,
    Heat,
    Decibel,
    Percent,
    Bit,
    Density,
};

inline constexpr std::array<UnitClass, QuantityCount> QuantityUnitClasses = {
    // process quantities
    UnitClass::Temperature, UnitClass::Temperature, UnitClass::Pressure, UnitClass::Pressure,
    UnitClass::NoUnit, UnitClass::Velocity, UnitClass::Velocity, UnitClass::VolumeFlow,
    UnitClass::Volume, UnitClass::Volume, UnitClass::VolumeFlow, UnitClass::Volume,
    UnitClass::Volume, UnitClass::MassFlow, UnitClass::Mass, UnitClass::Mass,
    UnitClass::HeatFlow, UnitClass::Heat, UnitClass::Heat, UnitClass::NoUnit,
    UnitClass::Temperature, UnitClass::Temperature, UnitClass::Pressure, UnitClass::Pressure,
    UnitClass::NoUnit, UnitClass::Density, UnitClass::Volume, UnitClass::Volume,
    UnitClass::Mass, UnitClass::Heat,
    // diagnostic quantities
    UnitClass::Decibel, UnitClass::Decibel, UnitClass::Percent, UnitClass::Percent,
    UnitClass::Percent, UnitClass::Bit,
    // path differences
    UnitClass::Velocity, UnitClass::Percent, UnitClass::Velocity, UnitClass::Percent,
    UnitClass::NoUnit, UnitClass::Percent, UnitClass::Decibel, UnitClass::Percent,
    UnitClass::Decibel, UnitClass::Percent,
};

inline constexpr std::array<std::string_view, 2> UnitsTemperature = {"\xB0" "C", "\xB0" "F"};
inline constexpr std::array<std::string_view, 8> UnitsPressure = {
    "bar", "mbar", "MPa", "psi", "mWS", "mmHg", "bar(g)", "psi(g)",
};
inline constexpr std::array<std::string_view, 1> UnitsNoUnit = {"n.u."};
inline constexpr std::array<std::string_view, 1> UnitsDecibel = {"dB"};
inline constexpr std::array<std::string_view, 1> UnitsPercent = {"%"};
inline constexpr std::array<std::string_view, 1> UnitsBit = {"Bit"};
inline constexpr std::array<std::string_view, 4> UnitsVelocity = {"m/s", "cm/s", "in/s", "ft/s"};
inline constexpr std::array<std::string_view, 31> UnitsVolumeFlow = {
    "m3/h",  "m3/d",  "m3/h",  "m3/min", "m3/s",  "hl/h",   "hl/min", "l/h",
    "l/min", "l/s",   "MUSg/d", "USgpd", "USgph", "USgpm",  "USgps",  "bbl/d",
    "bbl/h", "bbl/m", "bbl/s", "Ml/d",   "ml/min", "CFD",   "CFH",    "CFM",
    "CFS",   "MMCFD", "MMCFH", "USkgpm", "hl/s",  "MCFD",   "MCFH",
};
inline constexpr std::array<std::string_view, 13> UnitsVolume = {
    "m3", "Ml", "m3", "hl", "l", "USgal", "bbl", "USMgal", "USkgal", "ml", "CF", "MMCF", "MCF",
};
inline constexpr std::array<std::string_view, 13> UnitsMassFlow = {
    "kg/s", "g/s", "t/d", "t/h", "kg/h", "kg/min", "kg/s", "lb/d", "lb/h", "lb/m", "lb/s",
    "klb/h", "klb/m",
};
inline constexpr std::array<std::string_view, 6> UnitsMass = {"kg", "g", "kg", "t", "lb", "klb"};
inline constexpr std::array<std::string_view, 12> UnitsHeatFlow = {
    "W", "kW", "MW", "kBTU/m", "kBTU/h", "MBTU/h", "MBTU/d", "TON", "kTON", "GW", "kBTU/d", "BTU/m",
};
inline constexpr std::array<std::string_view, 15> UnitsHeat = {
    "MWh", "Wh", "kWh", "MWh", "J", "kJ", "MJ", "kBTU", "MBTU", "TONhrs", "kTONd", "TONd",
    "kTONh", "GWd", "BTU",
};
inline constexpr std::array<std::string_view, 3> UnitsDensity = {"g/cm3", "kg/m3", "lb/ft3"};

// Channel base registers by position in the channel box ("A", "B", "C", "D", "Z", "Y").
inline constexpr std::array<std::string_view, 6> ChannelNames = {"A", "B", "C", "D", "Z", "Y"};
inline constexpr std::array<int, 6> ChannelBases = {1000, 2000, 3000, 4000, 9000, 10000};

// The parameter pages' own, smaller vocabulary ("\xB3" is superscript three). It is not
// derived from the lists above: order and spelling differ on purpose.
inline constexpr std::array<std::string_view, 7> SubsetMeasValueNames = {
    "Flow Velocity", "Volumemetric Flow", "Std. Volumemetric Flow", "Mass Flow",
    "Heat Flow", "Sound Speed", "Concentration",
};
inline constexpr std::array<std::string_view, 4> SubsetUnitsVelocity = {
    "m/s", "cm/s", "in/s", "ft/s",
};
inline constexpr std::array<std::string_view, 30> SubsetUnitsVolumeFlow = {
    "m\xB3/h", "m\xB3/min", "m\xB3/s", "l/h", "l/min", "l/s", "USgal/d", "USgal/h",
    "USgal/min", "USgal/s", "USMgal/d", "USKgal/min", "bbl/d", "bbl/h", "bbl/min", "Ml/d",
    "m\xB3/d", "hl/h", "hl/min", "hl/s", "hl/min", "CFD", "CFH", "CFM",
    "CFS", "MMCFD", "MMCFH", "KCFD", "KCFH", "K m\xB3/h",
};
inline constexpr std::array<std::string_view, 12> SubsetUnitsMassFlow = {
    "t/h", "kg/h", "kg/min", "g/s", "t/d", "kg/s", "lb/d", "lb/h", "lb/min", "lb/s",
    "klb/h", "klb/min",
};
inline constexpr std::array<std::string_view, 12> SubsetUnitsHeatFlow = {
    "W", "KW", "MW", "GW", "kBTU/min", "kBTU/h", "MBTU/h", "MBTU/d", "TON (TH)", "TON (TD)",
    "kTON (kTH)", "kTON (kTD)",
};
inline constexpr std::array<std::string_view, 2> SubsetUnitsSoundSpeed = {"m/s", "f/s"};
inline constexpr std::array<std::string_view, 1> SubsetUnitsConcentration = {"None"};

// Unit label of a current loop's scale values, by output quantity code (four ASCII
// characters, the first in the most significant byte).
struct CurrentLoopUnit {
    std::string_view code;
    std::string_view label;
};

inline constexpr std::array<CurrentLoopUnit, 23> CurrentLoopUnits = {{
    {"CFLU", "m/s"},
    {"FSTR", "m/s"},
    {"FVOL", "m\xB3/s"},
    {"FNVO", "m\xB3/s"},
    {"FMAS", "kg/s"},
    {"FHEA", "W"},
    {"FKNZ", "none"},
    {"QVP_", "m\xB3"},
    {"QVN_", "m\xB3"},
    {"QNP_", "m\xB3"},
    {"QNN_", "m\xB3"},
    {"QMP_", "kg"},
    {"QMN_", "kg"},
    {"QHP_", "Ws"},
    {"QHN_", "Ws"},
    {"PTF_", "\xB0" "C"},
    {"PTX_", "\xB0" "C"},
    {"PPF_", "bar"},
    {"PPX_", "bar"},
    {"PROH", "kg/m\xB3"},
    {"PVK_", "mm\xB2/s"},
    {"PVD_", "mPa*s"},
    {"PGCF", "none"},
}};

inline constexpr std::string_view CurrentLoopDefaultUnit = "m\xB3/s";

}  // namespace units
