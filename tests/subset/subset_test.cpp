// The subset's map, encodings, code tables and configuration file, worked out by hand from the manual.

#include "CodeTables.h"
#include "Configuration.h"
#include "Encodings.h"
#include "RegisterMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace subset;

// A row of a page instance by its control.
Slot SlotOf(PageId id, int instance, std::string_view control)
{
    const Page& page = PageOf(id);
    const auto row = std::find_if(page.rows.begin(), page.rows.end(), [&](const Row& r) { return r.control == control; });
    return {&page, instance, row == page.rows.end() ? throw std::invalid_argument(std::string(control)) : &*row};
}

TEST(SubsetConfiguration, ReadableValues)
{
    // The words of the rows another row's list or unit follows.
    const std::map<int, Words> others = {
        {24376, {3}},                                                    // channel A: Mass Flow
        {29127 + 17, {static_cast<uint16_t>(ItemIndexToOutputMeasValue(20) & 0xFFFF),
                      static_cast<uint16_t>(ItemIndexToOutputMeasValue(20) >> 16)}},  // loop 2: Density
    };
    const WordsAt at = [&](int reg) {
        const auto it = others.find(reg);
        return it == others.end() ? nullptr : &it->second;
    };
    const struct {
        Slot slot;
        Words words;
        nlohmann::json value;
        std::string text;
    } cases[] = {
        {SlotOf(PageId::Pipe, 0, "OuterDiameter"), {0, 17096}, 100.0, "100.0 mm"},
        {SlotOf(PageId::Pipe, 0, "UseUserRoughness"), {1}, "Yes", "Yes"},
        {SlotOf(PageId::Pipe, 0, "CoatingEnabled"), {2}, nullptr, "[2]"},  // past the list's end
        {SlotOf(PageId::Fluid, 0, "FluidViscosity"), {0, 16256}, 1.0, "1.0 mm\u00b2/s"},
        {SlotOf(PageId::Measuring, 0, "MeasuringUnit"), {1}, "kg/h", "kg/h"},
        {SlotOf(PageId::Measuring, 1, "MeasuringUnit"), {1}, nullptr, "[1]"},  // its quantity unknown
        {SlotOf(PageId::CurrentLoop, 1, "CurrentLoopLowScale"), {0, 16256}, 1.0, "1.0 kg/m\u00b3"},
        {SlotOf(PageId::Global, 0, "LoggerChannel"), {0x31}, {"Channel A", "Channel Y", "Channel Z"},
         "Channel A, Channel Y, Channel Z"},
        {SlotOf(PageId::Global, 0, "LoggerOptions"), {0x0100}, nlohmann::json::array(), "none"},  // no box of its own
        {SlotOf(PageId::Pipe, 0, "OuterDiameter"), {0, 0x7FC0}, nullptr, "[0,32704]"},  // NaN has no JSON form
        {SlotOf(PageId::Pipe, 1, "WallMaterial"), {static_cast<uint16_t>(MaterialItemIndexToValue(2))},
         "Stainless Steel", "Stainless Steel"},
        {SlotOf(PageId::Pipe, 0, "WallMaterial"), {9999}, nullptr, "[9999]"},
        {SlotOf(PageId::Calculation, 1, "CalculationInput1"), {89}, "Channel Y", "Channel Y"},
        {SlotOf(PageId::Measuring, 0, "MeasuringDamping"), {0xFFFF, 0xFFFF}, 4294967295u, "4294967295 s"},
        {SlotOf(PageId::Pipe, 0, "OuterDiameter"), {1}, nullptr, "[1]"},  // words that do not fit the row
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadableValue(c.slot, c.words, at), c.value) << SlotName(c.slot);
        EXPECT_EQ(ValueText(c.slot, c.words, at), c.text) << SlotName(c.slot);
    }
}

