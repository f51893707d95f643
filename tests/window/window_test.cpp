// The main window: start-up, settings and switches; sessions from connecting by key to losing the line;
// failed connections; measured values, identification, statistics and one request at a time.

#include "WindowHarness.h"

#include "ConnectionRules.h"
#include "DeviceIdentification.h"
#include "DiagnosticViews.h"
#include "Diagnostics.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QDialog>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>

#include <bit>
#include <ctime>
#include <filesystem>

namespace windowtest {
namespace {

using tarnwick::IDialogService;
using Kind = tarnwick::RecordingDialogService::Shown::Kind;
using Changes = std::vector<std::array<int, 3>>;

TEST(WindowStartup, FirstStartWritesTheFormsValuesAndEndWritesWhatChanged)
{
    TempConfig config;
    {
        Window w;
        EXPECT_EQ(w.Form().windowTitle(), "Tarnwick - Version 1.14");
        EXPECT_EQ(w.Form().SettingsPath().toStdString(), config.IniPath().string());
        EXPECT_TRUE(w.Messages().empty());
        // Written at first start, before anything else changed.
        config.ExpectLines({"[Modbus Settings]", "SlaveAddress=0", "IP Address=192.168.3.98", "Port=502",
                           "Start mode=0", "ReceiveTimeout=2000", "RefetchDelay=15", "EchoQueryBeforeReply=1"});

        // The lists and the calculator as start-up leaves them.
        EXPECT_EQ(w.Find<QComboBox>("cb_meas_val")->count(), 46);
        EXPECT_EQ(w.Find<QComboBox>("cb_meas_val2")->count(), 46);
        EXPECT_EQ(w.Find<QComboBox>("cb_meas_val")->itemText(36), "Abs. Flow Velocity Path Diff");
        EXPECT_EQ(w.Find<QComboBox>("cb_unit")->count(), 2);
        EXPECT_EQ(w.Find<QComboBox>("cb_unit")->itemText(0), QString::fromUtf8("\u00B0C"));
        EXPECT_FALSE(w.Find("cb_unit")->isEnabled());
        for (const char* label : {"Label_channel", "Label_meas_val", "Label_meas_val_spec"})
            EXPECT_FALSE(w.Find<QLabel>(label)->text().isEmpty()) << label;
        EXPECT_EQ(w.Find<QLabel>("Label_result")->text(), "1000");
        EXPECT_EQ(w.Find<QLabel>("Label_datatype")->text(), "Int16");

        // RTU at first; the transport buttons switch the TCP edits and the serial buttons.
        const char* tcpControls[] = {"Label146", "Label147", "IPAdresse", "Port"};
        for (const char* button : {"", "Opt_TCPIP", "Opt_TCPIP", "Opt_RTU"}) {  // a checked one stays checked
            SCOPED_TRACE(button);
            if (*button)
                w.Click(button);
            const bool tcp = std::string(button) == "Opt_TCPIP";
            EXPECT_EQ(w.Find<QRadioButton>("Opt_TCPIP")->isChecked(), tcp);
            EXPECT_EQ(w.Find<QRadioButton>("Opt_RTU")->isChecked(), !tcp);
            for (const char* name : tcpControls)
                EXPECT_EQ(w.Find(name)->isHidden(), !tcp) << name;
            for (const char* name : {"Bt_mb_settings", "Bt_veri_mb_para"})
                EXPECT_EQ(w.Find(name)->isEnabled(), !tcp) << name;
        }

        // The logo opens the about dialog, by its accessible action too, and the dialog its links.
        QString label1;
        w.dialogs.onDialog = [&](QDialog& d) {
            label1 = d.findChild<QLabel*>(QStringLiteral("Label1"))->text();
            d.findChild<QPushButton*>(QStringLiteral("Label3"))->click();
            // A screen reader presses the web link through its action.
            QAccessibleInterface* link = QAccessible::queryAccessibleInterface(d.findChild<QPushButton*>(QStringLiteral("Label4")));
            link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            w.WaitFor([&] { return w.dialogs.openedUrls.size() == 2; }, 2s);
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
            return d.result();
        };
        QAccessibleInterface* logo = QAccessible::queryAccessibleInterface(w.Find<QPushButton>("Image1"));
        EXPECT_EQ(logo->text(QAccessible::Name), "About Tarnwick");
        logo->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        ASSERT_TRUE(w.WaitFor([&] { return w.CountCaption(QStringLiteral("About Tarnwick")) == 1; }, 2s));
        EXPECT_EQ(label1, "Tarnwick - (Version 1.14)");
        const std::vector<QUrl> urls = {QUrl("mailto:service@kaldor.example"),
                                        QUrl("https://www.kaldor.example")};
        EXPECT_EQ(w.dialogs.openedUrls, urls);

        // The expert register box wraps around.
        auto* reg = w.Find<QSpinBox>("SpinEdit_customer_register");
        const std::pair<const char*, int> typed[] = {{"70000", 0}, {"-1", 65535}, {"65535", 65535}, {"123", 123}, {"", 0}};
        for (const auto& [text, value] : typed) {
            SCOPED_TRACE(text);
            reg->setValue(5);
            reg->setFocus();
            reg->selectAll();
            QTest::keyClick(reg, Qt::Key_Backspace);
            QTest::keyClicks(reg, QString::fromLatin1(text));
            emit reg->editingFinished();
            EXPECT_EQ(reg->value(), value);
        }

        // The parameter page's unit boxes and the current loop's unit labels (SubsetUnits has the lists).
        auto* unit = w.Find<QComboBox>("MeasuringUnit");
        w.Choose("MeasuringValue", 1);
        EXPECT_EQ(std::tuple(unit->count(), unit->itemText(0), unit->currentIndex()),
                  std::tuple(30, QString::fromUtf8("m\u00B3/h"), 0));  // by hand: its first unit
        w.Choose("CalculationMeasValue", 5);
        EXPECT_EQ(w.Find<QComboBox>("CalculationMeasUnit")->count(), 2);
        w.Find<QComboBox>("MeasuringValue")->setCurrentIndex(-1);
        w.Form().SetMeasUnitID("MeasuringValue", "MeasuringUnit");
        EXPECT_EQ(unit->count(), 0);
        w.Form().SetCurrentLoopMeasValueUnit(0x50564B5F);  // PVK_
        EXPECT_EQ(w.Find<QLabel>("Label136")->text(), QString::fromUtf8("mm\u00B2/s"));
        EXPECT_EQ(w.Find<QLabel>("Label139")->text(), QString::fromUtf8("mm\u00B2/s"));

        // Values at the end of the run are what the next run finds.
        w.Find<QSpinBox>("SpEd_slave_adr")->setValue(17);
        w.Find<QLineEdit>("IPAdresse")->setText("127.0.0.1");
        w.Find<QLineEdit>("Port")->setText("1502");
        w.Click("Opt_TCPIP");
    }
    // The serial dialog's values reach the file the same way (SerialSettingsDialog, ExpertSettings).
    config.ExpectLines({"SlaveAddress=17", "IP Address=127.0.0.1", "Port=1502", "Start mode=1"});
}

TEST(WindowStartup, SwitchesSetSizesGroupsAndModesAndEveryControlHasAnAccessibleName)
{
    // Switches, height, expert mode and, 1 for shown, the swap, totalizer, calibration and subset groups.
    const std::tuple<QStringList, int, bool, std::string> cases[] = {
        {{}, 550, false, "0000"}, {{"-swap"}, 766, false, "1000"}, {{"-subset"}, 766, false, "0001"},
        {{"-swap", "-totalizer_rst", "-calibr_factor", "-subset"}, 766, false, "1111"},
        {{"-expert"}, 550, true, "0000"},
    };
    const char* groups[] = {"GroupBox_swap", "GroupBox_auto_totalizer_reset", "GroupBox_calibr_factor",
                            "GroupSubset"};
    for (const auto& [args, height, expert, shown] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        TempConfig config;
        Window w(args);
        EXPECT_EQ(w.Form().size(), QSize(520, height));
        for (size_t g = 0; g < 4; ++g)
            EXPECT_EQ(!w.Find(groups[g])->isHidden(), shown[g] == '1') << groups[g];
        const bool swap = shown[0] == '1', subset = shown[3] == '1';
        EXPECT_TRUE(w.Find("SubsetView")->isHidden());
        EXPECT_EQ(w.Form().IsSubsetMode(), subset);
        EXPECT_EQ(w.Form().IsExpertMode(), expert);
        EXPECT_EQ(w.Form().PanelWidth(2), subset ? 330 : 0);
        EXPECT_EQ(w.Form().PanelWidth(3), subset ? 330 : 660);
        for (const char* box : {"ComboBox_byte_order_16bit_vars", "ComboBox_byte_word_order_long_ints",
                                "ComboBox_byte_word_order_floats"})
            EXPECT_EQ(w.Find<QComboBox>(box)->currentIndex(), swap ? 0 : -1) << box;
        // Expert mode opens the full connection editor under the serial dialog's caption.
        bool fullEditor = false;
        w.dialogs.onDialog = [&](QDialog& d) {
            fullEditor = d.findChild<QWidget*>("PageControl") != nullptr;
            return static_cast<int>(QDialog::Rejected);
        };
        w.Click("Bt_mb_settings");
        EXPECT_EQ(w.CountCaption("Modbus Settings"), 1);
        EXPECT_EQ(fullEditor, expert);

        for (QWidget* control : w.Form().findChildren<QWidget*>()) {
            const bool isControl = qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control) ||
                                   qobject_cast<QComboBox*>(control) || qobject_cast<QAbstractSpinBox*>(control);
            // What a user can reach: a control that takes focus.
            QWidget* parent = control->parentWidget();
            if (!isControl || control->focusPolicy() == Qt::NoFocus || !parent ||
                qobject_cast<QAbstractSpinBox*>(parent) || qobject_cast<QComboBox*>(parent))
                continue;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(control);
            ASSERT_TRUE(a) << control->objectName().toStdString();
            EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty())
                << control->metaObject()->className() << " " << control->objectName().toStdString() << " in "
                << parent->objectName().toStdString();
        }
        auto* panel0 = w.Find<QLabel>("StatusPanel0");
        EXPECT_GE(panel0->width(), panel0->sizeHint().width());  // its whole text shows
    }
}

