// Expected values are counted by hand from the documented quantity and unit tables, not
// taken from the code.

#include "Latin1.h"
#include "MBMasterUnitIDs.h"
#include "UnitTables.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace units;

TEST(QuantityTable, ListSizesAndBoundaries)
{
    EXPECT_EQ(QuantityNames.size(), 30u);
    EXPECT_EQ(DiagnosticNames.size(), 6u);
    EXPECT_EQ(PathDiffNames.size(), 10u);

    const std::vector<std::pair<int, std::string>> rows = {
        {0, "Temperature Fluid"},      {7, "Volume Flow"},
        {11, "Standardized Total Volume Positive"}, {24, "Gas Compress Factor"},
        {29, "Netto Total Heat Flow"}, {30, "SNR"},
        {35, "Error Bits"},            {36, "Abs. Flow Velocity Path Diff"},
        {40, "Abs. Signal Amplitude Path Diff"}, {45, "Rel. SCNR Path Diff"},
        {-1, ""},                      {46, ""},
    };
    for (const auto& [q, name] : rows)
        EXPECT_EQ(quantityName(q), name) << "q " << q;

    std::set<std::string_view> distinct;
    for (int q = 0; q < QuantityCount; ++q)
        distinct.insert(quantityName(q));
    EXPECT_EQ(distinct.size(), 46u);
}

TEST(QuantityTable, QuantitiesPerUnitClass)
{
    // Tallied from the quantity table: which positions carry which class.
    const std::map<UnitClass, std::vector<int>> expected = {
        {UnitClass::Temperature, {0, 1, 20, 21}},
        {UnitClass::Pressure, {2, 3, 22, 23}},
        {UnitClass::NoUnit, {4, 19, 24, 40}},
        {UnitClass::Velocity, {5, 6, 36, 38}},
        {UnitClass::VolumeFlow, {7, 10}},
        {UnitClass::Volume, {8, 9, 11, 12, 26, 27}},
        {UnitClass::MassFlow, {13}},
        {UnitClass::Mass, {14, 15, 28}},
        {UnitClass::HeatFlow, {16}},
        {UnitClass::Heat, {17, 18, 29}},
        {UnitClass::Decibel, {30, 31, 42, 44}},
        {UnitClass::Percent, {32, 33, 34, 37, 39, 41, 43, 45}},
        {UnitClass::Bit, {35}},
        {UnitClass::Density, {25}},
    };
    std::map<UnitClass, std::vector<int>> actual;
    for (int q = 0; q < QuantityCount; ++q)
        actual[unitClassOfQuantity(q).value()].push_back(q);
    EXPECT_EQ(actual, expected);
    EXPECT_FALSE(unitClassOfQuantity(-1));
    EXPECT_FALSE(unitClassOfQuantity(46));
}

TEST(UnitLists, SizesAndSpotChecks)
{
    struct Row {
        UnitClass unitClass;
        std::size_t size;
        std::vector<std::pair<int, std::string>> entries;
    };
    const std::vector<Row> rows = {
        {UnitClass::Temperature, 2, {{0, "\xB0" "C"}, {1, "\xB0" "F"}}},
        {UnitClass::Pressure, 8, {{0, "bar"}, {4, "mWS"}, {7, "psi(g)"}}},
        {UnitClass::NoUnit, 1, {{0, "n.u."}}},
        {UnitClass::Decibel, 1, {{0, "dB"}}},
        {UnitClass::Percent, 1, {{0, "%"}}},
        {UnitClass::Bit, 1, {{0, "Bit"}}},
        {UnitClass::Velocity, 4, {{1, "cm/s"}, {3, "ft/s"}}},
        {UnitClass::VolumeFlow, 31, {{3, "m3/min"}, {10, "MUSg/d"}, {20, "ml/min"}, {27, "USkgpm"}, {30, "MCFH"}}},
        {UnitClass::Volume, 13, {{1, "Ml"}, {7, "USMgal"}, {12, "MCF"}}},
        {UnitClass::MassFlow, 13, {{2, "t/d"}, {9, "lb/m"}, {12, "klb/m"}}},
        {UnitClass::Mass, 6, {{3, "t"}, {5, "klb"}}},
        {UnitClass::HeatFlow, 12, {{3, "kBTU/m"}, {7, "TON"}, {11, "BTU/m"}}},
        {UnitClass::Heat, 15, {{1, "Wh"}, {9, "TONhrs"}, {14, "BTU"}}},
        {UnitClass::Density, 3, {{0, "g/cm3"}, {2, "lb/ft3"}}},
    };
    for (const Row& row : rows) {
        const UnitList list = unitListOfClass(row.unitClass);
        ASSERT_EQ(list.size(), row.size) << static_cast<int>(row.unitClass);
        for (const auto& [pos, text] : row.entries)
            EXPECT_EQ(list[pos], text) << static_cast<int>(row.unitClass) << " position " << pos;
    }
}

