// The simulated meter without a link, on a clock the test turns: registers, PDUs, --device settings.

#include "DeviceSettings.h"
#include "Meter.h"
#include "MeterPdu.h"
#include "MeterTables.h"

#include "Expect.h"
#include "Frames.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <stdexcept>
#include <string>
#include <tuple>

namespace {

using namespace vsim;
using testing_support::ErrorOf;
using testing_support::Pdu;
using Invalid = std::invalid_argument;
using Clock = TMeter::Clock;
using Bytes = std::vector<uint8_t>;
using Words = std::vector<uint16_t>;

class MeterTest : public ::testing::Test {
protected:
    Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
    TMeter meter{TMeterIdentity{}, [this] { return now; }};

    void Advance(double s) { now += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s)); }
    Words Read(uint16_t start, uint16_t count)
    {
        Words v;
        EXPECT_EQ(meter.Read(start, count, v), exNone) << "read " << start;
        return v;
    }
    uint16_t Read1(uint16_t a) { return Read(a, 1).at(0); }
    TException Write(uint16_t a, Words v) { return meter.Write(a, v); }
    static float Float(const Words& v, size_t i) { return std::bit_cast<float>(v[i] | (uint32_t{v[i + 1]} << 16)); }
    static std::string Text(const Words& block)
    {
        std::string s;
        for (int i = 6; i <= 8; ++i)
            for (int shift : {0, 8})
                if (const char c = static_cast<char>(block[static_cast<size_t>(i)] >> shift & 0xFF))
                    s += c;
        return s;
    }
};

TEST_F(MeterTest, BlocksSitWhereTheMainWindowReadsThemWithStatusValuesUnitAndAge)
{
    struct Row { int channel, q; uint16_t address; };
    for (const Row& r : {Row{0, 0, 1000}, {0, 7, 1112}, {4, 7, 9112}, {5, 29, 10464}, {1, 30, 2700}, {5, 35, 10780},
                         {0, 36, 30000}, {3, 45, 30144}}) {
        EXPECT_EQ(BlockAddress(r.channel, r.q), r.address);
        TBlockRef ref{};
        ASSERT_TRUE(FindBlock(r.address, ref));
        EXPECT_EQ(std::tuple(ref.q, ref.offset), std::tuple(r.q, 0));
        Words v;
        EXPECT_EQ(meter.Read(r.address, 16, v), exNone) << r.address;
    }
    Words v;  // between the process and diagnostic blocks there is nothing, nor after the last
    for (const auto& [start, count] : {std::pair{1480, 1}, {1796, 1}, {30160, 1}, {1470, 20}})
        EXPECT_EQ(meter.Read(static_cast<uint16_t>(start), static_cast<uint16_t>(count), v), exIllegalAddress);
    EXPECT_TRUE(v.empty());

    const auto b = Read(1112, 16);
    // Status, unit id, unit text's first word (first character in the low byte), age, the text.
    EXPECT_EQ(std::tuple(b[0], b[3], b[6], b[9], Text(b)), std::tuple(1, 0, 0x336D, 0, "m3/h"));
    const float unscaled = Float(b, 1);
    EXPECT_GT(unscaled, 0.010f);  // m3/s on a DN100 line at about 1.6 m/s
    EXPECT_LT(unscaled, 0.020f);
    EXPECT_NEAR(Float(b, 4), unscaled * 3600.0f, 1e-3f);

    // C: nothing connected, D: signal lost, Z: off; A has no concentration model nor, liquid, compression.
    struct Status { uint16_t address, status; };
    for (const Status& r : {Status{1112, 1}, {2112, 1}, {10112, 1}, {3112, 0}, {4112, 2}, {9112, 0},
                            {1000 + 16 * 19, 0}, {1000 + 16 * 24, 0}, {30000, 1}})
        EXPECT_EQ(Read1(r.address), r.status) << r.address;
    ASSERT_EQ(Write(28500, {1}), exNone);
    EXPECT_EQ(Read1(9112), 1);
    ASSERT_EQ(Write(24375, {0}), exNone);
    EXPECT_EQ(Read1(1112), 0);
}

