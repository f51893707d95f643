// The register model on its own, with a clock the test turns.

#include "Meter.h"
#include "MeterTables.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>

namespace {

using namespace vsim;
using Clock = TMeter::Clock;

struct ManualClock {
    Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
    void Advance(double seconds)
    {
        now += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }
};

class MeterTest : public ::testing::Test {
protected:
    ManualClock clock;
    TMeter meter{TMeterIdentity{}, [this] { return clock.now; }};

    std::vector<uint16_t> Read(uint16_t start, uint16_t count)
    {
        std::vector<uint16_t> v;
        EXPECT_EQ(meter.Read(start, count, v), exNone) << "read " << start;
        return v;
    }
    uint16_t Read1(uint16_t a) { return Read(a, 1).at(0); }
    TException Write(uint16_t a, std::vector<uint16_t> v) { return meter.Write(a, v); }
    static float Float(const std::vector<uint16_t>& v, size_t i)
    {
        return std::bit_cast<float>(v[i] | (static_cast<uint32_t>(v[i + 1]) << 16));
    }
    static std::string Text(const std::vector<uint16_t>& block)
    {
        std::string s;
        for (int i = 6; i <= 8; ++i)
            for (int shift : {0, 8})
                if (const char c = static_cast<char>(block[static_cast<size_t>(i)] >> shift & 0xFF))
                    s += c;
        return s;
    }
};

TEST_F(MeterTest, BlocksSitWhereTheMainWindowReadsThem)
{
    struct Row { int channel; int q; uint16_t address; };
    const Row rows[] = {
        {0, 0, 1000}, {0, 7, 1112}, {4, 7, 9112}, {5, 29, 10464}, {1, 30, 2700},
        {5, 35, 10780}, {0, 36, 30000}, {3, 45, 30144},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(BlockAddress(r.channel, r.q), r.address);
        TBlockRef ref{};
        ASSERT_TRUE(FindBlock(r.address, ref));
        EXPECT_EQ(ref.q, r.q);
        EXPECT_EQ(ref.offset, 0);
        std::vector<uint16_t> v;
        EXPECT_EQ(meter.Read(r.address, 16, v), exNone) << r.address;
    }
    // Between the process and diagnostic blocks there is nothing, nor after the last.
    std::vector<uint16_t> v;
    EXPECT_EQ(meter.Read(1480, 1, v), exIllegalAddress);
    EXPECT_EQ(meter.Read(1796, 1, v), exIllegalAddress);
    EXPECT_EQ(meter.Read(30160, 1, v), exIllegalAddress);
    EXPECT_EQ(meter.Read(1470, 20, v), exIllegalAddress);
    EXPECT_TRUE(v.empty());
}

TEST_F(MeterTest, VolumeFlowBlockCarriesStatusValuesUnitAndAge)
{
    const auto b = Read(1112, 16);
    EXPECT_EQ(b[0], 1);
    const float unscaled = Float(b, 1);
    EXPECT_GT(unscaled, 0.010f);  // m3/s on a DN100 line at about 1.6 m/s
    EXPECT_LT(unscaled, 0.020f);
    EXPECT_EQ(b[3], 0);
    EXPECT_NEAR(Float(b, 4), unscaled * 3600.0f, 1e-3f);
    EXPECT_EQ(Text(b), "m3/h");
    EXPECT_EQ(b[6], 0x336D);  // first character in the low byte
    EXPECT_EQ(b[9], 0);
}

TEST_F(MeterTest, UnitIdScalesTheValue)
{
    struct Row { int q; uint16_t unit; double factor; double offset; std::string text; };
    const Row rows[] = {
        {0, 1, 1.8, 32.0, "\xB0" "F"},
        {2, 3, 14.5037738, 0.0, "psi"},
        {2, 6, 1.0, -1.01325, "bar(g)"},
        {6, 3, 3.2808399, 0.0, "ft/s"},
        {7, 9, 1000.0, 0.0, "l/s"},
        {7, 3, 60.0, 0.0, "m3/min"},
        {8, 5, 264.172052, 0.0, "USgal"},
        {13, 4, 3600.0, 0.0, "kg/h"},
    };
    for (const Row& r : rows) {
        const uint16_t a = BlockAddress(0, r.q);
        ASSERT_EQ(Write(a + 3, {r.unit}), exNone);
        const auto b = Read(a, 16);
        EXPECT_EQ(b[3], r.unit) << r.q;
        const double expected = Float(b, 1) * r.factor + r.offset;
        EXPECT_NEAR(Float(b, 4), expected, std::abs(expected) * 1e-5 + 1e-6) << r.q;
        EXPECT_EQ(Text(b), r.text) << r.q;
    }
}

TEST_F(MeterTest, UnitIdOutsideTheListReadsAsMismatch)
{
    ASSERT_EQ(Write(1003, {2}), exNone);  // temperature has two units
    const auto b = Read(1000, 16);
    EXPECT_EQ(b[3], 65535);
    EXPECT_EQ(Float(b, 4), Float(b, 1));
    EXPECT_EQ(Text(b), "");
    ASSERT_EQ(Write(1003, {1}), exNone);
    EXPECT_EQ(Read1(1003), 1);
}

TEST_F(MeterTest, StatusFollowsChannelAndConfiguration)
{
    struct Row { uint16_t address; uint16_t status; };
    const Row rows[] = {
        {1112, 1}, {2112, 1}, {10112, 1},
        {3112, 0},   // channel C: nothing connected
        {4112, 2},   // channel D: signal lost
        {9112, 0},   // calculation channel Z switched off
        {1000 + 16 * 19, 0},  // no concentration model
        {1000 + 16 * 24, 0},  // liquid: no compression factor
        {30000, 1},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Read1(r.address), r.status) << r.address;
    ASSERT_EQ(Write(28500, {1}), exNone);
    EXPECT_EQ(Read1(9112), 1);
    ASSERT_EQ(Write(24375, {0}), exNone);
    EXPECT_EQ(Read1(1112), 0);
}

TEST_F(MeterTest, HeartbeatCountsSecondsAndWraps)
{
    EXPECT_EQ(Read1(reg::Heartbeat), 0);
    clock.Advance(2.5);
    EXPECT_EQ(Read1(reg::Heartbeat), 2);
    clock.Advance(65536.0);
    EXPECT_EQ(Read1(reg::Heartbeat), 2);
}

TEST_F(MeterTest, TotalsCountUpAndFreezeWhileNotMeasuring)
{
    const float t0 = Float(Read(1128, 3), 1);
    clock.Advance(10.0);
    const float t1 = Float(Read(1128, 3), 1);
    EXPECT_GT(t1, t0);
    EXPECT_NEAR(t1 - t0, 10.0 * 0.0147, 0.02);  // about ten seconds of flow

    ASSERT_EQ(Write(reg::MeasuringState, {0}), exNone);
    clock.Advance(5.0);
    const auto frozen = Read(1128, 16);
    EXPECT_EQ(Float(frozen, 1), t1);
    EXPECT_EQ(frozen[9], 5);  // seconds since the last update
    ASSERT_EQ(Write(reg::MeasuringState, {1}), exNone);
    clock.Advance(1.0);
    const auto resumed = Read(1128, 16);
    EXPECT_GT(Float(resumed, 1), t1);
    EXPECT_LT(Float(resumed, 1) - t1, 0.05f);  // no jump over the stopped time
    EXPECT_EQ(resumed[9], 0);
}

TEST_F(MeterTest, IdentificationFieldsSitAtTheirPositions)
{
    TMeter custom(TMeterIdentity{7, "SN-42", "XYZ"});
    for (TMeter* m : {&meter, &custom}) {
        const auto data = m->Identification();
        const auto run = std::find_if(data.begin(), data.end(), [](uint8_t b) { return b == 0 || b == 0xFF; });
        ASSERT_NE(run, data.end());
        EXPECT_EQ(*run, 0xFF);
        const std::string id(data.begin(), run);
        EXPECT_NE(id.find("VORTAN"), std::string::npos);
        const std::string fields(run + 1, data.end());
        ASSERT_EQ(fields.size(), 69u);
        EXPECT_EQ(data.size() % 2, 0u);  // whole over TCP, two bytes a register
        EXPECT_EQ(fields.substr(17, 17), "3.12.0 2024-05-17");
    }
    const auto f = [](TMeter& m) {
        const auto d = m.Identification();
        return std::string(std::find(d.begin(), d.end(), 0xFF) + 1, d.end());
    };
    EXPECT_EQ(f(meter).substr(0, 16), "VT23000004711001");
    EXPECT_EQ(f(meter).substr(66, 3), "ARM");
    EXPECT_EQ(f(custom).substr(0, 16), "SN-42           ");
    EXPECT_EQ(f(custom).substr(66, 3), "XYZ");
}

TEST_F(MeterTest, SubsetDefaultsAndRoundTrips)
{
    EXPECT_EQ(Float(Read(24000, 2), 0), 114.3f);
    EXPECT_EQ(Read(29127, 2), (std::vector<uint16_t>{0x4F4C, 0x4656}));  // FVOL
    EXPECT_EQ(Read(24251, 4), (std::vector<uint16_t>{0x5456, 0x2D4D, 0x4131, 0x0032}));
    EXPECT_EQ(Read1(25001), 0x42E4);  // channel B's pipe: same factory settings
    EXPECT_EQ(Read1(reg::CustomRegisterTable), 0);

    struct Row { uint16_t address; std::vector<uint16_t> words; };
    const Row rows[] = {
        {25000, {0x0000, 0x4348}}, {24265, {0xFFFF, 0xFFFF}}, {28501, {89, 65}},
        {29144, {0x4153, 0x464D}}, {29003, {1}}, {29250, {0x0033, 0x0000, 0x4120, 0x00FC}},
        {reg::ByteOrder, {0x0D0D}}, {reg::CustomRegisterTable, {1}}, {153, {0x0000, 0x41CC}},
    };
    for (const Row& r : rows) {
        ASSERT_EQ(Write(r.address, r.words), exNone) << r.address;
        EXPECT_EQ(Read(r.address, static_cast<uint16_t>(r.words.size())), r.words) << r.address;
    }
}

TEST_F(MeterTest, RefusedWritesChangeNothing)
{
    struct Row { uint16_t address; std::vector<uint16_t> words; TException expected; };
    const Row rows[] = {
        {reg::Heartbeat, {5}, exIllegalAddress},
        {1112, {1}, exIllegalAddress},          // status of a block
        {1113, {0, 0}, exIllegalAddress},       // measured value
        {145, {0}, exIllegalAddress},           // process input status
        {24029, {1}, exIllegalAddress},         // beyond the pipe page
        {24027, {1, 2, 3}, exIllegalAddress},   // runs off the page: nothing written
        {reg::MeasuringState, {2}, exIllegalValue},
        {reg::CustomRegisterTable, {2}, exIllegalValue},
        {reg::CalibrationChannel, {'I'}, exIllegalValue},
        {reg::ProtectionEnable, {7}, exIllegalValue},
    };
    const auto pipe = Read(24027, 2);
    for (const Row& r : rows)
        EXPECT_EQ(Write(r.address, r.words), r.expected) << r.address;
    EXPECT_EQ(Read(24027, 2), pipe);
    EXPECT_EQ(Read1(reg::MeasuringState), 1);
    EXPECT_TRUE(meter.Changes().empty());
}

TEST_F(MeterTest, WriteProtectionLocksTheSubsetUntilTheRightCode)
{
    // 123456 = 0x0001E240, low word first
    ASSERT_EQ(Write(reg::ProtectionEnable, {1, 0xE240, 0x0001}), exNone);
    EXPECT_EQ(Read(reg::ProtectionEnable, 3), (std::vector<uint16_t>{1, 0, 0}));  // code hidden

    for (uint16_t a : {24000, 25390, 28000, 29125, 29000, 29250, 29257, 140, 173})
        EXPECT_EQ(Write(a, {0}), exIllegalAddress) << a;
    // Outside the subset the meter stays writable.
    EXPECT_EQ(Write(1003, {1}), exNone);
    EXPECT_EQ(Write(reg::CustomRegisterTable, {1}), exNone);

    EXPECT_EQ(Write(reg::ProtectionEnable, {0, 0xE241, 0x0001}), exIllegalAddress);
    EXPECT_EQ(Read1(reg::ProtectionEnable), 1);
    EXPECT_EQ(Write(reg::ProtectionEnable, {0}), exIllegalAddress);  // no code at all
    EXPECT_EQ(Write(reg::ProtectionEnable, {0, 0xE240, 0x0001}), exNone);
    EXPECT_EQ(Read(reg::ProtectionEnable, 3), (std::vector<uint16_t>{0, 0xE240, 0x0001}));
    EXPECT_EQ(Write(24000, {0, 0x42E4}), exNone);
}

TEST_F(MeterTest, ProcessInputStatusWordFromItsSettings)
{
    const float nan = std::nanf("");
    struct Row { uint16_t channel; uint16_t quantity; uint16_t unit; float value; uint16_t status; };
    const Row rows[] = {
        {'A', 1, 0, 25.0f, 0},
        {'*', 3, 9, 2.0f, 0},
        {'A', 0, 7, nan, 0},      // unused: only the channel counts
        {'X', 1, 0, 25.0f, 1},
        {'B', 9, 0, 25.0f, 2},
        {'X', 9, 0, 25.0f, 3},
        {'A', 1, 2, 25.0f, 4},
        {'A', 5, 1, nan, 8},
        {'A', 8, 0, 1.0f, 16},    // compression factor on a liquid channel
        {'A', 1, 0, 700.0f, 32},
        {'A', 1, 1, 1000.0f, 0},  // 1000 °F is within range, 700 °C is not
        {'C', 3, 6, -2.0f, 32},   // below vacuum
    };
    for (const Row& r : rows) {
        const uint32_t bits = std::bit_cast<uint32_t>(r.value);
        ASSERT_EQ(Write(150, {r.channel, r.quantity, r.unit, static_cast<uint16_t>(bits & 0xFFFF),
                              static_cast<uint16_t>(bits >> 16)}), exNone);
        EXPECT_EQ(Read1(155), r.status) << r.channel << " " << r.quantity << " " << r.unit;
    }
    ASSERT_EQ(Write(24390, {1}), exNone);  // channel A measures gas
    ASSERT_EQ(Write(150, {'A', 8, 0, 0x0000, 0x3F80}), exNone);
    EXPECT_EQ(Read1(155), 0);
}

TEST_F(MeterTest, FedTemperatureReplacesTheMeasuredOne)
{
    ASSERT_EQ(Write(140, {'A', 1, 1, 0x0000, 0x42C8}), exNone);  // 100 °F
    EXPECT_NEAR(Float(Read(1000, 3), 1), 37.777f, 1e-3f);
    EXPECT_NE(Float(Read(2000, 3), 1), 37.777f);  // channel B keeps its own
}

TEST_F(MeterTest, CalibrationSlopeAppliesOnCommand)
{
    const double before = meter.InternalValue(0, 6);
    ASSERT_EQ(Write(reg::CalibrationChannel, {'A'}), exNone);
    ASSERT_EQ(Write(reg::CalibrationSlope, {0x0000, 0x4000}), exNone);  // 2.0
    EXPECT_NEAR(meter.InternalValue(0, 6), before, 0.02);
    ASSERT_EQ(Write(reg::CalibrationApply, {1}), exNone);
    EXPECT_NEAR(meter.InternalValue(0, 6), 2 * before, 0.04);
    EXPECT_EQ(Read1(reg::CalibrationApply), 0);
}

TEST_F(MeterTest, ChangesRecordOldAndNewPerRegister)
{
    clock.Advance(3.0);
    ASSERT_EQ(Write(reg::ProcessInputBase, {'B', 1}), exNone);
    ASSERT_EQ(Write(1115, {7}), exNone);
    const auto c = meter.Changes();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].address, 140);
    EXPECT_EQ(c[0].oldValue, 'A');
    EXPECT_EQ(c[0].newValue, 'B');
    EXPECT_EQ(c[1].address, 141);
    EXPECT_EQ(c[2].address, 1115);
    EXPECT_EQ(c[2].oldValue, 0);
    EXPECT_EQ(c[2].newValue, 7);
    EXPECT_NEAR(c[2].elapsedSeconds, 3.0, 1e-6);
}

}  // namespace