TEST(SubsetConfiguration, SlotsInstancesProtectionAndListTexts)
{
    const auto all = ConfigurationSlots("");
    ASSERT_TRUE(all);
    for (const Slot& s : *all)
        EXPECT_TRUE(s.Register() != 29254 && s.Register() != 29255 && !s.row->readOnly &&
                    s.row->control != "ProcessInputValue")
            << s.Register();
    for (const Page& page : Pages())
        for (const Row& row : page.rows)
            if (row.encoding == Encoding::Index && !IsUnitAfterQuantity(row.control)) {
                EXPECT_FALSE(ItemsOf(row.control).empty()) << row.control;
            }
    EXPECT_EQ(ConfigurationSlots("B")->front().Register(), 25000);
    EXPECT_EQ(ConfigurationSlots("Z")->front().Register(), 28500);
    EXPECT_FALSE(ConfigurationSlots("C"));
    EXPECT_EQ(InstanceName(PageId::ModbusProcessInput, 3), "4");
}

TEST(SubsetConfiguration, WritePlanTakesAQuantityWithItsUnit)
{
    const auto slots = *ConfigurationSlots("B");
    std::vector<Entry> entries;
    for (const Slot& s : slots)
        entries.push_back({s, Words(s.row->count, 1)});
    const struct {
        std::vector<int> differing;
        std::vector<std::pair<int, int>> writes;  // start, count
    } cases[] = {
        {{}, {}},
        {{25377}, {{25376, 2}}},           // the unit alone still writes the quantity with it
        {{25376, 25377}, {{25376, 2}}},    // once
        {{25000, 25012}, {{25000, 2}, {25012, 1}}},
    };
    for (const auto& c : cases) {
        std::vector<Difference> differences;
        for (const Entry& e : entries)
            for (int reg : c.differing)
                if (e.slot.Register() == reg)
                    differences.push_back({e, {}, {}, {}});
        std::vector<std::pair<int, int>> writes;
        for (const Write& w : WritePlan(entries, differences)) {
            const auto r = w.Request();
            EXPECT_EQ(r.op, modbus::Op::WriteMultiple);
            writes.emplace_back(r.start, r.count);
        }
        EXPECT_EQ(writes, c.writes);
    }
}

TEST(SubsetCodes, CodesAndPositionsBothWaysAndUnknownCodesSelectNothing)
{
    // A code table both ways: code -> position, and back where the code has an entry.
    const struct {
        const char* name;
        int (*toPosition)(int);
        int (*toCode)(int);
        std::vector<std::pair<int, int>> codes;  // code, position (-1: no entry, shown as nothing)
        std::vector<int> noEntry;                // positions outside the list
    } tables[] = {
        {"material", MaterialValueToItemIndex, MaterialItemIndexToValue,
         {{0, 0}, {8, 8}, {10, 9}, {25, 24}, {29, 25}, {30, 26}, {9, -1}, {26, -1}, {28, -1}, {31, -1}, {65535, -1}},
         {-1, 27}},
        {"fluid", FluidValueToItemIndex, FluidItemIndexToValue,
         {{10000, 0}, {10001, 1}, {10004, 3}, {10062, 29}, {10093, 56}, {10094, -1}, {10003, -1}, {0, -1}}, {57}},
        {"linkage", LinkageIDToItemIndex, ItemIndexToLinkageID,
         {{0, 0}, {0x4356, 1}, {0x5431, 2}, {21554, 3}, {0x5433, -1}, {1, -1}}, {}},
        {"output channel", OutputChannelToItemIndex, ItemIndexToOutputChannel,
         {{'A', 0}, {'B', 1}, {'Y', 2}, {'Z', 3}, {'C', -1}, {0, -1}}, {}},
        {"input channel", InputChannelToItemIndex, ItemIndexToInputChannel,
         {{'A', 0}, {'D', 3}, {'Y', 4}, {'Z', 5}, {'*', 6}, {'E', -1}}, {}},
    };
    for (const auto& t : tables) {
        for (const auto& [code, position] : t.codes) {
            EXPECT_EQ(t.toPosition(code), position) << t.name << " " << code;
            if (position >= 0) {
                EXPECT_EQ(t.toCode(position), code) << t.name;
            }
        }
        for (int outside : t.noEntry)
            EXPECT_EQ(t.toCode(outside), -1) << t.name << " " << outside;
    }
    // Names where the codes skip, and the last ones: the lists stay aligned with the codes.
    EXPECT_EQ(std::tuple(MaterialNames[9], MaterialNames[26], FluidNames[3], FluidNames[56]),
              std::tuple("Ductile Iron", "Duplex", "Methanol", "Butane"));

    // Output quantities by their letters, the first letter in the most significant byte.
    const std::pair<std::uint32_t, int> quantities[] = {
        {0x43464C55, 1}, {0x46564F4C, 3}, {0x464D4153, 5}, {0x5156505F, 8},  // CFLU FVOL FMAS QVP_
        {0x50524F48, 20}, {0x50474346, 23}, {0, 0}, {0x46564F4D, 0}, {0xFFFFFFFF, 0},  // PROH PGCF
    };
    for (const auto& [code, position] : quantities) {
        EXPECT_EQ(CurrentLoopMeasValueToIndex(code), position) << std::hex << code;
        if (position > 0) {
            EXPECT_EQ(ItemIndexToOutputMeasValue(position), code);
        }
    }
    EXPECT_EQ(std::tuple(ItemIndexToOutputMeasValue(-1), ItemIndexToOutputMeasValue(24)), std::tuple(0u, 0u));

    // Calculation inputs: the other calculation channel is the fourth entry.
    EXPECT_EQ(CalcInputNames('Y')[3], "Channel Y");
    const std::tuple<int, char, int> inputs[] = {{'Y', 'Y', 3}, {'Z', 'Y', -1}, {'B', 'Z', 2}, {0, 'Z', 0}, {2, 'Z', -1}};
    for (const auto& [code, other, position] : inputs)
        EXPECT_EQ(CalcInputToInteger(code, other), position) << code << " " << other;
    EXPECT_EQ(std::tuple(InputItemIndexToChar("Channel Z"), InputItemIndexToChar("None"), InputItemIndexToChar("")),
              std::tuple('Z', 0, -1));
}

