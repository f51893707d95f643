// Expert register access, the service functions, the CRT question and the about dialog, judged
// by what the simulated meter received (its request log), over RTU and over TCP alike.

#include "WindowHarness.h"

#include "SimLog.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace windowtest {
namespace {

using Briefs = std::vector<std::string>;
using tarnwick::IDialogService;

// A window connected to vortan-sim with the service panels shown.
struct Meter : SimWindow {
    Meter(Transport t, std::vector<std::string> device, std::deque<int> answers = {})
        : SimWindow(t, device, {"-swap", "-totalizer_rst", "-calibr_factor"}, std::move(answers))
    {
    }
    void Type(const char* edit, const QString& text) { w->Find<QLineEdit>(edit)->setText(text); }
    void Expert(int reg, const char* type, const QString& value = {})
    {
        w->Find<QSpinBox>("SpinEdit_customer_register")->setValue(reg);
        w->Find<QComboBox>("cb_datatypes")->setEditText(QString::fromLatin1(type));
        if (!value.isNull())
            Type("Edit1", value);
    }
};

class WindowService : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, WindowService, ::testing::Values(Transport::Rtu, Transport::Tcp),
                         [](const auto& info) { return Name(info.param); });

TEST_P(WindowService, ExpertReadsDecodeByTheirType)
{
    // 131073 in 500/501, 1.5 in 502/503, 0x4142 in 504.
    Meter m(GetParam(), {"set=500:1:2:0:16320:16706"});
    ASSERT_TRUE(m.w->Form().IsConnected());
    struct Case {
        int reg;
        const char* type;
        const char* shown;
        const char* sent;
    } cases[] = {
        {500, "Int32", "131073", "fc3 500+2 reply"},
        {502, "Float", "1.50", "fc3 502+2 reply"},
        {504, "Char", "B", "fc3 504+1 reply"},
        {501, "Int16", "2", "fc3 501+1 reply"},
        {9999, "Int16", "2", "fc3 9999+1 exception 2"},  // the meter refuses: Edit1 keeps its text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reg);
        m.Expert(c.reg, c.type);
        m.w->Click("Bt_read_adr_exp_mode");
        EXPECT_EQ(m.w->Find<QLineEdit>("Edit1")->text(), c.shown);
        EXPECT_EQ(m.Sent(), Briefs{c.sent});
    }
    EXPECT_EQ(m.w->Form().PanelText(3), "Exception Reply!");
}

TEST_P(WindowService, ExpertWritesSendExactlyTheTypedValue)
{
    Meter m(GetParam(), {"set=800:0:0"});
    struct Case {
        int reg;
        const char* type;
        const char* text;
        Briefs sent;
        const char* error;  // the general error dialog's text, "" for none
    } cases[] = {
        {800, "Float", "1.5", {"fc16 800+2 [0,16320] reply"}, ""},
        {800, "Float", "-2,5", {"fc16 800+2 [0,49184] reply"}, ""},
        {800, "Int32", "131073", {"fc16 800+2 [1,2] reply"}, ""},
        {800, "Int32", "4294967295", {"fc16 800+2 [65535,65535] reply"}, ""},
        {800, "Int16", "-1", {"fc6 800+1 [65535] reply"}, ""},
        {801, "Char", "A", {"fc6 801+1 [65] reply"}, ""},
        {801, "Char", "AB", {}, ""},
        {800, "Int16", "70000", {}, "'70000' is out of range (-32768 to 65535)"},
        {800, "Int32", "4294967296", {}, "'4294967296' is out of range (-2147483648 to 4294967295)"},
        {800, "Float", "nan", {}, "'nan' is not a valid floating point value"},
        {800, "Float", "1e39", {}, "'1e39' is out of range (single precision)"},
        {800, "Int16", "twelve", {}, "'twelve' is not a valid integer value"},
        {800, "Datatype", "1", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.text);
        const size_t shown = m.w->Messages().size();
        m.Expert(c.reg, c.type, QString::fromLatin1(c.text));
        m.w->Click("Bt_write_adr_exp_mode");
        EXPECT_EQ(m.Sent(), c.sent);
        if (*c.error) {
            ASSERT_EQ(m.w->Messages().size(), shown + 1);
            EXPECT_EQ(m.w->Messages().back().text, c.error);
        } else {
            EXPECT_EQ(m.w->Messages().size(), shown);
        }
    }
    // A write the meter refuses names the exception.
    m.Expert(900, "Int16", QStringLiteral("1"));
    m.w->Click("Bt_write_adr_exp_mode");
    EXPECT_EQ(m.Sent(), Briefs{"fc6 900+1 [1] exception 2"});
    EXPECT_EQ(m.w->Form().PanelText(3), "Exception Reply!  -  seIllegalDataAddress");
}