TEST(UnitLists, RepeatedTextsAreExactlyTheKnownOnes)
{
    // Five lists repeat position 0 further down; the ids stay distinct. No other repeats.
    const std::map<UnitClass, std::pair<int, int>> known = {
        {UnitClass::VolumeFlow, {0, 2}}, {UnitClass::Volume, {0, 2}}, {UnitClass::MassFlow, {0, 6}},
        {UnitClass::Mass, {0, 2}},       {UnitClass::Heat, {0, 3}},
    };
    for (int c = 0; c <= static_cast<int>(UnitClass::Density); ++c) {
        const auto unitClass = static_cast<UnitClass>(c);
        const UnitList list = unitListOfClass(unitClass);
        std::vector<std::pair<int, int>> repeats;
        for (std::size_t i = 0; i < list.size(); ++i)
            for (std::size_t j = i + 1; j < list.size(); ++j)
                if (list[i] == list[j])
                    repeats.emplace_back(static_cast<int>(i), static_cast<int>(j));
        const auto it = known.find(unitClass);
        if (it == known.end())
            EXPECT_TRUE(repeats.empty()) << "class " << c;
        else
            EXPECT_EQ(repeats, (std::vector<std::pair<int, int>>{it->second})) << "class " << c;
    }
}

TEST(UnitText, LookupAndOutOfRange)
{
    struct Row { int q; int id; std::optional<std::string> text; };
    const std::vector<Row> rows = {
        {7, 0, "m3/h"}, {7, 2, "m3/h"}, {7, 3, "m3/min"}, {7, 30, "MCFH"}, {7, 31, std::nullopt},
        {0, 1, "\xB0" "F"}, {0, 2, std::nullopt}, {25, 1, "kg/m3"}, {35, 0, "Bit"},
        {45, 0, "%"}, {7, -1, std::nullopt}, {7, 65535, std::nullopt},
        {-1, 0, std::nullopt}, {46, 0, std::nullopt},
    };
    for (const Row& r : rows) {
        const auto text = unitText(r.q, r.id);
        EXPECT_EQ(text ? std::optional<std::string>(std::string(*text)) : std::nullopt, r.text)
            << "q " << r.q << " id " << r.id;
    }
}