// Only the expert reading takes the keys beyond port, rate, echo and parity, and keeps what has no key.
TEST(WindowStartup, StartModeTcpAndTheKeysEachReadingTakes)
{
    for (const bool expert : {false, true}) {
        SCOPED_TRACE(expert ? "expert" : "standard");
        TempConfig config;
        config.WriteIni("[Modbus Settings]\r\nSlaveAddress=3\r\nComPort=/dev/ttyUSB7\r\nBaudRate=6\r\n"
                        "Parity=1\r\nReceiveTimeout=3500\r\nMaxRetries=3\r\nTransmissionMode=1\r\n"
                        "[Modbus TCP]\r\nIP Address=10.0.0.7\r\nPort=1502\r\n[Modbus TCP/RTU]\r\nStart mode=1\r\n");
        Window w(expert ? QStringList{"-expert"} : QStringList{});
        EXPECT_TRUE(w.Find<QRadioButton>("Opt_TCPIP")->isChecked());
        EXPECT_FALSE(w.Find("IPAdresse")->isHidden());
        EXPECT_EQ(w.Find<QLineEdit>("IPAdresse")->text(), "10.0.0.7");
        EXPECT_EQ(w.Find<QLineEdit>("Port")->text(), "1502");
        EXPECT_EQ(w.Find<QSpinBox>("SpEd_slave_adr")->value(), 3);
        // Only the expert form of reading shows the labels and locks the serial buttons.
        EXPECT_EQ(!w.Find("Label146")->isHidden(), expert);
        EXPECT_EQ(!w.Find("Label147")->isHidden(), expert);
        EXPECT_EQ(w.Find("Bt_mb_settings")->isEnabled(), !expert);
        EXPECT_EQ(w.Find("Bt_veri_mb_para")->isEnabled(), !expert);
        const modbus::TModbusConnection& c = w.Form().Connection();
        EXPECT_EQ(std::tuple(c.Port(), c.Parity(), c.BaudRate()),
                  std::tuple("/dev/ttyUSB7", modbus::psOdd, modbus::br9600));
        EXPECT_EQ(std::tuple(c.ReceiveTimeout(), c.MaxRetries(), c.TransmissionMode()),
                  expert ? std::tuple(3500u, 3u, modbus::tmASCII) : std::tuple(2000u, 1u, modbus::tmRTU));
        // Keys the file lacks: stop bits unchanged, the form's refetch delay, DTR and echo.
        if (expert) {
            EXPECT_EQ(std::tuple(c.StopBits(), c.RefetchDelay(), c.DTREnabled(), c.EchoQueryBeforeReply()),
                      std::tuple(modbus::sb1, 15u, false, true));
        } else {
            EXPECT_TRUE(c.EndFrameByLength());
        }
    }
}

