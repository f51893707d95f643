#include "CodeTables.h"

#include "UnitTables.h"

#include <algorithm>

namespace subset {

const std::array<std::string_view, 27> MaterialNames = {
    "Other Material", "Carbon Steel", "Stainless Steel", "Plastic", "Glass", "Copper", "Aluminium",
    "Brass", "Lead", "Ductile Iron", "Cemmet", "PVC", "PE", "PP", "Grey Cast Iron", "Bitumen",
    "Rubber", "Acrylic", "Teka Peek", "Tekason", "Sintimid", "Dunife", "Titan", "PFA", "PVDF",
    "GRP", "Duplex",
};

const std::array<std::string_view, 57> FluidNames = {
    "Other Medium", "Water", "Gasoline", "Methanol", "Acetone", "CHL 37%", "Glycol", "Transcal LT",
    "Transcal NL", "R22 Freon", "R134 Freon", "Diesel", "Ammonia (NH3)", "Shell Thermina B",
    "30% Glycol / H2O", "50% Glycol / H2O", "80% H2SO4", "96% H2SO4", "ISO VG 22", "ISO VG 32",
    "ISO VG 46", "ISO VG 68", "ISO VG 100", "ISO VG 150", "ISO VG 220", "Seawater", "Ethanol",
    "20% Glycol / H2O", "40% Glycol / H2O", "HCL 25%", "30% H2SO4", "HF Acid 50%", "HF Acid 80%",
    "Caustic Soda 10%", "Caustic Soda 20%", "Crudeoil HI API", "Crudeoil Low API", "Mobiltherm 594",
    "Mobiltherm 603", "Methane Gas", "Paraffin 248", "Silicon Oil", "LD4 200bar GST",
    "Natural Gas User", "Propane Liquid", "Propane Gas", "Air", "Oxygene", "Hydrogene", "Argon",
    "Helium", "Ethylen sc less 50bar", "Ethylen sc more 50bar", "Nitrogen", "R407C", "R410A", "Butane",
};

const std::array<std::string_view, 24> OutputQuantityNames = {
    "Not found ...", "Soundspeed", "Flow Velocity", "Volumemetric Flow", "Std. Volumemetric Flow",
    "Mass Flow", "Heat Flow", "Concentration", "Vol. Flow Pos. Totalizer", "Vol. Flow Neg. Totalizer",
    "Std. Vol. Flow Pos. Totalizer", "Std. Vol. Flow Neg. Totalizer", "Mass Flow Pos. Totalizer",
    "Mass Flow Neg. Totalizer", "Heat Flow Pos. Totalizer", "Heat Flow Neg. Totalizer",
    "Medium Temperature Tfluid", "Medium Temperature Taux", "Medium Pressure Pfluid",
    "Medium Pressure Paux", "Density", "Viscosity Kin.", "Viscosity Dyn.", "Gas Compress Factor",
};

const std::array<std::string_view, 4> OutputChannelNames = {"Channel A", "Channel B", "Channel Y", "Channel Z"};
const std::array<std::string_view, 4> LinkageNames = {"No Linking", "Fixed Value", "T1", "T2"};
const std::array<std::string_view, 7> InputChannelNames = {
    "Channel A", "Channel B", "Channel C", "Channel D", "Channel Y", "Channel Z", "All Channels",
};
const std::array<std::string_view, 7> MeasQuantityNames = {
    "Flow Velocity", "Volumemetric Flow", "Std. Volumemetric Flow", "Mass Flow", "Heat Flow",
    "Sound Speed", "Concentration",
};

namespace {

// The 58th fluid code has no entry in the list; it reads as no selection like any unknown one.
constexpr std::array<int, 58> FluidCodes = {
    10000, 10001, 10002, 10004, 10005, 10007, 10008, 10012, 10013, 10014, 10017, 10019, 10023, 10039, 10040,
    10041, 10042, 10043, 10050, 10051, 10052, 10053, 10054, 10055, 10056, 10058, 10059, 10060, 10061, 10062,
    10063, 10064, 10065, 10066, 10067, 10070, 10071, 10072, 10073, 10074, 10075, 10076, 10077, 10078, 10079,
    10080, 10081, 10082, 10083, 10084, 10085, 10087, 10088, 10089, 10091, 10092, 10093, 10094,
};

// Four letters each, the first in the most significant byte.
constexpr std::uint32_t Letters(const char (&s)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3]));
}
constexpr std::array<std::uint32_t, 24> OutputQuantityCodes = {
    0, Letters("CFLU"), Letters("FSTR"), Letters("FVOL"), Letters("FNVO"), Letters("FMAS"),
    Letters("FHEA"), Letters("FKNZ"), Letters("QVP_"), Letters("QVN_"), Letters("QNP_"), Letters("QNN_"),
    Letters("QMP_"), Letters("QMN_"), Letters("QHP_"), Letters("QHN_"), Letters("PTF_"), Letters("PTX_"),
    Letters("PPF_"), Letters("PPX_"), Letters("PROH"), Letters("PVK_"), Letters("PVD_"), Letters("PGCF"),
};