TEST_F(MeterTest, UnitIdScalesTheValueAndOneOutsideTheListReadsAsMismatch)
{
    struct Row { int q; uint16_t unit; double factor, offset; std::string text; };
    const Row rows[] = {
        {0, 1, 1.8, 32.0, "\xB0" "F"}, {2, 3, 14.5037738, 0.0, "psi"}, {2, 6, 1.0, -1.01325, "bar(g)"},
        {6, 3, 3.2808399, 0.0, "ft/s"}, {7, 9, 1000.0, 0.0, "l/s"}, {7, 3, 60.0, 0.0, "m3/min"},
        {8, 5, 264.172052, 0.0, "USgal"}, {13, 4, 3600.0, 0.0, "kg/h"},
    };
    for (const Row& r : rows) {
        const uint16_t a = BlockAddress(0, r.q);
        ASSERT_EQ(Write(a + 3, {r.unit}), exNone);
        const auto b = Read(a, 16);
        EXPECT_EQ(std::tuple(b[3], Text(b)), std::tuple(r.unit, r.text)) << r.q;
        const double expected = Float(b, 1) * r.factor + r.offset;
        EXPECT_NEAR(Float(b, 4), expected, std::abs(expected) * 1e-5 + 1e-6) << r.q;
    }
    ASSERT_EQ(Write(1003, {2}), exNone);  // temperature has two units
    const auto b = Read(1000, 16);
    EXPECT_EQ(std::tuple(b[3], Float(b, 4), Text(b)), std::tuple(65535, Float(b, 1), ""));
    ASSERT_EQ(Write(1003, {1}), exNone);
    EXPECT_EQ(Read1(1003), 1);
}

TEST_F(MeterTest, HeartbeatWrapsTotalsFreezeWhileNotMeasuringAndChangesAreRecorded)
{
    EXPECT_EQ(Read1(reg::Heartbeat), 0);
    const float t0 = Float(Read(1128, 3), 1);
    Advance(2.5);
    EXPECT_EQ(Read1(reg::Heartbeat), 2);
    Advance(7.5);
    const float t1 = Float(Read(1128, 3), 1);
    EXPECT_NEAR(t1 - t0, 10.0 * 0.0147, 0.02);  // about ten seconds of flow

    ASSERT_EQ(Write(reg::MeasuringState, {0}), exNone);
    Advance(5.0);
    const auto frozen = Read(1128, 16);
    EXPECT_EQ(std::tuple(Float(frozen, 1), frozen[9]), std::tuple(t1, 5));  // 5 s since the last update
    ASSERT_EQ(Write(reg::MeasuringState, {1}), exNone);
    Advance(1.0);
    const auto resumed = Read(1128, 16);
    EXPECT_GT(Float(resumed, 1), t1);
    EXPECT_LT(Float(resumed, 1) - t1, 0.05f);  // no jump over the stopped time
    EXPECT_EQ(resumed[9], 0);

    Advance(3.0);
    ASSERT_EQ(Write(reg::ProcessInputBase, {'B', 1}), exNone);
    ASSERT_EQ(Write(1115, {7}), exNone);
    const auto c = meter.Changes();
    ASSERT_EQ(c.size(), 5u);  // the two measuring-state writes first
    EXPECT_EQ(std::tuple(c[2].address, c[2].oldValue, c[2].newValue, c[3].address),
              std::tuple(140, 'A', 'B', 141));
    EXPECT_EQ(std::tuple(c[4].address, c[4].oldValue, c[4].newValue, Read1(reg::Heartbeat)),
              std::tuple(1115, 0, 7, 19));
    EXPECT_NEAR(c[4].elapsedSeconds, 19.0, 1e-6);
    Advance(65536.0);
    EXPECT_EQ(Read1(reg::Heartbeat), 19);  // wraps
}

// Serial, firmware, Modbus firmware and serial, marker; custom ones: sim_link_test's preset table.
TEST_F(MeterTest, IdentificationFieldsSitAtTheirPositions)
{
    const auto data = meter.Identification();
    EXPECT_EQ(std::string(data.begin(), data.end()),
              "KALDOR VORTAN V3\xFF" "VT23000004711001 3.12.0 2024-05-172.04  2023-11-06MB00000000815001ARM");
}