TEST(WindowStartup, DamagedOrUnwritableSettingsFileCostsAMessageNotTheWindow)
{
    // A folder where the file should be: neither readable as a file nor replaceable, even by root.
    // (SettingsTest has junk files, their copies and the lines kept: the same message path.)
    TempConfig config;
    std::filesystem::create_directories(config.IniPath());
    auto w = std::make_unique<Window>();
    ASSERT_GE(w->CountCaption("Settings"), 1);
    EXPECT_EQ(w->Messages().front().icon, IDialogService::Icon::Warning);
    EXPECT_EQ(w->Find<QComboBox>("cb_meas_val")->count(), 46);
    tarnwick::RecordingDialogService& dialogs = w->dialogs;
    w->form.reset();  // the write at the end fails with a message, not a crash
    EXPECT_EQ(dialogs.shown.back().kind, Kind::Exception);
    EXPECT_TRUE(std::filesystem::is_directory(config.IniPath()));
}

TEST(WindowMessages, LineBreaksOfTheToolsTextsShowAsLineBreaks)
{
    const QStringList shown = {tarnwick::DisplayText("a\r\r\nb"), tarnwick::DisplayText("a\r\n\r\nb"),
                               tarnwick::DisplayText("a\n\n\rb"), tarnwick::DisplayText("a\rb")};
    EXPECT_EQ(shown, (QStringList{"a\n\nb", "a\n\nb", "a\n\nb", "a\nb"}));
}

