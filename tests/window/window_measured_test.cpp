// Measured values, units, identification and the one-request-at-a-time rules against scripted
// meters, and the line statistics against a simulator that garbles replies.

#include "WindowHarness.h"

#include "Diagnostics.h"

#include <QLocale>

#include <bit>

namespace windowtest {
namespace {

// A block as the meter lays it out: status, unscaled, unit id, scaled value (low word first).
std::vector<uint16_t> Block(uint16_t status, float scaled, uint16_t unitId = 0)
{
    const auto bits = std::bit_cast<uint32_t>(scaled);
    std::vector<uint16_t> b(16, 0);
    b[0] = status;
    b[1] = b[4] = static_cast<uint16_t>(bits & 0xFFFF);
    b[2] = b[5] = static_cast<uint16_t>(bits >> 16);
    b[3] = unitId;
    return b;
}

TEST(WindowMeasured, ScriptedMeterFromTheFirstReadToSilence)
{
    FakeMeter meter;
    meter.blocks[1000] = Block(1, 1.0f, 65535);    // a unit id the quantity does not have
    meter.blocks[1016] = Block(1, 12.3456f, 9);    // beyond the quantity's units
    meter.blocks[1032] = Block(1, 123456.0f);
    meter.blocks[1048] = Block(1, 3.0f);
    meter.delayForStart[1048] = 1500;  // after the watchdog (1000 ms), while the heartbeat waits
    meter.blocks[1064] = Block(1, 4.0f);
    meter.delayForStart[1064] = 400;
    meter.blocks[1112] = Block(1, 2.0f);
    meter.blocks[1320] = Block(1, 20.0f, 1);  // Temperature Supply in degrees Fahrenheit
    meter.single[1] = 4242;
    meter.exceptionTimes[1] = 1;  // the first heartbeat fails
    meter.single[300] = 0x4142;
    meter.delayForStart[300] = 300;
    ScriptedWindow s(meter);
    Window& w = *s.w;
    auto* unit = w.Find<QComboBox>("cb_unit");

    // A request's kind ends with it whatever its outcome: the next block is a block, not the
    // answer to the failed heartbeat.
    w.Click("Bt_read_adr");
    EXPECT_EQ(w.Cell(1), "1.00");
    EXPECT_EQ(w.Form().PanelText(3), "Exception Reply!");
    w.Choose("cb_meas_val", 7);
    w.Click("Bt_read_adr");
    EXPECT_EQ(w.Cell(0), "OK");
    EXPECT_EQ(w.Cell(1), "2.00");
    EXPECT_EQ(w.Cell(2), "4242");

    // Values take the locale's separator; the unit read back shows its mismatch only after the button.
    struct Case {
        int q;
        QLocale locale;
        const char* value;
        int unitIndex;
        const char* placeholder;  // nullptr: not looked at
    } cases[] = {{0, QLocale::c(), "1.00", -1, "Unit Missmatch"},
                 {1, QLocale::c(), "12.35", -1, ""},
                 {1, QLocale(QLocale::German, QLocale::Germany), "12,35", -1, ""},
                 {2, QLocale::c(), "1.235E5", 0, nullptr},
                 {20, QLocale::c(), "20.00", 1, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        QLocale::setDefault(c.locale);
        w.Choose("cb_meas_val", c.q);
        w.Click("Bt_read_adr");
        EXPECT_EQ(w.Cell(0), "OK");
        EXPECT_EQ(w.Cell(1), c.value);
        EXPECT_EQ(w.Cell(2), "4242");
        EXPECT_EQ(unit->currentIndex(), c.unitIndex);
        if (c.placeholder) {
            EXPECT_EQ(unit->placeholderText(), c.placeholder);
        }
    }
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(unit->currentText(), QString::fromUtf8("\u00B0F"));

    // Switching Int16 to Float while the one-register read is out must not decode it as two.
    w.Find<QSpinBox>("SpinEdit_customer_register")->setValue(300);
    auto* types = w.Find<QComboBox>("cb_datatypes");
    types->setEditText(QStringLiteral("Int16"));
    QTimer::singleShot(100, &w.Form(), [&] { types->setEditText(QStringLiteral("Float")); });
    w.Click("Bt_read_adr_exp_mode");
    EXPECT_EQ(w.Find<QLineEdit>("Edit1")->text(), "16706");

    // A block arriving while the heartbeat is outstanding is dropped, not shown as the heartbeat;
    // a new connection starts it on an empty grid.
    w.Click("Bt_dis_connect");
    w.Click("Bt_dis_connect");
    ASSERT_EQ(w.Cell(0), "");
    w.Form().Connection().SetReceiveTimeout(4000);
    w.Choose("cb_meas_val", 3);
    w.Click("Bt_read_adr");
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().DroppedReplies() == 1 && w.Cell(2) == "4242"; }, 8s));
    EXPECT_EQ(w.Cell(0), "");
    EXPECT_EQ(w.Cell(1), "");
    EXPECT_FALSE(w.Form().IsReplyPending());
    w.Form().Connection().SetReceiveTimeout(2000);

