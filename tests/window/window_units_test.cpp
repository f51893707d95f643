// The unit box: its lists, the unit change written to the meter, the read-back.

#include "WindowHarness.h"

#include <QComboBox>
#include <QLabel>

#include <gtest/gtest.h>

#include <bit>

namespace windowtest {
namespace {

using testing_support::PtyPair;
using testing_support::ScriptedPeer;

TEST(WindowUnits, PathDifferencesNeverAllowAUnitChange)
{
    TempConfig config;
    Sim sim({"--pty"});
    config.WriteIni(SerialIni(sim.Pty()));
    Window w;
    auto* unit = w.Find<QComboBox>("cb_unit");
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    struct Case {
        int q;
        int count;
        const char* first;
        bool enabled;
    } cases[] = {{45, 1, "%", false}, {36, 4, "m/s", false}, {35, 1, "Bit", true},
                 {7, 31, "m3/h", true}, {25, 3, "g/cm3", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.q);
        w.Choose("cb_meas_val", c.q);
        EXPECT_EQ(unit->count(), c.count);
        EXPECT_EQ(unit->itemText(0), c.first);
        EXPECT_EQ(unit->currentIndex(), 0);
        EXPECT_EQ(unit->isEnabled(), c.enabled);
    }
    w.Click("Bt_dis_connect");
    EXPECT_FALSE(unit->isEnabled());
}

TEST(WindowUnits, UnitChangeWritesTheUnitIdRegisterOverRtuAndTcp)
{
    for (const bool tcp : {false, true}) {
        SCOPED_TRACE(tcp ? "TCP" : "RTU");
        TempConfig config;
        Sim sim({tcp ? "--tcp" : "--pty", tcp ? "0" : "--pty"});
        config.WriteIni(tcp ? TcpIni(sim.TcpHost(), sim.TcpPort()) : SerialIni(sim.Pty()));
        Window w;
        w.Click("Bt_dis_connect");
        ASSERT_TRUE(w.Form().IsConnected());
        w.Find<QComboBox>("cb_channel")->setCurrentIndex(4);  // Z
        w.Choose("cb_meas_val", 7);                           // Volume Flow
        w.Choose("cb_unit", 3);                               // m3/min
        EXPECT_EQ(w.CountCaption("Hint"), 1);
        EXPECT_FALSE(w.Form().UnitWarningPending());
        EXPECT_EQ(w.Find<QComboBox>("cb_unit")->currentIndex(), 3);
        // Both "m3/h" entries are units of their own.
        w.Choose("cb_unit", 2);
        w.Choose("cb_unit", 0);
        EXPECT_EQ(w.CountCaption("Hint"), 1);
        w.Click("Bt_dis_connect");
        const auto changes = sim.StopAndReadDump();
        const std::vector<std::pair<int, int>> expected = {{9115, 3}, {9115, 2}, {9115, 0}};
        EXPECT_EQ(changes, expected);
    }
}

TEST(WindowUnits, FirstChangeAsksOnceAndCancelWritesNothing)
{
    TempConfig config;
    Sim sim({"--pty"});
    config.WriteIni(SerialIni(sim.Pty()));
    Window w;
    w.Click("Bt_dis_connect");
    w.Choose("cb_meas_val", 2);  // Pressure Fluid, channel A: unit id at 1035
    auto* unit = w.Find<QComboBox>("cb_unit");

    w.dialogs.answers = {tarnwick::IDialogService::Cancel};
    w.Choose("cb_unit", 5);
    ASSERT_EQ(w.CountCaption("Hint"), 1);
    const auto hint = w.Messages().back();
    EXPECT_EQ(hint.text, "This will change the unit ID for scaled measuring value on the modbus server module!\r\n"
                         "Do you want to continue?\r\r\nThis message will be shown only one time.");
    EXPECT_EQ(hint.buttons, tarnwick::IDialogService::Ok | tarnwick::IDialogService::Cancel);
    EXPECT_EQ(unit->currentIndex(), 0);
    EXPECT_TRUE(w.Form().UnitWarningPending());

    w.Choose("cb_unit", 1);  // asked again; OK
    EXPECT_EQ(w.CountCaption("Hint"), 2);
    w.Choose("cb_unit", 3);  // no more questions
    EXPECT_EQ(w.CountCaption("Hint"), 2);
    EXPECT_EQ(unit->currentIndex(), 3);

    // The device's new unit shows with the next read.
    w.Click("Bt_read_adr");
    EXPECT_EQ(unit->currentIndex(), 3);
    EXPECT_EQ(w.Form().MeasRecord()[3], 3);
    w.Click("Bt_dis_connect");
    const std::vector<std::pair<int, int>> expected = {{1035, 1}, {1035, 3}};
    EXPECT_EQ(sim.StopAndReadDump(), expected);
}

TEST(WindowUnits, ReadBackShowsMismatchOnlyAfterTheButton)
{
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    std::vector<uint16_t> mismatch(16, 0);
    mismatch[0] = 1;
    mismatch[3] = 65535;
    std::vector<uint16_t> outOfRange = mismatch;
    outOfRange[3] = 9;
    std::vector<uint16_t> fahrenheit = mismatch;
    fahrenheit[3] = 1;
    meter.blocks[1000] = mismatch;
    meter.blocks[1016] = outOfRange;
    meter.blocks[1320] = fahrenheit;  // Temperature Supply
    TempConfig config;
    PtyPair pty;
    ScriptedPeer peer(pty, meter.Responder());
    config.WriteIni(SerialIni(pty.SlavePath()));
    Window w;
    w.Form().SetTimerIntervals(100, 1000, 150000);
    w.Click("Bt_dis_connect");
    auto* unit = w.Find<QComboBox>("cb_unit");

    w.Click("Bt_read_adr");
    EXPECT_EQ(unit->currentIndex(), -1);
    EXPECT_EQ(unit->placeholderText(), "Unit Missmatch");

    w.Choose("cb_meas_val", 20);
    w.Click("Bt_read_adr");
    EXPECT_EQ(unit->currentIndex(), 1);
    EXPECT_EQ(unit->currentText(), QString::fromUtf8("\u00B0F"));

    w.Choose("cb_meas_val", 1);
    w.Click("Bt_read_adr");
    EXPECT_EQ(unit->currentIndex(), -1);
    EXPECT_EQ(unit->placeholderText(), "");

    // The loop sets the position without the mismatch text.
    w.Choose("cb_meas_val", 20);
    w.Click("Bt_read_adr");
    w.Choose("cb_meas_val", 0);
    w.Click("CheBox_loop");
    ASSERT_TRUE(w.WaitFor([&] { return unit->currentIndex() == -1; }, 3s));
    EXPECT_EQ(unit->placeholderText(), "");
}

TEST(WindowUnits, ParameterPageUnitBoxesAndCurrentLoopLabels)
{
    TempConfig config;
    Window w;
    auto* value = w.Find<QComboBox>("MeasuringValue");
    auto* unit = w.Find<QComboBox>("MeasuringUnit");
    w.Choose("MeasuringValue", 1);
    EXPECT_EQ(unit->count(), 30);
    EXPECT_EQ(unit->itemText(18), "hl/min");
    EXPECT_EQ(unit->itemText(20), "hl/min");
    EXPECT_EQ(unit->itemText(0), QString::fromUtf8("m\u00B3/h"));
    // A quantity picked by hand starts on its first unit.
    EXPECT_EQ(unit->currentIndex(), 0);
    w.Choose("CalculationMeasValue", 5);
    EXPECT_EQ(w.Find<QComboBox>("CalculationMeasUnit")->count(), 2);
    value->setCurrentIndex(-1);
    w.Form().SetMeasUnitID("MeasuringValue", "MeasuringUnit");
    EXPECT_EQ(unit->count(), 0);

    struct Case {
        uint32_t code;
        const char* label;
    } cases[] = {{0x43464C55, "m/s"}, {0x50564B5F, "mm\u00B2/s"}, {0x50544600 | '_', "\u00B0C"}, {0, "m\u00B3/s"}};
    for (const Case& c : cases) {
        w.Form().SetCurrentLoopMeasValueUnit(c.code);
        EXPECT_EQ(w.Find<QLabel>("Label136")->text(), QString::fromUtf8(c.label));
        EXPECT_EQ(w.Find<QLabel>("Label139")->text(), QString::fromUtf8(c.label));
    }
}

}  // namespace
}  // namespace windowtest
