// The serial settings dialog and the expert connection editor on real connections (ptys where opened).

#include "MB_Serial_Parameters.h"
#include "ModbusConnectionEditor.h"

#include "Expect.h"
#include "FakeSysfs.h"

#include "MainThread.h"
#include "ModbusConnection.h"
#include "WindowHarness.h"

#include <QApplication>
#include <QRadioButton>
#include <QTabWidget>

#include <cstdlib>
#include <tuple>

namespace {

using namespace modbus;
using tarnwick::TForm_mb_settings;
using windowtest::FindIn;

class ConnectionEditor : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Two virtual ports, offered as the machine's ports.
        setenv("TARNWICK_SERIAL_PORTS", "/tmp/tarnwick-port-a:/tmp/tarnwick-port-b", 1);
        SetDefaultSerialPortRoots({"/nonexistent", "/nonexistent"});  // none of the machine's
        windowtest::EnsureApplication();
    }

    static void Pick(QDialog& d, const char* group, int index)
    {
        FindIn<QRadioButton>(d, QString::fromLatin1(group) + QStringLiteral("Item%1").arg(index))->click();
    }
    static void Type(QDialog& d, const char* edit, const QString& text)
    {
        FindIn<QLineEdit>(d, edit)->setText(text);
    }
    static void Baud(QDialog& d, int index)
    {
        auto* box = FindIn<QComboBox>(d, "BaudRateComboBox");
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    // Runs EditConnection with `act` playing the user; records the messages shown.
    bool Edit(const std::function<void(QDialog&)>& act)
    {
        EditorHooks hooks;
        hooks.exec = [&](QDialog& d) {
            d.show();
            d.activateWindow();
            (void)QTest::qWaitForWindowActive(&d);
            act(d);
            if (d.result() == 0 && d.isVisible())
                d.reject();
            return d.result();
        };
        hooks.showMessage = [&](QWidget*, const QString& text) { messages.push_back(text); };
        return EditConnection(connection, QStringLiteral("Modbus Settings"), hooks);
    }
    static void Ok(QDialog& d) { FindIn<QPushButton>(d, "OKButton")->click(); }
    static void Click(QDialog& d, const char* name) { FindIn<QPushButton>(d, name)->click(); }
    // port (none: "-") | echo | baud | the checked radio buttons
    static std::string Shown(QDialog& d)
    {
        auto* port = FindIn<QComboBox>(d, "ComboBox_serial_port");
        std::string s = port->currentIndex() < 0 ? "-" : port->currentText().toStdString();
        s += FindIn<QCheckBox>(d, "CheckBox_EchoQueryBeforeReply")->isChecked() ? "|1|" : "|0|";
        s += FindIn<QComboBox>(d, "ComboBox_baud_rate")->currentText().toStdString() + "|";
        for (auto* r : d.findChildren<QRadioButton*>())
            if (r->isChecked())
                s += " " + r->objectName().toStdString();
        return s;
    }

    EventQueue events;
    TModbusConnection connection{events};
    std::vector<QString> messages;
};

