#include "RegisterFormulas.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace units;

TEST(MeasuredValueAddress, ByChannelAndQuantity)
{
    struct Row { int channel; int q; std::optional<std::uint16_t> address; };
    const std::vector<Row> rows = {
        {4, 7, 9112},   // Z, "Volume Flow"
        {1, 31, 2716},  // B, "SCNR"
        {0, 40, 30064}, {5, 40, 30064}, {-1, 40, 30064},  // path differences ignore the channel
        {0, 0, 1000}, {3, 29, 4464}, {5, 29, 10464},
        {0, 30, 1700}, {3, 35, 4780},
        {2, 36, 30000}, {2, 45, 30144},
        {6, 0, std::nullopt}, {-1, 0, std::nullopt}, {0, -1, std::nullopt}, {0, 46, std::nullopt},
    };
    for (const Row& r : rows)
        EXPECT_EQ(measuredValueBlockAddress(r.channel, r.q), r.address)
            << "channel " << r.channel << " q " << r.q;
}

TEST(RegisterCalculator, AddressAndType)
{
    struct Row { int channel; int q; int offset; int address; std::string type; };
    const std::vector<Row> rows = {
        {5, 8, 4, 10132, "Float"},  // Y, "Total Flow Positive", scaled low word
        {2, 31, 0, 3716, "Int16"},  // C, "SCNR", status
        {0, 0, 0, 1000, "Int16"},   // start-up
        {4, 7, 3, 9115, "Int16"},
        {1, 0, 6, 2006, "Char"},
        {3, 29, 9, 4473, "Int16"},
        {4, 40, 1, 30065, "Float"},  // path differences: where the readout reads them
        {0, 36, 0, 30000, "Int16"},
        {5, 45, 9, 30153, "Int16"},
        {2, 35, 0, 3780, "Int16"},   // the last diagnostic quantity stays per channel
        {-1, 0, 0, 0, "Int16"},     // typed text: position -1
        {0, -1, 0, 984, "Int16"},
        {0, 0, -1, 999, ""},
        {-1, -1, -1, -17, ""},
        {0, 0, 10, 1010, ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(calculatorAddress(r.channel, r.q, r.offset), r.address)
            << r.channel << "/" << r.q << "/" << r.offset;
        EXPECT_EQ(calculatorDataType(r.offset), r.type) << "offset " << r.offset;
    }
    EXPECT_EQ(calculatorChannelSummand(-1), 0);
    EXPECT_EQ(calculatorQuantitySummand(-1), -16);
    EXPECT_EQ(calculatorOffsetSummand(-1), -1);
}

TEST(RegisterCalculator, OffsetItems)
{
    ASSERT_EQ(MeasDataItems.size(), 10u);
    EXPECT_EQ(MeasDataItems[0], "Status");
    EXPECT_EQ(MeasDataItems[4], "Meas. value scaled Lo Word");
    EXPECT_EQ(MeasDataItems[9], "Seconds since last update");
}