TEST_F(MeterTest, SubsetDefaultsRoundTripsAndRefusedWrites)
{
    // Outer diameter 114.3, "FVOL", a transducer name, channel B's pipe with the same factory settings.
    EXPECT_EQ((std::vector{Read(24000, 2), Read(29127, 2), Read(24251, 4), Read(25000, 2),
                           Read(reg::CustomRegisterTable, 1)}),
              (std::vector<Words>{{0x999A, 0x42E4}, {0x4F4C, 0x4656}, {0x5456, 0x2D4D, 0x4131, 0x0032},
                                  {0x999A, 0x42E4}, {0}}));

    struct Refused { uint16_t address; Words words; TException expected; };
    const Refused refused[] = {
        {reg::Heartbeat, {5}, exIllegalAddress}, {1112, {1}, exIllegalAddress},  // status of a block
        {1113, {0, 0}, exIllegalAddress},                                         // measured value
        {145, {0}, exIllegalAddress},                                             // process input status
        {24029, {1}, exIllegalAddress},                                           // beyond the pipe page
        {24027, {1, 2, 3}, exIllegalAddress},  // runs off the page: nothing written
        {reg::MeasuringState, {2}, exIllegalValue}, {reg::CustomRegisterTable, {2}, exIllegalValue},
        {reg::CalibrationChannel, {'I'}, exIllegalValue}, {reg::ProtectionEnable, {7}, exIllegalValue},
    };
    const auto pipe = Read(24027, 2);
    for (const Refused& r : refused)
        EXPECT_EQ(Write(r.address, r.words), r.expected) << r.address;
    EXPECT_EQ(std::tuple(Read(24027, 2), Read1(reg::MeasuringState), meter.Changes().size()),
              std::tuple(pipe, 1, 0u));

    struct Row { uint16_t address; Words words; };
    const Row rows[] = {
        {25000, {0x0000, 0x4348}}, {24265, {0xFFFF, 0xFFFF}}, {28501, {89, 65}}, {29144, {0x4153, 0x464D}},
        {29003, {1}}, {29250, {0x0033, 0x0000, 0x4120, 0x00FC}}, {reg::ByteOrder, {0x0D0D}},
        {reg::CustomRegisterTable, {1}}, {153, {0x0000, 0x41CC}},
    };
    for (const Row& r : rows) {
        ASSERT_EQ(Write(r.address, r.words), exNone) << r.address;
        EXPECT_EQ(Read(r.address, static_cast<uint16_t>(r.words.size())), r.words) << r.address;
    }
}

TEST_F(MeterTest, WriteProtectionLocksTheSubsetUntilTheRightCode)
{
    ASSERT_EQ(Write(reg::ProtectionEnable, {1, 0xE240, 0x0001}), exNone);  // 123456, low word first
    EXPECT_EQ(Read(reg::ProtectionEnable, 3), (Words{1, 0, 0}));           // code hidden
    for (uint16_t a : {24000, 25390, 28000, 29125, 29000, 29250, 29257, 140, 173})
        EXPECT_EQ(Write(a, {0}), exIllegalAddress) << a;
    EXPECT_EQ(Write(1003, {1}), exNone);  // outside the subset the meter stays writable
    EXPECT_EQ(Write(reg::CustomRegisterTable, {1}), exNone);
    EXPECT_EQ(Write(reg::ProtectionEnable, {0, 0xE241, 0x0001}), exIllegalAddress);
    EXPECT_EQ(Read1(reg::ProtectionEnable), 1);
    EXPECT_EQ(Write(reg::ProtectionEnable, {0}), exIllegalAddress);  // no code at all
    EXPECT_EQ(Write(reg::ProtectionEnable, {0, 0xE240, 0x0001}), exNone);
    EXPECT_EQ(Read(reg::ProtectionEnable, 3), (Words{0, 0xE240, 0x0001}));
    EXPECT_EQ(Write(24000, {0, 0x42E4}), exNone);
}