// The monitor shows a read as hex with its meaning; paused it adds nothing, cleared it is empty.
void ExpectMonitoredRead(Window& w, Transport t)
{
    OpenFromMenu(w, QStringLiteral("Traffic Monitor"));
    auto* monitor = w.Form().Diagnostics().Monitor();
    ASSERT_TRUE(monitor && monitor->isVisible());
    w.Click("Bt_read_adr");
    const auto& lines = monitor->Log().Lines();
    const size_t count = lines.size();
    auto any = [&](const std::string& a, const std::string& b) {
        auto both = [&](const std::string& l) { return l.find(a) != l.npos && l.find(b) != l.npos; };
        return std::ranges::any_of(lines, both);
    };
    SCOPED_TRACE(monitor->Log().Text());  // LineTraffic.Summaries has the texts of every kind of frame
    EXPECT_TRUE(any(t == Transport::Tcp ? "TX  00 " : "TX  01 03 03 E8 00 10", "fc3 1000+16"));
    EXPECT_TRUE(any("RX  ", t == Transport::Tcp ? "unit 1 tid" : "addr 1 fc3 32 bytes"));
    EXPECT_TRUE(any("--  addr 1", "ok after"));
    w.Click("TrafficPause");
    w.Click("Bt_read_adr");
    EXPECT_EQ(lines.size(), count);
    w.Click("TrafficClear");
    EXPECT_TRUE(monitor->Log().Lines().empty());
    EXPECT_TRUE(w.Find<QPlainTextEdit>("TrafficText")->toPlainText().isEmpty());
}