TEST(SubsetEncodings, NumbersAndCharactersInTheirRegisters)
{
    // 1.0f is 0x3F800000: low word first.
    EXPECT_EQ(EncodeF32(1.0), (Words{0x0000, 0x3F80}));
    EXPECT_EQ(EncodeF32(-2.5), (Words{0x0000, 0xC020}));
    EXPECT_FLOAT_EQ(DecodeF32(Words{0x0000, 0x3F80}), 1.0f);
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e39})
        EXPECT_FALSE(EncodeF32(bad)) << bad;
    EXPECT_TRUE(EncodeF32(3.4e38));

    const std::pair<long long, std::optional<Words>> u32[] = {
        {-1, Words{0xFFFF, 0xFFFF}}, {4294967295LL, Words{0xFFFF, 0xFFFF}}, {-2147483648LL, Words{0x0000, 0x8000}},
        {65536, Words{0x0000, 0x0001}}, {4294967296LL, std::nullopt}, {-2147483649LL, std::nullopt},
    };
    for (const auto& [value, words] : u32)
        EXPECT_EQ(EncodeU32(value), words) << value;
    EXPECT_EQ(DecodeU32(Words{0xFFFF, 0xFFFF}), 4294967295u);
    EXPECT_EQ((std::vector{EncodeU16(65535), EncodeU16(65536), EncodeU16(-1)}),
              (std::vector<std::optional<Words>>{Words{0xFFFF}, std::nullopt, std::nullopt}));
    EXPECT_EQ((std::vector{ParseInteger(" 42 "), ParseInteger("-7"), ParseInteger("+7")}), (std::vector<std::optional<long long>>{42, -7, 7}));
    for (const char* bad : {"", "4 2", "1.5", "0x10", "+-1", "abc", "99999999999999999999"})
        EXPECT_FALSE(ParseInteger(bad)) << bad;
    EXPECT_DOUBLE_EQ(RoundSignificant(1234567.891, 7), 1234568.0);
    EXPECT_DOUBLE_EQ(RoundSignificant(0.0015, 7), 0.0015);

    // "VTM-1A2": 'V' 0x56 low, 'T' 0x54 high, ...; the fourth register's high byte is 0.
    const std::pair<const char*, std::optional<Words>> chars[] = {
        {"VTM-1A2", Words{0x5456, 0x2D4D, 0x4131, 0x0032}}, {"AB", Words{0x4241, 0x2020, 0x2020, 0x0020}},
        {"", Words{0x2020, 0x2020, 0x2020, 0x0020}}, {"VTM-1A23", std::nullopt}};
    for (const auto& [text, words] : chars)
        EXPECT_EQ(EncodeChars7(text), words) << text;
    EXPECT_EQ(TransducerIntegerToType(Words{0x5456, 0x2D4D, 0x4131, 0x0032}), "VTM-1A2");
    EXPECT_EQ(TransducerIntegerToType(Words{0x0041, 0, 0, 0}), std::string("A\0\0\0\0\0\0", 7));
}