    // A second sender waits for the outstanding request: by the time it is done, the first
    // request has been answered and decoded.
    w.Choose("cb_meas_val", 4);
    const size_t sent = s.peer.RequestCount();
    const int reports = w.CountCaption("Device Identification Report");
    bool clicked = false;
    QString statusWhenSent;
    int reportsWhenDone = 0;
    QTimer::singleShot(100, &w.Form(), [&] {
        w.Form().Bt_report_slave_idClick();
        clicked = true;
        statusWhenSent = w.Cell(0);
        reportsWhenDone = w.CountCaption("Device Identification Report");
    });
    w.Click("Bt_read_adr");
    ASSERT_TRUE(w.WaitFor([&] { return clicked; }, 3s));
    EXPECT_EQ(statusWhenSent, "OK");
    EXPECT_EQ(reportsWhenDone, reports + 1);
    const auto requests = s.peer.Requests();
    ASSERT_GE(requests.size(), sent + 3);  // the block, the identification, the heartbeat
    EXPECT_EQ(requests[sent].bytes[1], 0x03);
    EXPECT_EQ(requests[sent + 1].bytes[1], 0x11);

    // The loop sets the unit's position without the mismatch text, and repeats until disconnection.
    w.Form().SetTimerIntervals(100, 1000, 150000);
    w.Choose("cb_meas_val", 20);
    w.Click("Bt_read_adr");
    ASSERT_EQ(unit->currentIndex(), 1);
    w.Choose("cb_meas_val", 0);
    const size_t atLoop = s.peer.RequestCount();
    w.Click("CheBox_loop");
    EXPECT_TRUE(w.Find<QTimer>("Timer1")->isActive());
    ASSERT_TRUE(w.WaitFor([&] { return unit->currentIndex() == -1; }, 3s));
    EXPECT_EQ(unit->placeholderText(), "");
    // Each cycle is a block and a heartbeat read.
    ASSERT_TRUE(w.WaitFor([&] { return s.peer.RequestCount() >= atLoop + 6; }, 5s));
    w.Click("Bt_dis_connect");
    EXPECT_FALSE(w.Find<QCheckBox>("CheBox_loop")->isChecked());
    EXPECT_FALSE(w.Find<QTimer>("Timer1")->isActive());
    const size_t atEnd = s.peer.RequestCount();
    QTest::qWait(500);  // five loop intervals: nothing more may be sent
    EXPECT_EQ(s.peer.RequestCount(), atEnd);

    // A meter that stops answering: the identification's own failure comes after the watchdog
    // ended the wait, and is shown.
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    meter.silent = true;
    w.Click("Bt_report_slave_id");
    EXPECT_FALSE(w.Form().IsReplyPending());
    ASSERT_TRUE(w.WaitFor([&] { return w.Messages().back().text == "Received no reply!"; }, 5s));
    EXPECT_EQ(w.Messages().back().caption, "Device Identification Report");
    // A read's late failure says so on the status bar and leaves the grid as it was.
    const auto dropped = w.Form().DroppedReplies();
    w.Click("Bt_read_adr");
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().DroppedReplies() > dropped && !w.Form().IsReplyPending(); }, 8s));
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().PanelText(3) == "No data received!"; }, 8s));
    EXPECT_EQ(w.Cell(0), "");
}

