#include "Latin1.h"
#include "MBMasterUnitIDs.h"
#include "RegisterFormulas.h"
#include "UnitTables.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace units;
using Opt = std::optional<std::uint16_t>;
using Entries = std::vector<std::pair<int, std::string>>;

TEST(RegisterFormulas, BlockAndCalculatorAddresses)
{
    struct Row { int channel, q; Opt address; };
    const Row blocks[] = {
        {4, 7, 9112}, {1, 31, 2716}, {0, 40, 30064}, {5, 40, 30064}, {-1, 40, 30064},  // path diffs: any channel
        {0, 0, 1000}, {3, 29, 4464}, {5, 29, 10464}, {0, 30, 1700}, {3, 35, 4780}, {2, 36, 30000}, {2, 45, 30144},
        {6, 0, {}}, {-1, 0, {}}, {0, -1, {}}, {0, 46, {}},
    };
    for (const Row& r : blocks)
        EXPECT_EQ(measuredValueBlockAddress(r.channel, r.q), r.address) << r.channel << "/" << r.q;

    struct Calc { int channel, q, offset, address; std::string type; };
    const Calc calcs[] = {
        {5, 8, 4, 10132, "Float"}, {2, 31, 0, 3716, "Int16"}, {0, 0, 0, 1000, "Int16"}, {4, 7, 3, 9115, "Int16"},
        {1, 0, 6, 2006, "Char"}, {3, 29, 9, 4473, "Int16"}, {4, 40, 1, 30065, "Float"}, {0, 36, 0, 30000, "Int16"},
        {5, 45, 9, 30153, "Int16"}, {2, 35, 0, 3780, "Int16"},  // the last diagnostic quantity stays per channel
        {-1, 0, 0, 0, "Int16"}, {0, -1, 0, 984, "Int16"},       // typed text: position -1
        {0, 0, -1, 999, ""}, {-1, -1, -1, -17, ""}, {0, 0, 10, 1010, ""},
    };
    for (const Calc& r : calcs) {
        EXPECT_EQ(calculatorAddress(r.channel, r.q, r.offset), r.address) << r.channel << "/" << r.q << "/" << r.offset;
        EXPECT_EQ(calculatorDataType(r.offset), r.type) << "offset " << r.offset;
    }
}

TEST(QuantityTable, NamesAndUnitClasses)
{
    // The three tables' edges; the classes of single quantities are in UnitBox's unit texts.
    const Entries names = {
        {0, "Temperature Fluid"}, {29, "Netto Total Heat Flow"}, {30, "SNR"}, {35, "Error Bits"},
        {36, "Abs. Flow Velocity Path Diff"}, {45, "Rel. SCNR Path Diff"}, {-1, ""}, {46, ""}};
    for (const auto& [q, name] : names)
        EXPECT_EQ(quantityName(q), name) << "q " << q;
    EXPECT_FALSE(unitClassOfQuantity(-1) || unitClassOfQuantity(46));
}

// Sizes bound the unit ids a meter may report; the last entry anchors each list's order.
TEST(UnitLists, SizesAndLastEntries)
{
    struct Row { UnitClass unitClass; std::size_t size; std::string last; };
    const Row rows[] = {
        {UnitClass::Temperature, 2, "\xB0" "F"}, {UnitClass::Pressure, 8, "psi(g)"},
        {UnitClass::NoUnit, 1, "n.u."}, {UnitClass::Decibel, 1, "dB"}, {UnitClass::Percent, 1, "%"},
        {UnitClass::Bit, 1, "Bit"},
        {UnitClass::Velocity, 4, "ft/s"}, {UnitClass::VolumeFlow, 31, "MCFH"}, {UnitClass::Volume, 13, "MCF"},
        {UnitClass::MassFlow, 13, "klb/m"}, {UnitClass::Mass, 6, "klb"}, {UnitClass::HeatFlow, 12, "BTU/m"},
        {UnitClass::Heat, 15, "BTU"}, {UnitClass::Density, 3, "lb/ft3"},
    };
    ASSERT_EQ(std::size(rows), static_cast<std::size_t>(UnitClass::Density) + 1);
    for (const Row& row : rows) {
        const UnitList list = unitListOfClass(row.unitClass);
        ASSERT_EQ(list.size(), row.size) << static_cast<int>(row.unitClass);
        EXPECT_EQ(list.back(), row.last) << static_cast<int>(row.unitClass);
    }
}

