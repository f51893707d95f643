// Connecting and disconnecting over RTU and TCP, against vortan-sim and scripted devices.

#include "WindowHarness.h"
#include "WindowState.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

namespace windowtest {
namespace {

using testing_support::PtyPair;
using testing_support::ScriptedPeer;

TEST(WindowConnection, RtuConnectIdentifiesTheMeterAndDisconnectRestoresTheControls)
{
    TempConfig config;
    Sim sim({"--pty"});
    config.WriteIni(SerialIni(sim.Pty()));
    Window w;
    ExpectControlStates(w, false, false);
    w.Find<QLineEdit>("invalid_frame_count")->setText("5");

    w.Click("Bt_dis_connect");
    {
        SCOPED_TRACE("connected");
        ExpectControlStates(w, true);
    }
    EXPECT_TRUE(w.Find("cb_unit")->isEnabled());
    EXPECT_EQ(w.Find<QLineEdit>("invalid_frame_count")->text(), "0");
    // 19200 baud gives a silent interval of 40.
    EXPECT_EQ(w.Form().Connection().SilentInterval(), 40u);
    ASSERT_EQ(w.CountCaption("Device Identification Report"), 1);
    const QString report = w.Messages().back().text;
    EXPECT_TRUE(report.startsWith("KALDOR VORTAN V3\r\n\r\nVortan serial no.:         VT23"));
    EXPECT_EQ(w.Messages().back().icon, tarnwick::IDialogService::Icon::None);

    w.Click("Bt_read_adr");
    EXPECT_EQ(w.Cell(0), "OK");
    // The last frame of the cycle: the heartbeat's reply, address + function + count + 2 + CRC.
    EXPECT_EQ(w.Form().PanelText(3), "MODBUS reply received: 7 bytes.");
    w.Click("Bt_dis_connect");
    SCOPED_TRACE("disconnected");
    ExpectControlStates(w, false);
    EXPECT_FALSE(w.Find("cb_unit")->isEnabled());
}

TEST(WindowConnection, TcpConnectProbesAndDisconnectMakesTheEditsEditableAgain)
{
    TempConfig config;
    Sim sim({"--tcp", "0"});
    config.WriteIni(TcpIni(sim.TcpHost(), sim.TcpPort()));
    Window w;
    ASSERT_FALSE(w.Find("IPAdresse")->isHidden());

    w.Click("Bt_dis_connect");
    {
        SCOPED_TRACE("connected");
        ExpectControlStates(w, true);
    }
    EXPECT_TRUE(w.Find<QTimer>("Timer4")->isActive());
    ASSERT_EQ(w.CountCaption("Device Identification Report"), 1);
    EXPECT_TRUE(w.Messages().back().text.contains("Vortan FW version:     3.12.0"));
    EXPECT_TRUE(w.Form().TcpClient().Connected());

    w.Click("Bt_read_adr");
    EXPECT_EQ(w.Cell(0), "OK");
    EXPECT_FALSE(w.Cell(2).isEmpty());

    w.Click("Bt_dis_connect");
    SCOPED_TRACE("disconnected");
    ExpectControlStates(w, false);
    EXPECT_FALSE(w.Form().TcpClient().Connected());
    EXPECT_TRUE(w.Find("IPAdresse")->isEnabled());
    EXPECT_TRUE(w.Find("Port")->isEnabled());
    // Enabled again after a disconnection, whatever the transport.
    EXPECT_TRUE(w.Find("Bt_mb_settings")->isEnabled());
}

TEST(WindowConnection, SilentMeterGivesTheErrorHintWithAndWithoutTheEchoLines)
{
    for (const bool echo : {true, false}) {
        SCOPED_TRACE(echo ? "echo removal on" : "echo removal off");
        TempConfig config;
        Sim sim({"--pty", "--device", "address=1,silent"});
        config.WriteIni(SerialIni(sim.Pty(), 7, echo));
        Window w;
        w.Click("Bt_dis_connect");
        ASSERT_TRUE(w.WaitFor([&] { return w.CountCaption("ERROR") == 1; }, 8s));
        const auto& box = w.Messages().back();
        EXPECT_EQ(box.icon, tarnwick::IDialogService::Icon::Error);
        QString expected = "Connection can't be established to Slave-Address 7 !\r\n\r\n"
                           "Please check the following settings:\r\n\r\n"
                           "Modbus Settings -> Echo Reply\r\nModbus Slave Address\r\n"
                           "Baud Rate, Stop Bit, Parity, Serial Port\r\nDid you want to use TCP/IP?";
        if (echo)
            expected += "\r\n\r\nThe Kaldor standard Brisko 485 stick needs to check\r\n[Remove Echo]!";
        EXPECT_EQ(box.text, expected);
        EXPECT_EQ(w.Form().PanelText(3), "");
        ExpectControlStates(w, false, false);
        EXPECT_EQ(w.CountCaption("Device Identification Report"), 0);
    }
}

TEST(WindowConnection, TcpServerThatRefusesTheProbeIsClosedSilently)
{
    TempConfig config;
    Sim sim({"--tcp", "0", "--device", "address=1,exception=2"});
    config.WriteIni(TcpIni(sim.TcpHost(), sim.TcpPort()));
    Window w;
    w.Click("Bt_dis_connect");
    ExpectControlStates(w, false, false);
    EXPECT_TRUE(w.Messages().empty());
    EXPECT_FALSE(w.Form().TcpClient().Connected());
    // Left running, the idle timer would reconnect on its own later.
    EXPECT_FALSE(w.Find<QTimer>("Timer4")->isActive());
}

TEST(WindowConnection, LateAnswerToTheConnectionTestStillConnects)
{
    TempConfig config;
    PtyPair pty;
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.delayMs[0x08] = 2000;  // beyond the watchdog (1000 ms), within the receive time-out
    ScriptedPeer peer(pty, meter.Responder());
    config.WriteIni(SerialIni(pty.SlavePath()));
    Window w;
    w.Form().Connection().SetReceiveTimeout(4000);  // room on both sides on a busy machine
    w.Click("Bt_dis_connect");
    EXPECT_FALSE(w.Form().IsConnected());  // the watchdog ended the wait
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().IsConnected(); }, 8s));
    ExpectControlStates(w, true);
    // Control states only: no identification follows the late answer.
    EXPECT_EQ(w.CountCaption("Device Identification Report"), 0);
    EXPECT_EQ(peer.RequestCount(), 1u);
}