TEST_F(MeterTest, ProcessInputsFedTemperatureAndCalibration)
{
    const float nan = std::nanf("");
    struct Row { uint16_t channel, quantity, unit; float value; uint16_t status; };
    const Row rows[] = {
        {'A', 1, 0, 25.0f, 0}, {'*', 3, 9, 2.0f, 0}, {'A', 0, 7, nan, 0},  // unused: only the channel counts
        {'X', 1, 0, 25.0f, 1}, {'B', 9, 0, 25.0f, 2}, {'X', 9, 0, 25.0f, 3}, {'A', 1, 2, 25.0f, 4},
        {'A', 5, 1, nan, 8}, {'A', 8, 0, 1.0f, 16},  // compression factor on a liquid channel
        {'A', 1, 0, 700.0f, 32}, {'A', 1, 1, 1000.0f, 0},  // 1000 °F is within range, 700 °C is not
        {'C', 3, 6, -2.0f, 32},                             // below vacuum
    };
    for (const Row& r : rows) {
        const uint32_t bits = std::bit_cast<uint32_t>(r.value);
        ASSERT_EQ(Write(150, {r.channel, r.quantity, r.unit, static_cast<uint16_t>(bits), static_cast<uint16_t>(bits >> 16)}),
                  exNone);
        EXPECT_EQ(Read1(155), r.status) << r.channel << " " << r.quantity << " " << r.unit;
    }
    ASSERT_EQ(Write(24390, {1}), exNone);  // channel A measures gas
    ASSERT_EQ(Write(150, {'A', 8, 0, 0x0000, 0x3F80}), exNone);
    EXPECT_EQ(Read1(155), 0);

    ASSERT_EQ(Write(140, {'A', 1, 1, 0x0000, 0x42C8}), exNone);  // 100 °F replaces the measured temperature
    EXPECT_NEAR(Float(Read(1000, 3), 1), 37.777f, 1e-3f);
    EXPECT_NE(Float(Read(2000, 3), 1), 37.777f);  // channel B keeps its own

    const double before = meter.InternalValue(0, 6);
    ASSERT_EQ(Write(reg::CalibrationChannel, {'A'}), exNone);
    ASSERT_EQ(Write(reg::CalibrationSlope, {0x0000, 0x4000}), exNone);  // 2.0, applied only on command
    EXPECT_NEAR(meter.InternalValue(0, 6), before, 0.02);
    ASSERT_EQ(Write(reg::CalibrationApply, {1}), exNone);
    EXPECT_NEAR(meter.InternalValue(0, 6), 2 * before, 0.04);
    EXPECT_EQ(Read1(reg::CalibrationApply), 0);
}

TEST(PduTest, ExceptionsEchoesListenOnlyAndCounters)
{
    struct Row { const char* what; Bytes request, reply; };
    const Row rows[] = {
        {"unknown function", {0x04, 0x00, 0x00, 0x00, 0x01}, {0x84, 0x01}},
        {"read count 0", {0x03, 0x00, 0x01, 0x00, 0x00}, {0x83, 0x03}},
        {"read count 126", {0x03, 0x03, 0xE8, 0x00, 0x7E}, {0x83, 0x03}},
        {"read past 65535", {0x03, 0xFF, 0xFF, 0x00, 0x02}, {0x83, 0x02}},
        {"read a gap", {0x03, 0x00, 0x02, 0x00, 0x01}, {0x83, 0x02}},
        {"read truncated", {0x03, 0x00, 0x01, 0x00}, {0x83, 0x03}},
        {"crt flag", {0x03, 0xFF, 0xFF, 0x00, 0x01}, {0x03, 0x02, 0x00, 0x00}},
        {"write single echoes", {0x06, 0x04, 0x5B, 0x00, 0x03}, {0x06, 0x04, 0x5B, 0x00, 0x03}},
        {"write single bad value", {0x06, 0x72, 0x49, 0x00, 0x02}, {0x86, 0x03}},
        {"write multiple", {0x10, 0x00, 0x11, 0x00, 0x01, 0x02, 0x1F, 0x1F}, {0x10, 0x00, 0x11, 0x00, 0x01}},
        {"byte count lies", {0x10, 0x00, 0x11, 0x00, 0x01, 0x04, 0x1F, 0x1F}, {0x90, 0x03}},
        {"data missing", {0x10, 0x00, 0x11, 0x00, 0x02, 0x04, 0x1F, 0x1F}, {0x90, 0x03}},
        {"write 124 registers", {0x10, 0x00, 0x11, 0x00, 0x7C, 0xF8}, {0x90, 0x03}},
        {"return query data", {0x08, 0x00, 0x00, 0xA5, 0x37}, {0x08, 0x00, 0x00, 0xA5, 0x37}},
        {"restart bad data", {0x08, 0x00, 0x01, 0x12, 0x34}, {0x88, 0x03}},
        {"restart", {0x08, 0x00, 0x01, 0xFF, 0x00}, {0x08, 0x00, 0x01, 0xFF, 0x00}},
        {"unknown sub-function", {0x08, 0x00, 0x03, 0x00, 0x00}, {0x88, 0x01}},
        {"diagnostic register", {0x08, 0x00, 0x02, 0x00, 0x00}, {0x08, 0x00, 0x02, 0x00, 0x00}},
        {"server id with data", {0x11, 0x00}, {0x91, 0x03}},
    };
    TMeter meter(TMeterIdentity{});
    TPduServer server(meter);
    for (const Row& r : rows) {
        const auto reply = server.Serve(r.request, false);
        ASSERT_TRUE(reply) << r.what;
        EXPECT_EQ(*reply, r.reply) << r.what;
    }
    const auto id = server.Serve(Bytes{0x11}, false);  // the server id carries its byte count
    ASSERT_TRUE(id && id->size() >= 2);
    EXPECT_EQ(id->at(1), id->size() - 2);
    EXPECT_EQ(Bytes(id->begin() + 2, id->end()), meter.Identification());

    TPduServer fresh(meter);
    const Bytes read = {0x03, 0xFF, 0xFF, 0x00, 0x01};
    const auto diag = [&](uint8_t sub) { return fresh.Serve(Bytes{0x08, 0x00, sub, 0x00, 0x00}, false); };
    fresh.Serve(Bytes{0x03, 0x00, 0x01, 0x00, 0x01}, false);
    fresh.Serve(Bytes{0x2B}, false);
    fresh.CountCommError();
    // Messages, exceptions, communication errors, in this order (each diagnostic is a message).
    EXPECT_EQ((std::vector{*diag(0x0E), *diag(0x0D), *diag(0x0C)}),
              (std::vector{Pdu(8, {0x0E, 3}), Pdu(8, {0x0D, 1}), Pdu(8, {0x0C, 1})}));
    diag(0x0A);                                                      // clear
    EXPECT_EQ(*diag(0x0C), (Bytes{0x08, 0x00, 0x0C, 0x00, 0x00}));

    EXPECT_FALSE(diag(0x04));  // listen only until a restart, which leaves it silently
    EXPECT_FALSE(fresh.Serve(read, false));
    EXPECT_FALSE(fresh.Serve(Bytes{0x08, 0x00, 0x01, 0x00, 0x00}, false));
    EXPECT_TRUE(fresh.Serve(read, false));
    EXPECT_FALSE(fresh.Serve(Bytes{0x06, 0xFF, 0xFF, 0x00, 0x01}, true));  // broadcasts stay silent
    EXPECT_EQ(*fresh.Serve(read, false), (Bytes{0x03, 0x02, 0x00, 0x01}));  // but it was done
}

