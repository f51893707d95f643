// Expert register access, the service functions and the CRT question, judged
// by what the simulated meter received (its request log), over RTU and over TCP alike.

#include "WindowHarness.h"

#include "SimLog.h"

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
};

class WindowService : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, WindowService, ::testing::Values(Transport::Rtu, Transport::Tcp),
                         [](const auto& info) { return Name(info.param); });

TEST_P(WindowService, OneMeterFromExpertAccessToTheCrtQuestion)
{
    // 131073 in 500/501, 1.5 in 502/503, 0x4142 in 504.
    Meter m(GetParam(), {"set=500:1:2:0:16320:16706", "set=800:0:0", "set=17:7967"});
    ASSERT_TRUE(m.w->Form().IsConnected());
    // CRT off: no question at connection.
    EXPECT_EQ(m.connectRequests.back(), "fc3 65535+1 reply");
    EXPECT_EQ(m.w->Form().PanelText(1), "CRT Disabled");

    // Expert reads decode by their type, writes send exactly the typed value, and what cannot
    // be sent is refused with a hint or the general error dialog before anything goes out.
    const char* read = "Bt_read_adr_exp_mode";
    const char* write = "Bt_write_adr_exp_mode";
    struct ExpertCase {
        const char* button;
        int reg;
        const char* type;
        const char* text;  // typed for a write; shown in Edit1 after a read
        Briefs sent;
        const char* message;  // a hint or the error dialog's text; "" for none
        const char* panel3 = nullptr;  // nullptr: not looked at
        bool hint = false;             // a refusal of the expert button itself
    } experts[] = {
        {read, 500, "Int32", "131073", {"fc3 500+2 reply"}, ""},
        {read, 502, "Float", "1.50", {"fc3 502+2 reply"}, ""},
        {read, 504, "Char", "B", {"fc3 504+1 reply"}, ""},
        {read, 501, "Int16", "2", {"fc3 501+1 reply"}, ""},
        // The meter refuses: Edit1 keeps its text.
        {read, 9999, "Int16", "2", {"fc3 9999+1 exception 2"}, "", "Exception Reply!"},
        {write, 800, "Float", "-2,5", {"fc16 800+2 [0,49184] reply"}, ""},
        {write, 800, "Int32", "131073", {"fc16 800+2 [1,2] reply"}, ""},
        {write, 800, "Int16", "-1", {"fc6 800+1 [65535] reply"}, ""},
        {write, 801, "Char", "A", {"fc6 801+1 [65] reply"}, ""},
        {write, 801, "Char", "AB", {}, ""},
        {write, 800, "Int16", "70000", {}, "'70000' is out of range (-32768 to 65535)"},
        {write, 800, "Int32", "4294967296", {}, "'4294967296' is out of range (-2147483648 to 4294967295)"},
        {write, 800, "Float", "nan", {}, "'nan' is not a valid floating point value"},
        {write, 800, "Float", "1e39", {}, "'1e39' is out of range (single precision)"},
        {write, 800, "Int16", "twelve", {}, "'twelve' is not a valid integer value"},
        {write, 800, "Datatype", "1", {}, ""},
        // A write the meter refuses names the exception.
        {write, 900, "Int16", "1", {"fc6 900+1 [1] exception 2"}, "", "Exception Reply!  -  seIllegalDataAddress"},
        {read, 100, "Datatype", "1", {}, "Choose a datatype !", nullptr, true},
        {read, 65535, "Float", "1", {}, "Register 65535 is the last one: Float needs two registers.", nullptr, true},
        {write, 65535, "Int32", "1", {}, "Register 65535 is the last one: Int32 needs two registers.", nullptr, true},
    };
    for (const ExpertCase& c : experts) {
        SCOPED_TRACE(std::string(c.button) + " " + std::to_string(c.reg) + " " + c.type + " " + c.text);
        const size_t shown = m.w->Messages().size();
        m.w->Find<QSpinBox>("SpinEdit_customer_register")->setValue(c.reg);
        m.w->Find<QComboBox>("cb_datatypes")->setEditText(QString::fromLatin1(c.type));
        if (c.button == write)
            m.Type("Edit1", c.text);
        m.w->Click(c.button);
        EXPECT_EQ(m.Sent(), c.sent);
        EXPECT_EQ(m.w->Find<QLineEdit>("Edit1")->text(), c.text);
        if (c.panel3) {
            EXPECT_EQ(m.w->Form().PanelText(3), c.panel3);
        }
        if (!*c.message) {
            EXPECT_EQ(m.w->Messages().size(), shown);
            continue;
        }
        ASSERT_EQ(m.w->Messages().size(), shown + 1);
        const auto& box = m.w->Messages().back();
        EXPECT_EQ(box.text, c.message);
        if (c.hint) {
            EXPECT_EQ(box.caption, "Hint");
            EXPECT_EQ(box.icon, IDialogService::Icon::Error);
            EXPECT_FALSE(m.w->Form().IsReplyPending());
        } else {
            EXPECT_EQ(box.kind, tarnwick::RecordingDialogService::Shown::Kind::Exception);
        }
    }

    // Calibration inputs that cannot be sent; no channel chosen: a hint without an icon.
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

    // The service functions write their registers.
    auto swap = [&](int a, int b, int c) {
        m.w->Find<QComboBox>("ComboBox_byte_order_16bit_vars")->setCurrentIndex(a);
        m.w->Find<QComboBox>("ComboBox_byte_word_order_long_ints")->setCurrentIndex(b);
        m.w->Find<QComboBox>("ComboBox_byte_word_order_floats")->setCurrentIndex(c);
    };
    struct ServiceCase {
        std::function<void()> setup;
        const char* button;
        Briefs sent;
    } services[] = {
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
    for (const ServiceCase& c : services) {
        SCOPED_TRACE(c.button);
        c.setup();
        m.w->Click(c.button);
        EXPECT_EQ(m.Sent(), c.sent);
    }
    EXPECT_EQ(m.w->Find<QLineEdit>("Edit_byte_word_order")->text(), "0x1F1F");

    // The CRT buttons, then the question at connection while CRT is on.
    m.w->Click("Button_activate_crt");
    EXPECT_EQ(m.Sent(), Briefs{"fc6 65535+1 [1] reply"});
    EXPECT_EQ(m.w->Form().PanelText(1), "CRT Enabled");
    m.w->Click("Button_deactivate_crt");
    EXPECT_EQ(m.Sent(), Briefs{"fc6 65535+1 [0] reply"});
    EXPECT_EQ(m.w->Form().PanelText(1), "CRT Disabled");
    m.w->Click("Button_activate_crt");
    m.Sent();
    struct CrtCase {
        int answer;
        Briefs atConnect;  // after the connection test and the identification
        const char* panel1;
    } crts[] = {{IDialogService::No, {"fc3 65535+1 reply"}, "CRT Enabled"},
                 {IDialogService::Yes, {"fc3 65535+1 reply", "fc6 65535+1 [0] reply"}, "CRT Disabled"}};
    for (const CrtCase& c : crts) {
        SCOPED_TRACE(c.answer);
        const int asked = m.w->CountCaption(QStringLiteral("Custom Register Table"));
        m.w->Click("Bt_dis_connect");
        m.Connect({c.answer});
        ASSERT_TRUE(m.w->Form().IsConnected());
        EXPECT_EQ(m.ConnectTail(c.atConnect.size()), c.atConnect);
        EXPECT_EQ(m.w->Form().PanelText(1), c.panel1);
        ASSERT_EQ(m.w->CountCaption(QStringLiteral("Custom Register Table")), asked + 1);
        const auto& shown = *std::find_if(m.w->Messages().rbegin(), m.w->Messages().rend(),
                                          [](const auto& s) { return s.caption == "Custom Register Table"; });
        EXPECT_EQ(shown.text, "CRT is enabled!  ->  Modbus Register 65535 is set to 1.\n\n\rDisable CRT?");
        EXPECT_EQ(shown.icon, IDialogService::Icon::Warning);
        EXPECT_EQ(shown.buttons, IDialogService::Yes | IDialogService::No);
    }
}

TEST_P(WindowService, CrtThatCannotBeReadOrCleared)
{
    struct Case {
        const char* name;
        std::vector<std::string> device;
        std::deque<int> answers;
        Briefs atConnect;
        const char* panel1;
        const char* panel3;
        int asked;
        bool rtuOnly;  // over TCP the connection's probe is this read: a refused probe
    } cases[] = {
        {"on, Yes refused", {"set=65535:1", "refuse=65535"}, {IDialogService::Yes},
         {"fc3 65535+1 reply", "fc6 65535+1 [0] exception 4"}, "CRT Enabled", "Exception Reply!  -  seServerFailure", 1, false},
        {"no CRT register", {"nocrt"}, {}, {"fc3 65535+1 exception 2"}, "CRT", "Exception Reply!", 0, true},
    };
    for (const Case& c : cases) {
        if (c.rtuOnly && GetParam() == Transport::Tcp)
            continue;
        SCOPED_TRACE(c.name);
        Meter m(GetParam(), c.device, c.answers);
        ASSERT_TRUE(m.w->Form().IsConnected());
        EXPECT_EQ(m.ConnectTail(c.atConnect.size()), c.atConnect);
        EXPECT_EQ(m.w->Form().PanelText(1), c.panel1);
        EXPECT_EQ(m.w->Form().PanelText(3), c.panel3);
        EXPECT_EQ(m.w->CountCaption(QStringLiteral("Custom Register Table")), c.asked);
    }
}

}  // namespace
}  // namespace windowtest