TEST(WindowConnection, BadTcpPortTextOrClosedPortGivesAMessageAndStaysDisconnected)
{
    TempConfig config;
    config.WriteIni(TcpIni("127.0.0.1", 1));
    Window w;
    for (const char* text : {"50x2", "", "70000"}) {
        SCOPED_TRACE(text);
        w.Find<QLineEdit>("Port")->setText(text);
        w.Click("Bt_dis_connect");
        ASSERT_FALSE(w.Messages().empty());
        EXPECT_EQ(w.Messages().back().kind, tarnwick::RecordingDialogService::Shown::Kind::Exception);
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

TEST(WindowConnection, SerialPortThatCannotBeOpenedGivesTheReason)
{
    TempConfig config;
    config.WriteIni(SerialIni("/dev/tarnwick-no-such-port"));
    Window w;
    w.Click("Bt_dis_connect");
    ASSERT_EQ(w.Messages().size(), 1u);
    EXPECT_EQ(w.Messages().back().kind, tarnwick::RecordingDialogService::Shown::Kind::Exception);
    EXPECT_TRUE(w.Messages().back().text.contains("Could not open serial port"));
    ExpectControlStates(w, false, false);
}

TEST(WindowConnection, IdleTcpConnectionIsClosedWithAMessage)
{
    TempConfig config;
    Sim sim({"--tcp", "0"});
    config.WriteIni(TcpIni(sim.TcpHost(), sim.TcpPort()));
    Window w;
    w.Form().SetTimerIntervals(1000, 1000, 400);
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    // A reply restarts the idle time.
    w.Click("Bt_read_adr");
    ASSERT_TRUE(w.WaitFor([&] { return w.CountCaption("Disconnected") == 1; }, 5s));
    EXPECT_EQ(w.Messages().back().text, "Your connection is inactiv.\r\n\r\nPlease reconnect...");
    ExpectControlStates(w, false);
    EXPECT_FALSE(w.Form().TcpClient().Connected());
}

TEST(WindowConnection, EmptySlaveAddressBecomesOne)
{
    TempConfig config;
    Sim sim({"--pty"});
    config.WriteIni(SerialIni(sim.Pty(), 0));
    Window w;
    auto* box = w.Find<QSpinBox>("SpEd_slave_adr");
    box->clear();
    box->interpretText();
    w.Click("Bt_dis_connect");
    EXPECT_EQ(box->value(), 1);
    EXPECT_TRUE(w.Form().IsConnected());
}

}  // namespace
}  // namespace windowtest

