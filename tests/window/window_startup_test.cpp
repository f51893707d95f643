// Start-up: the settings file, the switches, and the window they give before any meter is connected.

#include "WindowHarness.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QDialog>
#include <QRadioButton>

#include <filesystem>

namespace windowtest {
namespace {

using tarnwick::IDialogService;

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

        // The serial dialog's choices apply at once.
        w.dialogs.onDialog = [](QDialog& d) {
            d.findChild<QComboBox*>("ComboBox_baud_rate")->setCurrentIndex(6);
            d.findChild<QAbstractButton*>("RadioButton_parity_none")->click();
            d.findChild<QAbstractButton*>("Button1")->click();
            return d.result();
        };
        w.Click("Bt_mb_settings");
        ASSERT_EQ(w.CountCaption("Modbus Settings"), 1);
        EXPECT_EQ(w.Messages().back().answer, QDialog::Accepted);
        EXPECT_EQ(std::pair(w.Form().Connection().BaudRate(), w.Form().Connection().Parity()),
                  std::pair(modbus::br9600, modbus::psNone));

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
        const std::vector<QUrl> urls = {QUrl("mailto:service@kaldor.example"), QUrl("https://www.kaldor.example")};
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
    config.ExpectLines({"SlaveAddress=17", "IP Address=127.0.0.1", "Port=1502", "Start mode=1", "BaudRate=6", "Parity=0"});
}

TEST(WindowStartup, SwitchesSetSizesGroupsAndModesAndEveryControlHasAnAccessibleName)
{
    // Switches, height, expert mode and, 1 for shown, the swap, totalizer, calibration and subset groups.
    const std::tuple<QStringList, int, bool, std::string> cases[] = {
        {{}, 550, false, "0000"}, {{"-swap"}, 766, false, "1000"}, {{"-totalizer_rst"}, 766, false, "0100"},
        {{"-calibr_factor"}, 766, false, "0010"}, {{"-subset"}, 766, false, "0001"},
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
    {
        TempConfig config;
        config.WriteIni(std::string("[Modbus Settings]\r\nSlaveAddress=9\r\n\x01\x02garbage\0\r\n", 44));
        Window w;
        ASSERT_EQ(w.CountCaption("Settings"), 1);  // SettingsTest has the copy and the lines kept
        EXPECT_EQ(w.Messages().front().icon, IDialogService::Icon::Warning);
        EXPECT_EQ(w.Find<QSpinBox>("SpEd_slave_adr")->value(), 9);
    }
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

TEST(WindowMessages, LineBreaksOfTheToolsTextsShowAsLineBreaks)
{
    EXPECT_EQ(tarnwick::DisplayText(QStringLiteral("a\r\r\nb")), "a\n\nb");
    EXPECT_EQ(tarnwick::DisplayText(QStringLiteral("a\r\n\r\nb")), "a\n\nb");
    EXPECT_EQ(tarnwick::DisplayText(QStringLiteral("a\n\n\rb")), "a\n\nb");
    EXPECT_EQ(tarnwick::DisplayText(QStringLiteral("a\rb")), "a\nb");
}

}  // namespace
}  // namespace windowtest