// Copied in, dependent states, the page kept while a value is bad, the stable port name kept by both dialogs.
TEST_F(ConnectionEditor, CopiesInShowsTheDependentStatesAndKeepsTheStablePortName)
{
    testing_support::FakeSysfs tree;
    SetDefaultSerialPortRoots(tree.Roots());
    connection.SetPort("ttyUSB0");
    connection.SetCustomBaudRate(31250);
    connection.SetTransmissionMode(tmASCII);
    connection.SetFlowControl(fcRtsCts);
    connection.SetConnectionMode(cmServer);
    connection.SetMaxRetries(3);
    EXPECT_TRUE(Edit([&](QDialog& d) {
        auto* pages = FindIn<QTabWidget>(d, "PageControl");
        Type(d, "SilentIntervalEdit", "abc");
        pages->setCurrentIndex(1);
        EXPECT_EQ(pages->currentIndex(), 0);
        Type(d, "SilentIntervalEdit", "8");
        pages->setCurrentIndex(1);
        EXPECT_EQ(pages->currentIndex(), 1);
        pages->setCurrentIndex(0);
        EXPECT_EQ(d.windowTitle(), "Modbus Settings");
        EXPECT_EQ(FindIn<QComboBox>(d, "PortComboBox")->currentText(),
                  "FTDI USB-RS485 Cable FT4ABCDE (ttyUSB0)");
        EXPECT_EQ(FindIn<QComboBox>(d, "BaudRateComboBox")->currentText(), "Custom");
        EXPECT_TRUE(FindIn(d, "CustomBaudRateEdit")->isVisible());
        EXPECT_EQ(FindIn<QLineEdit>(d, "CustomBaudRateEdit")->text(), "31250");
        EXPECT_EQ(FindIn<QLabel>(d, "Label3")->text(), "Silent &Interval [milliseconds]:");
        EXPECT_TRUE(FindIn(d, "DTREnabledCheckBox")->isEnabled());
        EXPECT_FALSE(FindIn(d, "RTSEnabledCheckBox")->isEnabled());
        for (const char* e : {"RefetchDelayEdit", "ReceiveTimeoutEdit", "MaxRetriesEdit", "TurnaroundDelayEdit"})
            EXPECT_FALSE(FindIn(d, e)->isEnabled()) << e;
        EXPECT_TRUE(FindIn(d, "SendTimeoutEdit")->isEnabled());
        EXPECT_EQ(FindIn<QLineEdit>(d, "MaxRetriesEdit")->text(), "3");

        // A radio button picked, then a control that depends on it.
        const std::tuple<const char*, int, const char*, bool> steps[] = {
            {"FlowControlRadioGroup", 3, "DTREnabledCheckBox", false},
            {"FlowControlRadioGroup", 3, "RTSEnabledCheckBox", true},
            {"FlowControlRadioGroup", 1, "RTSEnabledCheckBox", false},
            {"FlowControlRadioGroup", 0, "RTSEnabledCheckBox", true},
            {"ConnectionModeRadioGroup", 0, "MaxRetriesEdit", true},
            {"ConnectionModeRadioGroup", 0, "RefetchDelayLabel", true},
            {"ConnectionModeRadioGroup", 1, "TurnaroundDelayEdit", false}};
        for (const auto& [group, index, widget, enabled] : steps) {
            Pick(d, group, index);
            EXPECT_EQ(FindIn(d, widget)->isEnabled(), enabled) << group << index << widget;
        }
        Pick(d, "TransmissionModeRadioGroup", 0);
        EXPECT_EQ(FindIn<QLabel>(d, "Label3")->text(), "Silent &Interval [character times]:");
        Baud(d, 6);
        EXPECT_FALSE(FindIn(d, "CustomBaudRateEdit")->isVisible());
        // The defaults buttons belong to the serial page.
        pages->setCurrentIndex(1);
        EXPECT_FALSE(FindIn(d, "RTUDefaultsButton")->isEnabled());
        EXPECT_FALSE(FindIn(d, "ASCIIDefaultsButton")->isEnabled());
        pages->setCurrentIndex(0);
        EXPECT_TRUE(FindIn(d, "RTUDefaultsButton")->isEnabled());
        Ok(d);
    }));
    EXPECT_EQ(messages, std::vector<QString>({"'abc' ist kein gültiger Integerwert"}));
    EXPECT_EQ(std::tuple(connection.Port(), connection.SilentInterval()),
              std::tuple(testing_support::FakeSysfs::FtdiById, 8u));
    // The serial settings dialog shares the port box.
    connection.SetPort("ttyUSB0");
    TForm_mb_settings serial(connection);
    EXPECT_EQ(FindIn<QComboBox>(serial, "ComboBox_serial_port")->currentText(),
              "FTDI USB-RS485 Cable FT4ABCDE (ttyUSB0)");
    FindIn<QPushButton>(serial, "Button1")->click();
    EXPECT_EQ(connection.Port(), testing_support::FakeSysfs::FtdiById);
    SetDefaultSerialPortRoots({});
}