TEST(UnitBox, TextEnablingReadBackAndWrite)
{
    struct Text { int q, id; std::optional<std::string> text; };
    const Text texts[] = {
        {7, 0, "m3/h"}, {7, 2, "m3/h"}, {7, 3, "m3/min"}, {7, 30, "MCFH"}, {7, 31, {}}, {0, 1, "\xB0" "F"}, {0, 2, {}},
        {25, 1, "kg/m3"}, {35, 0, "Bit"}, {45, 0, "%"}, {7, -1, {}}, {7, 65535, {}}, {-1, 0, {}}, {46, 0, {}},
    };
    for (const Text& r : texts)
        EXPECT_EQ(unitText(r.q, r.id), r.text) << r.q << "/" << r.id;
    struct Enabled { int q; bool connected, enabled; };
    for (const Enabled& r : {Enabled{0, true, true}, {29, true, true}, {30, true, true}, {35, true, true},
                             {36, true, false}, {45, true, false}, {0, false, false}, {-1, true, false}})
        EXPECT_EQ(unitBoxEnabled(r.q, r.connected), r.enabled) << "q " << r.q;

    struct ReadBack { int q; std::uint16_t id; bool button; int position; bool mismatch; };
    for (const ReadBack& r : {ReadBack{7, 3, true, 3, false},
                              {7, 65535, true, -1, true},    // the button names the mismatch
                              {7, 65535, false, -1, false},  // the loop leaves the box without a selection
                              {0, 2, true, -1, false},       // beyond "°F"
                              {0, 1, false, 1, false}}) {
        const UnitReadBack rb = unitReadBack(r.q, r.id, r.button);
        EXPECT_EQ(rb.position, r.position) << "q " << r.q << " id " << r.id;
        EXPECT_EQ(rb.showMismatchText, r.mismatch) << "q " << r.q << " id " << r.id;
    }

    struct Reg { int channel, q; Opt reg; };
    for (const Reg& r : {Reg{4, 7, 9115}, {0, 0, 1003}, {5, 29, 10467}, {0, 30, 1703},  // SNR: its own block's unit id
                         {1, 35, 2783}, {0, 36, {}}, {-1, 7, {}}, {6, 7, {}}, {0, -1, {}}})  // path diffs: none
        EXPECT_EQ(unitIdRegister(r.channel, r.q), r.reg) << "channel " << r.channel << " q " << r.q;
    for (const auto& [position, value] : {std::pair{3, 3}, {0, 0}, {2, 2}, {-1, 65535}})
        EXPECT_EQ(unitIdWriteValue(position), value);
}

TEST(SubsetUnits, ListsCurrentLoopLabelsAndLatin1)
{
    struct Row { int position; std::size_t size; std::string last; };
    for (const Row& r : {Row{0, 4, "ft/s"}, {1, 30, "K m\xB3/h"}, {2, 30, "K m\xB3/h"}, {3, 12, "klb/min"},
                         {4, 12, "kTON (kTD)"}, {5, 2, "f/s"}, {6, 1, "None"}, {-1, 0, ""}, {7, 0, ""}}) {
        const UnitList list = subsetMeasUnitList(r.position);
        ASSERT_EQ(list.size(), r.size) << "position " << r.position;
        EXPECT_EQ(list.empty() ? "" : list.back(), r.last) << "position " << r.position;
    }

    EXPECT_EQ(outputQuantityCode("CFLU"), 0x43464C55u);
    const std::pair<std::uint32_t, std::string> labels[] = {
        {0x43464C55u, "m/s"}, {outputQuantityCode("FVOL"), "m\xB3/s"}, {outputQuantityCode("QHP_"), "Ws"},
        {outputQuantityCode("PROH"), "kg/m\xB3"}, {outputQuantityCode("PGCF"), "none"},
        {0, "m\xB3/s"},                                            // "Not found ..."
        {outputQuantityCode("cflu"), "m\xB3/s"},                    // codes are exact
        {0x554C4643u, "m\xB3/s"},                                   // CFLU with the bytes reversed
    };
    for (const auto& [code, label] : labels)
        EXPECT_EQ(currentLoopUnitLabel(code), label) << std::hex << code;

    for (const auto& [in, out] : {std::pair<std::string, std::string>{"\xB0" "C", "\xC2\xB0" "C"},
                                  {"m\xB3/s", "m\xC2\xB3/s"}, {"\xFF", "\xC3\xBF"}, {"kg/s", "kg/s"}, {"", ""}})
        EXPECT_EQ(latin1ToUtf8(in), out);
}
