// Sessions over RTU and TCP against vortan-sim, from connecting by key to losing the line, and
// the connections that fail.

#include "WindowHarness.h"

#include "ConnectionRules.h"
#include "DiagnosticViews.h"
#include "Diagnostics.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QImage>
#include <QPlainTextEdit>
#include <QRegularExpression>

#include <bit>
#include <ctime>
#include <fstream>
#include <set>

namespace windowtest {
namespace {

using tarnwick::IDialogService;
using Kind = tarnwick::RecordingDialogService::Shown::Kind;
using Changes = std::vector<std::array<int, 3>>;

QStringList Lines(const tarnwick::TTrafficMonitor& m)
{
    return QString::fromStdString(m.Log().Text()).split('\n', Qt::SkipEmptyParts);
}

bool AnyLine(const QStringList& lines, const QString& a, const QString& b)
{
    return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.contains(a) && l.contains(b); });
}

// The traffic monitor shows the measured value read as hex with its meaning; paused it adds
// nothing, cleared it is empty.
void ExpectMonitoredRead(Window& w, Transport t)
{
    OpenFromMenu(w, QStringLiteral("Traffic Monitor"));
    auto* monitor = w.Form().Diagnostics().Monitor();
    ASSERT_TRUE(monitor && monitor->isVisible());
    w.Click("Bt_read_adr");
    const QStringList lines = Lines(*monitor);
    SCOPED_TRACE(lines.join('\n').toStdString());
    if (t == Transport::Tcp) {
        EXPECT_TRUE(AnyLine(lines, "TX  00 ", "unit 1 tid"));
        EXPECT_TRUE(AnyLine(lines, "01 03 03 E8 00 10", "fc3 1000+16"));
        EXPECT_TRUE(AnyLine(lines, "RX  ", "fc3 32 bytes"));
    } else {
        EXPECT_TRUE(AnyLine(lines, "TX  01 03 03 E8 00 10", "addr 1 fc3 1000+16"));
        EXPECT_TRUE(AnyLine(lines, "RX  01 03 20 ", "addr 1 fc3 32 bytes"));
    }
    EXPECT_TRUE(AnyLine(lines, "--  addr 1", "ok after"));
    w.Click("TrafficPause");
    w.Click("Bt_read_adr");
    EXPECT_EQ(Lines(*monitor).size(), lines.size());
    w.Click("TrafficClear");
    EXPECT_TRUE(monitor->Log().Lines().empty());
    EXPECT_TRUE(w.Find<QPlainTextEdit>("TrafficText")->toPlainText().isEmpty());
}

