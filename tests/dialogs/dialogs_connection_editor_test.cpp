// The expert connection editor on real connection objects (a pty where the connection is
// opened), and through the main window in "-expert" mode with its settings file.

#include "ModbusConnectionEditor.h"

#include "FakeSysfs.h"

#include "MainThread.h"
#include "ModbusConnection.h"
#include "ModbusError.h"
#include "PtyPair.h"
#include "WindowHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace modbus;

class ConnectionEditor : public ::testing::Test {
protected:
    void SetUp() override { windowtest::EnsureApplication(); }

    template <typename W = QWidget>
    static W* Find(QDialog& d, const QString& name)
    {
        W* w = d.findChild<W*>(name);
        if (!w)
            throw std::runtime_error(name.toStdString());
        return w;
    }
    static void Pick(QDialog& d, const char* group, int index)
    {
        Find<QRadioButton>(d, QString::fromLatin1(group) + QStringLiteral("Item%1").arg(index))->click();
    }
    static void Type(QDialog& d, const char* edit, const QString& text) { Find<QLineEdit>(d, edit)->setText(text); }
    static void Baud(QDialog& d, int index)
    {
        auto* box = Find<QComboBox>(d, "BaudRateComboBox");
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
    static void Ok(QDialog& d) { Find<QPushButton>(d, "OKButton")->click(); }

    EventQueue events;
    TModbusConnection connection{events};
    std::vector<QString> messages;
};

// The editor offers the ports as the settings dialog does, and still takes a typed name.
TEST_F(ConnectionEditor, PortsByDescriptionOrTypedName)
{
    testing_support::FakeSysfs tree;
    SetDefaultSerialPortRoots(tree.Roots());
    connection.SetPort("ttyUSB0");
    Edit([&](QDialog& d) {
        auto* box = Find<QComboBox>(d, "PortComboBox");
        EXPECT_EQ(box->currentText(), "FTDI USB-RS485 Cable FT4ABCDE (ttyUSB0)");
        Ok(d);
    });
    EXPECT_EQ(connection.Port(), testing_support::FakeSysfs::FtdiById);
    Edit([&](QDialog& d) {
        Find<QComboBox>(d, "PortComboBox")->setCurrentText("/dev/ttyTYPED");
        Ok(d);
    });
    EXPECT_EQ(connection.Port(), "/dev/ttyTYPED");
    SetDefaultSerialPortRoots({});
}

TEST_F(ConnectionEditor, CopiesInAndShowsTheDependentStates)
{
    connection.SetPort("/tmp/editor-port");
    connection.SetCustomBaudRate(31250);
    connection.SetTransmissionMode(tmASCII);
    connection.SetFlowControl(fcRtsCts);
    connection.SetConnectionMode(cmServer);
    connection.SetMaxRetries(3);
    Edit([&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Modbus Settings");
        EXPECT_EQ(Find<QComboBox>(d, "PortComboBox")->currentText(), "/tmp/editor-port");
        EXPECT_EQ(Find<QComboBox>(d, "BaudRateComboBox")->currentText(), "Custom");
        EXPECT_TRUE(Find(d, "CustomBaudRateEdit")->isVisible());
        EXPECT_EQ(Find<QLineEdit>(d, "CustomBaudRateEdit")->text(), "31250");
        EXPECT_EQ(Find<QLabel>(d, "Label3")->text(), "Silent &Interval [milliseconds]:");
        EXPECT_TRUE(Find(d, "DTREnabledCheckBox")->isEnabled());
        EXPECT_FALSE(Find(d, "RTSEnabledCheckBox")->isEnabled());
        for (const char* e : {"RefetchDelayEdit", "ReceiveTimeoutEdit", "MaxRetriesEdit", "TurnaroundDelayEdit"})
            EXPECT_FALSE(Find(d, e)->isEnabled()) << e;
        EXPECT_TRUE(Find(d, "SendTimeoutEdit")->isEnabled());
        EXPECT_EQ(Find<QLineEdit>(d, "MaxRetriesEdit")->text(), "3");
        EXPECT_EQ(Find<QTabWidget>(d, "PageControl")->currentIndex(), 0);

        struct Step {
            const char* group;
            int index;
            const char* widget;
            bool enabled;
        } steps[] = {{"FlowControlRadioGroup", 3, "DTREnabledCheckBox", false},
                     {"FlowControlRadioGroup", 3, "RTSEnabledCheckBox", true},
                     {"FlowControlRadioGroup", 1, "RTSEnabledCheckBox", false},
                     {"FlowControlRadioGroup", 0, "RTSEnabledCheckBox", true},
                     {"ConnectionModeRadioGroup", 0, "MaxRetriesEdit", true},
                     {"ConnectionModeRadioGroup", 0, "RefetchDelayLabel", true},
                     {"ConnectionModeRadioGroup", 1, "TurnaroundDelayEdit", false}};
        for (const auto& s : steps) {
            Pick(d, s.group, s.index);
            EXPECT_EQ(Find(d, s.widget)->isEnabled(), s.enabled) << s.group << s.index << s.widget;
        }
        Pick(d, "TransmissionModeRadioGroup", 0);
        EXPECT_EQ(Find<QLabel>(d, "Label3")->text(), "Silent &Interval [character times]:");
        Baud(d, 6);
        EXPECT_FALSE(Find(d, "CustomBaudRateEdit")->isVisible());
        // The defaults buttons belong to the serial page.
        Find<QTabWidget>(d, "PageControl")->setCurrentIndex(1);
        EXPECT_FALSE(Find(d, "RTUDefaultsButton")->isEnabled());
        EXPECT_FALSE(Find(d, "ASCIIDefaultsButton")->isEnabled());
        Find<QTabWidget>(d, "PageControl")->setCurrentIndex(0);
        EXPECT_TRUE(Find(d, "RTUDefaultsButton")->isEnabled());
    });
}

TEST_F(ConnectionEditor, EntryErrorsKeepTheDialogOpenAndWriteNothing)
{
    struct Case {
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
    };
    for (const auto& c : cases) {
        messages.clear();
        connection.SetConnectionMode(cmClient);
        connection.SetBaudRate(br19200);
        connection.SetMaxRetries(2);
        connection.SetReceiveTimeout(1000);
        QString focused;
        bool stayedOpen = false;
        const bool written = Edit([&](QDialog& d) {
            Baud(d, 15);
            Pick(d, "ConnectionModeRadioGroup", c.server ? 1 : 0);
            Type(d, c.edit, c.text);
            Type(d, "ReceiveTimeoutEdit", c.edit == std::string("ReceiveTimeoutEdit") ? c.text : "777");
            Ok(d);
            stayedOpen = d.result() != QDialog::Accepted;
            focused = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
        });
        SCOPED_TRACE(c.edit);
        if (c.message.isEmpty()) {
            EXPECT_TRUE(written);
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(connection.MaxRetries(), 2u);
            EXPECT_EQ(connection.ReceiveTimeout(), 777u);
        } else {
            EXPECT_TRUE(stayedOpen);
            EXPECT_FALSE(written);
            EXPECT_EQ(messages, std::vector<QString>({c.message}));
            EXPECT_EQ(connection.ReceiveTimeout(), 1000u);
            EXPECT_EQ(connection.BaudRate(), br19200);
            // The edit takes the focus where it can: on the page that is shown.
            if (c.message.startsWith("Wert") && c.edit == std::string("CustomBaudRateEdit")) {
                EXPECT_EQ(focused, QString::fromLatin1(c.edit));
            }
        }
    }
}

TEST_F(ConnectionEditor, BadValueKeepsThePage)
{
    Edit([&](QDialog& d) {
        Type(d, "SilentIntervalEdit", "abc");
        Find<QTabWidget>(d, "PageControl")->setCurrentIndex(1);
        EXPECT_EQ(Find<QTabWidget>(d, "PageControl")->currentIndex(), 0);
        Type(d, "SilentIntervalEdit", "8");
        Find<QTabWidget>(d, "PageControl")->setCurrentIndex(1);
        EXPECT_EQ(Find<QTabWidget>(d, "PageControl")->currentIndex(), 1);
    });
    EXPECT_EQ(messages, std::vector<QString>({"'abc' ist kein gültiger Integerwert"}));
}

TEST_F(ConnectionEditor, DefaultsButtonsThenCancelChangeNothingThenOkWritesThem)
{
    connection.SetDataBits(db8);
    connection.SetParity(psNone);
    connection.SetStopBits(sb2);
    connection.SetSilentInterval(40);
    EXPECT_FALSE(Edit([&](QDialog& d) {
        Find<QPushButton>(d, "ASCIIDefaultsButton")->click();
        EXPECT_EQ(Find<QLineEdit>(d, "SilentIntervalEdit")->text(), "1000");
        EXPECT_EQ(Find<QLabel>(d, "Label3")->text(), "Silent &Interval [milliseconds]:");
        Find<QPushButton>(d, "CancelButton")->click();
    }));
    EXPECT_EQ(connection.Parity(), psNone);
    EXPECT_EQ(connection.StopBits(), sb2);
    EXPECT_EQ(connection.TransmissionMode(), tmRTU);
    EXPECT_EQ(connection.SilentInterval(), 40u);

    EXPECT_TRUE(Edit([&](QDialog& d) {
        Find<QPushButton>(d, "ASCIIDefaultsButton")->click();
        Ok(d);
    }));
    EXPECT_EQ(connection.DataBits(), db7);
    EXPECT_EQ(connection.Parity(), psEven);
    EXPECT_EQ(connection.StopBits(), sb1);
    EXPECT_EQ(connection.TransmissionMode(), tmASCII);
    EXPECT_EQ(connection.SilentInterval(), 1000u);
    EXPECT_TRUE(Edit([&](QDialog& d) {
        Find<QPushButton>(d, "RTUDefaultsButton")->click();
        Ok(d);
    }));
    EXPECT_EQ(connection.DataBits(), db8);
    EXPECT_EQ(connection.TransmissionMode(), tmRTU);
    EXPECT_EQ(connection.SilentInterval(), 4u);
}

TEST_F(ConnectionEditor, OnlySettingsOfAClosedPortReopenAnActiveConnection)
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
    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(connection.Active());
    EXPECT_EQ(a.SlaveBaud(), 9600u);