constexpr std::array<int, 4> OutputChannelCodes = {'A', 'B', 'Y', 'Z'};
constexpr std::array<int, 4> LinkageCodes = {0, 0x4356, 0x5431, 0x5432};
constexpr std::array<int, 7> InputChannelCodes = {'A', 'B', 'C', 'D', 'Y', 'Z', '*'};

template <typename T, size_t N>
int PositionOf(const std::array<T, N>& codes, T code, size_t entries = N)
{
    const auto it = std::find(codes.begin(), codes.end(), code);
    const auto pos = static_cast<size_t>(it - codes.begin());
    return pos < entries ? static_cast<int>(pos) : -1;
}

template <typename T, size_t N>
T CodeAt(const std::array<T, N>& codes, int position, T none, size_t entries = N)
{
    return position >= 0 && static_cast<size_t>(position) < entries ? codes[static_cast<size_t>(position)] : none;
}

}  // namespace

int MaterialValueToItemIndex(int code)
{
    if (code >= 0 && code <= 8)
        return code;
    if (code >= 10 && code <= 25)
        return code - 1;
    if (code == 29 || code == 30)
        return code - 4;
    return -1;
}

int MaterialItemIndexToValue(int position)
{
    if (position >= 0 && position <= 8)
        return position;
    if (position >= 9 && position <= 24)
        return position + 1;
    if (position == 25 || position == 26)
        return position + 4;
    return -1;
}

int FluidValueToItemIndex(int code) { return PositionOf(FluidCodes, code, FluidNames.size()); }
int FluidItemIndexToValue(int position) { return CodeAt(FluidCodes, position, -1, FluidNames.size()); }

int CurrentLoopMeasValueToIndex(std::uint32_t code) { return std::max(0, PositionOf(OutputQuantityCodes, code)); }
std::uint32_t ItemIndexToOutputMeasValue(int position) { return CodeAt(OutputQuantityCodes, position, 0u); }

int OutputChannelToItemIndex(int code) { return PositionOf(OutputChannelCodes, code); }
int ItemIndexToOutputChannel(int position) { return CodeAt(OutputChannelCodes, position, -1); }

std::array<std::string_view, 4> CalcInputNames(char otherChannel)
{
    return {"None", "Channel A", "Channel B", otherChannel == 'Y' ? "Channel Y" : "Channel Z"};
}

int CalcInputToInteger(int code, char otherChannel)
{
    switch (code) {
    case 0: return 0;
    case 'A': return 1;
    case 'B': return 2;
    case 'Y':
    case 'Z': return code == otherChannel ? 3 : -1;
    default: return -1;
    }
}

int InputItemIndexToChar(std::string_view entryText)
{
    constexpr std::array<std::pair<std::string_view, int>, 5> codes = {
        {{"None", 0}, {"Channel A", 'A'}, {"Channel B", 'B'}, {"Channel Y", 'Y'}, {"Channel Z", 'Z'}}};
    for (const auto& [text, code] : codes)
        if (text == entryText)
            return code;
    return -1;
}

int LinkageIDToItemIndex(int code) { return PositionOf(LinkageCodes, code); }
int ItemIndexToLinkageID(int position) { return CodeAt(LinkageCodes, position, -1); }

int InputChannelToItemIndex(int code) { return PositionOf(InputChannelCodes, code); }
int ItemIndexToInputChannel(int position) { return CodeAt(InputChannelCodes, position, -1); }