TEST(WindowMeasured, InvalidFramesAreCountedLeaveTheGridAndHintAtTheLine)
{
    FakeMeter meter;
    meter.badCrcOnReads = true;
    ScriptedWindow s(meter);
    Window& w = *s.w;
    auto* counter = w.Find<QLineEdit>("invalid_frame_count");
    // The connection's CRT read came back broken already.
    EXPECT_EQ(counter->text(), "1");
    EXPECT_EQ(w.Form().PanelText(1), "CRT");
    w.Click("Bt_read_adr");
    // The block and the heartbeat both came back broken.
    EXPECT_EQ(counter->text(), "3");
    EXPECT_EQ(w.Cell(0), "");
    EXPECT_EQ(w.Form().PanelText(3), "Invalid Frame!");
    w.Click("Bt_read_adr");
    EXPECT_EQ(counter->text(), "5");

    OpenFromMenu(w, QStringLiteral("Line Statistics"));
    const auto& stats = w.Form().Diagnostics().Counts().ByAddress().at(1);
    EXPECT_GE(stats.badChecksums, 2u);
    EXPECT_GE(stats.replies, 2u);
    EXPECT_EQ(stats.requests,
              stats.replies + stats.badChecksums + stats.timeouts + stats.exceptions + stats.unmatched);
    auto* table = w.Find<QTableWidget>("LineStatisticsTable");
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 0)->text(), "1");
    EXPECT_EQ(table->item(0, 4)->text().toUInt(), stats.badChecksums);
    EXPECT_TRUE(w.Find<QLabel>("LineStatisticsHint")->text().contains("parity"));
    w.Click("LineStatisticsReset");
    EXPECT_EQ(table->rowCount(), 0);
    // Every press of the connect button starts the count again.
    w.Click("Bt_dis_connect");
    EXPECT_EQ(counter->text(), "0");
}

TEST(WindowMeasured, IdentificationReportAndSubsetWindowFollowTheMarker)
{
    const QString vortan = "KALDOR VORTAN V3\r\n\r\nVortan serial no.:         VT23000004711001\r\n"
                           "Vortan FW version:     3.12.0 2024-05-17\r\n";
    struct Case {
        std::vector<uint8_t> data;
        QString text;
        bool subset;  // the ARM marker: the subset group, its height and the status panels halved
    } cases[] = {
        {VortanIdentification("ARM"), vortan, true},
        {VortanIdentification("XYZ"),
         vortan + "Modbus FW version:  2.04  2023-11-06\r\nModbus serial no.:      MB00000000815001\r\n", false},
        {VortanIdentification("ARM", "ACME FLOW 7"), "ACME FLOW 7", true},
        {VortanIdentification("ARM", ""), "", true},  // still answered: the box shows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        FakeMeter meter;
        meter.identification = c.data;
        ScriptedWindow s(meter, {"-subset"});
        Window& w = *s.w;
        for (int report = 1; report <= 2; ++report) {  // at connection, then by the button: nothing more changes
            ASSERT_EQ(w.CountCaption("Device Identification Report"), report);
            EXPECT_EQ(w.Messages().back().text, c.text);
            EXPECT_EQ(w.Messages().back().buttons, tarnwick::IDialogService::Ok);
            EXPECT_EQ(!w.Find("GroupSubset")->isHidden(), c.subset);
            EXPECT_TRUE(w.Find("SubsetView")->isHidden());
            EXPECT_EQ(w.Form().size(), QSize(c.subset ? 520 : 760, 766));
            EXPECT_EQ(w.Form().PanelWidth(2), c.subset ? 330 : 0);
            EXPECT_EQ(w.Form().PanelWidth(3), c.subset ? 330 : 660);
            if (report == 1)
                w.Click("Bt_report_slave_id");
        }
    }
}

}  // namespace
}  // namespace windowtest