    EXPECT_TRUE(Edit([&](QDialog& d) {
        Find<QComboBox>(d, "PortComboBox")->setCurrentText(QString::fromStdString(b.SlavePath()));
        Find<QLineEdit>(d, "MaxRetriesEdit")->setText("4");
        Ok(d);
    }));
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(connection.Active());
    EXPECT_EQ(connection.Port(), b.SlavePath());
    EXPECT_EQ(connection.MaxRetries(), 4u);
    EXPECT_EQ(b.SlaveBaud(), 9600u);
    connection.Close();
}

TEST_F(ConnectionEditor, CustomRateZeroIsRefusedWhenThePortOpens)
{
    testing_support::PtyPair pty;
    connection.SetPort(pty.SlavePath());
    EXPECT_TRUE(Edit([&](QDialog& d) {
        Baud(d, 15);
        Type(d, "CustomBaudRateEdit", "0");
        Ok(d);
    }));
    EXPECT_EQ(connection.BaudRate(), brCustom);
    EXPECT_EQ(connection.CustomBaudRate(), 0u);
    const uint32_t before = pty.SlaveBaud();
    try {
        connection.Open();
        FAIL() << "opened at 0 baud";
    } catch (const EModbusError& e) {
        EXPECT_STREQ(e.what(), "Failed to update device control block");
    }
    EXPECT_FALSE(connection.Active());
    EXPECT_EQ(pty.SlaveBaud(), before);
}