const std::array<Bit, 4> LoggerChannelBits = {{
    {1, "LoggerChannelA", "Channel A"}, {2, "LoggerChannelB", "Channel B"},
    {16, "LoggerChannelY", "Channel Y"}, {32, "LoggerChannelZ", "Channel Z"},
}};
const std::array<Bit, 6> LoggerOptionBits = {{
    {4, "LoggerOptDiagnistic", "Store Diagnostics"}, {8, "LoggerOptAmplitude", "Store Amplitude"},
    {16, "LoggeroptFluidSS", "Store Fluid Soundspeed"}, {32, "LoggerOptTotalizer", "Store Totalizer"},
    {64, "LoggerOptAverage", "Average Storage"}, {128, "LoggerOptRingBuffer", "Ring Buffer"},
}};

std::span<const Bit> BitsOf(std::string_view rowControl)
{
    if (rowControl == "LoggerChannel")
        return LoggerChannelBits;
    if (rowControl == "LoggerOptions")
        return LoggerOptionBits;
    return {};
}

std::uint16_t WordOfBits(std::span<const Bit> bits, std::span<const bool> checked)
{
    std::uint16_t word = 0;
    for (std::size_t i = 0; i < bits.size() && i < checked.size(); ++i)
        if (checked[i])
            word = static_cast<std::uint16_t>(word | bits[i].value);
    return word;
}

const std::array<std::string_view, 9> ProcessQuantityNames = {
    "Unused", "Temperature Tfluid", "Temperature Taux", "Pressure Pfluid", "Pressure Paux", "Density",
    "Kinematic Viscosity", "Dynamic Viscosity", "Gas-Compression Factor",
};

namespace {

// Latin-1, as the lists show them.
constexpr std::array<std::string_view, 2> TemperatureUnits = {"\xB0" "C", "\xB0" "F"};
constexpr std::array<std::string_view, 10> PressureUnits = {
    "bar", "mbar", "MPa", "psi", "mWS", "mmHg", "bar (g)", "psi (g)", "mbar (g)", "mH20",
};
constexpr std::array<std::string_view, 3> DensityUnits = {"g/cm3", "kg/m3", "lb/ft3"};
constexpr std::array<std::string_view, 2> KinematicViscosityUnits = {"mm2/s", "cSt"};
constexpr std::array<std::string_view, 1> DynamicViscosityUnits = {"mPa"};
constexpr std::array<std::string_view, 1> NoUnits = {"-"};

}  // namespace

Names ProcessInputUnitNames(int quantityPosition)
{
    switch (quantityPosition) {
    case 1:
    case 2: return TemperatureUnits;
    case 3:
    case 4: return PressureUnits;
    case 5: return DensityUnits;
    case 6: return KinematicViscosityUnits;
    case 7: return DynamicViscosityUnits;
    case 8: return NoUnits;
    default: return {};
    }
}

std::string ProcessInputStatusText(std::uint16_t status)
{
    switch (status) {
    case 0: return "OK";
    case 1: return "Err: Ch.";
    case 2: return "Err: Type";
    case 3: return "Err: Ch+Type";
    case 4: return "Err: Unit";
    case 8: return "Err: Float";
    case 16: return "Err: Meas Type";
    case 32: return "Err: Out of Range";
    default: return std::to_string(status);
    }
}