TEST_P(WindowService, RefusedBeforeAnythingIsSent)
{
    Meter m(GetParam(), {});
    struct Case {
        const char* button;
        int reg;
        const char* type;
        const char* hint;
    } cases[] = {
        {"Bt_read_adr_exp_mode", 100, "Datatype", "Choose a datatype !"},
        {"Bt_read_adr_exp_mode", 65535, "Float", "Register 65535 is the last one: Float needs two registers."},
        {"Bt_write_adr_exp_mode", 65535, "Int32", "Register 65535 is the last one: Int32 needs two registers."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hint);
        m.Expert(c.reg, c.type, QStringLiteral("1"));
        m.w->Click(c.button);
        ASSERT_FALSE(m.w->Messages().empty());
        EXPECT_EQ(m.w->Messages().back().caption, "Hint");
        EXPECT_EQ(m.w->Messages().back().text, c.hint);
        EXPECT_EQ(m.w->Messages().back().icon, IDialogService::Icon::Error);
        EXPECT_FALSE(m.w->Form().IsReplyPending());
    }
    EXPECT_EQ(m.Sent(), Briefs{});
}

TEST_P(WindowService, ServiceFunctionsWriteTheirRegisters)
{
    Meter m(GetParam(), {"set=17:7967"});
    auto swap = [&](int a, int b, int c) {
        m.w->Find<QComboBox>("ComboBox_byte_order_16bit_vars")->setCurrentIndex(a);
        m.w->Find<QComboBox>("ComboBox_byte_word_order_long_ints")->setCurrentIndex(b);
        m.w->Find<QComboBox>("ComboBox_byte_word_order_floats")->setCurrentIndex(c);
    };
    struct Case {
        std::function<void()> setup;
        const char* button;
        Briefs sent;
    } cases[] = {
        {[&] {}, "Button_read_byte_order", {"fc3 17+1 reply"}},
        // Big Endian, Word Swap, Byte Swap; the heart-beat follows the write.
        {[&] { swap(1, 2, 1); }, "Button_write_byte_order", {"fc6 17+1 [3341] reply", "fc3 1+1 reply"}},
        {[&] { swap(0, 0, 0); }, "Button_write_byte_order", {"fc6 17+1 [0] reply", "fc3 1+1 reply"}},
        {[&] {}, "Button_auto_tot_rst_enable", {"fc6 20+1 [1] reply"}},
        {[&] {}, "Button_auto_tot_rst_disable", {"fc6 20+1 [0] reply"}},
        {[&] { m.w->Find<QComboBox>("ComboBox_channel")->setCurrentIndex(2); }, "Button_send_ch_id",
         {"fc6 110+1 [67] reply"}},
        {[&] { m.Type("Edit_calibr_factor_slope", QStringLiteral("2,5")); }, "Button_send_slope",
         {"fc16 112+2 [0,16416] reply"}},
        {[&] { m.Type("Edit_calibr_factor_slope", QStringLiteral("2.5")); }, "Button_send_slope",
         {"fc16 112+2 [0,16416] reply"}},
        {[&] { m.Type("Edit_calibr_factor_offset", QStringLiteral("-1")); }, "Button_send_offset",
         {"fc6 114+1 [65535] reply"}},
        {[&] {}, "Button1", {"fc6 120+1 [1] reply"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        c.setup();
        m.w->Click(c.button);
        EXPECT_EQ(m.Sent(), c.sent);
    }
    EXPECT_EQ(m.w->Find<QLineEdit>("Edit_byte_word_order")->text(), "0x1F1F");
}

TEST_P(WindowService, CalibrationInputsThatCannotBeSent)
{
    Meter m(GetParam(), {});
    // No channel chosen: a hint without an icon.
    m.w->Click("Button_send_ch_id");
    ASSERT_FALSE(m.w->Messages().empty());
    EXPECT_EQ(m.w->Messages().back().caption, "Hint");
    EXPECT_EQ(m.w->Messages().back().text, "Choose a channel !");
    EXPECT_EQ(m.w->Messages().back().icon, IDialogService::Icon::None);
    // Pasted text meets the same filter as typed text, and the value is checked when sent.
    auto* slope = m.w->Find<QLineEdit>("Edit_calibr_factor_slope");
    slope->clear();
    QTest::keyClicks(slope, QStringLiteral("2x,5"));
    EXPECT_EQ(slope->text(), "2,5");
    slope->setText(QStringLiteral("1,2,3"));
    m.w->Click("Button_send_slope");
    EXPECT_EQ(m.w->Messages().back().text, "'1,2,3' is not a valid floating point value");
    m.Type("Edit_calibr_factor_offset", QStringLiteral("70000"));
    m.w->Click("Button_send_offset");
    EXPECT_EQ(m.w->Messages().back().text, "'70000' is out of range (-32768 to 65535)");
    EXPECT_EQ(m.Sent(), Briefs{});
}

TEST_P(WindowService, CrtQuestionAndButtons)
{
    struct Case {
        const char* name;
        std::vector<std::string> device;
        std::deque<int> answers;
        Briefs atConnect;  // after the connection test and the identification
        const char* panel1;
        const char* panel3;
        bool asked;
    } cases[] = {
        {"off", {}, {}, {"fc3 65535+1 reply"}, "CRT Disabled", nullptr, false},
        {"on, No", {"set=65535:1"}, {IDialogService::No}, {"fc3 65535+1 reply"}, "CRT Enabled", nullptr, true},
        {"on, Yes", {"set=65535:1"}, {IDialogService::Yes}, {"fc3 65535+1 reply", "fc6 65535+1 [0] reply"},
         "CRT Disabled", nullptr, true},
        {"on, Yes refused", {"set=65535:1", "refuse=65535"}, {IDialogService::Yes},
         {"fc3 65535+1 reply", "fc6 65535+1 [0] exception 4"}, "CRT Enabled",
         "Exception Reply!  -  seServerFailure", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Meter m(GetParam(), c.device, c.answers);
        ASSERT_TRUE(m.w->Form().IsConnected());
        ASSERT_GE(m.connectRequests.size(), c.atConnect.size());
        const Briefs tail(m.connectRequests.end() - static_cast<long>(c.atConnect.size()), m.connectRequests.end());
        EXPECT_EQ(tail, c.atConnect);
        EXPECT_EQ(m.w->Form().PanelText(1), c.panel1);
        if (c.panel3)
            EXPECT_EQ(m.w->Form().PanelText(3), c.panel3);
        EXPECT_EQ(m.w->CountCaption(QStringLiteral("Custom Register Table")), c.asked ? 1 : 0);
        if (c.asked) {
            for (const auto& shown : m.w->Messages())
                if (shown.caption == "Custom Register Table") {
                    EXPECT_EQ(shown.text, "CRT is enabled!  ->  Modbus Register 65535 is set to 1.\n\n\rDisable CRT?");
                    EXPECT_EQ(shown.icon, IDialogService::Icon::Warning);
                    EXPECT_EQ(shown.buttons, IDialogService::Yes | IDialogService::No);
                }
        }
    }
    Meter m(GetParam(), {});
    m.w->Click("Button_activate_crt");
    EXPECT_EQ(m.Sent(), Briefs{"fc6 65535+1 [1] reply"});
    EXPECT_EQ(m.w->Form().PanelText(1), "CRT Enabled");
    m.w->Click("Button_deactivate_crt");
    EXPECT_EQ(m.Sent(), Briefs{"fc6 65535+1 [0] reply"});
    EXPECT_EQ(m.w->Form().PanelText(1), "CRT Disabled");
}

TEST(WindowServiceRtu, MeterWithoutCrtRegisterAnswersWithAnException)
{
    Meter m(Transport::Rtu, {"nocrt"});
    ASSERT_TRUE(m.w->Form().IsConnected());
    EXPECT_EQ(m.connectRequests.back(), "fc3 65535+1 exception 2");
    EXPECT_EQ(m.w->Form().PanelText(3), "Exception Reply!");
    EXPECT_EQ(m.w->Form().PanelText(1), "CRT");
}

TEST(WindowServiceRtu, AReplyIsDecodedAsTheTypeItWasAskedFor)
{
    // Switching Int16 to Float while the one-register read is out must not decode it as two.
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.single[300] = 0x4142;
    meter.delayForStart[300] = 300;
    TempConfig config;
    testing_support::PtyPair pty;
    testing_support::ScriptedPeer peer(pty, meter.Responder());
    config.WriteIni(SerialIni(pty.SlavePath()));
    Window w;
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    w.Find<QSpinBox>("SpinEdit_customer_register")->setValue(300);
    auto* types = w.Find<QComboBox>("cb_datatypes");
    types->setEditText(QStringLiteral("Int16"));
    QTimer::singleShot(100, &w.Form(), [&] { types->setEditText(QStringLiteral("Float")); });
    w.Click("Bt_read_adr_exp_mode");
    EXPECT_EQ(w.Find<QLineEdit>("Edit1")->text(), "16706");
}

TEST(WindowServiceRtu, RegisterBoxWrapsAround)
{
    TempConfig config;
    Window w;
    auto* reg = w.Find<QSpinBox>("SpinEdit_customer_register");
    struct Case {
        const char* typed;
        int value;
    } cases[] = {{"70000", 0}, {"-1", 65535}, {"65535", 65535}, {"123", 123}, {"", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        reg->setValue(5);
        reg->setFocus();
        reg->selectAll();
        QTest::keyClick(reg, Qt::Key_Backspace);
        QTest::keyClicks(reg, QString::fromLatin1(c.typed));
        emit reg->editingFinished();
        EXPECT_EQ(reg->value(), c.value);
    }
}

TEST(WindowAbout, LogoOpensTheDialogAndItsLinks)
{
    TempConfig config;
    Window w;
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
    // By its accessible action too: the logo is a button.
    QAccessibleInterface* logo = QAccessible::queryAccessibleInterface(w.Find<QPushButton>("Image1"));
    EXPECT_EQ(logo->text(QAccessible::Name), "About Tarnwick");
    logo->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(w.WaitFor([&] { return w.CountCaption(QStringLiteral("About Tarnwick")) == 1; }, 2s));
    EXPECT_EQ(label1, "Tarnwick - (Version 1.14)");
    ASSERT_EQ(w.dialogs.openedUrls.size(), 2u);
    EXPECT_EQ(w.dialogs.openedUrls[0].toString(), "mailto:service@kaldor.example");
    EXPECT_EQ(w.dialogs.openedUrls[1].toString(), "https://www.kaldor.example");
}

TEST(WindowAccessibility, EveryControlHasANameAndActsThroughItsAction)
{
    TempConfig config;
    Sim sim({"--pty"});
    config.WriteIni(SerialIni(sim.Pty()));
    Window w({"-swap", "-totalizer_rst", "-calibr_factor", "-subset"});
    for (QWidget* c : w.Form().findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                             qobject_cast<QComboBox*>(c) || qobject_cast<QAbstractSpinBox*>(c);
        // What a user can reach: a control that takes focus.
        if (!control || c->focusPolicy() == Qt::NoFocus || !c->parentWidget() || qobject_cast<QAbstractSpinBox*>(c->parentWidget()) ||
            qobject_cast<QComboBox*>(c->parentWidget()))
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
        ASSERT_TRUE(a) << c->objectName().toStdString();
        EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty())
            << c->metaObject()->className() << " " << c->objectName().toStdString() << " in "
            << c->parentWidget()->objectName().toStdString();
    }
    // Status panel 0 shows its whole text.
    auto* panel0 = w.Find<QLabel>("StatusPanel0");
    EXPECT_GE(panel0->width(), panel0->sizeHint().width());

    // Ticking Loop as a screen reader does starts the loop; unticking stops it.
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    auto* loop = w.Find<QCheckBox>("CheBox_loop");
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(loop);
    a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(loop->isChecked());
    EXPECT_TRUE(w.Find<QTimer>("Timer1")->isActive());
    QTest::keyClick(loop, Qt::Key_Space);
    EXPECT_FALSE(loop->isChecked());
    EXPECT_FALSE(w.Find<QTimer>("Timer1")->isActive());
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