namespace windowtest {
namespace {

TEST(WindowConnection, ModbusSettingsButtonOpensTheSerialDialogOrTheExpertEditor)
{
    TempConfig config;
    {
        Window w;
        w.dialogs.onDialog = [](QDialog& d) {
            d.findChild<QComboBox*>("ComboBox_baud_rate")->setCurrentIndex(6);
            d.findChild<QAbstractButton*>("RadioButton_parity_none")->click();
            d.findChild<QAbstractButton*>("Button1")->click();
            return d.result();
        };
        w.Click("Bt_mb_settings");
        ASSERT_EQ(w.CountCaption("Modbus Settings"), 1);
        EXPECT_EQ(w.Messages().back().answer, QDialog::Accepted);
        EXPECT_EQ(w.Form().Connection().BaudRate(), modbus::br9600);
        EXPECT_EQ(w.Form().Connection().Parity(), modbus::psNone);
    }
    // The next run starts with them.
    EXPECT_NE(config.ReadIni().find("BaudRate=6\r\n"), std::string::npos);
    EXPECT_NE(config.ReadIni().find("Parity=0\r\n"), std::string::npos);

    // Expert mode opens the full connection editor instead, under the same caption.
    Window expert({"-expert"});
    bool fullEditor = false;
    expert.dialogs.onDialog = [&](QDialog& d) {
        fullEditor = d.findChild<QWidget*>("PageControl") != nullptr;
        return static_cast<int>(QDialog::Rejected);
    };
    expert.Click("Bt_mb_settings");
    EXPECT_EQ(expert.CountCaption("Modbus Settings"), 1);
    EXPECT_TRUE(fullEditor);
}

}  // namespace
}  // namespace windowtest