TEST(WindowSession, RtuFromTheKeysToThePulledAdapter)
{
    SimWindow m(Transport::Rtu, {}, {}, {}, Start::Disconnected);
    Window& w = *m.w;
    ExpectControlStates(w, false, false);

    // The main actions have keys (their tool tips name them), and Tab walks the window in reading order.
    w.Form().show();
    w.Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.Form()));
    EXPECT_EQ(w.Find<QAbstractButton>("Bt_report_slave_id")->toolTip(), "Report Slave ID (Ctrl+I)");
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
    ASSERT_EQ(w.CountCaption("Device Identification Report"), 1);  // the marker test checks its text
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
        EXPECT_EQ(w.Cell(1).isEmpty(), !value);  // the values themselves: the scripted meter's scenario
        // The heartbeat follows every block, whatever its status.
        EXPECT_TRUE(QRegularExpression("^\\d+$").match(w.Cell(2)).hasMatch());
    }

    // Path differences never allow a unit change (units_test has the lists and the rule per quantity).
    auto* unit = m.Box("cb_unit");
    for (const auto& [quantity, count, firstUnit, enabled] :
         {std::tuple(36, 4, "m/s", false), std::tuple(7, 31, "m3/h", true)}) {
        w.Choose("cb_meas_val", quantity);
        EXPECT_EQ(std::tuple(unit->count(), unit->itemText(0), unit->currentIndex(), unit->isEnabled()),
                  std::tuple(count, QString(firstUnit), 0, enabled));
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
    EXPECT_EQ(std::pair(unit->currentIndex(), w.Form().UnitWarningPending()), std::pair(0, true));
    w.Choose("cb_unit", 1);  // asked again; OK
    EXPECT_EQ(w.CountCaption("Hint"), 2);
    w.Choose("cb_unit", 3);  // no more questions
    EXPECT_EQ(std::pair(w.CountCaption("Hint"), unit->currentIndex()), std::pair(2, 3));
    // The device's new unit shows with the next read.
    w.Click("Bt_read_adr");
    EXPECT_EQ((std::pair<int, int>(unit->currentIndex(), w.Form().MeasRecord()[3])), std::pair(3, 3));
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
    EXPECT_EQ(std::pair(loop->isChecked(), w.Find<QTimer>("Timer1")->isActive()), std::pair(true, true));
    QTest::keyClick(loop, Qt::Key_Space);
    EXPECT_EQ(std::pair(loop->isChecked(), w.Find<QTimer>("Timer1")->isActive()), std::pair(false, false));

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

    // Saved to TARNWICK_SCREENSHOT if set (docs/screenshot.png, -2x with QT_SCALE_FACTOR=2).
    if (const QByteArray path = qgetenv("TARNWICK_SCREENSHOT"); !path.isEmpty()) {
        EXPECT_TRUE(w.Form().grab().toImage().save(QString::fromLocal8Bit(path), "PNG"));
    }

    loop->click();
    const QStringList rows = QString::fromStdString(ReadFile(csv)).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), trend->PointCount() + 1);
    EXPECT_EQ(rows[0], "time,channel,quantity,status,value,unit,heartbeat");
    for (const QString& row : rows.mid(1))  // an ISO 8601 date first
        EXPECT_TRUE(row.contains(",A,") && row.contains(",OK,") && row[4] == '-') << row.toStdString();
    w.Click("TrendLogStop");
    EXPECT_FALSE(trend->Logging());

    // Pulling the adapter while the loop runs is reported once, and what follows is quiet.
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
    EXPECT_FALSE(w.Find("cb_unit")->isEnabled());
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
    m.Connect();
    ExpectControlStates(w, true);
    EXPECT_TRUE(w.Find<QTimer>("Timer4")->isActive());
    ASSERT_EQ(w.CountCaption("Device Identification Report"), 1);
    EXPECT_TRUE(w.Messages().back().text.contains("Vortan FW version:     3.12.0"));
    EXPECT_TRUE(w.Form().TcpClient().Connected());
    ExpectMonitoredRead(w, Transport::Tcp);
    EXPECT_EQ(w.Cell(0), "OK");

    w.Click("Bt_dis_connect");
    ExpectControlStates(w, false);
    EXPECT_FALSE(w.Form().TcpClient().Connected());

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

    // A TCP server that refuses the probe is closed silently, its idle timer stopped too.
    SimWindow tcp(Transport::Tcp, {"exception=2"}, {}, {}, Start::Disconnected);
    Window& w = *tcp.w;
    w.Click("Bt_dis_connect");
    ExpectControlStates(w, false, false);
    EXPECT_TRUE(w.Messages().empty());
    EXPECT_FALSE(w.Form().TcpClient().Connected());
    w.Find<QLineEdit>("Port")->setText("50x2");  // the other texts parseTcpPort refuses, the same way
    w.Click("Bt_dis_connect");
    ASSERT_FALSE(w.Messages().empty());
    EXPECT_EQ(w.Messages().back().kind, Kind::Exception);
    EXPECT_TRUE(w.Messages().back().text.contains("is not a valid port number"));
    ExpectControlStates(w, false, false);
    // Nothing listens on port 1 of loopback: the socket layer's error, still disconnected.
    w.Find<QLineEdit>("Port")->setText("1");
    const size_t before = w.Messages().size();
    w.Click("Bt_dis_connect");
    ASSERT_EQ(w.Messages().size(), before + 1);
    ExpectControlStates(w, false, false);  // Timer4, the idle timer, stopped too
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

