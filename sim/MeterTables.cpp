#include "MeterTables.h"

namespace vsim {

namespace {

// Internal units: °C, bar (absolute), m/s, m3/s, m3, kg/s, kg, W, J, kg/m3.
constexpr double kGal = 264.172052;       // US gallons per m3
constexpr double kBbl = 6.28981077;       // barrels per m3
constexpr double kCf = 35.3146667;        // cubic feet per m3
constexpr double kLb = 2.20462262;        // pounds per kg
constexpr double kBtu = 1055.05585;       // J per BTU
constexpr double kTon = 3516.8528;        // W per ton of refrigeration
constexpr double kAtm = 1.01325;          // bar

constexpr TUnit kTemperature[] = {{"\xB0" "C", 1.0}, {"\xB0" "F", 1.8, 32.0}};
constexpr TUnit kPressure[] = {
    {"bar", 1.0}, {"mbar", 1000.0}, {"MPa", 0.1}, {"psi", 14.5037738}, {"mWS", 10.1971621},
    {"mmHg", 750.061683}, {"bar(g)", 1.0, -kAtm}, {"psi(g)", 14.5037738, -kAtm * 14.5037738},
};
constexpr TUnit kNoUnit[] = {{"n.u.", 1.0}};
constexpr TUnit kDecibel[] = {{"dB", 1.0}};
constexpr TUnit kPercent[] = {{"%", 1.0}};
constexpr TUnit kBit[] = {{"Bit", 1.0}};
constexpr TUnit kVelocity[] = {{"m/s", 1.0}, {"cm/s", 100.0}, {"in/s", 39.3700787},
                               {"ft/s", 3.2808399}};
constexpr TUnit kVolumeFlow[] = {
    {"m3/h", 3600.0}, {"m3/d", 86400.0}, {"m3/h", 3600.0}, {"m3/min", 60.0}, {"m3/s", 1.0},
    {"hl/h", 36000.0}, {"hl/min", 600.0}, {"l/h", 3.6e6}, {"l/min", 60000.0}, {"l/s", 1000.0},
    {"MUSg/d", 86400.0 * kGal / 1e6}, {"USgpd", 86400.0 * kGal}, {"USgph", 3600.0 * kGal},
    {"USgpm", 60.0 * kGal}, {"USgps", kGal}, {"bbl/d", 86400.0 * kBbl}, {"bbl/h", 3600.0 * kBbl},
    {"bbl/m", 60.0 * kBbl}, {"bbl/s", kBbl}, {"Ml/d", 86.4}, {"ml/min", 6e7},
    {"CFD", 86400.0 * kCf}, {"CFH", 3600.0 * kCf}, {"CFM", 60.0 * kCf}, {"CFS", kCf},
    {"MMCFD", 86400.0 * kCf / 1e6}, {"MMCFH", 3600.0 * kCf / 1e6}, {"USkgpm", 60.0 * kGal / 1e3},
    {"hl/s", 10.0}, {"MCFD", 86400.0 * kCf / 1e3}, {"MCFH", 3600.0 * kCf / 1e3},
};
constexpr TUnit kVolume[] = {
    {"m3", 1.0}, {"Ml", 1e-3}, {"m3", 1.0}, {"hl", 10.0}, {"l", 1000.0}, {"USgal", kGal},
    {"bbl", kBbl}, {"USMgal", kGal / 1e6}, {"USkgal", kGal / 1e3}, {"ml", 1e6}, {"CF", kCf},
    {"MMCF", kCf / 1e6}, {"MCF", kCf / 1e3},
};
constexpr TUnit kMassFlow[] = {
    {"kg/s", 1.0}, {"g/s", 1000.0}, {"t/d", 86.4}, {"t/h", 3.6}, {"kg/h", 3600.0},
    {"kg/min", 60.0}, {"kg/s", 1.0}, {"lb/d", 86400.0 * kLb}, {"lb/h", 3600.0 * kLb},
    {"lb/m", 60.0 * kLb}, {"lb/s", kLb}, {"klb/h", 3.6 * kLb}, {"klb/m", 0.06 * kLb},
};
constexpr TUnit kMass[] = {{"kg", 1.0}, {"g", 1000.0}, {"kg", 1.0}, {"t", 1e-3}, {"lb", kLb},
                           {"klb", kLb / 1e3}};
constexpr TUnit kHeatFlow[] = {
    {"W", 1.0}, {"kW", 1e-3}, {"MW", 1e-6}, {"kBTU/m", 60.0 / (kBtu * 1e3)},
    {"kBTU/h", 3600.0 / (kBtu * 1e3)}, {"MBTU/h", 3600.0 / (kBtu * 1e6)},
    {"MBTU/d", 86400.0 / (kBtu * 1e6)}, {"TON", 1.0 / kTon}, {"kTON", 1.0 / (kTon * 1e3)},
    {"GW", 1e-9}, {"kBTU/d", 86400.0 / (kBtu * 1e3)}, {"BTU/m", 60.0 / kBtu},
};
constexpr TUnit kHeat[] = {
    {"MWh", 1.0 / 3.6e9}, {"Wh", 1.0 / 3600.0}, {"kWh", 1.0 / 3.6e6}, {"MWh", 1.0 / 3.6e9},
    {"J", 1.0}, {"kJ", 1e-3}, {"MJ", 1e-6}, {"kBTU", 1.0 / (kBtu * 1e3)},
    {"MBTU", 1.0 / (kBtu * 1e6)}, {"TONhrs", 1.0 / (kTon * 3600.0)},
    {"kTONd", 1.0 / (kTon * 1e3 * 86400.0)}, {"TONd", 1.0 / (kTon * 86400.0)},
    {"kTONh", 1.0 / (kTon * 1e3 * 3600.0)}, {"GWd", 1.0 / (1e9 * 86400.0)}, {"BTU", 1.0 / kBtu},
};
constexpr TUnit kDensity[] = {{"g/cm3", 1e-3}, {"kg/m3", 1.0}, {"lb/ft3", 0.0624279606}};

constexpr TUnitClass kClasses[kQuantityCount] = {
    TUnitClass::Temperature, TUnitClass::Temperature, TUnitClass::Pressure,
    TUnitClass::Pressure, TUnitClass::NoUnit, TUnitClass::Velocity, TUnitClass::Velocity,
    TUnitClass::VolumeFlow, TUnitClass::Volume, TUnitClass::Volume, TUnitClass::VolumeFlow,
    TUnitClass::Volume, TUnitClass::Volume, TUnitClass::MassFlow, TUnitClass::Mass,
    TUnitClass::Mass, TUnitClass::HeatFlow, TUnitClass::Heat, TUnitClass::Heat,
    TUnitClass::NoUnit, TUnitClass::Temperature, TUnitClass::Temperature, TUnitClass::Pressure,
    TUnitClass::Pressure, TUnitClass::NoUnit, TUnitClass::Density, TUnitClass::Volume,
    TUnitClass::Volume, TUnitClass::Mass, TUnitClass::Heat,
    // diagnostics
    TUnitClass::Decibel, TUnitClass::Decibel, TUnitClass::Percent, TUnitClass::Percent,
    TUnitClass::Percent, TUnitClass::Bit,
    // path differences
    TUnitClass::Velocity, TUnitClass::Percent, TUnitClass::Velocity, TUnitClass::Percent,
    TUnitClass::NoUnit, TUnitClass::Percent, TUnitClass::Decibel, TUnitClass::Percent,
    TUnitClass::Decibel, TUnitClass::Percent,
};

// Process input units: shown = internal * factor + offset, as for the measured values.
constexpr TUnit kPiTemperature[] = {{"\xB0" "C", 1.0}, {"\xB0" "F", 1.8, 32.0}};
constexpr TUnit kPiPressure[] = {
    {"bar", 1.0}, {"mbar", 1000.0}, {"MPa", 0.1}, {"psi", 14.5037738}, {"mWS", 10.1971621},
    {"mmHg", 750.061683}, {"bar (g)", 1.0, -kAtm}, {"psi (g)", 14.5037738, -kAtm * 14.5037738},
    {"mbar (g)", 1000.0, -kAtm * 1000.0}, {"mH20", 10.1971621},
};
constexpr TUnit kPiDensity[] = {{"g/cm3", 1e-3}, {"kg/m3", 1.0}, {"lb/ft3", 0.0624279606}};
constexpr TUnit kPiKinematic[] = {{"mm2/s", 1.0}, {"cSt", 1.0}};
constexpr TUnit kPiDynamic[] = {{"mPa", 1.0}};
constexpr TUnit kPiNone[] = {{"-", 1.0}};

}  // namespace

std::span<const TUnit> UnitsOf(TUnitClass c)
{
    switch (c) {
    case TUnitClass::Temperature: return kTemperature;
    case TUnitClass::Pressure: return kPressure;
    case TUnitClass::NoUnit: return kNoUnit;
    case TUnitClass::Decibel: return kDecibel;
    case TUnitClass::Percent: return kPercent;
    case TUnitClass::Bit: return kBit;
    case TUnitClass::Velocity: return kVelocity;
    case TUnitClass::VolumeFlow: return kVolumeFlow;
    case TUnitClass::Volume: return kVolume;
    case TUnitClass::MassFlow: return kMassFlow;
    case TUnitClass::Mass: return kMass;
    case TUnitClass::HeatFlow: return kHeatFlow;
    case TUnitClass::Heat: return kHeat;
    case TUnitClass::Density: return kDensity;
    }
    return kNoUnit;
}

TUnitClass UnitClassOf(int q)
{
    return q >= 0 && q < kQuantityCount ? kClasses[q] : TUnitClass::NoUnit;
}

uint16_t BlockAddress(int channel, int q)
{
    if (q >= kFirstPathDiff)
        return static_cast<uint16_t>(kPathDiffBase + kBlockSize * (q - kFirstPathDiff));
    const int base = kChannelBases[static_cast<size_t>(channel)];
    if (q >= kProcessQuantities)
        return static_cast<uint16_t>(base + 700 + kBlockSize * (q - kProcessQuantities));
    return static_cast<uint16_t>(base + kBlockSize * q);
}

bool FindBlock(uint16_t address, TBlockRef& ref)
{
    if (address >= kPathDiffBase && address < kPathDiffBase + 10 * kBlockSize) {
        const int rel = address - kPathDiffBase;
        ref = {-1, kFirstPathDiff + rel / kBlockSize, rel % kBlockSize};
        return true;
    }
    for (size_t c = 0; c < kChannelBases.size(); ++c) {
        const int rel = address - kChannelBases[c];
        if (rel >= 0 && rel < kProcessQuantities * kBlockSize) {
            ref = {static_cast<int>(c), rel / kBlockSize, rel % kBlockSize};
            return true;
        }
        const int diag = rel - 700;
        if (diag >= 0 && diag < kDiagnosticQuantities * kBlockSize) {
            ref = {static_cast<int>(c), kProcessQuantities + diag / kBlockSize, diag % kBlockSize};
            return true;
        }
    }
    return false;
}

std::span<const TUnit> ProcessInputUnits(uint16_t quantity)
{
    switch (quantity) {
    case pqTemperatureFluid:
    case pqTemperatureAux: return kPiTemperature;
    case pqPressureFluid:
    case pqPressureAux: return kPiPressure;
    case pqDensity: return kPiDensity;
    case pqKinematicViscosity: return kPiKinematic;
    case pqDynamicViscosity: return kPiDynamic;
    case pqGasCompressFactor: return kPiNone;
    default: return {};
    }
}

}  // namespace vsim