TEST(UnitBox, EnabledOnlyWhileConnectedBelowPathDifferences)
{
    struct Row { int q; bool connected; bool enabled; };
    const std::vector<Row> rows = {
        {0, true, true}, {29, true, true}, {30, true, true}, {35, true, true},
        {36, true, false}, {45, true, false}, {0, false, false}, {-1, true, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(unitBoxEnabled(r.q, r.connected), r.enabled) << "q " << r.q;
    EXPECT_EQ(unitListOfQuantity(45).size(), 1u);
    EXPECT_EQ(unitListOfQuantity(45)[0], "%");
    EXPECT_TRUE(unitListOfQuantity(-1).empty());
}

TEST(UnitBox, ReadBackOfUnitId)
{
    struct Row { int q; std::uint16_t id; bool button; int position; bool mismatch; };
    const std::vector<Row> rows = {
        {7, 3, true, 3, false},
        {7, 65535, true, -1, true},   // the button names the mismatch
        {7, 65535, false, -1, false}, // the loop leaves the box without a selection
        {0, 2, true, -1, false},      // beyond "°F"
        {0, 1, false, 1, false},
    };
    for (const Row& r : rows) {
        const UnitReadBack rb = unitReadBack(r.q, r.id, r.button);
        EXPECT_EQ(rb.position, r.position) << "q " << r.q << " id " << r.id;
        EXPECT_EQ(rb.showMismatchText, r.mismatch) << "q " << r.q << " id " << r.id;
    }
    EXPECT_EQ(UnitMismatchText, "Unit Missmatch");
}

TEST(UnitBox, UnitChangeRegisterAndValue)
{
    struct Row { int channel; int q; std::optional<std::uint16_t> reg; };
    const std::vector<Row> rows = {
        {4, 7, 9115},               // Z, "Volume Flow": 9000 + 112 + 3
        {0, 0, 1003}, {5, 29, 10467},
        {0, 30, 1703},              // "SNR": the unit id of its own block
        {1, 35, 2783},
        {0, 36, std::nullopt},      // path differences have no unit change
        {-1, 7, std::nullopt}, {6, 7, std::nullopt}, {0, -1, std::nullopt},
    };
    for (const Row& r : rows)
        EXPECT_EQ(unitIdRegister(r.channel, r.q), r.reg) << "channel " << r.channel << " q " << r.q;

    EXPECT_EQ(unitIdWriteValue(3), 3);
    EXPECT_EQ(unitIdWriteValue(0), 0);
    EXPECT_EQ(unitIdWriteValue(2), 2);
    EXPECT_EQ(unitIdWriteValue(-1), 65535);
}

TEST(SubsetUnits, ListsByValuePosition)
{
    struct Row { int position; std::size_t size; std::vector<std::pair<int, std::string>> entries; };
    const std::vector<Row> rows = {
        {0, 4, {{0, "m/s"}, {3, "ft/s"}}},
        {1, 30, {{0, "m\xB3/h"}, {11, "USKgal/min"}, {18, "hl/min"}, {19, "hl/s"}, {20, "hl/min"}, {29, "K m\xB3/h"}}},
        {2, 30, {{16, "m\xB3/d"}, {27, "KCFD"}}},
        {3, 12, {{0, "t/h"}, {11, "klb/min"}}},
        {4, 12, {{1, "KW"}, {8, "TON (TH)"}, {11, "kTON (kTD)"}}},
        {5, 2, {{1, "f/s"}}},
        {6, 1, {{0, "None"}}},
        {-1, 0, {}},
        {7, 0, {}},
    };
    for (const Row& r : rows) {
        const UnitList list = subsetMeasUnitList(r.position);
        ASSERT_EQ(list.size(), r.size) << "position " << r.position;
        for (const auto& [pos, text] : r.entries)
            EXPECT_EQ(list[pos], text) << "position " << r.position << " entry " << pos;
    }
    EXPECT_EQ(SubsetMeasValueNames[1], "Volumemetric Flow");
}

TEST(CurrentLoop, CodesAndLabels)
{
    EXPECT_EQ(outputQuantityCode("CFLU"), 0x43464C55u);

    const std::vector<std::pair<std::uint32_t, std::string>> rows = {
        {0x43464C55u, "m/s"},                        // CFLU
        {outputQuantityCode("FVOL"), "m\xB3/s"},
        {outputQuantityCode("FKNZ"), "none"},
        {outputQuantityCode("QNN_"), "m\xB3"},
        {outputQuantityCode("QHP_"), "Ws"},
        {outputQuantityCode("PTX_"), "\xB0" "C"},
        {outputQuantityCode("PROH"), "kg/m\xB3"},
        {outputQuantityCode("PVK_"), "mm\xB2/s"},
        {outputQuantityCode("PVD_"), "mPa*s"},
        {outputQuantityCode("PGCF"), "none"},
        {0, "m\xB3/s"},                              // "Not found ..."
        {outputQuantityCode("cflu"), "m\xB3/s"},     // codes are exact
        {0x554C4643u, "m\xB3/s"},                    // CFLU with the bytes reversed
    };
    for (const auto& [code, label] : rows)
        EXPECT_EQ(currentLoopUnitLabel(code), label) << std::hex << code;
}

TEST(Latin1, ToUtf8)
{
    EXPECT_EQ(latin1ToUtf8("\xB0" "C"), "\xC2\xB0" "C");
    EXPECT_EQ(latin1ToUtf8("m\xB3/s"), "m\xC2\xB3/s");
    EXPECT_EQ(latin1ToUtf8("\xFF"), "\xC3\xBF");
    EXPECT_EQ(latin1ToUtf8("kg/s"), "kg/s");
    EXPECT_EQ(latin1ToUtf8(""), "");
}
