// The configuration file's values and write plan, worked out by hand from the register map.

#include "CodeTables.h"
#include "Configuration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

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
    struct Case {
        Slot slot;
        Words words;
        nlohmann::json value;
        std::string text;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
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
    struct Case {
        std::vector<int> differing;
        std::vector<std::pair<int, int>> writes;  // start, count
    };
    const Case cases[] = {
        {{}, {}},
        {{25377}, {{25376, 2}}},           // the unit alone still writes the quantity with it
        {{25376, 25377}, {{25376, 2}}},    // once
        {{25000, 25012}, {{25000, 2}, {25012, 1}}},
    };
    for (const Case& c : cases) {
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

}  // namespace