namespace {

using L = std::string_view;
constexpr std::array<L, 2> NoYes = {"No", "Yes"};
constexpr std::array<L, 2> LayerInUse = {"Disabeld", "Enabled"};
constexpr std::array<L, 2> DisabledEnabled = {"Disabled", "Enabled"};
constexpr std::array<L, 3> Presence = {"Disabled", "Enabled", "Not Present"};
constexpr std::array<L, 3> TransducerChoice = {"Automatic Detection", "From Database", "Other Transducer"};
constexpr std::array<L, 2> Supply = {"Return", "Supply"};
constexpr std::array<L, 2> Cooling = {"Heat", "Cool"};
constexpr std::array<L, 2> KeepSign = {"Absolute", "Sign"};
constexpr std::array<L, 3> LowCut = {"Default", "Disable", "Enable"};
constexpr std::array<L, 2> GasMeasure = {"Disable", "Enable"};
constexpr std::array<L, 2> Method = {"AND", "OR"};
constexpr std::array<L, 2> ValueStatus = {"Value", "Status"};
constexpr std::array<L, 4> OnError = {"Min. Output", "Hold Output", "Max. Output", "Error Output"};
constexpr std::array<L, 2> Sensor = {"PT 100", "PT 1000"};

const RowTexts AllRowTexts[] = {
    {"OuterDiameter", {}, "mm"},
    {"UseUserRoughness", NoYes, {}},
    {"UserRougness", {}, "mm"},
    {"CoatingEnabled", LayerInUse, {}},
    {"CoatingThickness", {}, "mm"},
    {"WallEnabled", LayerInUse, {}},
    {"WallThickness", {}, "mm"},
    {"Lining1Enabled", LayerInUse, {}},
    {"Lining1Thickness", {}, "mm"},
    {"Lining2Enabled", LayerInUse, {}},
    {"Lining2Thickness", {}, "mm"},
    {"FluidSoundspeedMin", {}, "m/s"},
    {"FluidSoundspeedMax", {}, "m/s"},
    {"FluidDensity", {}, "g/cm\xB3"},
    {"FluidViscosity", {}, "mm\xB2/s"},
    {"FluidTemperature", {}, "\xB0" "C"},
    {"FluidTempeatureAux", {}, "\xB0" "C"},
    {"FluidPressure", {}, "bar(a)"},
    {"FluidPressureAux", {}, "bar(a)"},
    {"SelectTransducer", TransducerChoice, {}},
    {"TransducerPiezoAngle", {}, "\xB0"},
    {"TransducerSoundspeedMin", {}, "m/s"},
    {"TransducerSoundspeedMax", {}, "m/s"},
    {"TransducerSoundpathLength", {}, "mm"},
    {"TransducerEdgeOffset", {}, "mm"},
    {"TransducerTolerance", {}, "ns"},
    {"TransducerAddCable", {}, "m"},
    {"TransducerDistance", {}, "mm"},
    {"MeasuringActivate", NoYes, {}},
    {"MeasuringValue", MeasQuantityNames, {}},
    {"MeasuringDamping", {}, "s"},
    {"MeasuringErrorDelay", {}, "s"},
    {"MeasuringTrdAtSupply", Supply, {}},
    {"MeasuringCoolingSystem", Cooling, {}},
    {"MeasuringKeepSign", KeepSign, {}},
    {"MeasuringLowCutEnabled", LowCut, {}},
    {"MeasuringLowCutPos", {}, "m/s"},
    {"MeasuringLowCutNeg", {}, "m/s"},
    {"MeasuringGasMeasure", GasMeasure, {}},
    {"CalulationChannelActiv", NoYes, {}},
    {"CalculationMethod", Method, {}},
    {"CalculationLowCutNegative", {}, "m/s"},
    {"CalculationLowCutPositive", {}, "m/s"},
    {"CalculationMeasValue", MeasQuantityNames, {}},
    {"CalculationDamping", {}, "s"},
    {"CalculationErrorDelay", {}, "s"},
    {"LoggerRate", {}, "s"},
    {"ProtectionEnable", DisabledEnabled, {}},
    {"CurrentLoopActivate", Presence, {}},
    {"CurrentLoopValueStatus", ValueStatus, {}},
    {"CurrentLoopAbsolute", NoYes, {}},
    {"CurrentLoopOnError", OnError, {}},
    {"CurrentLoopMinValue", {}, "mA"},
    {"CurrentLoopMaxValue", {}, "mA"},
    {"CurrentLoopErrorValue", {}, "mA"},
    {"ProcessInputActivate", Presence, {}},
    {"ProcessInputSensor", Sensor, {}},
    {"ProcessInputMeas", ProcessQuantityNames, {}},
};

}  // namespace

const RowTexts* TextsOf(std::string_view rowControl)
{
    for (const RowTexts& t : AllRowTexts)
        if (t.control == rowControl)
            return &t;
    return nullptr;
}

Names ItemsOf(std::string_view rowControl)
{
    const RowTexts* t = TextsOf(rowControl);
    return t ? t->items : Names{};
}

std::string_view UnitOf(std::string_view rowControl)
{
    const RowTexts* t = TextsOf(rowControl);
    return t ? t->unit : std::string_view{};
}

bool IsUnitAfterQuantity(std::string_view rowControl)
{
    return rowControl == "MeasuringUnit" || rowControl == "CalculationMeasUnit" || rowControl == "ProcessInputUnit";
}

Names UnitListAfter(std::string_view rowControl, int quantityPosition)
{
    if (rowControl == "ProcessInputUnit")
        return ProcessInputUnitNames(quantityPosition);
    if (IsUnitAfterQuantity(rowControl))
        return units::subsetMeasUnitList(quantityPosition);
    return {};
}

bool IsCurrentLoopScale(std::string_view rowControl)
{
    return rowControl == "CurrentLoopLowScale" || rowControl == "CurrentLoopFullScale";
}

}  // namespace subset
