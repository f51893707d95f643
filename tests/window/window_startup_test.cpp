// Start-up: the settings file, the switches and the window they give.

#include "WindowHarness.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <filesystem>

namespace windowtest {
namespace {

TEST(WindowStartup, FirstStartWritesTheFormsValuesAndOpensInRtu)
{
    TempConfig config;
    {
        Window w;
        EXPECT_EQ(w.Form().windowTitle(), "Tarnwick - Version 1.14");
        EXPECT_EQ(w.Form().size(), QSize(520, 550));
        EXPECT_TRUE(w.Find<QRadioButton>("Opt_RTU")->isChecked());
        EXPECT_FALSE(w.Find<QRadioButton>("Opt_TCPIP")->isChecked());
        EXPECT_TRUE(w.Find("IPAdresse")->isHidden());
        EXPECT_EQ(w.Form().SettingsPath().toStdString(), config.IniPath().string());
        ASSERT_TRUE(std::filesystem::exists(config.IniPath()));
        EXPECT_TRUE(w.Messages().empty());
        // Written at first start, before anything else changed.
        const std::string ini = config.ReadIni();
        EXPECT_NE(ini.find("[Modbus Settings]\r\n"), std::string::npos);
        EXPECT_NE(ini.find("SlaveAddress=0\r\n"), std::string::npos);
        EXPECT_NE(ini.find("IP Address=192.168.3.98\r\n"), std::string::npos);
        EXPECT_NE(ini.find("Port=502\r\n"), std::string::npos);
        EXPECT_NE(ini.find("Start mode=0\r\n"), std::string::npos);
        EXPECT_NE(ini.find("ReceiveTimeout=2000\r\n"), std::string::npos);
        EXPECT_NE(ini.find("RefetchDelay=15\r\n"), std::string::npos);
        EXPECT_NE(ini.find("EchoQueryBeforeReply=1\r\n"), std::string::npos);

        // The grid, the lists and the calculator as start-up leaves them.
        EXPECT_EQ(w.Find<QComboBox>("cb_meas_val")->count(), 46);
        EXPECT_EQ(w.Find<QComboBox>("cb_meas_val2")->count(), 46);
        EXPECT_EQ(w.Find<QComboBox>("cb_meas_val")->itemText(36), "Abs. Flow Velocity Path Diff");
        EXPECT_EQ(w.Find<QComboBox>("cb_unit")->count(), 2);
        EXPECT_EQ(w.Find<QComboBox>("cb_unit")->itemText(0), QString::fromUtf8("\u00B0C"));
        EXPECT_FALSE(w.Find("cb_unit")->isEnabled());
        for (const char* label : {"Label_channel", "Label_meas_val", "Label_meas_val_spec", "Label_result", "Label_datatype"})
            EXPECT_FALSE(w.Find<QLabel>(label)->text().isEmpty()) << label;
        EXPECT_EQ(w.Find<QLabel>("Label_result")->text(), "1000");
        EXPECT_EQ(w.Find<QLabel>("Label_datatype")->text(), "Int16");
        EXPECT_EQ(w.Find<QPushButton>("Button_activate_crt")->text(), "Activate\n\rCRT");
        EXPECT_EQ(w.Find<QPushButton>("Button_deactivate_crt")->text(), "Deactivate\n\rCRT");
        EXPECT_EQ(w.Find<QLineEdit>("invalid_frame_count")->text(), "Invaild Frame Count");
        EXPECT_EQ(w.Form().PanelText(0), "Disconnected");
        EXPECT_EQ(w.Form().PanelWidth(2), 0);
        EXPECT_EQ(w.Form().PanelWidth(3), 660);

        // Values at the end of the run are what the next run finds.
        w.Find<QSpinBox>("SpEd_slave_adr")->setValue(17);
        w.Find<QLineEdit>("IPAdresse")->setText("127.0.0.1");
        w.Find<QLineEdit>("Port")->setText("1502");
        w.Click("Opt_TCPIP");
    }
    const std::string ini = config.ReadIni();
    EXPECT_NE(ini.find("SlaveAddress=17\r\n"), std::string::npos);
    EXPECT_NE(ini.find("IP Address=127.0.0.1\r\n"), std::string::npos);
    EXPECT_NE(ini.find("Port=1502\r\n"), std::string::npos);
    EXPECT_NE(ini.find("Start mode=1\r\n"), std::string::npos);
}

struct SwitchCase {
    QStringList args;
    int height;
    bool swap, totalizer, calibr, subset, expert;
};

TEST(WindowStartup, SwitchesSetSizesGroupsAndModes)
{
    const SwitchCase cases[] = {
        {{}, 550, false, false, false, false, false},
        {{"-swap"}, 766, true, false, false, false, false},
        {{"-totalizer_rst"}, 766, false, true, false, false, false},
        {{"-calibr_factor"}, 766, false, false, true, false, false},
        {{"-calibr_factor", "-swap"}, 766, true, false, true, false, false},
        {{"-subset"}, 766, false, false, false, true, false},
        {{"-expert"}, 550, false, false, false, false, true},
        // Exact and case-sensitive: anything else is ignored.
        {{"-EXPERT"}, 550, false, false, false, false, false},
        {{"-Swap", "expert", "--subset", "-swap2"}, 550, false, false, false, false, false},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        TempConfig config;
        Window w(c.args);
        EXPECT_EQ(w.Form().size(), QSize(520, c.height));
        EXPECT_EQ(!w.Find("GroupBox_swap")->isHidden(), c.swap);
        EXPECT_EQ(!w.Find("GroupBox_auto_totalizer_reset")->isHidden(), c.totalizer);
        EXPECT_EQ(!w.Find("GroupBox_calibr_factor")->isHidden(), c.calibr);
        EXPECT_EQ(!w.Find("GroupSubset")->isHidden(), c.subset);
        EXPECT_TRUE(w.Find("SubsetView")->isHidden());
        EXPECT_EQ(w.Form().IsSubsetMode(), c.subset);
        EXPECT_EQ(w.Form().IsExpertMode(), c.expert);
        EXPECT_EQ(w.Form().PanelWidth(2), c.subset ? 330 : 0);
        EXPECT_EQ(w.Form().PanelWidth(3), c.subset ? 330 : 660);
        for (const char* box : {"ComboBox_byte_order_16bit_vars", "ComboBox_byte_word_order_long_ints",
                                "ComboBox_byte_word_order_floats"})
            EXPECT_EQ(w.Find<QComboBox>(box)->currentIndex(), c.swap ? 0 : -1) << box;
    }
}

TEST(WindowStartup, StartModeTcpInStandardAndExpertMode)
{
    for (const bool expert : {false, true}) {
        SCOPED_TRACE(expert ? "expert" : "standard");
        TempConfig config;
        config.WriteIni("[Modbus Settings]\r\nSlaveAddress=3\r\n[Modbus TCP]\r\nIP Address=10.0.0.7\r\n"
                        "Port=1502\r\n[Modbus TCP/RTU]\r\nStart mode=1\r\n");
        Window w(expert ? QStringList{"-expert"} : QStringList{});
        EXPECT_TRUE(w.Find<QRadioButton>("Opt_TCPIP")->isChecked());
        EXPECT_FALSE(w.Find<QRadioButton>("Opt_RTU")->isChecked());
        EXPECT_FALSE(w.Find("IPAdresse")->isHidden());
        EXPECT_FALSE(w.Find("Port")->isHidden());
        EXPECT_EQ(w.Find<QLineEdit>("IPAdresse")->text(), "10.0.0.7");
        EXPECT_EQ(w.Find<QLineEdit>("Port")->text(), "1502");
        EXPECT_EQ(w.Find<QSpinBox>("SpEd_slave_adr")->value(), 3);
        // Only the expert form of reading shows the labels and locks the serial buttons.
        EXPECT_EQ(!w.Find("Label146")->isHidden(), expert);
        EXPECT_EQ(!w.Find("Label147")->isHidden(), expert);
        EXPECT_EQ(w.Find("Bt_mb_settings")->isEnabled(), !expert);
        EXPECT_EQ(w.Find("Bt_veri_mb_para")->isEnabled(), !expert);
    }
}

TEST(WindowStartup, TransportButtonsSwitchTheTcpEditsAndTheSerialButtons)
{
    TempConfig config;
    Window w;
    const char* tcpControls[] = {"Label146", "Label147", "IPAdresse", "Port"};
    w.Click("Opt_TCPIP");
    EXPECT_TRUE(w.Find<QRadioButton>("Opt_TCPIP")->isChecked());
    EXPECT_FALSE(w.Find<QRadioButton>("Opt_RTU")->isChecked());
    for (const char* name : tcpControls)
        EXPECT_FALSE(w.Find(name)->isHidden()) << name;
    EXPECT_FALSE(w.Find("Bt_mb_settings")->isEnabled());
    EXPECT_FALSE(w.Find("Bt_veri_mb_para")->isEnabled());
    // Clicking the checked one keeps it checked.
    w.Click("Opt_TCPIP");
    EXPECT_TRUE(w.Find<QRadioButton>("Opt_TCPIP")->isChecked());
    w.Click("Opt_RTU");
    EXPECT_TRUE(w.Find<QRadioButton>("Opt_RTU")->isChecked());
    EXPECT_FALSE(w.Find<QRadioButton>("Opt_TCPIP")->isChecked());
    for (const char* name : tcpControls)
        EXPECT_TRUE(w.Find(name)->isHidden()) << name;
    EXPECT_TRUE(w.Find("Bt_mb_settings")->isEnabled());
    EXPECT_TRUE(w.Find("Bt_veri_mb_para")->isEnabled());
}

TEST(WindowStartup, ExpertReadingKeepsPropertiesWhoseKeysAreMissing)
{
    const std::string ini = "[Modbus Settings]\r\nComPort=/dev/ttyUSB7\r\nBaudRate=6\r\nParity=1\r\n"
                            "ReceiveTimeout=3500\r\nMaxRetries=3\r\nTransmissionMode=1\r\n";
    {
        TempConfig config;
        config.WriteIni(ini);
        Window w({"-expert"});
        const modbus::TModbusConnection& c = w.Form().Connection();
        EXPECT_EQ(c.Port(), "/dev/ttyUSB7");
        EXPECT_EQ(c.BaudRate(), modbus::br9600);
        EXPECT_EQ(c.Parity(), modbus::psOdd);
        EXPECT_EQ(c.ReceiveTimeout(), 3500u);
        EXPECT_EQ(c.MaxRetries(), 3u);
        EXPECT_EQ(c.TransmissionMode(), modbus::tmASCII);
        EXPECT_EQ(c.StopBits(), modbus::sb1);  // no key: unchanged
        EXPECT_EQ(c.RefetchDelay(), 15u);      // no key: the form's value
        EXPECT_FALSE(c.DTREnabled());
        EXPECT_TRUE(c.EchoQueryBeforeReply());
    }
    {
        // The standard form reads port, rate, echo and parity only.
        TempConfig config;
        config.WriteIni(ini);
        Window w;
        const modbus::TModbusConnection& c = w.Form().Connection();
        EXPECT_EQ(c.Port(), "/dev/ttyUSB7");
        EXPECT_EQ(c.Parity(), modbus::psOdd);
        EXPECT_EQ(c.ReceiveTimeout(), 2000u);
        EXPECT_EQ(c.MaxRetries(), 1u);
        EXPECT_EQ(c.TransmissionMode(), modbus::tmRTU);
        EXPECT_TRUE(c.EndFrameByLength());
    }
}

TEST(WindowStartup, AJunkLineIsSkippedAndTheRestOfTheFileIsRead)
{
    TempConfig config;
    config.WriteIni(std::string("[Modbus Settings]\r\nSlaveAddress=9\r\n\x01\x02garbage\0\r\n", 44));
    Window w;
    ASSERT_EQ(w.CountCaption("Settings"), 1);
    EXPECT_EQ(w.Messages().front().icon, tarnwick::IDialogService::Icon::Warning);
    // A copy keeps what the window will not write back.
    EXPECT_TRUE(std::filesystem::exists(config.IniPath().string() + ".bak"));
    EXPECT_EQ(w.Find<QSpinBox>("SpEd_slave_adr")->value(), 9);
    EXPECT_EQ(w.Find<QComboBox>("cb_meas_val")->count(), 46);
}

TEST(WindowStartup, SettingsFileThatCannotBeWrittenCostsAMessageNotTheWindow)
{
    // A folder where the file should be: neither readable as a file nor replaceable, even by root.
    TempConfig config;
    std::filesystem::create_directories(config.IniPath());
    auto w = std::make_unique<Window>();
    EXPECT_GE(w->CountCaption("Settings"), 1);
    EXPECT_EQ(w->Find<QComboBox>("cb_meas_val")->count(), 46);
    EXPECT_EQ(w->Find<QComboBox>("cb_unit")->count(), 2);
    tarnwick::RecordingDialogService& dialogs = w->dialogs;
    w->form.reset();  // the write at the end fails with a message, not a crash
    EXPECT_EQ(dialogs.shown.back().kind, tarnwick::RecordingDialogService::Shown::Kind::Exception);
    EXPECT_TRUE(std::filesystem::is_directory(config.IniPath()));
}

}  // namespace
}  // namespace windowtest