TEST(SubsetMap, InstancesAndWriteRequests)
{
    const std::tuple<PageId, int, const char*, int> rows[] = {
        {PageId::Pipe, 1, "OuterDiameter", 25000},
        {PageId::Fluid, 1, "Fluid", 25125},
        {PageId::Calculation, 1, "CalculationInput1", 28501},
        {PageId::CurrentLoop, 1, "CurrentLoopFullScale", 29150},
        {PageId::TemperatureInput, 1, "ProcessInputSensor", 29003},
        {PageId::ModbusProcessInput, 3, "ProcessInputStatus", 175},
        {PageId::Global, 0, "ProtectionCode", 29255},
    };
    for (const auto& [id, instance, control, reg] : rows) {
        const Slot s = SlotOf(id, instance, control);
        EXPECT_EQ(s.Register(), reg) << control;
        EXPECT_EQ(FindRow(*s.page, instance, reg), s.row) << control;
    }

    // Writes join a quantity and its unit (and the protection's enable and code), read-only rows left out.
    const std::tuple<PageId, size_t, size_t, int> counts[] = {  // rows, writes, registers written
        {PageId::Pipe, 19, 19, 29}, {PageId::Fluid, 10, 10, 19}, {PageId::Transducer, 11, 11, 22},
        {PageId::Measuring, 12, 11, 16}, {PageId::Linking, 2, 2, 2}, {PageId::Calculation, 10, 9, 14},
        {PageId::CurrentLoop, 11, 11, 17}, {PageId::TemperatureInput, 2, 2, 2},
        {PageId::ModbusProcessInput, 5, 4, 5}, {PageId::Global, 5, 4, 7},
    };
    for (const auto& [id, rowCount, writeCount, registers] : counts) {
        const Page& page = PageOf(id);
        SCOPED_TRACE(std::string(page.name));
        EXPECT_EQ(page.rows.size(), rowCount);
        const auto groups = WriteGroups(page);
        EXPECT_EQ(groups.size(), writeCount);
        int written = 0;
        for (const auto& g : groups)
            for (size_t i = 0; i < g.size(); ++i) {
                written += g[i].count;
                // Rows follow each other without gaps or overlaps inside a write.
                if (i > 0) {
                    EXPECT_EQ(g[i].reg, g[i - 1].reg + g[i - 1].count);
                }
            }
        EXPECT_EQ(written, registers);
    }
}

TEST(SubsetCodes, LoggerBitsStatusTextsAndUnitLists)
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
    EXPECT_TRUE(BitsOf("ProtectionEnable").empty());

    const std::pair<int, const char*> statuses[] = {
        {0, "OK"}, {1, "Err: Ch."}, {2, "Err: Type"}, {3, "Err: Ch+Type"}, {4, "Err: Unit"}, {8, "Err: Float"},
        {16, "Err: Meas Type"}, {32, "Err: Out of Range"}, {5, "5"}, {6, "6"}, {64, "64"}, {65535, "65535"},
    };
    for (const auto& [status, text] : statuses)
        EXPECT_EQ(ProcessInputStatusText(static_cast<std::uint16_t>(status)), text) << status;

    // Each quantity's list by its size and last entry.
    const std::tuple<int, size_t, std::string_view> units[] = {
        {0, 0, ""}, {1, 2, "\xB0" "F"}, {4, 10, "mH20"}, {5, 3, "lb/ft3"}, {6, 2, "cSt"}, {7, 1, "mPa"}, {8, 1, "-"},
        {9, 0, ""}};
    for (const auto& [quantity, size, last] : units) {
        const Names got = ProcessInputUnitNames(quantity);
        EXPECT_EQ(std::tuple(got.size(), got.empty() ? "" : got.back()), std::tuple(size, last)) << quantity;
    }
}

}  // namespace
