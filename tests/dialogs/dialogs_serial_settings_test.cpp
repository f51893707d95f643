// The serial settings dialog on a real connection object: load, OK, Cancel and Defaults.

#include "MB_Serial_Parameters.h"

#include "FakeSysfs.h"
#include "MainThread.h"
#include "ModbusConnection.h"
#include "PtyPair.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace modbus;
using tarnwick::TForm_mb_settings;

class SerialSettingsDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Two virtual ports, offered as the machine's ports.
        setenv("TARNWICK_SERIAL_PORTS", "/tmp/tarnwick-port-a:/tmp/tarnwick-port-b", 1);
        if (!QApplication::instance()) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "dialogs_test";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
    }

    template <typename W>
    static W* Find(TForm_mb_settings& d, const char* name)
    {
        W* w = d.findChild<W*>(QString::fromLatin1(name));
        if (!w)
            throw std::runtime_error(name);
        return w;
    }
    static void Click(TForm_mb_settings& d, const char* name) { Find<QPushButton>(d, name)->click(); }

    EventQueue events;
    TModbusConnection connection{events};
};

TEST_F(SerialSettingsDialog, LoadsTheConnection)
{
    connection.SetPort("/tmp/tarnwick-port-b");
    connection.SetEchoQueryBeforeReply(true);
    connection.SetBaudRate(br9600);
    connection.SetParity(psOdd);
    connection.SetStopBits(sb2);
    TForm_mb_settings d(connection);
    EXPECT_EQ(d.windowTitle(), "Modbus Settings");
    EXPECT_EQ(d.size(), QSize(205, 505));
    auto* port = Find<QComboBox>(d, "ComboBox_serial_port");
    EXPECT_GE(port->count(), 2);
    EXPECT_EQ(port->currentText(), "/tmp/tarnwick-port-b");
    EXPECT_TRUE(Find<QCheckBox>(d, "CheckBox_EchoQueryBeforeReply")->isChecked());
    EXPECT_EQ(Find<QComboBox>(d, "ComboBox_baud_rate")->count(), 13);
    EXPECT_EQ(Find<QComboBox>(d, "ComboBox_baud_rate")->currentText(), "9600");
    EXPECT_TRUE(Find<QRadioButton>(d, "RadioButton_parity_odd")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(d, "RadioButton_2_stop_bits")->isChecked());
}

TEST_F(SerialSettingsDialog, OkStoresTheControlsAndTheFixedValues)
{
    connection.SetFlowControl(fcRtsCts);
    connection.SetTransmissionMode(tmASCII);
    connection.SetSilentInterval(80);
    connection.SetRTSEnabled(true);
    connection.SetDTREnabled(true);
    TForm_mb_settings d(connection);
    Find<QComboBox>(d, "ComboBox_serial_port")->setCurrentText("/tmp/tarnwick-port-a");
    Find<QCheckBox>(d, "CheckBox_EchoQueryBeforeReply")->setChecked(true);
    Find<QComboBox>(d, "ComboBox_baud_rate")->setCurrentIndex(9);
    Find<QRadioButton>(d, "RadioButton_parity_none")->setChecked(true);
    Find<QRadioButton>(d, "RadioButton_2_stop_bits")->setChecked(true);
    Click(d, "Button1");
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(connection.Port(), "/tmp/tarnwick-port-a");
    EXPECT_TRUE(connection.EchoQueryBeforeReply());
    EXPECT_EQ(connection.BaudRate(), br38400);
    EXPECT_EQ(connection.Parity(), psNone);
    EXPECT_EQ(connection.StopBits(), sb2);
    EXPECT_EQ(connection.FlowControl(), fcNone);
    EXPECT_EQ(connection.TransmissionMode(), tmRTU);
    EXPECT_EQ(connection.SilentInterval(), 4u);
    EXPECT_FALSE(connection.RTSEnabled());
    EXPECT_FALSE(connection.DTREnabled());
}

TEST_F(SerialSettingsDialog, UnknownPortAndRateStayUnselectedAndOkKeepsTheRate)
{
    connection.SetPort("/dev/ttyGONE");
    connection.SetBaudRate(br128000);
    TForm_mb_settings d(connection);
    EXPECT_EQ(Find<QComboBox>(d, "ComboBox_serial_port")->currentIndex(), -1);
    EXPECT_EQ(Find<QComboBox>(d, "ComboBox_baud_rate")->currentIndex(), -1);
    Click(d, "Button1");
    EXPECT_EQ(connection.Port(), "");
    EXPECT_EQ(connection.BaudRate(), br128000);
}

