// Measured values, heartbeat, identification, the loop and the one-request-at-a-time rules.

#include "WindowHarness.h"
#include "WindowState.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <bit>

namespace windowtest {
namespace {

using testing_support::Bytes;
using testing_support::PtyPair;
using testing_support::ScriptedPeer;

// A block as the meter lays it out: status, unscaled, unit id, scaled value (low word first).
std::vector<uint16_t> Block(uint16_t status, float scaled, uint16_t unitId = 0)
{
    const auto bits = std::bit_cast<uint32_t>(scaled);
    const auto lo = static_cast<uint16_t>(bits & 0xFFFF);
    const auto hi = static_cast<uint16_t>(bits >> 16);
    std::vector<uint16_t> b(16, 0);
    b[0] = status;
    b[1] = lo;
    b[2] = hi;
    b[3] = unitId;
    b[4] = lo;
    b[5] = hi;
    return b;
}

// A connected window on a scripted meter.
struct Scripted {
    explicit Scripted(FakeMeter& meter, const QStringList& args = {})
        : peer(pty, meter.Responder())
    {
        config.WriteIni(SerialIni(pty.SlavePath()));
        w = std::make_unique<Window>(args);
        w->Click("Bt_dis_connect");
        if (!w->Form().IsConnected())
            throw std::runtime_error("scripted meter did not connect");
    }
    TempConfig config;
    PtyPair pty;
    ScriptedPeer peer;
    std::unique_ptr<Window> w;
};

TEST(WindowMeasured, SimulatedMeterGivesOkNeverSetAndFailedPerChannel)
{
    TempConfig config;
    Sim sim({"--pty"});
    config.WriteIni(SerialIni(sim.Pty()));
    Window w;
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    struct Case {
        int channel;  // A and B measure; C has no transducers; D lost its signal
        const char* status;
        bool value;
    } cases[] = {{0, "OK", true}, {2, "Never set", false}, {3, "Failed", false}, {1, "OK", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        w.Find<QComboBox>("cb_channel")->setCurrentIndex(c.channel);
        w.Choose("cb_meas_val", 6);  // Flow Velocity
        w.Click("Bt_read_adr");
        EXPECT_EQ(w.Cell(0), c.status);
        if (c.value) {
            EXPECT_TRUE(QRegularExpression("^-?\\d+\\.\\d\\d$").match(w.Cell(1)).hasMatch()) << w.Cell(1).toStdString();
            const auto& r = w.Form().MeasRecord();
            const float scaled = std::bit_cast<float>(static_cast<uint32_t>(r[4] | r[5] << 16));
            EXPECT_NEAR(w.Cell(1).toDouble(), scaled, 0.006);
        } else {
            EXPECT_EQ(w.Cell(1), "");
        }
        // The heartbeat follows every block, whatever its status.
        EXPECT_TRUE(QRegularExpression("^\\d+$").match(w.Cell(2)).hasMatch());
    }
}

TEST(WindowMeasured, ValueIsFormattedWithTheLocalesSeparator)
{
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.blocks[1000] = Block(1, 1.0f);
    meter.blocks[1016] = Block(1, 12.3456f);
    meter.blocks[1032] = Block(1, 123456.0f);
    meter.single[1] = 4242;
    Scripted s(meter);
    Window& w = *s.w;
    struct Case {
        int q;
        QLocale locale;
        const char* value;
    } cases[] = {{0, QLocale::c(), "1.00"}, {1, QLocale::c(), "12.35"},
                 {1, QLocale(QLocale::German, QLocale::Germany), "12,35"}, {2, QLocale::c(), "1.235E5"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        QLocale::setDefault(c.locale);
        w.Choose("cb_meas_val", c.q);
        w.Click("Bt_read_adr");
        EXPECT_EQ(w.Cell(0), "OK");
        EXPECT_EQ(w.Cell(1), c.value);
        EXPECT_EQ(w.Cell(2), "4242");
    }
    QLocale::setDefault(QLocale::c());
}

TEST(WindowMeasured, HeartbeatAdvancesWhileLooping)
{
    TempConfig config;
    Sim sim({"--tcp", "0"});
    config.WriteIni(TcpIni(sim.TcpHost(), sim.TcpPort()));
    Window w;
    w.Form().SetTimerIntervals(200, 1000, 150000);
    w.Click("Bt_dis_connect");
    w.Click("Bt_read_adr");
    const int first = w.Cell(2).toInt();
    w.Click("CheBox_loop");
    ASSERT_TRUE(w.WaitFor([&] { return w.Cell(2).toInt() > first; }, 4s));
    EXPECT_EQ(w.Cell(0), "OK");
    w.Click("Bt_dis_connect");
    ExpectControlStates(w, false);
}

TEST(WindowMeasured, LoopRepeatsUntilDisconnection)
{
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.blocks[1000] = Block(1, 1.0f);
    Scripted s(meter);
    Window& w = *s.w;
    w.Form().SetTimerIntervals(100, 1000, 150000);
    const size_t atStart = s.peer.RequestCount();  // connection test and identification
    w.Click("CheBox_loop");
    EXPECT_TRUE(w.Find<QTimer>("Timer1")->isActive());
    // Each cycle is a block and a heartbeat read.
    ASSERT_TRUE(w.WaitFor([&] { return s.peer.RequestCount() >= atStart + 6; }, 5s));
    w.Click("Bt_dis_connect");
    EXPECT_FALSE(w.Find<QCheckBox>("CheBox_loop")->isChecked());
    EXPECT_FALSE(w.Find<QTimer>("Timer1")->isActive());
    const size_t atEnd = s.peer.RequestCount();
    QTest::qWait(500);  // five loop intervals: nothing more may be sent
    EXPECT_EQ(s.peer.RequestCount(), atEnd);
}

TEST(WindowMeasured, InvalidFramesAreCountedAndLeaveTheGrid)
{
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.badCrcOnReads = true;
    Scripted s(meter);
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
    // Every press of the connect button starts the count again.
    w.Click("Bt_dis_connect");
    EXPECT_EQ(counter->text(), "0");
}

TEST(WindowMeasured, IdentificationReportByMarkerAndForeignDevice)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        QString text;
    } cases[] = {
        {"ARM marker", VortanIdentification("ARM"),
         "KALDOR VORTAN V3\r\n\r\nVortan serial no.:         VT23000004711001\r\n"
         "Vortan FW version:     3.12.0 2024-05-17\r\n"},
        {"other marker", VortanIdentification("XYZ"),
         "KALDOR VORTAN V3\r\n\r\nVortan serial no.:         VT23000004711001\r\n"
         "Vortan FW version:     3.12.0 2024-05-17\r\n"
         "Modbus FW version:  2.04  2023-11-06\r\nModbus serial no.:      MB00000000815001\r\n"},
        {"foreign device", VortanIdentification("ARM", "ACME FLOW 7"), "ACME FLOW 7"},
        {"empty ID text", VortanIdentification("ARM", ""), ""},  // still answered: the box shows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMeter meter;
        meter.identification = c.data;
        Scripted s(meter);
        Window& w = *s.w;
        ASSERT_EQ(w.CountCaption("Device Identification Report"), 1);
        EXPECT_EQ(w.Messages().back().text, c.text);
        w.Click("Bt_report_slave_id");
        ASSERT_EQ(w.CountCaption("Device Identification Report"), 2);
        EXPECT_EQ(w.Messages().back().text, c.text);
        EXPECT_EQ(w.Messages().back().buttons, tarnwick::IDialogService::Ok);
    }
}

TEST(WindowMeasured, SubsetWindowFollowsTheMetersMarker)
{
    struct Case {
        const char* marker;
        bool subsetShown;
        QSize size;
        int panel2, panel3;
    } cases[] = {{"ARM", true, {520, 766}, 330, 330}, {"XYZ", false, {760, 766}, 0, 660}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.marker);
        FakeMeter meter;
        meter.identification = VortanIdentification(c.marker);
        Scripted s(meter, {"-subset"});
        Window& w = *s.w;
        for (int report = 0; report < 2; ++report) {  // a second report changes nothing more
            EXPECT_EQ(!w.Find("GroupSubset")->isHidden(), c.subsetShown);
            EXPECT_TRUE(w.Find("SubsetView")->isHidden());
            EXPECT_EQ(w.Form().size(), c.size);
            EXPECT_EQ(w.Form().PanelWidth(2), c.panel2);
            EXPECT_EQ(w.Form().PanelWidth(3), c.panel3);
            w.Click("Bt_report_slave_id");
        }
    }
}

TEST(WindowMeasured, ReplyAfterTheWatchdogIsDroppedNotTakenForTheNextRequest)
{
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.blocks[1000] = Block(1, 1.0f);
    // The watchdog gives up at 1000 ms; the block comes at 1500 ms, while the heartbeat waits.
    meter.delayForStart[1000] = 1500;
    meter.single[1] = 4242;
    Scripted s(meter);
    Window& w = *s.w;
    w.Form().Connection().SetReceiveTimeout(4000);
    w.Click("Bt_read_adr");
    // The block arrives while the heartbeat is outstanding: dropped, not shown as heartbeat.
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().DroppedReplies() == 1 && w.Cell(2) == "4242"; }, 8s));
    EXPECT_EQ(w.Cell(0), "");
    EXPECT_EQ(w.Cell(1), "");
    EXPECT_FALSE(w.Form().IsReplyPending());
}