// "-expert": the main window's "Modbus Settings" opens this editor, and the settings file keeps
// what it set for the next start.
TEST(ExpertSettings, EditorValuesSurviveARestart)
{
    windowtest::TempConfig config;
    {
        windowtest::Window w({"-expert"});
        w.dialogs.onDialog = [&](QDialog& d) {
            EXPECT_EQ(d.windowTitle(), "Modbus Settings");
            auto* form = dynamic_cast<TModbusConnectionEditForm*>(&d);
            if (!form)
                return static_cast<int>(QDialog::Rejected);
            d.findChild<QComboBox*>("PortComboBox")->setCurrentText("/dev/ttyEXPERT");
            d.findChild<QRadioButton*>("StopBitsRadioGroupItem1")->click();
            d.findChild<QRadioButton*>("FlowControlRadioGroupItem2")->click();
            d.findChild<QRadioButton*>("TransmissionModeRadioGroupItem1")->click();
            d.findChild<QLineEdit*>("SilentIntervalEdit")->setText("250");
            d.findChild<QLineEdit*>("MaxRetriesEdit")->setText("3");
            d.findChild<QLineEdit*>("ReceiveTimeoutEdit")->setText("750");
            d.findChild<QLineEdit*>("TurnaroundDelayEdit")->setText("120");
            d.findChild<QPushButton*>("OKButton")->click();
            return d.result();
        };
        w.Click("Bt_mb_settings");
        EXPECT_EQ(w.Form().Connection().MaxRetries(), 3u);
    }
    const std::string ini = config.ReadIni();
    for (const char* line : {"ComPort=/dev/ttyEXPERT", "StopBits=1", "FlowControl=2", "TransmissionMode=1",
                             "SilentInterval=250", "MaxRetries=3", "ReceiveTimeout=750", "TurnaroundDelay=120"})
        EXPECT_NE(ini.find(line), std::string::npos) << line;
    windowtest::Window again({"-expert"});
    const auto& c = again.Form().Connection();
    EXPECT_EQ(c.Port(), "/dev/ttyEXPERT");
    EXPECT_EQ(c.StopBits(), sb2);
    EXPECT_EQ(c.FlowControl(), fcRtsCts);
    EXPECT_EQ(c.TransmissionMode(), tmASCII);
    EXPECT_EQ(c.MaxRetries(), 3u);
    EXPECT_EQ(c.ReceiveTimeout(), 750u);
    EXPECT_EQ(c.TurnaroundDelay(), 120u);
}

}  // namespace