TEST(WindowSession, RtuFromTheKeysToThePulledAdapter)
{
    SimWindow m(Transport::Rtu, {}, {}, {}, Start::Disconnected);
    Window& w = *m.w;
    ExpectControlStates(w, false, false);

    // The main actions have keys, and Tab walks the window in reading order.
    w.Form().show();
    w.Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.Form()));
    const std::pair<const char*, const char*> tips[] = {{"Bt_dis_connect", "Connect (Ctrl+K)"}, {"Bt_read_adr", "Read Register (F5)"},
                                                        {"CheBox_loop", "Loop (Ctrl+L)"}, {"Bt_report_slave_id", "Report Slave ID (Ctrl+I)"}};
    for (const auto& [button, tip] : tips)
        EXPECT_EQ(w.Find<QAbstractButton>(button)->toolTip(), tip);
    const char* order[] = {"Opt_RTU", "Opt_TCPIP", "SpEd_slave_adr", "Bt_mb_settings", "Bt_veri_mb_para",
                           "Bt_dis_connect", "cb_channel", "cb_meas_val", "cb_unit", "Bt_read_adr", "CheBox_loop",
                           "Bt_report_slave_id", "ViewMenu", "bt_adv_view"};
    QWidget* const first = w.Find("Opt_RTU");
    QWidget* f = first;
    for (const char* name : order)  // one round of the chain, no wrapping back
        for (; f->objectName() != name; f = f->nextInFocusChain())
            ASSERT_NE(f->nextInFocusChain(), first) << name << " is not where reading order puts it";

    // Connecting resets the invalid frame count and makes an empty slave address 1.
    w.Find<QLineEdit>("invalid_frame_count")->setText("5");
    auto* slave = w.Find<QSpinBox>("SpEd_slave_adr");
    EXPECT_EQ(std::pair(slave->minimum(), slave->maximum()), std::pair(0, 247));  // every serial address
    slave->setValue(0);
    slave->clear();
    slave->interpretText();
    w.dialogs.answers = {IDialogService::Ok};
    QTest::keySequence(&w.Form(), QKeySequence(Qt::CTRL | Qt::Key_K));
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().IsConnected(); }, 3s));
    EXPECT_EQ(slave->value(), 1);
    ExpectControlStates(w, true);
    EXPECT_TRUE(w.Find("cb_unit")->isEnabled());
    EXPECT_EQ(w.Find<QLineEdit>("invalid_frame_count")->text(), "0");
    EXPECT_EQ(w.Form().Connection().SilentInterval(), 40u);  // at 19200 baud
    ASSERT_EQ(w.CountCaption("Device Identification Report"), 1);
    EXPECT_TRUE(w.Messages().back().text.startsWith("KALDOR VORTAN V3\r\n\r\nVortan serial no.:         VT23"));
    EXPECT_EQ(w.Messages().back().icon, IDialogService::Icon::None);
    QTest::keyClick(&w.Form(), Qt::Key_F5);
    // The last frame of the cycle: the heartbeat's reply, address + function + count + 2 + CRC.
    ASSERT_TRUE(w.WaitFor([&] { return w.Cell(0) == "OK" && w.Form().PanelText(3) == "MODBUS reply received: 7 bytes."; }, 3s));
    ExpectMonitoredRead(w, Transport::Rtu);

    // Channels A and B measure; C has no transducers; D lost its signal.
    const std::tuple<int, const char*, bool> channels[] = {{0, "OK", true}, {2, "Never set", false}, {3, "Failed", false}, {1, "OK", true}};
    for (const auto& [channel, status, value] : channels) {
        SCOPED_TRACE(channel);
        w.Find<QComboBox>("cb_channel")->setCurrentIndex(channel);
        w.Choose("cb_meas_val", 6);  // Flow Velocity
        w.Click("Bt_read_adr");
        EXPECT_EQ(w.Cell(0), status);
        if (value) {
            EXPECT_TRUE(QRegularExpression("^-?\\d+\\.\\d\\d$").match(w.Cell(1)).hasMatch()) << w.Cell(1).toStdString();
            const auto& r = w.Form().MeasRecord();
            EXPECT_NEAR(w.Cell(1).toDouble(), std::bit_cast<float>(static_cast<uint32_t>(r[4] | r[5] << 16)), 0.006);
        } else {
            EXPECT_EQ(w.Cell(1), "");
        }
        // The heartbeat follows every block, whatever its status.
        EXPECT_TRUE(QRegularExpression("^\\d+$").match(w.Cell(2)).hasMatch());
    }

    // Path differences never allow a unit change.
    auto* unit = m.Box("cb_unit");
    const std::tuple<int, int, const char*, bool> units[] = {
        {45, 1, "%", false}, {36, 4, "m/s", false}, {35, 1, "Bit", true}, {7, 31, "m3/h", true}, {25, 3, "g/cm3", true}};
    for (const auto& [quantity, count, firstUnit, enabled] : units) {
        SCOPED_TRACE(quantity);
        w.Choose("cb_meas_val", quantity);
        EXPECT_EQ(unit->count(), count);
        EXPECT_EQ(unit->itemText(0), firstUnit);
        EXPECT_EQ(unit->currentIndex(), 0);
        EXPECT_EQ(unit->isEnabled(), enabled);
    }

    // The first unit change asks once; Cancel writes nothing and asks again next time.
    w.Find<QComboBox>("cb_channel")->setCurrentIndex(0);
    w.Choose("cb_meas_val", 2);  // Pressure Fluid, channel A: unit id at 1035
    w.dialogs.answers = {IDialogService::Cancel};
    w.Choose("cb_unit", 5);
    ASSERT_EQ(w.CountCaption("Hint"), 1);
    EXPECT_EQ(w.Messages().back().text, "This will change the unit ID for scaled measuring value on the modbus server module!\r\n"
                                        "Do you want to continue?\r\r\nThis message will be shown only one time.");
    EXPECT_EQ(w.Messages().back().buttons, IDialogService::Ok | IDialogService::Cancel);
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
    // Channel Z: both "m3/h" entries are units of their own.
    w.Find<QComboBox>("cb_channel")->setCurrentIndex(4);
    w.Choose("cb_meas_val", 7);  // Volume Flow
    for (const int u : {3, 2, 0})
        w.Choose("cb_unit", u);
    EXPECT_EQ(unit->currentIndex(), 0);
    EXPECT_EQ(m.Changes(), (Changes{{1035, 0, 1}, {1035, 1, 3}, {9115, 0, 3}, {9115, 3, 2}, {9115, 2, 0}}));

    // Ticking Loop as a screen reader does starts the loop; the space key stops it.
    auto* loop = w.Find<QCheckBox>("CheBox_loop");
    QAccessible::queryAccessibleInterface(loop)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(loop->isChecked());
    EXPECT_TRUE(w.Find<QTimer>("Timer1")->isActive());
    QTest::keyClick(loop, Qt::Key_Space);
    EXPECT_FALSE(loop->isChecked());
    EXPECT_FALSE(w.Find<QTimer>("Timer1")->isActive());

    // The trend gets a point per loop cycle and its CSV log is on disk row by row.
    w.Find<QComboBox>("cb_channel")->setCurrentIndex(0);
    w.Choose("cb_meas_val", 7);  // Volume Flow
    w.Form().SetTimerIntervals(100, 1000, 150000);
    OpenFromMenu(w, QStringLiteral("Trend and Log"));
    auto* trend = w.Form().Diagnostics().Trend();
    ASSERT_TRUE(trend);
    const std::string csv = (m.config.Dir() / "log.csv").string();
    w.dialogs.fileNames.push_back(QString::fromStdString(csv));
    w.Click("TrendLogStart");
    ASSERT_TRUE(trend->Logging());
    loop->click();
    // Looping until the meter has been up a few seconds, as a technician would see it.
    ASSERT_TRUE(w.WaitFor([&] { return trend->PointCount() >= 3 && w.Cell(2).toInt() >= 2; }, 6s));

    // The window drawn offscreen. With TARNWICK_SCREENSHOT set, the picture is saved there
    // (docs/screenshot.png is made this way, and docs/screenshot-2x.png with QT_SCALE_FACTOR=2 too).
    const QImage image = w.Form().grab().toImage();
    EXPECT_EQ(image.size(), w.Form().size() * w.Form().devicePixelRatio());
    std::set<QRgb> colours;  // something was drawn: not a single colour, at any scale
    for (int x = 0; x < image.width(); x += 3)
        colours.insert(image.pixel(x, image.height() / 3));
    EXPECT_GT(colours.size(), 3u);
    if (const QByteArray path = qgetenv("TARNWICK_SCREENSHOT"); !path.isEmpty()) {
        EXPECT_TRUE(image.save(QString::fromLocal8Bit(path), "PNG"));
    }

    loop->click();
    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "time,channel,quantity,status,value,unit,heartbeat");
    int rows = 0;
    for (; std::getline(in, line); ++rows) {
        EXPECT_NE(line.find(",A,"), std::string::npos) << line;
        EXPECT_NE(line.find(",OK,"), std::string::npos) << line;
        EXPECT_EQ(line.substr(4, 1), "-");  // an ISO 8601 date starts the row
    }
    EXPECT_EQ(rows, trend->PointCount());
    w.Click("TrendLogStop");
    EXPECT_FALSE(trend->Logging());

    w.Click("Bt_dis_connect");
    ExpectControlStates(w, false);
    EXPECT_FALSE(w.Find("cb_unit")->isEnabled());

    // Pulling the adapter while the loop runs is reported once, and what follows is quiet.
    m.Connect();
    ASSERT_TRUE(w.Form().IsConnected());
    const size_t before = w.Messages().size();
    w.Click("CheBox_loop");
    ASSERT_TRUE(w.WaitFor([&] { return w.Cell(0) == "OK"; }));
    m.sim.Process().Stop();
    ASSERT_TRUE(w.WaitFor([&] { return !w.Form().IsConnected(); }, 5s));
    const std::clock_t cpu0 = std::clock();
    w.WaitFor([] { return false; }, 1s);
    EXPECT_LT(std::clock() - cpu0, CLOCKS_PER_SEC * 15 / 100);
    ASSERT_EQ(w.Messages().size(), before + 1);
    EXPECT_EQ(w.Messages().back().caption, "ERROR");
    EXPECT_EQ(w.Messages().back().text, QString::fromStdString("the serial adapter " + m.Port() + " was disconnected"));
    ExpectControlStates(w, false);
    // Plugged in again, it connects.
    simtest::SimProcess replugged({"--link", m.Port(), "--device", "address=1"});
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    w.Click("Bt_read_adr");
    EXPECT_EQ(w.Cell(0), "OK");
    w.Click("Bt_dis_connect");
}