TEST_F(ConnectionEditor, EntryErrorsKeepTheDialogOpenAndWriteNothing)
{
    const struct {
        const char* edit;
        QString text;
        bool server;
        QString message;  // empty: accepted
    } cases[] = {
        {"MaxRetriesEdit", "0", false, "Wert muß zwischen 1 und 4294967295 liegen"},
        {"MaxRetriesEdit", "0", true, ""},  // server mode: neither tested nor written
        {"ReceiveTimeoutEdit", "4294967296", true, "Wert muß zwischen 0 und 4294967295 liegen"},
        {"SendTimeoutEdit", "-1", false, "Wert muß zwischen 0 und 4294967295 liegen"},
        {"SilentIntervalEdit", "x4", false, "'x4' ist kein gültiger Integerwert"},
        {"CustomBaudRateEdit", "fast", false, "'fast' ist kein gültiger Integerwert"},
        {"CustomBaudRateEdit", "4294967296", false, "Wert muß zwischen 0 und 4294967295 liegen"},
        {"RefetchDelayEdit", "", false, "'' ist kein gültiger Integerwert"},
        {"TurnaroundDelayEdit", "4294967295", false, ""},
        {"TurnaroundDelayEdit", "0", false, ""},  // no pause after a broadcast
    };
    for (const auto& c : cases) {
        messages.clear();
        connection.SetConnectionMode(cmClient);
        connection.SetBaudRate(br19200);
        connection.SetMaxRetries(2);
        connection.SetReceiveTimeout(1000);
        QString focused;
        const bool written = Edit([&](QDialog& d) {
            Baud(d, 15);
            Pick(d, "ConnectionModeRadioGroup", c.server ? 1 : 0);
            Type(d, c.edit, c.text);
            Type(d, "ReceiveTimeoutEdit", c.edit == std::string("ReceiveTimeoutEdit") ? c.text : "777");
            Ok(d);
            focused = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
        });
        SCOPED_TRACE(c.edit);
        const bool accepted = c.message.isEmpty();
        EXPECT_EQ(written, accepted);
        EXPECT_EQ(messages, accepted ? std::vector<QString>() : std::vector<QString>({c.message}));
        EXPECT_EQ(std::tuple(connection.ReceiveTimeout(), connection.BaudRate(), connection.MaxRetries()),
                  std::tuple(accepted ? 777u : 1000u, accepted ? brCustom : br19200, 2u));
        // The edit takes the focus where it can: on the page that is shown.
        if (c.message.startsWith("Wert") && c.edit == std::string("CustomBaudRateEdit")) {
            EXPECT_EQ(focused, QString::fromLatin1(c.edit));
        }
    }
}

// Rows run in turn on one connection: data bits, parity, stop bits, mode, silent interval after each.
TEST_F(ConnectionEditor, DefaultsButtonsThenCancelChangeNothingThenOkWritesThem)
{
    using Serial = std::tuple<TDataBits, TParityScheme, TStopBits, TTransmissionMode, uint32_t>;
    connection.SetDataBits(db8);
    connection.SetParity(psNone);
    connection.SetStopBits(sb2);
    connection.SetSilentInterval(40);
    const struct {
        const char* button;
        bool ok;
        Serial after;
    } rows[] = {{"ASCIIDefaultsButton", false, {db8, psNone, sb2, tmRTU, 40}},
                {"RTUDefaultsButton", true, {db8, psEven, sb1, tmRTU, 4}},
                {"ASCIIDefaultsButton", true, {db7, psEven, sb1, tmASCII, 1000}},
                {"RTUDefaultsButton", true, {db8, psEven, sb1, tmRTU, 4}}};
    for (const auto& r : rows) {
        EXPECT_EQ(Edit([&](QDialog& d) {
            FindIn<QPushButton>(d, r.button)->click();
            if (!r.ok) {
                EXPECT_EQ(FindIn<QLineEdit>(d, "SilentIntervalEdit")->text(), "1000");
                EXPECT_EQ(FindIn<QLabel>(d, "Label3")->text(), "Silent &Interval [milliseconds]:");
            }
            FindIn<QPushButton>(d, r.ok ? "OKButton" : "CancelButton")->click();
        }), r.ok);
        EXPECT_EQ(Serial(connection.DataBits(), connection.Parity(), connection.StopBits(),
                         connection.TransmissionMode(), connection.SilentInterval()), r.after) << r.button << r.ok;
    }
}