namespace windowtest {
namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The simulator's pty behind a link stands for the adapter: stopping it hangs the line up as
// pulling the adapter does, and a new simulator on the same link is the adapter plugged in again.
TEST(WindowConnection, PulledSerialAdapterIsReportedOnceAndConnectWorksAfterReplug)
{
    TempConfig config;
    const std::string link = (config.Dir() / "ttyADAPTER").string();
    auto sim = std::make_unique<Sim>(std::vector<std::string>{"--link", link});
    config.WriteIni(SerialIni(link));
    Window w;
    w.Form().SetTimerIntervals(100, 1000, 150000);
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    const size_t before = w.Messages().size();
    w.Click("CheBox_loop");
    ASSERT_TRUE(w.WaitFor([&] { return w.Cell(0) == "OK"; }));
    sim.reset();
    ASSERT_TRUE(w.WaitFor([&] { return !w.Form().IsConnected(); }, 5s));
    // What follows is quiet: no further message, and the process idles.
    const double cpu0 = CpuSeconds();
    w.WaitFor([] { return false; }, 1s);
    EXPECT_LT(CpuSeconds() - cpu0, 0.15);
    ASSERT_EQ(w.Messages().size(), before + 1);
    EXPECT_EQ(w.Messages().back().caption, "ERROR");
    EXPECT_EQ(w.Messages().back().text, QString::fromStdString("the serial adapter " + link + " was disconnected"));
    ExpectControlStates(w, false);
    EXPECT_FALSE(w.Form().Connection().Active());
    EXPECT_FALSE(w.Find<QAbstractButton>("CheBox_loop")->isChecked());

    sim = std::make_unique<Sim>(std::vector<std::string>{"--link", link});
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    w.Click("Bt_read_adr");
    EXPECT_EQ(w.Cell(0), "OK");
}

TEST(WindowConnection, LostTcpConnectionIsReportedOnceAndDisconnects)
{
    TempConfig config;
    auto sim = std::make_unique<Sim>(std::vector<std::string>{"--tcp", "0"});
    config.WriteIni(TcpIni(sim->TcpHost(), sim->TcpPort()));
    Window w;
    w.Form().SetTimerIntervals(100, 1000, 150000);
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    const size_t before = w.Messages().size();
    w.Click("CheBox_loop");
    sim.reset();  // the meter goes away while the loop runs
    ASSERT_TRUE(w.WaitFor([&] { return !w.Form().IsConnected(); }, 5s));
    ASSERT_EQ(w.Messages().size(), before + 1);
    EXPECT_EQ(w.Messages().back().kind, tarnwick::RecordingDialogService::Shown::Kind::Exception);
    ExpectControlStates(w, false);
}

TEST(WindowKeyboard, MainActionsHaveKeysAndTabWalksTheWindowInReadingOrder)
{
    TempConfig config;
    Sim sim({"--pty"});
    config.WriteIni(SerialIni(sim.Pty()));
    Window w;
    w.Form().show();
    w.Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.Form()));
    struct Case {
        const char* button;
        const char* tip;
    } cases[] = {{"Bt_dis_connect", "Connect (Ctrl+K)"}, {"Bt_read_adr", "Read Register (F5)"},
                 {"CheBox_loop", "Loop (Ctrl+L)"}, {"Bt_report_slave_id", "Report Slave ID (Ctrl+I)"}};
    for (const Case& c : cases)
        EXPECT_EQ(w.Find<QAbstractButton>(c.button)->toolTip(), c.tip);
    // The keys act as the clicks do.
    QTest::keySequence(&w.Form(), QKeySequence(Qt::CTRL | Qt::Key_K));
    ASSERT_TRUE(w.WaitFor([&] { return w.Form().IsConnected(); }, 3s));
    QTest::keyClick(&w.Form(), Qt::Key_F5);
    ASSERT_TRUE(w.WaitFor([&] { return w.Cell(0) == "OK"; }, 3s));

    const char* order[] = {"Opt_RTU", "Opt_TCPIP", "SpEd_slave_adr", "Bt_mb_settings", "Bt_veri_mb_para",
                           "Bt_dis_connect", "cb_channel", "cb_meas_val", "cb_unit", "Bt_read_adr", "CheBox_loop",
                           "Bt_report_slave_id", "ViewMenu", "bt_adv_view"};
    std::vector<QString> chain;
    QWidget* start = w.Find<QWidget>("Opt_RTU");
    for (QWidget* f = start; chain.size() < 200; f = f->nextInFocusChain()) {
        if (!f->objectName().isEmpty())
            chain.push_back(f->objectName());
        if (f->nextInFocusChain() == start)
            break;
    }
    size_t at = 0;
    for (const char* name : order) {
        const auto found = std::find(chain.begin() + static_cast<long>(at), chain.end(), QString::fromLatin1(name));
        ASSERT_NE(found, chain.end()) << name << " is not where reading order puts it";
        at = static_cast<size_t>(found - chain.begin());
    }
}

}  // namespace
}  // namespace windowtest