TEST(WindowSession, TcpFromConnectingToTheLostServer)
{
    SimWindow m(Transport::Tcp, {}, {}, {}, Start::Disconnected);
    Window& w = *m.w;
    ASSERT_FALSE(w.Find("IPAdresse")->isHidden());
    m.Connect();
    ExpectControlStates(w, true);
    EXPECT_TRUE(w.Find<QTimer>("Timer4")->isActive());
    ASSERT_EQ(w.CountCaption("Device Identification Report"), 1);
    EXPECT_TRUE(w.Messages().back().text.contains("Vortan FW version:     3.12.0"));
    EXPECT_TRUE(w.Form().TcpClient().Connected());
    ExpectMonitoredRead(w, Transport::Tcp);
    EXPECT_EQ(w.Cell(0), "OK");

    // The heartbeat advances while looping.
    w.Form().SetTimerIntervals(200, 1000, 150000);
    const int first = w.Cell(2).toInt();
    w.Click("CheBox_loop");
    ASSERT_TRUE(w.WaitFor([&] { return w.Cell(2).toInt() > first; }, 4s));
    EXPECT_EQ(w.Cell(0), "OK");
    w.Click("CheBox_loop");

    w.Click("Bt_dis_connect");
    ExpectControlStates(w, false);
    EXPECT_FALSE(w.Form().TcpClient().Connected());
    for (const char* name : {"IPAdresse", "Port", "Bt_mb_settings"})  // whatever the transport
        EXPECT_TRUE(w.Find(name)->isEnabled()) << name;

    // An idle connection is closed with a message; a reply restarts the idle time.
    m.Connect();
    w.Form().SetTimerIntervals(1000, 1000, 400);
    w.Click("Bt_read_adr");
    ASSERT_TRUE(w.WaitFor([&] { return w.CountCaption("Disconnected") == 1; }, 5s));
    EXPECT_EQ(w.Messages().back().text, "Your connection is inactiv.\r\n\r\nPlease reconnect...");
    ExpectControlStates(w, false);
    EXPECT_FALSE(w.Form().TcpClient().Connected());

    // The meter going away while the loop runs is reported once and disconnects.
    w.Form().SetTimerIntervals(100, 1000, 150000);
    m.Connect();
    ASSERT_TRUE(w.Form().IsConnected());
    const size_t before = w.Messages().size();
    w.Click("CheBox_loop");
    m.sim.Process().Stop();
    ASSERT_TRUE(w.WaitFor([&] { return !w.Form().IsConnected(); }, 5s));
    ASSERT_EQ(w.Messages().size(), before + 1);
    EXPECT_EQ(w.Messages().back().kind, Kind::Exception);
    ExpectControlStates(w, false);
}