TEST(WindowMeasured, ScriptedMeterFromTheFirstReadToSilence)
{
    FakeMeter meter;
    // Blocks of status OK: unit 65535 the quantity does not have, 9 beyond its units, 1 is Fahrenheit.
    const std::tuple<int, float, uint16_t> blocks[] = {{1000, 1.0f, 65535}, {1016, 12.3456f, 9},
                                                       {1032, 123456.0f, 0}, {1048, 3.0f, 0}, {1064, 4.0f, 0},
                                                       {1112, 2.0f, 0}, {1320, 20.0f, 1}};
    for (auto [start, scaled, unitId] : blocks) {
        const auto bits = std::bit_cast<uint32_t>(scaled);  // unscaled and scaled, low word first
        const auto low = static_cast<uint16_t>(bits & 0xFFFF), high = static_cast<uint16_t>(bits >> 16);
        for (const uint16_t word : {uint16_t{1}, low, high, unitId, low, high})
            meter.registers[start++] = word;
    }
    meter.delayForStart[1048] = 1500;  // after the watchdog (1000 ms), while the heartbeat waits
    meter.delayForStart[1064] = 400;
    meter.registers[1] = 4242;
    meter.exceptions[1] = 1;  // the first heartbeat fails
    meter.registers[300] = 0x4142;
    meter.delayForStart[300] = 300;
    ScriptedWindow s(meter);
    Window& w = *s.w;
    auto* unit = w.Find<QComboBox>("cb_unit");
    auto cells = [&] { return QStringList{w.Cell(0), w.Cell(1), w.Cell(2)}; };  // status, value, heartbeat

    // A request's kind ends with it whatever its outcome: the next block is no failed heartbeat's answer.
    w.Click("Bt_read_adr");
    EXPECT_EQ(w.Cell(1), "1.00");
    EXPECT_EQ(w.Form().PanelText(3), "Exception Reply!");
    w.Choose("cb_meas_val", 7);
    w.Click("Bt_read_adr");
    EXPECT_EQ(cells(), (QStringList{"OK", "2.00", "4242"}));

    // Values take the locale's separator; the unit read back shows its mismatch only after the button.
    // Quantity, locale, value, unit position, placeholder (nullptr: not looked at).
    const std::tuple<int, QLocale, const char*, int, const char*> cases[] = {
        {0, QLocale::c(), "1.00", -1, "Unit Missmatch"}, {1, QLocale::c(), "12.35", -1, ""},
        {1, QLocale(QLocale::German, QLocale::Germany), "12,35", -1, ""},
        {2, QLocale::c(), "1.235E5", 0, nullptr}, {20, QLocale::c(), "20.00", 1, nullptr}};
    for (const auto& [q, locale, value, unitIndex, placeholder] : cases) {
        SCOPED_TRACE(value);
        QLocale::setDefault(locale);
        w.Choose("cb_meas_val", q);
        w.Click("Bt_read_adr");
        EXPECT_EQ(cells(), (QStringList{"OK", value, "4242"}));
        EXPECT_EQ(unit->currentIndex(), unitIndex);
        if (placeholder) {
            EXPECT_EQ(unit->placeholderText(), placeholder);
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

    // A block arriving while the heartbeat is outstanding is dropped; a new connection starts empty.
    w.Click("Bt_dis_connect");
    w.Click("Bt_dis_connect");
    ASSERT_EQ(w.Cell(0), "");
    w.Form().Connection().SetReceiveTimeout(4000);
    w.Choose("cb_meas_val", 3);
    w.Click("Bt_read_adr");
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().DroppedReplies() == 1 && w.Cell(2) == "4242"; }, 8s));
    EXPECT_EQ(cells(), (QStringList{"", "", "4242"}));
    EXPECT_FALSE(w.Form().IsReplyPending());
    w.Form().Connection().SetReceiveTimeout(2000);

    // A second sender waits for the outstanding request, which is answered and decoded meanwhile.
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
    EXPECT_EQ(std::pair(statusWhenSent, reportsWhenDone), std::pair(QString("OK"), reports + 1));
    const auto requests = s.peer.Requests();
    ASSERT_GE(requests.size(), sent + 3);  // the block, the identification, the heartbeat
    EXPECT_EQ(std::pair(requests[sent].bytes[1], requests[sent + 1].bytes[1]),
              (std::pair<uint8_t, uint8_t>(0x03, 0x11)));

    // The loop sets the unit's position without the mismatch text, and repeats until disconnection.
    w.Form().SetTimerIntervals(100, 1000, 150000);
    w.Choose("cb_meas_val", 20);
    w.Click("Bt_read_adr");
    ASSERT_EQ(unit->currentIndex(), 1);
    w.Choose("cb_meas_val", 0);
    const size_t atLoop = s.peer.RequestCount();
    w.Click("CheBox_loop");
    ASSERT_TRUE(w.WaitFor([&] { return unit->currentIndex() == -1; }, 3s));
    EXPECT_EQ(unit->placeholderText(), "");
    // Each cycle is a block and a heartbeat read.
    ASSERT_TRUE(w.WaitFor([&] { return s.peer.RequestCount() >= atLoop + 6; }, 5s));
    w.Click("Bt_dis_connect");
    EXPECT_EQ(std::pair(w.Find<QCheckBox>("CheBox_loop")->isChecked(), w.Find<QTimer>("Timer1")->isActive()),
              std::pair(false, false));
    const size_t atEnd = s.peer.RequestCount();
    QTest::qWait(500);  // five loop intervals: nothing more may be sent
    EXPECT_EQ(s.peer.RequestCount(), atEnd);

    // Broken replies are counted (the CRT read at connection first) and leave the grid empty.
    OpenFromMenu(w, QStringLiteral("Line Statistics"));
    auto* table = w.Find<QTableWidget>("LineStatisticsTable");
    w.Click("LineStatisticsReset");
    EXPECT_EQ(table->rowCount(), 0);
    meter.badCrcOnReads = true;
    w.Click("Bt_dis_connect");
    auto* counter = w.Find<QLineEdit>("invalid_frame_count");
    EXPECT_EQ(std::pair(counter->text(), w.Form().PanelText(1)), std::pair(QString("1"), QString("CRT")));
    w.Click("Bt_read_adr");
    EXPECT_EQ(counter->text(), "3");  // the block and the heartbeat
    EXPECT_EQ(std::pair(w.Cell(0), w.Form().PanelText(3)), std::pair(QString(), QString("Invalid Frame!")));
    w.Click("Bt_read_adr");
    EXPECT_EQ(counter->text(), "5");
    OpenFromMenu(w, QStringLiteral("Line Statistics"));
    const auto& stats = w.Form().Diagnostics().Counts().ByAddress().at(1);
    EXPECT_GE(stats.badChecksums, 2u);
    EXPECT_GE(stats.replies, 2u);
    EXPECT_EQ(stats.requests,
              stats.replies + stats.badChecksums + stats.timeouts + stats.exceptions + stats.unmatched);
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 0)->text(), "1");
    EXPECT_EQ(table->item(0, 4)->text().toUInt(), stats.badChecksums);
    EXPECT_TRUE(w.Find<QLabel>("LineStatisticsHint")->text().contains("parity"));
    meter.badCrcOnReads = false;
    w.Click("Bt_dis_connect");
    w.Click("Bt_dis_connect");
    EXPECT_EQ(counter->text(), "0");  // every connection starts the count again

    // A meter that stops answering: the identification's failure comes after the watchdog ended the wait.
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