TEST_F(ConnectionEditor, OnlySettingsOfAClosedPortReopenAnActiveConnectionAndRateZeroIsRefused)
{
    testing_support::PtyPair a, b;
    connection.SetPort(a.SlavePath());
    int closes = 0;
    connection.OnBeforeClose = [&](TModbusConnection&) { ++closes; };
    connection.Open();
    EXPECT_TRUE(Edit([&](QDialog& d) {
        Baud(d, 6);
        Ok(d);
    }));
    EXPECT_EQ(std::tuple(closes, connection.Active(), a.SlaveBaud()), std::tuple(0, true, 9600u));

    EXPECT_TRUE(Edit([&](QDialog& d) {
        // A name the list lacks, taken as typed.
        FindIn<QComboBox>(d, "PortComboBox")->setCurrentText(QString::fromStdString(b.SlavePath()));
        FindIn<QLineEdit>(d, "MaxRetriesEdit")->setText("4");
        Ok(d);
    }));
    EXPECT_EQ(std::tuple(closes, connection.Active(), connection.Port()), std::tuple(1, true, b.SlavePath()));
    EXPECT_EQ(std::tuple(connection.MaxRetries(), b.SlaveBaud()), std::tuple(4u, 9600u));
    connection.Close();

    // A custom rate of zero is taken, and refused when the port opens.
    EXPECT_TRUE(Edit([&](QDialog& d) {
        Baud(d, 15);
        Type(d, "CustomBaudRateEdit", "0");
        Ok(d);
    }));
    EXPECT_EQ(std::tuple(connection.BaudRate(), connection.CustomBaudRate()), std::tuple(brCustom, 0u));
    const uint32_t before = b.SlaveBaud();
    EXPECT_EQ(testing_support::ErrorOf([&] { connection.Open(); }), "Failed to update device control block");
    EXPECT_EQ(std::tuple(connection.Active(), b.SlaveBaud()), std::tuple(false, before));
}

using SerialSettingsDialog = ConnectionEditor;

// Rows: the connection, the user's act, what the dialog shows, the button, what is stored.
TEST_F(SerialSettingsDialog, LoadDefaultsOkAndCancel)
{
    using Serial = std::tuple<std::string, bool, TBaudRate, TParityScheme, TStopBits>;
    const Serial b115{"/tmp/tarnwick-port-b", true, br115200, psOdd, sb2};
    using Act = void (*)(QDialog&);
    const Act none = [](QDialog&) {};
    const Act defaults = [](QDialog& d) { Click(d, "Button_defaults"); };
    const Act controls = [](QDialog& d) {
        FindIn<QComboBox>(d, "ComboBox_serial_port")->setCurrentText("/tmp/tarnwick-port-a");
        FindIn<QCheckBox>(d, "CheckBox_EchoQueryBeforeReply")->setChecked(true);
        FindIn<QComboBox>(d, "ComboBox_baud_rate")->setCurrentIndex(9);
        FindIn<QRadioButton>(d, "RadioButton_parity_none")->setChecked(true);
        FindIn<QRadioButton>(d, "RadioButton_2_stop_bits")->setChecked(true);
    };
    const std::string defaultsShown =
        "/tmp/tarnwick-port-a|0|9600| RadioButton_parity_even RadioButton_1_stop_bit";
    connection.SetFlowControl(fcRtsCts);
    connection.SetTransmissionMode(tmASCII);
    connection.SetSilentInterval(80);
    connection.SetRTSEnabled(true);
    connection.SetDTREnabled(true);
    const struct {
        Serial before;
        Act act;
        std::string shown;
        const char* button;
        Serial after;
    } rows[] = {
        {{"/tmp/tarnwick-port-b", true, br9600, psOdd, sb2}, none,
         "/tmp/tarnwick-port-b|1|9600| RadioButton_parity_odd RadioButton_2_stop_bits", "Button2",
         {"/tmp/tarnwick-port-b", true, br9600, psOdd, sb2}},
        {b115, defaults, defaultsShown, "Button2", b115},
        {b115, defaults, defaultsShown, "Button1", {"/tmp/tarnwick-port-a", false, br9600, psEven, sb1}},
        {{"/tmp/tarnwick-port-b", false, br1200, psEven, sb1}, controls,
         "/tmp/tarnwick-port-a|1|38400| RadioButton_parity_none RadioButton_2_stop_bits", "Button1",
         {"/tmp/tarnwick-port-a", true, br38400, psNone, sb2}},
        // A port that is gone and a rate the list lacks stay unselected; OK keeps the rate.
        {{"/dev/ttyGONE", false, br128000, psEven, sb1}, none, "-|0|| RadioButton_parity_even RadioButton_1_stop_bit",
         "Button1", {"", false, br128000, psEven, sb1}},
    };
    bool stored = false;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.shown);
        std::apply([&](auto port, auto echo, auto baud, auto parity, auto stop) {
            connection.SetPort(port);
            connection.SetEchoQueryBeforeReply(echo);
            connection.SetBaudRate(baud);
            connection.SetParity(parity);
            connection.SetStopBits(stop);
        }, r.before);
        TForm_mb_settings d(connection);
        r.act(d);
        EXPECT_EQ(Shown(d), r.shown);
        Click(d, r.button);
        const bool ok = r.button == std::string("Button1");
        EXPECT_EQ(d.result(), ok ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(Serial(connection.Port(), connection.EchoQueryBeforeReply(), connection.BaudRate(),
                         connection.Parity(), connection.StopBits()), r.after);
        // OK also stores the values this dialog has no controls for; the Cancel rows come first.
        stored |= ok;
        EXPECT_EQ(std::tuple(connection.FlowControl(), connection.TransmissionMode()),
                  stored ? std::tuple(fcNone, tmRTU) : std::tuple(fcRtsCts, tmASCII));
        EXPECT_EQ(std::tuple(connection.SilentInterval(), connection.RTSEnabled(), connection.DTREnabled()),
                  stored ? std::tuple(4u, false, false) : std::tuple(80u, true, true));
    }
}

