#include "MeasuredValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace app;

TEST(MeasuredValueFormat, RoundsToFourSignificantDigitsThenShowsTwoDecimals)
{
    struct Row { double value; std::string text; };
    const std::vector<Row> rows = {
        {1.0, "1.00"},
        {12.3456, "12.35"},
        {123.456, "123.50"},
        {1234.56, "1235.00"},
        {1234.5, "1235.00"},     // tie: away from zero
        {-1234.5, "-1235.00"},
        {12.125, "12.13"},
        {0.125, "0.13"},
        {0.995, "1.00"},         // 0.9950 first, then two decimals; %.2f alone gives 0.99
        {0.0049996, "0.01"},     // 0.005000 first
        {0.004, "0.00"},
        {0.012345, "0.01"},
        {-12.3456, "-12.35"},
        {-0.001, "0.00"},        // no "-0.00"
        {-0.0, "0.00"},
        {0.0, "0.00"},
        {9999.4, "9999.00"},
        {9999.6, "1E4"},         // rounds to five digits before the point
        {12345.6, "1.235E4"},
        {-12345.6, "-1.235E4"},
        {100000.0, "1E5"},
        {1.5e20, "1.5E20"},
        {std::numeric_limits<double>::quiet_NaN(), "NAN"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(formatMeasuredValue(r.value), r.text) << r.value;
}

TEST(MeasuredValueFormat, UsesTheGivenDecimalSeparator)
{
    EXPECT_EQ(formatMeasuredValue(1234.56, ","), "1235,00");
    EXPECT_EQ(formatMeasuredValue(12345.6, ","), "1,235E4");
    EXPECT_EQ(formatMeasuredValue(0.0, ","), "0,00");
}

TEST(MeasuredValueBlock, FloatIsLowWordFirst)
{
    EXPECT_EQ(floatFromRegisters(0x0000, 0x3F80), 1.0f);
    EXPECT_EQ(floatFromRegisters(0x0000, 0xC120), -10.0f);
    EXPECT_EQ(floatFromRegisters(0x0001, 0x3F80), std::nextafter(1.0f, 2.0f));
    EXPECT_NE(floatFromRegisters(0x3F80, 0x0000), 1.0f);
}

TEST(MeasuredValueBlock, StatusDecidesWhatTheGridShows)
{
    struct Row { std::uint16_t status; std::string statusText; std::string value; bool clear; };
    const std::vector<Row> rows = {
        {1, "OK", "1.00", false},
        {0, "Never set", "", true},
        {2, "Failed", "", true},
        {0xFFFF, "Failed", "", true},
    };
    for (const Row& r : rows) {
        const std::vector<std::uint16_t> regs = {r.status, 0, 0, 7, 0x0000, 0x3F80, 0, 0, 0, 12,
                                                 0xAAAA, 0xBBBB, 0, 0, 0, 0};
        const auto block = decodeMeasuredValueBlock(regs);
        ASSERT_TRUE(block);
        const MeasuredValueCells cells = measuredValueCells(*block);
        EXPECT_EQ(cells.status, r.statusText);
        EXPECT_EQ(cells.value, r.value);
        EXPECT_EQ(cells.clearValueAndHeartbeat, r.clear);
    }
}

TEST(MeasuredValueBlock, FieldsAndRecord)
{
    // unscaled 2.5 (0x40200000), unit id 3, scaled -10 (0xC1200000), unit "m3/min", 42 s.
    const std::vector<std::uint16_t> regs = {1, 0x0000, 0x4020, 3, 0x0000, 0xC120,
                                             0x336D, 0x6D2F, 0x6E69, 42, 0xAAAA, 0xBBBB};
    const auto block = decodeMeasuredValueBlock(regs);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->status, MeasStatus::Ok);
    EXPECT_EQ(block->unscaled, 2.5f);
    EXPECT_EQ(block->unitId, 3);
    EXPECT_EQ(block->scaled, -10.0f);
    EXPECT_EQ(block->unitText, "m3/min");
    EXPECT_EQ(block->secondsSinceUpdate, 42);
    EXPECT_EQ(block->registers[9], 42);  // only the first ten are kept
    EXPECT_EQ(measuredValueCells(*block, ",").value, "-10,00");

    EXPECT_EQ(decodeMeasuredValueBlock(regs, TextByteOrder::HighByteFirst)->unitText, "3mm/ni");
}

TEST(MeasuredValueBlock, UnitTextEndsAtNulAndKeepsLatin1)
{
    std::vector<std::uint16_t> regs(10, 0);
    regs[6] = 0x43B0;  // "\xB0" "C"
    EXPECT_EQ(decodeMeasuredValueBlock(regs)->unitText, "\xB0" "C");
    regs[6] = 0x0000;
    regs[7] = 0x4141;  // hidden behind the NUL
    EXPECT_EQ(decodeMeasuredValueBlock(regs)->unitText, "");
}

TEST(MeasuredValueBlock, ShortReplyIsNotABlock)
{
    const std::vector<std::uint16_t> nine(9, 1);
    EXPECT_FALSE(decodeMeasuredValueBlock(nine));
    EXPECT_FALSE(decodeMeasuredValueBlock({}));
    const std::vector<std::uint16_t> ten(10, 1);
    EXPECT_TRUE(decodeMeasuredValueBlock(ten));
}

TEST(Heartbeat, UnsignedDecimal)
{
    EXPECT_EQ(heartbeatText(0), "0");
    EXPECT_EQ(heartbeatText(65535), "65535");
    EXPECT_EQ(heartbeatText(0x8000), "32768");
}