TEST(WindowMeasured, IdentificationReportAndSubsetWindowFollowTheMarker)
{
    // The ARM marker: the subset group, its height and the status panels halved. The texts are
    // identificationReport's (Identification.ReportsByMarkerAndStatus); an empty one still shows.
    const std::pair<std::vector<uint8_t>, bool> cases[] = {
        {VortanIdentification("ARM"), true}, {VortanIdentification("XYZ"), false},
        {VortanIdentification("ARM", "ACME FLOW 7"), true}, {VortanIdentification("ARM", ""), true}};
    for (const auto& [data, subset] : cases) {
        const auto text = QString::fromStdString(app::identificationReport(5, data, data.size()));
        SCOPED_TRACE(text.toStdString());
        FakeMeter meter;
        meter.identification = data;
        ScriptedWindow s(meter, {"-subset"});
        Window& w = *s.w;
        for (int report = 1; report <= 2; ++report) {  // at connection, then by the button: nothing more changes
            ASSERT_EQ(w.CountCaption("Device Identification Report"), report);
            EXPECT_EQ(w.Messages().back().text, text);
            EXPECT_EQ(w.Messages().back().buttons, IDialogService::Ok);
            EXPECT_EQ(!w.Find("GroupSubset")->isHidden(), subset);
            EXPECT_TRUE(w.Find("SubsetView")->isHidden());
            EXPECT_EQ(w.Form().size(), QSize(subset ? 520 : 760, 766));
            EXPECT_EQ(std::pair(w.Form().PanelWidth(2), w.Form().PanelWidth(3)),
                      subset ? std::pair(330, 330) : std::pair(0, 660));
            if (report == 1)
                w.Click("Bt_report_slave_id");
        }
    }
}

}  // namespace
}  // namespace windowtest