TEST_F(SerialSettingsDialog, ARefusedSettingIsShownAndKeepsTheDialogOpen)
{
    testing_support::PtyPair pty;
    connection.SetPort(pty.SlavePath());
    connection.SetActive(true);
    TForm_mb_settings d(connection);
    QStringList errors;
    d.SetErrorHandler([&](const QString& text) { errors << text; });
    d.show();
    FindIn<QComboBox>(d, "ComboBox_baud_rate")->setCurrentIndex(9);
    Click(d, "Button1");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_FALSE(errors[0].isEmpty());
    EXPECT_TRUE(d.isVisible());
    EXPECT_NE(d.result(), QDialog::Accepted);
    Click(d, "Button2");
    EXPECT_FALSE(d.isVisible());
    connection.SetActive(false);
}

// The keys the editor sets that WindowStartup's expert reading does not: kept for the next start.
TEST(ExpertSettings, EditorValuesSurviveARestart)
{
    windowtest::TempConfig config;
    {
        windowtest::Window w({"-expert"});
        // Which dialog and caption: WindowStartup.
        w.dialogs.onDialog = [&](QDialog& d) {
            FindIn<QComboBox>(d, "PortComboBox")->setCurrentText("/dev/ttyEXPERT");
            for (const char* item : {"StopBitsRadioGroupItem1", "FlowControlRadioGroupItem2", "TransmissionModeRadioGroupItem1"})
                d.findChild<QRadioButton*>(item)->click();
            for (auto [edit, text] : {std::pair{"SilentIntervalEdit", "250"}, {"MaxRetriesEdit", "3"},
                                      {"ReceiveTimeoutEdit", "750"}, {"TurnaroundDelayEdit", "120"}})
                d.findChild<QLineEdit*>(edit)->setText(text);
            d.findChild<QPushButton*>("OKButton")->click();
            return d.result();
        };
        w.Click("Bt_mb_settings");
    }
    config.ExpectLines({"ComPort=/dev/ttyEXPERT", "StopBits=1", "FlowControl=2", "TransmissionMode=1",
                        "SilentInterval=250", "MaxRetries=3", "ReceiveTimeout=750", "TurnaroundDelay=120"});
    windowtest::Window again({"-expert"});
    const auto& c = again.Form().Connection();
    EXPECT_EQ(std::tuple(c.StopBits(), c.FlowControl(), c.TurnaroundDelay()), std::tuple(sb2, fcRtsCts, 120u));
}

}  // namespace