TEST(DeviceSettingsTest, GoodAndBadSettings)
{
    const TDeviceSettings d = ParseDeviceSettings("address=12,baud=9600,parity=none,marker=XYZ,serial=AB1,"
                                                  "delay=20,echo,badcrc=3,exception=4,gap=5,split=7,staleid,mode=ascii");
    const auto fields = [](const TDeviceSettings& s) {
        const TFaults& f = s.faults;
        return std::tuple(int{s.address}, s.baud, s.parity, s.marker, s.serial, s.delayMs, f.echo, f.silent,
                          f.badCrc, f.exception, f.gapMs, f.splitMs, f.staleId, s.framing);
    };
    EXPECT_EQ(fields(d), std::tuple(12, 9600u, TParity::None, "XYZ", "AB1", 20, true, false, 3, 4, 5, 7, true,
                                    TFraming::Ascii));
    EXPECT_EQ(fields(ParseDeviceSettings("")),
              std::tuple(1, 19200u, TParity::Even, "ARM", "", 0, false, false, 0, 0, 0, 0, false,
                         TFraming::Auto));

    const std::pair<const char*, const char*> bad[] = {
        {"address=0", "address=0: must be between 1 and 247"}, {"address=248", "address=248: must be between 1 and 247"},
        {"address=1x", "address=1x: not a number"}, {"address=", "address=: not a number"},
        {"address", "address needs a value (address=...)"}, {"baud=fast", "baud=fast: not a number"},
        {"parity=mark", "parity=mark: must be none, odd or even"},
        {"marker=ARMS", "marker=ARMS: must be exactly 3 characters"},
        {"serial=12345678901234567", "serial=12345678901234567: must be 1 to 16 characters"},
        {"badcrc=0", "badcrc=0: must be between 1 and 1000000"},
        {"exception=256", "exception=256: must be between 1 and 255"}, {"silent=1", "silent takes no value"},
        {"colour=red", "unknown setting \"colour\""}, {"set=5000", "set=5000: needs ADDR:VALUE[:VALUE...]"},
        {"set=65535:1:2", "set=65535:1:2: runs past register 65535"}, {"set=100:0x1g", "set=100:0x1g: 0x1g is not a number"},
        {"refuse=abc", "refuse=abc: abc is not a number"}, {"protect=-1", "protect=-1: must be between 0 and 4294967295"},
    };
    for (const auto& [settings, message] : bad)
        EXPECT_EQ(ErrorOf<Invalid>([&] { (void)ParseDeviceSettings(settings); }), message) << settings;
}

}  // namespace
