// The subset's register map, encodings and code tables, checked against values worked out by
// hand from the meter's register description (letters, bytes, IEEE bit patterns).

#include "CodeTables.h"
#include "Encodings.h"
#include "RegisterMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace subset;

TEST(SubsetCodes, MaterialAndFluidCodesRoundTripAndUnknownCodesSelectNothing)
{
    struct Case {
        int code;
        int position;
        const char* name;
    } materials[] = {
        {0, 0, "Other Material"}, {8, 8, "Lead"}, {10, 9, "Ductile Iron"}, {25, 24, "PVDF"},
        {29, 25, "GRP"}, {30, 26, "Duplex"},
        // Codes without an entry: shown as nothing, never as a neighbour.
        {9, -1, nullptr}, {26, -1, nullptr}, {28, -1, nullptr}, {31, -1, nullptr}, {65535, -1, nullptr},
    };
    for (const Case& c : materials) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(MaterialValueToItemIndex(c.code), c.position);
        if (c.position >= 0) {
            EXPECT_EQ(MaterialItemIndexToValue(c.position), c.code);
            EXPECT_EQ(MaterialNames[static_cast<size_t>(c.position)], c.name);
        }
    }
    EXPECT_EQ(MaterialItemIndexToValue(-1), -1);
    EXPECT_EQ(MaterialItemIndexToValue(27), -1);

    Case fluids[] = {
        {10000, 0, "Other Medium"}, {10001, 1, "Water"}, {10004, 3, "Methanol"}, {10062, 29, "HCL 25%"},
        {10093, 56, "Butane"},
        {10094, -1, nullptr},  // the code beyond the list
        {10003, -1, nullptr}, {0, -1, nullptr},
    };
    for (const Case& c : fluids) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(FluidValueToItemIndex(c.code), c.position);
        if (c.position >= 0) {
            EXPECT_EQ(FluidItemIndexToValue(c.position), c.code);
            EXPECT_EQ(FluidNames[static_cast<size_t>(c.position)], c.name);
        }
    }
    EXPECT_EQ(FluidItemIndexToValue(57), -1);
}

TEST(SubsetCodes, LetterCodesOfLoopsLinkageAndInputs)
{
    // Output quantities by their letters, the first letter in the most significant byte.
    struct Quantity {
        std::uint32_t code;
        int position;
    } quantities[] = {
        {0x43464C55, 1},  // CFLU
        {0x46564F4C, 3},  // FVOL
        {0x464D4153, 5},  // FMAS
        {0x5156505F, 8},  // QVP_
        {0x50524F48, 20}, // PROH
        {0x50474346, 23}, // PGCF
        {0, 0}, {0x46564F4D, 0}, {0xFFFFFFFF, 0},
    };
    for (const Quantity& q : quantities) {
        EXPECT_EQ(CurrentLoopMeasValueToIndex(q.code), q.position) << std::hex << q.code;
        if (q.position > 0) {
            EXPECT_EQ(ItemIndexToOutputMeasValue(q.position), q.code);
        }
    }
    EXPECT_EQ(ItemIndexToOutputMeasValue(-1), 0u);
    EXPECT_EQ(ItemIndexToOutputMeasValue(24), 0u);

    struct Code {
        int code;
        int position;
    };
    for (const Code& c : {Code{0, 0}, Code{0x4356, 1}, Code{0x5431, 2}, Code{21554, 3}, Code{0x5433, -1}, Code{1, -1}}) {
        EXPECT_EQ(LinkageIDToItemIndex(c.code), c.position) << c.code;
        if (c.position >= 0) {
            EXPECT_EQ(ItemIndexToLinkageID(c.position), c.code);
        }
    }
    for (const Code& c : {Code{'A', 0}, Code{'B', 1}, Code{'Y', 2}, Code{'Z', 3}, Code{'C', -1}, Code{0, -1}}) {
        EXPECT_EQ(OutputChannelToItemIndex(c.code), c.position) << c.code;
        if (c.position >= 0) {
            EXPECT_EQ(ItemIndexToOutputChannel(c.position), c.code);
        }
    }
    for (const Code& c : {Code{'A', 0}, Code{'D', 3}, Code{'Y', 4}, Code{'Z', 5}, Code{'*', 6}, Code{'E', -1}}) {
        EXPECT_EQ(InputChannelToItemIndex(c.code), c.position) << c.code;
        if (c.position >= 0) {
            EXPECT_EQ(ItemIndexToInputChannel(c.position), c.code);
        }
    }

    // Calculation inputs: the other calculation channel is the fourth entry.
    EXPECT_EQ(CalcInputNames('Y')[3], "Channel Y");
    EXPECT_EQ(CalcInputToInteger('Y', 'Y'), 3);
    EXPECT_EQ(CalcInputToInteger('Z', 'Y'), -1);
    EXPECT_EQ(CalcInputToInteger('B', 'Z'), 2);
    EXPECT_EQ(CalcInputToInteger(0, 'Z'), 0);
    EXPECT_EQ(CalcInputToInteger(2, 'Z'), -1);
    EXPECT_EQ(InputItemIndexToChar("Channel Z"), 'Z');
    EXPECT_EQ(InputItemIndexToChar("None"), 0);
    EXPECT_EQ(InputItemIndexToChar(""), -1);
}