TEST_F(SerialSettingsDialog, DefaultsThenCancelChangesNothingDefaultsThenOkStoresThem)
{
    connection.SetPort("/tmp/tarnwick-port-b");
    connection.SetEchoQueryBeforeReply(true);
    connection.SetBaudRate(br115200);
    connection.SetParity(psOdd);
    connection.SetStopBits(sb2);
    {
        TForm_mb_settings d(connection);
        Click(d, "Button_defaults");
        EXPECT_EQ(Find<QComboBox>(d, "ComboBox_serial_port")->currentIndex(), 0);
        EXPECT_FALSE(Find<QCheckBox>(d, "CheckBox_EchoQueryBeforeReply")->isChecked());
        EXPECT_EQ(Find<QComboBox>(d, "ComboBox_baud_rate")->currentText(), "9600");
        EXPECT_TRUE(Find<QRadioButton>(d, "RadioButton_parity_even")->isChecked());
        EXPECT_TRUE(Find<QRadioButton>(d, "RadioButton_1_stop_bit")->isChecked());
        Click(d, "Button2");
        EXPECT_EQ(d.result(), QDialog::Rejected);
    }
    EXPECT_EQ(connection.Port(), "/tmp/tarnwick-port-b");
    EXPECT_TRUE(connection.EchoQueryBeforeReply());
    EXPECT_EQ(connection.BaudRate(), br115200);
    EXPECT_EQ(connection.Parity(), psOdd);
    EXPECT_EQ(connection.StopBits(), sb2);
    {
        TForm_mb_settings d(connection);
        Click(d, "Button_defaults");
        Click(d, "Button1");
    }
    EXPECT_FALSE(connection.EchoQueryBeforeReply());
    EXPECT_EQ(connection.BaudRate(), br9600);
    EXPECT_EQ(connection.Parity(), psEven);
    EXPECT_EQ(connection.StopBits(), sb1);
}

// A setting of an earlier version ("ttyUSB0") finds its adapter, shown by what it is; OK keeps
// the by-id name, which still names the adapter when it is plugged into another socket.
TEST_F(SerialSettingsDialog, PortsShowWhatTheyAreAndOkKeepsTheStableName)
{
    testing_support::FakeSysfs tree;
    SetDefaultSerialPortRoots(tree.Roots());
    const struct {
        std::string stored, shown, kept;
    } cases[] = {
        {"ttyUSB0", "FTDI USB-RS485 Cable FT4ABCDE (ttyUSB0)", testing_support::FakeSysfs::FtdiById},
        {testing_support::FakeSysfs::Ch340ById, "QinHeng USB2.0-Serial (ttyUSB1)",
         testing_support::FakeSysfs::Ch340ById},
        {"/dev/ttyS1", "/dev/ttyS1", "/dev/ttyS1"},
        {"/tmp/tarnwick-port-b", "/tmp/tarnwick-port-b", "/tmp/tarnwick-port-b"},
    };
    for (const auto& c : cases) {
        connection.SetPort(c.stored);
        TForm_mb_settings d(connection);
        auto* port = Find<QComboBox>(d, "ComboBox_serial_port");
        EXPECT_EQ(port->count(), 5);
        EXPECT_EQ(port->currentText().toStdString(), c.shown);
        Click(d, "Button1");
        EXPECT_EQ(connection.Port(), c.kept);
    }
    SetDefaultSerialPortRoots({});
}

TEST_F(SerialSettingsDialog, ASettingTheActiveConnectionRefusesIsShownAndTheDialogStaysOpen)
{
    testing_support::PtyPair pty;
    connection.SetPort(pty.SlavePath());
    connection.SetActive(true);
    TForm_mb_settings d(connection);
    QStringList errors;
    d.SetErrorHandler([&](const QString& text) { errors << text; });
    d.show();
    Find<QComboBox>(d, "ComboBox_baud_rate")->setCurrentIndex(9);
    Click(d, "Button1");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_FALSE(errors[0].isEmpty());
    EXPECT_TRUE(d.isVisible());
    EXPECT_NE(d.result(), QDialog::Accepted);
    Click(d, "Button2");
    EXPECT_FALSE(d.isVisible());
    connection.SetActive(false);
}

}  // namespace