TEST(WindowMeasured, KindEndsWithItsRequestWhateverItsOutcome)
{
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.blocks[1000] = Block(1, 1.0f);
    meter.blocks[1112] = Block(1, 2.0f);
    meter.single[1] = 4242;
    meter.exceptionTimes[1] = 1;  // the first heartbeat fails
    Scripted s(meter);
    Window& w = *s.w;
    w.Click("Bt_read_adr");
    EXPECT_EQ(w.Cell(1), "1.00");
    EXPECT_EQ(w.Form().PanelText(3), "Exception Reply!");
    w.Choose("cb_meas_val", 7);
    w.Click("Bt_read_adr");
    // The next block is a block, not the answer to the failed heartbeat.
    EXPECT_EQ(w.Cell(0), "OK");
    EXPECT_EQ(w.Cell(1), "2.00");
    EXPECT_EQ(w.Cell(2), "4242");
}

TEST(WindowMeasured, SenderWaitsForTheOutstandingRequestBeforeItSends)
{
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.blocks[1000] = Block(1, 1.0f);
    meter.delayForStart[1000] = 400;
    Scripted s(meter);
    Window& w = *s.w;
    bool clicked = false;
    QString statusWhenSent;
    size_t reportsWhenDone = 0;
    QTimer::singleShot(100, &w.Form(), [&] {
        w.Form().Bt_report_slave_idClick();
        clicked = true;
        statusWhenSent = w.Cell(0);
        reportsWhenDone = static_cast<size_t>(w.CountCaption("Device Identification Report"));
    });
    w.Click("Bt_read_adr");
    ASSERT_TRUE(w.WaitFor([&] { return clicked; }, 3s));
    // By the time the second sender is done, the first request had been answered and decoded.
    EXPECT_EQ(statusWhenSent, "OK");
    EXPECT_EQ(reportsWhenDone, 2u);
    const auto requests = s.peer.Requests();
    // Connection test, identification, CRT state, then the block and the identification.
    ASSERT_GE(requests.size(), 6u);
    EXPECT_EQ(requests[3].bytes[1], 0x03);
    EXPECT_EQ(requests[4].bytes[1], 0x11);
}

}  // namespace
}  // namespace windowtest

namespace windowtest {
namespace {

TEST(WindowMeasured, MeterThatStopsAnsweringIsReportedAfterTheWatchdog)
{
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.blocks[1000] = Block(1, 1.0f);
    Scripted s(meter);
    Window& w = *s.w;
    meter.silent = true;
    // The identification's own failure comes after the watchdog ended the wait, and is shown.
    w.Click("Bt_report_slave_id");
    EXPECT_FALSE(w.Form().IsReplyPending());
    ASSERT_TRUE(w.WaitFor([&] { return w.Messages().back().text == "Received no reply!"; }, 5s));
    EXPECT_EQ(w.Messages().back().caption, "Device Identification Report");
    // A read's late failure says so on the status bar and leaves the grid as it was.
    w.Click("Bt_read_adr");
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().DroppedReplies() >= 1 && !w.Form().IsReplyPending(); }, 8s));
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().PanelText(3) == "No data received!"; }, 8s));
    EXPECT_EQ(w.Cell(0), "");
}

}  // namespace
}  // namespace windowtest