TEST(SubsetEncodings, NumbersInTheirRegisters)
{
    // 1.0f is 0x3F800000: low word first.
    EXPECT_EQ(EncodeF32(1.0), (Words{0x0000, 0x3F80}));
    EXPECT_EQ(EncodeF32(-2.5), (Words{0x0000, 0xC020}));
    EXPECT_FLOAT_EQ(DecodeF32(Words{0x0000, 0x3F80}), 1.0f);
    EXPECT_FALSE(EncodeF32(std::nan("")));
    EXPECT_FALSE(EncodeF32(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(EncodeF32(1e39));
    EXPECT_TRUE(EncodeF32(3.4e38));

    struct U32Case {
        long long value;
        std::optional<Words> words;
    } u32[] = {
        {-1, Words{0xFFFF, 0xFFFF}},
        {4294967295LL, Words{0xFFFF, 0xFFFF}},
        {-2147483648LL, Words{0x0000, 0x8000}},
        {65536, Words{0x0000, 0x0001}},
        {4294967296LL, std::nullopt},
        {-2147483649LL, std::nullopt},
    };
    for (const U32Case& c : u32)
        EXPECT_EQ(EncodeU32(c.value), c.words) << c.value;
    EXPECT_EQ(DecodeU32(Words{0xFFFF, 0xFFFF}), 4294967295u);
    EXPECT_EQ(EncodeU16(65535), Words{0xFFFF});
    EXPECT_FALSE(EncodeU16(65536));
    EXPECT_FALSE(EncodeU16(-1));

    EXPECT_EQ(ParseInteger(" 42 "), 42);
    EXPECT_EQ(ParseInteger("-7"), -7);
    EXPECT_EQ(ParseInteger("+7"), 7);
    for (const char* bad : {"", "4 2", "1.5", "0x10", "+-1", "abc", "99999999999999999999"})
        EXPECT_FALSE(ParseInteger(bad)) << bad;

    EXPECT_DOUBLE_EQ(RoundSignificant(1234567.891, 7), 1234568.0);
    EXPECT_DOUBLE_EQ(RoundSignificant(0.0015, 7), 0.0015);
}

TEST(SubsetEncodings, SevenCharactersLowByteFirst)
{
    // "VTM-1A2": 'V' 0x56 low, 'T' 0x54 high, ...; the fourth register's high byte is 0.
    EXPECT_EQ(EncodeChars7("VTM-1A2"), (Words{0x5456, 0x2D4D, 0x4131, 0x0032}));
    EXPECT_EQ(EncodeChars7("AB"), (Words{0x4241, 0x2020, 0x2020, 0x0020}));
    EXPECT_EQ(EncodeChars7(""), (Words{0x2020, 0x2020, 0x2020, 0x0020}));
    EXPECT_FALSE(EncodeChars7("VTM-1A23"));
    EXPECT_EQ(TransducerIntegerToType(Words{0x5456, 0x2D4D, 0x4131, 0x0032}), "VTM-1A2");
    EXPECT_EQ(TransducerIntegerToType(Words{0x0041, 0, 0, 0}), std::string("A\0\0\0\0\0\0", 7));
}

TEST(SubsetMap, InstancesAndWriteRequests)
{
    struct Case {
        PageId page;
        int instance;
        const char* control;
        int reg;
    } cases[] = {
        {PageId::Pipe, 1, "OuterDiameter", 25000},
        {PageId::Fluid, 1, "Fluid", 25125},
        {PageId::Calculation, 1, "CalculationInput1", 28501},
        {PageId::CurrentLoop, 1, "CurrentLoopFullScale", 29150},
        {PageId::TemperatureInput, 1, "ProcessInputSensor", 29003},
        {PageId::ModbusProcessInput, 3, "ProcessInputStatus", 175},
        {PageId::Global, 0, "ProtectionCode", 29255},
    };
    for (const Case& c : cases) {
        const Row* row = nullptr;
        for (const Row& r : PageOf(c.page).rows)
            if (r.control == c.control)
                row = &r;
        ASSERT_TRUE(row) << c.control;
        EXPECT_EQ(row->reg + InstanceOffset(c.page, c.instance), c.reg) << c.control;
        EXPECT_EQ(FindRow(PageOf(c.page), c.instance, c.reg), row);
    }

    // Reads: one per row. Writes: the quantity and its unit together, read-only rows left out.
    struct Counts {
        PageId page;
        size_t rows;
        size_t writes;
        int registers;
    } counts[] = {
        {PageId::Pipe, 19, 19, 29}, {PageId::Fluid, 10, 10, 19}, {PageId::Transducer, 11, 11, 22},
        {PageId::Measuring, 12, 11, 16}, {PageId::Linking, 2, 2, 2}, {PageId::Calculation, 10, 9, 14},
        {PageId::CurrentLoop, 11, 11, 17}, {PageId::TemperatureInput, 2, 2, 2},
        {PageId::ModbusProcessInput, 5, 4, 5},
        // The protection's enable and code go as one request of three registers.
        {PageId::Global, 5, 4, 7},
    };
    for (const Counts& c : counts) {
        const Page& page = PageOf(c.page);
        SCOPED_TRACE(std::string(page.name));
        EXPECT_EQ(page.rows.size(), c.rows);
        const auto groups = WriteGroups(page);
        EXPECT_EQ(groups.size(), c.writes);
        int registers = 0;
        for (const auto& g : groups)
            for (const Row& r : g)
                registers += r.count;
        EXPECT_EQ(registers, c.registers);
        // Rows follow each other without gaps or overlaps inside a write.
        for (const auto& g : groups)
            for (size_t i = 1; i < g.size(); ++i)
                EXPECT_EQ(g[i].reg, g[i - 1].reg + g[i - 1].count);
    }
    const auto measuring = WriteGroups(PageOf(PageId::Measuring));
    EXPECT_EQ(measuring[1].front().reg, 24376);
    EXPECT_EQ(measuring[1].size(), 2u);
}

TEST(SubsetCodes, LoggerBitsOnlyTheirBoxes)
{
    struct Case {
        const char* row;
        std::uint16_t word;
        std::vector<bool> checked;  // in the boxes' order
        std::uint16_t sent;         // what the boxes give back
    } cases[] = {
        {"LoggerChannel", 0x0033, {true, true, true, true}, 0x0033},
        {"LoggerChannel", 0x0003, {true, true, false, false}, 0x0003},
        {"LoggerChannel", 0xFFCC, {false, false, false, false}, 0x0000},  // bits 2, 3 and 6.. have no box
        {"LoggerOptions", 0x00FC, {true, true, true, true, true, true}, 0x00FC},
        {"LoggerOptions", 0x00A0, {false, false, false, true, false, true}, 0x00A0},
        {"LoggerOptions", 0x0003, {false, false, false, false, false, false}, 0x0000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.row) + " " + std::to_string(c.word));
        const auto bits = BitsOf(c.row);
        ASSERT_EQ(bits.size(), c.checked.size());
        bool checked[8] = {};
        for (size_t i = 0; i < bits.size(); ++i) {
            checked[i] = (c.word & bits[i].value) != 0;
            EXPECT_EQ(checked[i], c.checked[i]) << bits[i].control;
        }
        EXPECT_EQ(WordOfBits(bits, std::span<const bool>(checked, bits.size())), c.sent);
    }
    EXPECT_EQ(LoggerChannelBits[3].control, "LoggerChannelZ");
    EXPECT_EQ(LoggerOptionBits[0].control, "LoggerOptDiagnistic");
    EXPECT_TRUE(BitsOf("ProtectionEnable").empty());
}

TEST(SubsetCodes, ProcessInputStatusTextsAndUnitLists)
{
    const std::pair<int, const char*> statuses[] = {
        {0, "OK"}, {1, "Err: Ch."}, {2, "Err: Type"}, {3, "Err: Ch+Type"}, {4, "Err: Unit"}, {8, "Err: Float"},
        {16, "Err: Meas Type"}, {32, "Err: Out of Range"}, {5, "5"}, {6, "6"}, {64, "64"}, {65535, "65535"},
    };
    for (const auto& [status, text] : statuses)
        EXPECT_EQ(ProcessInputStatusText(static_cast<std::uint16_t>(status)), text) << status;

    const std::pair<int, std::vector<std::string_view>> units[] = {
        {0, {}},
        {1, {"\xB0" "C", "\xB0" "F"}},
        {4, {"bar", "mbar", "MPa", "psi", "mWS", "mmHg", "bar (g)", "psi (g)", "mbar (g)", "mH20"}},
        {5, {"g/cm3", "kg/m3", "lb/ft3"}},
        {6, {"mm2/s", "cSt"}},
        {7, {"mPa"}},
        {8, {"-"}},
        {9, {}},
    };
    for (const auto& [quantity, names] : units) {
        const Names got = ProcessInputUnitNames(quantity);
        EXPECT_EQ(std::vector<std::string_view>(got.begin(), got.end()), names) << quantity;
    }
    EXPECT_EQ(ProcessQuantityNames[8], "Gas-Compression Factor");
}

}  // namespace
