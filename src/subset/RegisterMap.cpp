#include "RegisterMap.h"

#include <array>

namespace subset {

namespace {

using E = Encoding;
using T = CodeTable;

constexpr Row PipeRows[] = {
    {24000, 2, E::F32, "OuterDiameter"},
    {24002, 1, E::Index, "UseUserRoughness"},
    {24003, 2, E::F32, "UserRougness"},
    {24005, 1, E::Index, "CoatingEnabled"},
    {24006, 1, E::Code, "CoatingMaterial", T::Material},
    {24007, 2, E::F32, "CoatingThickness"},
    {24009, 2, E::F32, "CoatingSoundspeed"},
    {24011, 1, E::Index, "WallEnabled"},
    {24012, 1, E::Code, "WallMaterial", T::Material},
    {24013, 2, E::F32, "WallThickness"},
    {24015, 2, E::F32, "WallSoundspeed"},
    {24017, 1, E::Index, "Lining1Enabled"},
    {24018, 1, E::Code, "Lining1Material", T::Material},
    {24019, 2, E::F32, "Lining1Thickness"},
    {24021, 2, E::F32, "Lining1Soundspeed"},
    {24023, 1, E::Index, "Lining2Enabled"},
    {24024, 1, E::Code, "Lining2Material", T::Material},
    {24025, 2, E::F32, "Lining2Thickness"},
    {24027, 2, E::F32, "Lining2Soundspeed"},
};

constexpr Row FluidRows[] = {
    {24125, 1, E::Code, "Fluid", T::Fluid},
    {24126, 2, E::F32, "FluidSoundspeedMin"},
    {24128, 2, E::F32, "FluidSoundspeedMax"},
    {24130, 2, E::F32, "FluidDensity"},
    {24132, 2, E::F32, "FluidViscosity"},
    {24134, 2, E::F32, "FluidGasCompressFactor"},
    {24136, 2, E::F32, "FluidTemperature"},
    {24138, 2, E::F32, "FluidTempeatureAux"},
    {24140, 2, E::F32, "FluidPressure"},
    {24142, 2, E::F32, "FluidPressureAux"},
};

constexpr Row TransducerRows[] = {
    {24250, 1, E::Index, "SelectTransducer"},
    {24251, 4, E::Chars7, "TransducerType"},
    {24255, 2, E::F32, "TransducerPiezoAngle"},
    {24257, 2, E::F32, "TransducerSoundspeedMin"},
    {24259, 2, E::F32, "TransducerSoundspeedMax"},
    {24261, 2, E::F32, "TransducerSoundpathLength"},
    {24263, 2, E::F32, "TransducerEdgeOffset"},
    {24265, 2, E::U32, "TransducerTolerance"},
    {24267, 2, E::F32, "TransducerAddCable"},
    {24269, 1, E::U16, "TransducerSoundpathNumber"},
    {24270, 2, E::F32, "TransducerDistance"},
};

constexpr Row MeasuringRows[] = {
    {24375, 1, E::Index, "MeasuringActivate"},
    {24376, 1, E::Index, "MeasuringValue"},
    {24377, 1, E::Index, "MeasuringUnit", T::None, false, true},
    {24378, 2, E::U32, "MeasuringDamping"},
    {24380, 2, E::U32, "MeasuringErrorDelay"},
    {24382, 1, E::Index, "MeasuringTrdAtSupply"},
    {24383, 1, E::Index, "MeasuringCoolingSystem"},
    {24384, 1, E::Index, "MeasuringKeepSign"},
    {24385, 1, E::Index, "MeasuringLowCutEnabled"},
    {24386, 2, E::F32, "MeasuringLowCutPos"},
    {24388, 2, E::F32, "MeasuringLowCutNeg"},
    {24390, 1, E::Index, "MeasuringGasMeasure"},
};

constexpr Row LinkingRows[] = {
    {24500, 1, E::Code, "LinkingTemperature", T::Linkage},
    {24501, 1, E::Code, "LinkingTemperatureAux", T::Linkage},
};

constexpr Row CalculationRows[] = {
    {28000, 1, E::Index, "CalulationChannelActiv"},
    {28001, 1, E::Code, "CalculationInput1", T::CalcInput},
    {28002, 1, E::Code, "CalculationInput2", T::CalcInput},
    {28003, 1, E::Index, "CalculationMethod"},
    {28004, 2, E::F32, "CalculationLowCutNegative", T::None, false, false, 8},
    {28006, 2, E::F32, "CalculationLowCutPositive", T::None, false, false, 8},
    {28008, 1, E::Index, "CalculationMeasValue"},
    {28009, 1, E::Index, "CalculationMeasUnit", T::None, false, true},
    {28010, 2, E::U32, "CalculationDamping"},
    {28012, 2, E::U32, "CalculationErrorDelay"},
};

// The global write sends the protection (enable and code in one request) first and pauses
// after it; its own procedure orders these rows, the table only says what each one is.
constexpr Row GlobalRows[] = {
    {29250, 1, E::Bits, "LoggerChannel"},
    {29251, 2, E::F32, "LoggerRate"},
    {29253, 1, E::Bits, "LoggerOptions"},
    {29254, 1, E::Index, "ProtectionEnable"},
    {29255, 2, E::U32, "ProtectionCode", T::None, false, true},
};

constexpr Row MeasuringState{29257, 1, E::U16, "StartMeas"};

constexpr Row CurrentLoopRows[] = {
    {29125, 1, E::Index, "CurrentLoopActivate"},
    {29126, 1, E::Code, "CurrentLoopChannel", T::OutputChannel},
    {29127, 2, E::Code32, "CurrentLoopMeasValue", T::OutputQuantity},
    {29129, 1, E::Index, "CurrentLoopValueStatus"},
    {29130, 1, E::Index, "CurrentLoopAbsolute"},
    {29131, 2, E::F32, "CurrentLoopLowScale"},
    {29133, 2, E::F32, "CurrentLoopFullScale"},
    {29135, 1, E::Index, "CurrentLoopOnError"},
    {29136, 2, E::F32, "CurrentLoopMinValue"},
    {29138, 2, E::F32, "CurrentLoopMaxValue"},
    {29140, 2, E::F32, "CurrentLoopErrorValue"},
};

constexpr Row TemperatureInputRows[] = {
    {29000, 1, E::Index, "ProcessInputActivate"},
    {29001, 1, E::Index, "ProcessInputSensor"},
};

constexpr Row ModbusProcessInputRows[] = {
    {140, 1, E::Code, "ProcessInputChannel", T::InputChannel},
    {141, 1, E::Index, "ProcessInputMeas"},
    {142, 1, E::Index, "ProcessInputUnit"},
    {143, 2, E::F32, "ProcessInputValue"},
    {145, 1, E::U16, "ProcessInputStatus", T::InputStatus, true},
};

constexpr std::array<Page, 10> AllPages = {{
    {PageId::Pipe, "Pipe", PipeRows, "Getting Pipe Data ...", "Getting Pipe Data Ready", "Writing Pipe Data ...",
     "Writing Pipe Data Ready", "GetDataPipe", "WritePipeData", true},
    {PageId::Fluid, "Fluid", FluidRows, "Getting Fluid Data ...", "Getting Fluid Data Ready",
     "Writing Fluid Data ...", "Writing Fluid Data Ready", "GetFluidData", "WriteFluidData"},
    {PageId::Transducer, "Transducer", TransducerRows, "Getting Transducer Data ...",
     "Getting Transducer Data Ready", "Writing Transducer Data ...", "Writing Transducer Data Ready",
     "GetTransducerData", "WriteTransducerData"},
    {PageId::Measuring, "Measuring", MeasuringRows, "Getting Measuring Data ...", "Getting Measuring Data Ready",
     "Writing Measuring Data ...", "Writing Measuring Data Ready", "GetMeasuringData", "WriteMeasuringData"},
    {PageId::Linking, "Linking", LinkingRows, "Getting Linking Data ...", "Getting Linking Data Ready",
     "Writing Linkage Data ...", "Writing Linkage Data Ready", "GetLinkingData", "WriteLinkingData"},
    {PageId::Calculation, "Calculation Channel", CalculationRows, "Getting Calculation Channel Data ...",
     "Getting Calculation Channel Data Ready", "Writing Calculation Channel Data ...", "Writing Channel Data Ready",
     "GetCalcChannel", "WriteCalcChannel"},
    {PageId::Global, "Global Settings", GlobalRows, "Getting Global Settings Data ...",
     "Getting Global Settings Data Ready", "Writing Global Settings Data ...", "Writing Global Settings Ready",
     "GetGlobalSettings", "WriteGlobalSettings"},
    {PageId::CurrentLoop, "Process Output", CurrentLoopRows, "Getting Process Output Data ...",
     "Getting Process Output Data Ready", "Writing Process Output Data ...", "Writing Channel Data Ready",
     "GetProcessOutputData", "WriteProcessOutputData", false, false, true},
    {PageId::TemperatureInput, "Process Input", TemperatureInputRows, "Getting Process Input Data ...",
     "Getting Process Input Data Ready", "Writing Process Input Data ...", "Writing Process Input Data Ready",
     "GetProcessInputData", "WriteProcessInputData", false, false, true},
    {PageId::ModbusProcessInput, "Modbus Process Input", ModbusProcessInputRows, {}, {}, {}, {}, {}, {}, false,
     true},
}};

}  // namespace

const Page& PageOf(PageId id) { return AllPages[static_cast<std::size_t>(id)]; }
std::span<const Page> Pages() { return AllPages; }

int InstanceOffset(PageId id, int instance)
{
    switch (id) {
    case PageId::Pipe:
    case PageId::Fluid:
    case PageId::Transducer:
    case PageId::Measuring:
    case PageId::Linking: return instance == 1 ? 1000 : 0;
    case PageId::Calculation: return instance == 1 ? 500 : 0;
    case PageId::Global: return 0;
    case PageId::CurrentLoop: return instance == 1 ? 17 : 0;
    case PageId::TemperatureInput: return instance == 1 ? 2 : 0;
    case PageId::ModbusProcessInput: return instance >= 0 && instance <= 3 ? 10 * instance : 0;
    }
    return 0;
}

const Row& ProtectionRow() { return GlobalRows[3]; }
const Row& MeasuringStateRow() { return MeasuringState; }

const Row* FindRow(const Page& page, int instance, int reg)
{
    const int offset = InstanceOffset(page.id, instance);
    for (const Row& r : page.rows)
        if (r.reg + offset == reg)
            return &r;
    return nullptr;
}

std::vector<std::span<const Row>> WriteGroups(const Page& page)
{
    std::vector<std::span<const Row>> groups;
    const std::span<const Row> rows = page.rows;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t n = 1;
        while (i + n < rows.size() && rows[i + n].joinsPrevious)
            ++n;
        if (!rows[i].readOnly)
            groups.push_back(rows.subspan(i, n));
        i += n;
    }
    return groups;
}

}  // namespace subset
