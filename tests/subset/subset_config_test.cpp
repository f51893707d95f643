// The configuration file's values and write plan, worked out by hand from the register map.

#include "CodeTables.h"
#include "Configuration.h"

#include <gtest/gtest.h>

namespace {

using namespace subset;

Slot SlotOf(PageId id, int instance, std::string_view control)
{
    const Page& page = PageOf(id);
    for (const Row& r : page.rows)
        if (r.control == control)
            return {&page, instance, &r};
    throw std::invalid_argument(std::string(control));
}

TEST(SubsetConfiguration, ReadableValues)
{
    struct Case {
        Slot slot;
        Words words;
        nlohmann::json value;
    };
    const Case cases[] = {
        {SlotOf(PageId::Pipe, 0, "OuterDiameter"), {0, 17096}, 100.0},
        {SlotOf(PageId::Pipe, 0, "OuterDiameter"), {0, 0x7FC0}, nullptr},  // NaN has no JSON form
        {SlotOf(PageId::Pipe, 1, "WallMaterial"), {static_cast<uint16_t>(MaterialItemIndexToValue(2))}, "Stainless Steel"},
        {SlotOf(PageId::Pipe, 0, "WallMaterial"), {9999}, nullptr},
        {SlotOf(PageId::Calculation, 1, "CalculationInput1"), {89}, "Channel Y"},
        {SlotOf(PageId::Measuring, 0, "MeasuringDamping"), {0xFFFF, 0xFFFF}, 4294967295u},
        {SlotOf(PageId::Pipe, 0, "OuterDiameter"), {1}, nullptr},  // words that do not fit the row
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadableValue(c.slot, c.words), c.value) << c.slot.row->control << " " << c.words.size();
}

TEST(SubsetConfiguration, SlotsInstancesAndProtection)
{
    const auto all = ConfigurationSlots("");
    ASSERT_TRUE(all);
    for (const Slot& s : *all)
        EXPECT_TRUE(s.Register() != 29254 && s.Register() != 29255 && !s.row->readOnly) << s.Register();
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
                    differences.push_back({e, {}});
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