TEST(WindowConnection, FailedConnectionsNameTheReasonAndStayDisconnected)
{
    SimWindow rtu(Transport::Rtu, {"silent"}, {}, {}, Start::Disconnected);
    for (const bool echo : {true, false}) {
        SCOPED_TRACE(echo ? "echo removal on" : "echo removal off");
        rtu.Reopen(SerialIni(rtu.Port(), 7, echo));
        Window& w = *rtu.w;
        w.Click("Bt_dis_connect");
        ASSERT_TRUE(w.WaitFor([&] { return w.CountCaption("ERROR") == 1; }, 8s));
        EXPECT_EQ(w.Messages().back().icon, IDialogService::Icon::Error);
        // The text is ConnectionRules.SilentIntervalFailureHintAndTcpPort's; here its address and hint.
        EXPECT_EQ(w.Messages().back().text, QString::fromStdString(app::connectionFailureText(7, echo)));
        EXPECT_EQ(w.Form().PanelText(3), "");
        ExpectControlStates(w, false, false);
        EXPECT_EQ(w.CountCaption("Device Identification Report"), 0);
    }
    {
        SCOPED_TRACE("no such serial port");
        rtu.Reopen(SerialIni("/dev/tarnwick-no-such-port"));
        rtu.w->Click("Bt_dis_connect");
        ASSERT_EQ(rtu.w->Messages().size(), 1u);
        EXPECT_EQ(rtu.w->Messages().back().kind, Kind::Exception);
        EXPECT_TRUE(rtu.w->Messages().back().text.contains("Could not open serial port"));
        ExpectControlStates(*rtu.w, false, false);
    }

    // A TCP server that refuses the probe is closed silently; left running, the idle timer
    // would reconnect on its own later.
    SimWindow tcp(Transport::Tcp, {"exception=2"}, {}, {}, Start::Disconnected);
    Window& w = *tcp.w;
    w.Click("Bt_dis_connect");
    ExpectControlStates(w, false, false);
    EXPECT_TRUE(w.Messages().empty());
    EXPECT_FALSE(w.Form().TcpClient().Connected());
    EXPECT_FALSE(w.Find<QTimer>("Timer4")->isActive());
    for (const char* text : {"50x2", "", "70000"}) {
        SCOPED_TRACE(text);
        w.Find<QLineEdit>("Port")->setText(text);
        w.Click("Bt_dis_connect");
        ASSERT_FALSE(w.Messages().empty());
        EXPECT_EQ(w.Messages().back().kind, Kind::Exception);
        EXPECT_TRUE(w.Messages().back().text.contains("is not a valid port number"));
        ExpectControlStates(w, false, false);
    }
    // Nothing listens on port 1 of loopback: the socket layer's error, still disconnected.
    w.Find<QLineEdit>("Port")->setText("1");
    const size_t before = w.Messages().size();
    w.Click("Bt_dis_connect");
    ASSERT_EQ(w.Messages().size(), before + 1);
    ExpectControlStates(w, false, false);
    EXPECT_FALSE(w.Find<QTimer>("Timer4")->isActive());
}

TEST(WindowConnection, LateAnswerToTheConnectionTestStillConnects)
{
    // Beyond the watchdog (1000 ms), within the receive time-out, with room on both sides.
    SimWindow m(Transport::Rtu, {"delay=2000"}, {}, {}, Start::Disconnected);
    Window& w = *m.w;
    w.Form().Connection().SetReceiveTimeout(4000);
    w.Click("Bt_dis_connect");
    EXPECT_FALSE(w.Form().IsConnected());  // the watchdog ended the wait
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().IsConnected(); }, 8s));
    ExpectControlStates(w, true);
    // Control states only: no identification follows the late answer.
    EXPECT_EQ(w.CountCaption("Device Identification Report"), 0);
    EXPECT_EQ(m.Sent(), std::vector<std::string>{"fc8 sub0 [42295] reply"});
}

}  // namespace
}  // namespace windowtest
