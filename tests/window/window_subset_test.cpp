// Expert access, service functions and the CRT question, then the subset's pages, protection, measuring,
// process inputs and configuration file, judged by vortan-sim's request log and what it holds.

#include "WindowHarness.h"

#include "SimLog.h"

#include "Configuration.h"

#include <QDialog>
#include <QLocale>

#include <algorithm>
#include <functional>

namespace windowtest {
namespace {

using Briefs = std::vector<std::string>;
using Changed = std::vector<std::array<int, 2>>;  // address, new value
using Shown = tarnwick::RecordingDialogService::Shown;
using tarnwick::IDialogService;

std::string Read(int reg, int count) { return "fc3 " + std::to_string(reg) + "+" + std::to_string(count) + " reply"; }
// Reads of rows that follow each other from start, the registers of each; then Timer3's read.
Briefs Reads(int start, const std::vector<int>& counts, bool timer3 = true)
{
    Briefs b;
    for (int count : counts)
        b.push_back(Read(std::exchange(start, start + count), count));
    if (timer3)
        b.push_back(Read(29257, 1));
    return b;
}
std::string Write(int reg, const std::string& words, const char* result = "reply")
{
    return "fc16 " + std::to_string(reg) + "+" + std::to_string(std::count(words.begin(), words.end(), ',') + 1) +
           " [" + words + "] " + result;
}
Briefs Writes(Briefs all)
{
    std::erase_if(all, [](const std::string& b) { return !b.starts_with("fc16") && !b.starts_with("fc6"); });
    return all;
}
const QString Locked = "Protection Code Activ\r\n\r\nUse Global Settings to unlock.";

// A window in subset mode connected to vortan-sim, the subset shown.
struct SubsetMeter : SimWindow {
    // Timer3 (1.25 s in use) shortened: every operation waits for it.
    static constexpr int Timer3Ms = 250;
    SubsetMeter(Transport t, std::vector<std::string> device = {}) : SimWindow(t, device, {"-subset"})
    {
        w->Form().SetTimer3Interval(Timer3Ms);
        w->Click("SubsetView");
    }
    QString Panel(int n) { return w->Form().PanelText(n); }
    // Timer3's read after the last operation is in, and the button is usable again.
    void Settle(const char* button = "StartMeas")
    {
        auto idle = [&] { return !w->Find<QTimer>("Timer3")->isActive() && w->Find(button)->isEnabled(); };
        EXPECT_TRUE(w->WaitFor(idle, 8s)) << button;
    }
    // Clicks and settles: what the meter received (also in last); ended: panel 4 before Timer3 clears it.
    Briefs Do(const char* button)
    {
        w->Click(button);
        ended = Panel(4);
        Settle(button);
        last = sim.NewRequests();
        return simtest::Briefs(last);
    }
    // Combo boxes by their entry ("" for none selected), line edits by their text.
    void Shows(std::initializer_list<std::pair<const char*, const char*>> controls)
    {
        for (const auto& [name, text] : controls) {
            if (auto* box = qobject_cast<QComboBox*>(w->Find(name)))
                EXPECT_EQ(box->currentIndex() < 0 ? QString() : box->currentText(), text) << name;
            else
                EXPECT_EQ(Edit(name)->text(), text) << name;
        }
    }
    // One error naming the parts, or a message box of the caption with that text; no write sent.
    void Refused(const char* button, std::initializer_list<QString> parts, const QString& caption = {})
    {
        const size_t before = w->Messages().size();
        EXPECT_EQ(Writes(Do(button)), Briefs{});
        ASSERT_EQ(w->Messages().size(), before + 1);
        const Shown& shown = w->Messages().back();
        EXPECT_EQ(shown.kind, caption.isEmpty() ? Shown::Kind::Exception : Shown::Kind::MessageBox);
        EXPECT_EQ(shown.caption, caption.isEmpty() ? shown.caption : caption);
        for (const QString& part : parts)
            EXPECT_TRUE(caption.isEmpty() ? shown.text.contains(part) : shown.text == part) << shown.text.toStdString();
    }
    // The registers the meter took since the last call whose value changed.
    Changed ChangedSince(size_t& seen)
    {
        const auto all = Changes();
        Changed changed;
        for (size_t i = seen; i < all.size(); ++i)
            if (all[i][1] != all[i][2])
                changed.push_back({all[i][0], all[i][2]});
        seen = all.size();
        return changed;
    }
    QString ended;
    std::vector<simtest::SimRequest> last;
};

const QStringList servicePanels = {"-swap", "-totalizer_rst", "-calibr_factor"};

class WindowService : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, WindowService, ::testing::Values(Transport::Rtu, Transport::Tcp),
                         [](const auto& info) { return Name(info.param); });

TEST_P(WindowService, OneMeterFromExpertAccessToTheCrtQuestion)
{
    // 2 in 501, 1.5 in 502/503 (RegisterValues.EncodeAndDecode has every type both ways).
    SimWindow m(GetParam(), {"set=500:1:2:0:16320", "set=800:0:0", "set=17:7967"}, servicePanels);
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
        {read, 502, "Float", "1.50", {"fc3 502+2 reply"}, ""},
        {read, 501, "Int16", "2", {"fc3 501+1 reply"}, ""},
        // The meter refuses: Edit1 keeps its text.
        {read, 9999, "Int16", "2", {"fc3 9999+1 exception 2"}, "", "Exception Reply!"},
        {write, 800, "Float", "-2,5", {"fc16 800+2 [0,49184] reply"}, ""},
        {write, 800, "Int16", "-1", {"fc6 800+1 [65535] reply"}, ""},
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
            m.Edit("Edit1")->setText(c.text);
        m.w->Click(c.button);
        EXPECT_EQ(m.Sent(), c.sent);
        EXPECT_EQ(m.w->Find<QLineEdit>("Edit1")->text(), c.text);
        if (c.panel3) {
            EXPECT_EQ(m.w->Form().PanelText(3), c.panel3);
        }
        ASSERT_EQ(m.w->Messages().size(), shown + (*c.message ? 1 : 0));
        if (!*c.message)
            continue;
        const auto& box = m.w->Messages().back();
        EXPECT_EQ(box.text, c.message);
        if (c.hint) {
            EXPECT_EQ(std::tuple(box.caption, box.icon, m.w->Form().IsReplyPending()),
                      std::tuple(QString("Hint"), IDialogService::Icon::Error, false));
        } else {
            EXPECT_EQ(box.kind, Shown::Kind::Exception);
        }
    }

    // Calibration inputs that cannot be sent; no channel chosen: a hint without an icon.
    m.w->Click("Button_send_ch_id");
    ASSERT_FALSE(m.w->Messages().empty());
    const auto& hint = m.w->Messages().back();
    EXPECT_EQ(std::tuple(hint.caption, hint.text, hint.icon),
              std::tuple(QString("Hint"), QString("Choose a channel !"), IDialogService::Icon::None));
    // Typed text meets the input filter, and the value is checked when sent.
    auto* slope = m.w->Find<QLineEdit>("Edit_calibr_factor_slope");
    slope->clear();
    QTest::keyClicks(slope, QStringLiteral("2x,5"));
    EXPECT_EQ(slope->text(), "2,5");
    m.Edit("Edit_calibr_factor_offset")->setText("70000");
    m.w->Click("Button_send_offset");
    EXPECT_EQ(m.w->Messages().back().text, "'70000' is out of range (-32768 to 65535)");
    EXPECT_EQ(m.Sent(), Briefs{});

    // The service functions write their registers: Big Endian, Word Swap, Byte Swap; channel C; -1.
    m.w->Find<QComboBox>("ComboBox_byte_order_16bit_vars")->setCurrentIndex(1);
    m.w->Find<QComboBox>("ComboBox_byte_word_order_long_ints")->setCurrentIndex(2);
    m.w->Find<QComboBox>("ComboBox_byte_word_order_floats")->setCurrentIndex(1);
    m.w->Find<QComboBox>("ComboBox_channel")->setCurrentIndex(2);
    m.Edit("Edit_calibr_factor_offset")->setText("-1");
    const std::pair<const char*, Briefs> services[] = {
        {"Button_read_byte_order", {"fc3 17+1 reply"}},
        {"Button_write_byte_order", {"fc6 17+1 [3341] reply", "fc3 1+1 reply"}},  // the heart-beat follows
        {"Button_auto_tot_rst_enable", {"fc6 20+1 [1] reply"}},
        {"Button_auto_tot_rst_disable", {"fc6 20+1 [0] reply"}},
        {"Button_send_ch_id", {"fc6 110+1 [67] reply"}},
        {"Button_send_slope", {"fc16 112+2 [0,16416] reply"}},  // the "2,5" typed above
        {"Button_send_offset", {"fc6 114+1 [65535] reply"}},
        {"Button1", {"fc6 120+1 [1] reply"}},
    };
    for (const auto& [button, sent] : services) {
        SCOPED_TRACE(button);
        m.w->Click(button);
        EXPECT_EQ(m.Sent(), sent);
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
    // The answer; the requests after the connection test and the identification; panel 1.
    const std::tuple<int, Briefs, const char*> crts[] = {
        {IDialogService::No, {"fc3 65535+1 reply"}, "CRT Enabled"},
        {IDialogService::Yes, {"fc3 65535+1 reply", "fc6 65535+1 [0] reply"}, "CRT Disabled"}};
    for (const auto& [answer, atConnect, panel1] : crts) {
        SCOPED_TRACE(answer);
        const int asked = m.w->CountCaption(QStringLiteral("Custom Register Table"));
        m.w->Click("Bt_dis_connect");
        m.Connect({answer});
        ASSERT_TRUE(m.w->Form().IsConnected());
        EXPECT_EQ(m.ConnectTail(atConnect.size()), atConnect);
        EXPECT_EQ(m.w->Form().PanelText(1), panel1);
        ASSERT_EQ(m.w->CountCaption(QStringLiteral("Custom Register Table")), asked + 1);
        const auto& shown = *std::find_if(m.w->Messages().rbegin(), m.w->Messages().rend(),
                                          [](const auto& s) { return s.caption == "Custom Register Table"; });
        EXPECT_EQ(shown.text, "CRT is enabled!  ->  Modbus Register 65535 is set to 1.\n\n\rDisable CRT?");
        EXPECT_EQ(std::pair(shown.icon, shown.buttons),
                  std::pair(IDialogService::Icon::Warning, IDialogService::Yes | IDialogService::No));
    }
}

TEST_P(WindowService, CrtThatCannotBeReadOrCleared)
{
    {
        SCOPED_TRACE("CRT on, Yes refused");
        SimWindow m(GetParam(), {"set=65535:1", "refuse=65535"}, servicePanels, {IDialogService::Yes});
        ASSERT_TRUE(m.w->Form().IsConnected());
        EXPECT_EQ(m.ConnectTail(2), (Briefs{"fc3 65535+1 reply", "fc6 65535+1 [0] exception 4"}));
        EXPECT_EQ(m.w->Form().PanelText(1), "CRT Enabled");
        EXPECT_EQ(m.w->Form().PanelText(3), "Exception Reply!  -  seServerFailure");
        EXPECT_EQ(m.w->CountCaption(QStringLiteral("Custom Register Table")), 1);
    }
    if (GetParam() == Transport::Tcp)
        return;  // over TCP the connection's probe is this read: a refused probe
    SimWindow m(GetParam(), {"nocrt"}, servicePanels);
    ASSERT_TRUE(m.w->Form().IsConnected());
    EXPECT_EQ(m.ConnectTail(1), Briefs{"fc3 65535+1 exception 2"});
    EXPECT_EQ(m.w->Form().PanelText(1), "CRT");
    EXPECT_EQ(m.w->Form().PanelText(3), "Exception Reply!");
    EXPECT_EQ(m.w->CountCaption(QStringLiteral("Custom Register Table")), 0);
}

class WindowSubset : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, WindowSubset, ::testing::Values(Transport::Tcp, Transport::Rtu),
                         [](const auto& info) { return Name(info.param); });

struct PageCase {
    const char *show, *get, *write, *name;
    int start;                // channel A's first register; the rows follow each other
    std::vector<int> rows;    // registers per row
    std::vector<int> writes;  // registers per write, where a quantity and its unit go together
    std::function<void(SubsetMeter&)> check, change;  // channel B: after the read; a change or none
    Changed changed;
    bool overwritesPreset = false;  // so its words as read are written back first
};

const PageCase pageCases[] = {
    {"ShowPipe", "GetDataPipe", "WritePipeData", "Pipe", 24000,
     {2, 1, 2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2}, {},
     [](SubsetMeter& m) { m.Shows({{"CoatingMaterial", ""}, {"WallMaterial", ""}, {"UserRougness", "0.002"}}); },
     nullptr, {}},
    {"ShowFluid", "GetFluidData", "WriteFluidData", "Fluid", 24125, {1, 2, 2, 2, 2, 2, 2, 2, 2, 2}, {},
     [](SubsetMeter& m) { m.Shows({{"Fluid", ""}}); },
     [](SubsetMeter& m) { m.Box("Fluid")->setCurrentIndex(25); },  // Seawater
     {{25125, 10058}}, true},
    {"ShowTransducer", "GetTransducerData", "WriteTransducerData", "Transducer", 24250,
     {1, 4, 2, 2, 2, 2, 2, 2, 2, 1, 2}, {},
     [](SubsetMeter& m) {
         m.Shows({{"SelectTransducer", ""}, {"TransducerTolerance", "4294967295"}});
         // Nothing is written that cannot be, and the rest of the page keeps what it showed.
         const std::tuple<const char*, const char*, const char*> bad[] = {
             {"TransducerType", "ABCDEFGH", "Transducer Type (25251): 'ABCDEFGH' is longer than 7 characters"},
             {"TransducerSoundpathNumber", "65536", "'65536' is out of range (0 .. 65535)"},
             {"TransducerTolerance", "4294967296", "'4294967296' is out of range (-2147483648 .. 4294967295)"},
             {"TransducerDistance", "1e39", "'1e39' is out of range (single precision)"},
             {"TransducerAddCable", "abc", "'abc' is not a valid floating point value"},
         };
         for (const auto& [edit, text, message] : bad) {
             const QString shown = m.Edit(edit)->text();
             m.Edit(edit)->setText(text);
             m.Refused("WriteTransducerData", {message});
             m.Edit(edit)->setText(shown);
         }
         EXPECT_FALSE(m.Edit("TransducerPiezoAngle")->text().isEmpty());
     },
     [](SubsetMeter& m) {
         m.Edit("TransducerType")->setText("BA");
         m.Edit("TransducerTolerance")->setText("-2");
         m.Edit("TransducerPiezoAngle")->setText("1.0");
     },
     {{25251, 0x4142}, {25252, 0x2020}, {25253, 0x2020}, {25254, 0x0020}, {25256, 0x3F80}, {25265, 0xFFFE}}, true},
    {"ShowMeasure", "GetMeasuringData", "WriteMeasuringData", "Measuring", 24375,
     {1, 1, 1, 2, 2, 1, 1, 1, 1, 2, 2, 1}, {1, 2, 2, 2, 1, 1, 1, 1, 2, 2, 1}, nullptr,
     [](SubsetMeter& m) {
         m.w->Choose("MeasuringValue", 3);  // Mass Flow, its first unit
         EXPECT_EQ(m.Box("MeasuringUnit")->currentIndex(), 0);
     },
     {{25376, 3}}, true},
    {"ShowLinking", "GetLinkingData", "WriteLinkingData", "Linking", 24500, {1, 1}, {},
     [](SubsetMeter& m) { m.Shows({{"LinkingTemperature", ""}}); },
     [](SubsetMeter& m) { m.Box("LinkingTemperatureAux")->setCurrentIndex(1); },  // Fixed Value
     {{25501, 0x4356}}},
};

TEST_P(WindowSubset, ChannelPagesReadEveryRowWriteBackWhatTheyReadAndExactlyWhatChanged)
{
    // Channel B: codes no list entry stands for, roughness 0.0015, an index past its list, a type with
    // zero bytes, the largest tolerance. Channel A's wall material is refused.
    SubsetMeter m(GetParam(), {"set=25006:9", "set=25003:39846:15044", "set=25500:0x5433", "set=25125:10094",
                               "set=25250:7", "set=25251:0x4241:0:0:0", "set=25265:65535:65535", "set=25376:9",
                               "set=25012:26", "refuse=24012"});
    // A write before the page was read names the empty fields.
    m.w->Click("ShowTransducer");
    m.Refused("WriteTransducerData",
              {"Transducer to Use (24250): nothing selected", "Soundpath Number (24269): empty"});

    // Channel B: a page write sends the protection read, a write per row (or row pair), Timer3's read.
    m.w->Choose("ConfigurationSelect", 1);
    size_t seen = 0;
    for (const PageCase& p : pageCases) {
        SCOPED_TRACE(p.get);
        m.w->Click(p.show);
        EXPECT_EQ(m.Do(p.get), Reads(p.start + 1000, p.rows));
        EXPECT_EQ(m.ended, QString("Getting %1 Data Ready").arg(p.name));
        EXPECT_EQ(m.Panel(4), "");  // Timer3's read cleared it (its timing: the start and stop steps)
        if (p.check)
            p.check(m);
        for (bool changing : {false, true}) {
            if (changing ? !p.change : (p.change && !p.overwritesPreset))
                continue;
            if (changing)
                p.change(m);
            const Briefs sent = m.Do(p.write);
            const std::vector<int>& writes = p.writes.empty() ? p.rows : p.writes;
            ASSERT_GE(sent.size(), writes.size() + 2);
            EXPECT_EQ(sent.front(), Read(29254, 1));
            for (size_t i = 0, reg = p.start + 1000; i < writes.size(); reg += writes[i++])
                EXPECT_TRUE(sent[1 + i].starts_with("fc16 " + std::to_string(reg) + "+" + std::to_string(writes[i]) + " ["))
                    << sent[1 + i];
            EXPECT_EQ(sent.back(), Read(29257, 1));
            const bool linking = p.write == std::string("WriteLinkingData");
            EXPECT_EQ(m.ended, QString("Writing %1 Data Ready").arg(linking ? "Linkage" : p.name));
            EXPECT_EQ(m.ChangedSince(seen), changing ? p.changed : Changed{});
        }
    }
    EXPECT_EQ(seen, 145u);  // every register of the pages written, some twice

    // Channel A: its own registers; a failing row is named; the next holding-register reply is a value.
    m.w->Choose("ConfigurationSelect", 0);
    m.w->Click("ShowPipe");
    EXPECT_EQ(m.Do("GetDataPipe").front(), Read(24000, 2));
    EXPECT_EQ(m.last.size(), 20u);
    m.Box("WallMaterial")->setCurrentIndex(9);  // Ductile Iron
    const Briefs failed = m.Do("WritePipeData");
    EXPECT_NE(std::find(failed.begin(), failed.end(), "fc16 24012+1 [10] exception 4"), failed.end());
    EXPECT_EQ(m.ended, "Writing Pipe Data failed: Wall Material (24012)");
    m.w->Click("Bt_read_adr");
    EXPECT_EQ(simtest::Briefs(m.sim.NewRequests()).front(), Read(1000, 16));
    EXPECT_FALSE(m.w->Cell(0).isEmpty());
}

TEST_P(WindowSubset, CalculationGlobalLoopsMeasuringAndProcessInputsOnOneMeter)
{
    // Z: inputs Y and Z, 2.0e-9; loop 2 and T1 absent; process input 2 a pressure in psi, 4 on channel X.
    SubsetMeter m(GetParam(), {"set=28501:89:90", "set=28504:0x2AF3:0x3112", "set=29142:2", "set=29000:2",
                               "set=29002:0:0", "set=150:66:4:3:0:0x41CC", "set=170:88"});
    // Calculation channel Y: the meter's inputs A and B; the low cuts with 8 decimals.
    m.w->Choose("ConfigurationSelect", 2);
    EXPECT_EQ(m.Do("GetCalcChannel"), Reads(28000, {1, 1, 1, 1, 2, 2, 1, 1, 2, 2}));
    m.Shows({{"CalculationInput1", "Channel A"}, {"CalculationLowCutNegative", "-0.00500000"},
             {"CalculationLowCutPositive", "0.00500000"}, {"CalculationMeasValue", "Volumemetric Flow"}});
    EXPECT_EQ(m.Box("CalculationInput2")->itemText(3), "Channel Z");
    EXPECT_GT(m.Box("CalculationMeasUnit")->count(), 0);
    m.Box("CalculationInput1")->setCurrentIndex(2);  // Channel B
    m.Box("CalculationInput2")->setCurrentIndex(3);  // Channel Z
    const Briefs y = m.Do("WriteCalcChannel");
    ASSERT_EQ(y.size(), 11u);
    EXPECT_EQ((Briefs{y[0], y[2], y[3], y[10]}),
              (Briefs{Read(29254, 1), Write(28001, "66"), Write(28002, "90"), Read(29257, 1)}));
    EXPECT_TRUE(y[7].starts_with("fc16 28008+2 [1,0]")) << y[7];  // quantity and unit together
    EXPECT_EQ(m.ended, "Writing Channel Data Ready");
    // Channel Z: its own lists, 500 registers on; a code of its own channel is no entry.
    m.w->Choose("ConfigurationSelect", 3);
    EXPECT_EQ(m.Box("CalculationInput1")->count(), 4);
    EXPECT_EQ(m.Box("CalculationInput1")->itemText(3), "Channel Y");
    m.Shows({{"CalculationInput1", ""}});
    EXPECT_EQ(m.Do("GetCalcChannel").front(), Read(28500, 1));
    m.Shows({{"CalculationInput1", "Channel Y"}, {"CalculationInput2", ""},
             {"CalculationLowCutNegative", "0.00000000"}});
    // The unchanged row with a code the list cannot show goes back as it came.
    m.Box("CalculationInput1")->setCurrentIndex(1);
    const Briefs z = Writes(m.Do("WriteCalcChannel"));
    ASSERT_GE(z.size(), 5u);
    EXPECT_EQ((Briefs{z[1], z[2], z[4]}),
              (Briefs{Write(28501, "65"), Write(28502, "90"), Write(28504, "10995,12562")}));

    // Global settings: the protection first, a reply time-out, then the logger. 29250 = 3, 29253 = 0xA0.
    m.w->Form().SetTimerIntervals(1000, 400, 150000);
    m.w->Choose("ConfigurationSelect", 4);
    EXPECT_EQ(m.Do("GetGlobalSettings"), Reads(29250, {1, 2, 1, 1, 2}));
    m.Shows({{"LoggerRate", "10.000"}, {"ProtectionEnable", "Disabled"}});
    // The boxes as read show in the words written back (subset_map_test has the bits themselves).
    m.w->Find<QCheckBox>("LoggerChannelZ")->setChecked(true);
    m.w->Find<QCheckBox>("LoggerOptDiagnistic")->setChecked(true);
    m.Edit("LoggerRate")->setText("2.5");
    ASSERT_EQ(m.Do("WriteGlobalSettings"), (Briefs{Write(29254, "0,0,0"), Write(29250, "35"), Write(29251, "0,16416"),
                                                   Write(29253, "164"), Read(29254, 1), Read(29257, 1)}));
    EXPECT_GE(m.last[1].tMs - m.last[0].tMs, 380.0);
    EXPECT_EQ(m.Panel(2), "Activ Measuring");

    // Loop 1 and T2 are there; the others stop at the presence row and the panel keeps what it showed.
    m.w->Choose("ConfigurationSelect", 5);
    EXPECT_EQ(m.Box("SelectCurrentLoop")->currentIndex(), 0);
    EXPECT_EQ(m.Do("GetProcessOutputData"), Reads(29125, {1, 1, 2, 1, 1, 2, 2, 1, 2, 2, 2}));
    m.Shows({{"CurrentLoopMeasValue", "Volumemetric Flow"}, {"CurrentLoopFullScale", "0.050"}});
    const QString flowUnit = m.w->Find<QLabel>("Label139")->text();
    struct Case {
        const char* name;
        bool output;
        int instance;
        std::function<void(SubsetMeter&)> change;
        Briefs get;  // none: the page as read before
        Briefs written;
        const char* ended;
    } cases[] = {
        {"loop 1 mass flow", true, 0, [](SubsetMeter& s) { s.w->Choose("CurrentLoopMeasValue", 5); }, {},
         {Write(29127, "16723,17997")}, "Writing Channel Data Ready"},
        {"loop 2 not present", true, 1, nullptr, {Read(29142, 1), Read(29257, 1)}, {}, "Not Present!"},
        {"T1 not present", false, 0, nullptr, {Read(29000, 1), Read(29257, 1)}, {}, "Not Present!"},
        {"T2 enabled with PT 1000", false, 1,
         [](SubsetMeter& s) {
             s.Box("ProcessInputActivate")->setCurrentIndex(1);
             s.Box("ProcessInputSensor")->setCurrentIndex(1);
         },
         {Read(29002, 1), Read(29003, 1), Read(29257, 1)}, {Write(29002, "1"), Write(29003, "1")},
         "Writing Process Input Data Ready"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m.w->Click(c.output ? "ShowProcessOutput" : "ShowProcessInput");
        const char* select = c.output ? "SelectCurrentLoop" : "SelectProcessInput";
        EXPECT_EQ(m.Box(select)->currentIndex(), 0);
        m.Box(select)->setCurrentIndex(c.instance);
        if (!c.get.empty()) {
            m.Edit("CurrentLoopMinValue")->setText("kept");
            EXPECT_EQ(m.Do(c.output ? "GetProcessOutputData" : "GetProcessInputData"), c.get);
            if (c.get.size() == 2) {
                EXPECT_EQ(m.Edit("CurrentLoopMinValue")->text(), "kept");
            }
        }
        if (c.change)
            c.change(m);
        const Briefs sent = m.Do(c.output ? "WriteProcessOutputData" : "WriteProcessInputData");
        EXPECT_EQ(m.ended, c.ended);
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.front(), Read(29254, 1));
        Briefs changed = sent;  // the rows that must be written, in the order sent
        std::erase_if(changed, [&](const std::string& b) { return std::ranges::count(c.written, b) == 0; });
        EXPECT_EQ(changed, c.written);
        EXPECT_EQ(Writes(sent).empty(), c.written.empty());
    }
    // The output quantity's unit reaches the scaling labels.
    EXPECT_NE(m.w->Find<QLabel>("Label139")->text(), flowUnit);
    m.w->Click("ShowProcessOutput");
    EXPECT_EQ(m.Box("SelectCurrentLoop")->currentIndex(), 0);

    // Stop, then start measuring: the state is read back a Timer3 interval later.
    auto* start = m.w->Find<QPushButton>("StartMeas");
    const std::tuple<const char*, const char*, const char*> steps[] = {
        {"0", "No Measuring", "Start Measuring"}, {"1", "Activ Measuring", "Stop Measuring"}};
    for (const auto& [value, panel2, caption] : steps) {
        SCOPED_TRACE(value);
        m.w->Click("StartMeas");
        EXPECT_EQ(m.Panel(4), "Measuring will be started...");
        EXPECT_FALSE(start->isEnabled());
        m.Settle();
        const auto requests = m.sim.NewRequests();
        EXPECT_EQ(simtest::Briefs(requests), (Briefs{Read(29254, 1), Write(29257, value), Read(29257, 1)}));
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_GE(requests[2].tMs - requests[1].tMs, SubsetMeter::Timer3Ms - 50.0);
        EXPECT_LT(requests[2].tMs - requests[1].tMs, SubsetMeter::Timer3Ms + 2500.0);
        EXPECT_EQ((QStringList{m.Panel(2), start->text(), m.Panel(4)}), (QStringList{panel2, caption, ""}));
    }

    // Modbus process inputs: choosing them reads all four and shows each status; the lists follow the meter.
    m.w->Choose("ConfigurationSelect", 6);
    EXPECT_EQ(m.Panel(4), "Getting Modbus Process Input Data Ready");
    m.Settle();
    Briefs inputs;
    for (int base = 140; base <= 170; base += 10)
        std::ranges::copy(Reads(base, {1, 1, 1, 2, 1}, false), std::back_inserter(inputs));
    inputs.push_back(Read(29257, 1));
    EXPECT_EQ(m.Sent(), inputs);
    m.Shows({{"ProcessInputStatus1", "OK"}, {"ProcessInputStatus2", "OK"}, {"ProcessInputStatus3", "OK"},
             {"ProcessInputStatus4", "Err: Ch."}, {"ProcessInputChannel2", "Channel B"},
             {"ProcessInputMeas2", "Pressure Paux"}, {"ProcessInputUnit2", "psi"}, {"ProcessInputValue2", "25.500"}});
    EXPECT_EQ(m.Box("ProcessInputUnit2")->count(), 10);

    // Set values: finite singles of the inputs in use only, each with its status read.
    m.Edit("ProcessInputValue1")->clear();
    m.Edit("ProcessInputValue2")->setText("25.5");
    m.w->Click("SetValueReadStatus");
    EXPECT_EQ(m.Sent(), Briefs{});
    m.Shows({{"ProcessInputStatus1", "---"}, {"ProcessInputStatus2", "---"}, {"ProcessInputStatus3", "---"},
             {"ProcessInputStatus4", "---"}});
    m.w->Click("UseInput2");
    EXPECT_FALSE(m.w->Find("GroupBoxInput2")->isHidden());
    m.w->Click("SetValueReadStatus");
    EXPECT_EQ(m.Sent(), (Briefs{Write(153, "0,16844"), Read(155, 1)}));
    m.Shows({{"ProcessInputStatus1", "---"}, {"ProcessInputStatus2", "OK"}});
    EXPECT_EQ(m.Panel(4), "Set Modbus Process Input Data Ready");
    for (const char* bad : {"nan", "abc"}) {  // SubsetEncodings refuses inf and 1e39 as it does nan
        SCOPED_TRACE(bad);
        m.Edit("ProcessInputValue1")->setText(bad);
        m.Refused("SetValueReadStatus", {bad});
        EXPECT_TRUE(m.last.empty());
        m.Shows({{"ProcessInputStatus2", "OK"}});  // nothing locked, nothing reset
    }
    m.Edit("ProcessInputValue1")->setText("1.5");
    m.Edit("ProcessInputValue2")->clear();

    // Configure all: each input in use register by register (fc6 on serial); one without a quantity named.
    m.w->Choose("ProcessInputChannel1", 1);  // B
    m.w->Choose("ProcessInputMeas1", 4);     // Pressure Paux
    EXPECT_EQ(m.Box("ProcessInputUnit1")->itemText(0), "bar");
    m.w->Choose("ProcessInputUnit1", 3);  // psi
    m.Box("ProcessInputMeas2")->setCurrentIndex(-1);
    m.w->Click("UseInput3");
    m.w->Choose("ProcessInputChannel3", 6);  // All Channels
    m.w->Choose("ProcessInputMeas3", 1);
    auto single = [rtu = GetParam() == Transport::Rtu](int reg, int value) {
        return rtu ? "fc6 " + std::to_string(reg) + "+1 [" + std::to_string(value) + "] reply"
                   : Write(reg, std::to_string(value));
    };
    EXPECT_EQ(m.Do("ConfigMBProcessInputAll"), (Briefs{single(140, 66), single(141, 4), single(142, 3), Read(145, 1),
                                                       single(160, 42), single(161, 1), single(162, 0), Read(165, 1),
                                                       Read(29257, 1)}));
    EXPECT_EQ(m.ended,
              "Configure Modbus Process Input Data failed: Input 2 Measuring Quantity (151): nothing selected");
    m.Shows({{"ProcessInputStatus1", "OK"}});
    // "Unused" keeps the unit list.
    m.w->Choose("ProcessInputMeas2", 4);
    m.w->Choose("ProcessInputMeas2", 0);
    EXPECT_EQ(m.Box("ProcessInputUnit2")->count(), 10);

    // The loop: an interval that is no positive whole number never starts it.
    auto* timer = m.w->Find<QTimer>("TimerInputsInterval");
    auto* asLoop = m.w->Find<QCheckBox>("InputsAsLoop");
    for (const char* bad : {"0", "-5", "abc", ""}) {
        m.Edit("InputsTime")->setText(bad);
        m.w->Click("InputsAsLoop");
        EXPECT_EQ(std::pair(timer->isActive(), asLoop->isChecked()), std::pair(false, false)) << bad;
        EXPECT_EQ(m.w->Messages().back().kind, Shown::Kind::Exception);
    }
    m.Sent();
    m.Edit("InputsTime")->setText("150");
    m.w->Click("InputsAsLoop");
    EXPECT_FALSE(m.w->Find("ConfigMBProcessInputAll")->isEnabled());
    // A page read started meanwhile goes whole; the loop waits for it.
    m.w->Choose("ConfigurationSelect", 4);
    m.w->Click("GetGlobalSettings");
    std::vector<simtest::SimRequest> log;
    ASSERT_TRUE(m.w->WaitFor([&] {
        const auto more = m.sim.NewRequests();
        log.insert(log.end(), more.begin(), more.end());
        return std::count_if(log.begin(), log.end(), [](const auto& r) { return r.start == 143; }) >= 5;
    }, 10s));
    m.w->Click("InputsAsLoop");
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(m.w->Find("ConfigMBProcessInputAll")->isEnabled());
    const Briefs briefs = simtest::Briefs(log);
    const auto first = std::find(briefs.begin(), briefs.end(), Read(29250, 1));
    ASSERT_GE(briefs.end() - first, 5);
    EXPECT_EQ(Briefs(first, first + 5), Reads(29250, {1, 2, 1, 1, 2}, false));
    // Each exchange is a write and its status read; the next begins an interval after it ended.
    std::erase_if(log, [](const auto& r) { return r.start != 143 && r.start != 145; });
    ASSERT_GE(log.size(), 8u);
    for (size_t i = 0; i + 1 < log.size(); i += 2) {
        EXPECT_EQ(simtest::Brief(log[i]), Write(143, "0,16320"));
        EXPECT_EQ(simtest::Brief(log[i + 1]), Read(145, 1));
        if (i + 2 < log.size()) {
            EXPECT_GE(log[i + 2].tMs - log[i + 1].tMs, 140.0);
        }
    }
    // Stopped: nothing more comes.
    EXPECT_FALSE(m.w->WaitFor([&] {
        const auto more = m.sim.NewRequests();
        return std::any_of(more.begin(), more.end(), [](const auto& r) { return r.start == 143; });
    }, 600ms));
}

TEST_P(WindowSubset, ProtectionIsSwitchedByTheGlobalWriteOnlyAndGuardsEveryOtherWrite)
{
    SubsetMeter m(GetParam(), {"protect=4711", "set=29257:0"});
    EXPECT_EQ(m.ConnectTail(2), (Briefs{Read(29257, 1), Read(29254, 1)}));
    EXPECT_EQ(m.Panel(2), "No Measuring / Protection Code Activ");
    EXPECT_EQ(m.w->Find<QPushButton>("StartMeas")->text(), "Start Measuring");
    m.w->Form().SetTimerIntervals(1000, 200, 150000);
    const char* const locked = "No Measuring / Protection Code Activ";
    struct Case {
        const char* name;
        const char* codeRead;  // what a read of the page shows, or nullptr: no read
        int enable;            // ProtectionEnable position chosen
        const char* code;      // typed
        Briefs firstWrites;    // the writes sent, the first three at most
        const char* panel2;
        bool otherPages = false;  // also try another page's write and the start/stop
    } cases[] = {
        {"left enabled", "0", 1, "4711", {}, locked},  // a locked meter keeps its code
        {"a wrong code", nullptr, 0, "1234",
         {Write(29254, "0,1234,0", "exception 2"), Write(29250, "3", "exception 2"),
          Write(29251, "0,16672", "exception 2")},
         locked, true},
        {"unlocked with its code", nullptr, 0, "4711",
         {Write(29254, "0,4711,0"), Write(29250, "3"), Write(29251, "0,16672")}, "No Measuring", true},
        // The meter locks at once, so the logger rows after it are refused (and named).
        {"switched on", "4711", 1, "123456",
         {Write(29254, "1,57920,1"), Write(29250, "3", "exception 2"), Write(29251, "0,16672", "exception 2")},
         "Activ Measuring / Protection Code Activ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m.w->Choose("ConfigurationSelect", 4);
        if (c.codeRead) {
            m.Do("GetGlobalSettings");
            m.Shows({{"ProtectionCode", c.codeRead}});
        }
        m.Box("ProtectionEnable")->setCurrentIndex(c.enable);
        m.Edit("ProtectionCode")->setText(c.code);
        if (c.firstWrites.empty()) {
            m.Refused("WriteGlobalSettings", {Locked}, "Warning ...");
        } else {
            const size_t before = m.w->Messages().size();
            Briefs writes = Writes(m.Do("WriteGlobalSettings"));
            writes.resize(std::min<size_t>(writes.size(), 3));
            EXPECT_EQ(writes, c.firstWrites);
            EXPECT_EQ(m.w->Messages().size(), before);
        }
        EXPECT_EQ(m.Panel(2), c.panel2);
        if (!c.otherPages)
            continue;
        // Every other write, and start or stop, asks the meter first and stops at its protection.
        m.w->Choose("ConfigurationSelect", 2);
        m.Do("GetCalcChannel");
        if (QString(c.panel2).contains("Protection")) {
            m.Refused("WriteCalcChannel", {Locked}, "Warning ...");
            m.Refused("StartMeas", {Locked}, "Warning ...");
            EXPECT_EQ(m.last.size(), 1u);
        } else {
            EXPECT_FALSE(Writes(m.Do("WriteCalcChannel")).empty());
            EXPECT_FALSE(Writes(m.Do("StartMeas")).empty());
        }
        EXPECT_EQ(simtest::Brief(m.last.front()), Read(29254, 1));
    }
}

TEST_P(WindowSubset, ConfigurationSavedFromOneMeterShowsItsDifferencesOnAnotherAndWritesOnlyThoseRows)
{
    SubsetMeter source(GetParam());
    auto* save = source.w->Find<QPushButton>("ButtonSaveConfiguration");
    EXPECT_EQ(source.w->Find("StartMeas")->nextInFocusChain(), save);
    EXPECT_EQ(save->nextInFocusChain(), source.w->Find("ButtonLoadConfiguration"));
    const QString path = QString::fromStdString((source.config.Dir() / "meter.json").string());
    source.w->dialogs.fileNames = {path};
    const Briefs saved = source.Do("ButtonSaveConfiguration");
    ASSERT_GT(saved.size(), 100u);
    EXPECT_EQ(saved.front(), "fc17 reply");
    EXPECT_TRUE(Writes(saved).empty());
    EXPECT_EQ(source.w->CountCaption("Device Identification Report"), 1);  // the connection's only
    const subset::Loaded file = subset::LoadConfigurationFile(path.toStdString());
    EXPECT_EQ(file.entries.size() + 2, saved.size());  // and Timer3's read of the measuring state

    // Another meter: other outer diameter, channel B's quantity and unit, and protected.
    SubsetMeter target(GetParam(), {"set=24000:0:17096", "set=25376:3:2", "protect=42"});
    std::vector<QStringList> rows;
    bool askedForCode = false;
    auto answer = [&](const char* button, const QString& code) {
        target.w->dialogs.fileNames = {path};
        target.w->dialogs.onDialog = [&, button, code](QDialog& dialog) {
            auto* table = dialog.findChild<QTableWidget*>("Differences");
            rows.clear();
            for (int r = 0; table && r < table->rowCount(); ++r)
                rows.push_back({table->item(r, 0)->text(), table->item(r, 1)->text(), table->item(r, 2)->text()});
            if (auto* edit = dialog.findChild<QLineEdit*>("ConfigurationProtectionCode")) {
                askedForCode = true;
                edit->setText(code);
            }
            dialog.findChild<QPushButton*>(button)->click();
            return dialog.result();
        };
    };
    answer("ButtonCancelConfiguration", {});
    const Briefs cancelled = target.Do("ButtonLoadConfiguration");
    EXPECT_EQ(rows, (std::vector<QStringList>{
                        {"Pipe A OuterDiameter (24000)", "100.0 mm", "114.3 mm"},
                        {"Measuring B MeasuringValue (25376)", "Mass Flow", "Volumemetric Flow"},
                        {"Measuring B MeasuringUnit (25377)", "kg/min", QStringLiteral("m\u00B3/h")},
                    }));
    EXPECT_TRUE(askedForCode);
    EXPECT_EQ(cancelled.size(), file.entries.size() + 3);  // identification, rows, protection, Timer3
    EXPECT_TRUE(Writes(cancelled).empty());

    answer("ButtonWriteConfiguration", QStringLiteral("42"));
    const Briefs written = target.Do("ButtonLoadConfiguration");
    EXPECT_EQ(target.ended, "Loading configuration Ready: 3 written and verified");
    const auto firstWrite = std::find(written.begin(), written.end(), Write(29254, "0,42,0"));
    EXPECT_EQ(Briefs(firstWrite, written.end()),
              (Briefs{Write(29254, "0,42,0"), Read(29254, 1), Write(24000, "39322,17124"), Read(24000, 2),
                      Write(25376, "1,0"), Read(25376, 1), Read(25377, 1), Write(29254, "1,42,0"), Read(29254, 1),
                      Read(29257, 1)}));
    EXPECT_EQ(Writes(Briefs(written.begin(), firstWrite)), Briefs{});
    for (const Shown& s : target.w->Messages())
        EXPECT_NE(s.kind, Shown::Kind::Exception) << s.text.toStdString();
}

TEST(WindowSubsetScripted, GroupsAndDefaultsFollowTheLocaleThenAFailedReadClearsItsRowAndIsNamed)
{
    FakeMeter meter;
    meter.registers[25001] = 0x42C8;  // 100.0
    meter.exceptions[24012] = -1;
    meter.exceptions[25012] = -1;
    EnsureApplication();  // it sets the C locale when it starts
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ScriptedWindow s(meter, {"-subset"}, Start::Disconnected);
    QLocale::setDefault(QLocale::c());
    Window& w = *s.w;
    EXPECT_EQ(w.Find<QLineEdit>("OuterDiameter")->text(), "62,0");
    EXPECT_EQ(w.Find<QLineEdit>("UserRougness")->text(), "3,0");
    // In use, the meter's state is read back 1.25 s after each operation (the suites shorten it).
    EXPECT_EQ(w.Find<QTimer>("Timer3")->interval(), 1250);

    const char* groups[] = {"ConfigPhyChannel", "ConfigVirtChannel", "ConfigGlobalSettings", "ConfigProcessIO",
                            "ModbusProcessInput"};
    const int shownBy[] = {0, 0, 1, 1, 2, 3, 4};
    for (int position = 0; position < 7; ++position) {
        w.Choose("ConfigurationSelect", position);
        for (int g = 0; g < 5; ++g)
            EXPECT_EQ(!w.Find(groups[g])->isHidden(), g == shownBy[position]) << position << " " << groups[g];
    }
    // The page last shown stays shown across channels.
    w.Choose("ConfigurationSelect", 0);
    w.Click("ShowLinking");
    w.Choose("ConfigurationSelect", 1);
    EXPECT_FALSE(w.Find("PanelPhyLinking")->isHidden());
    EXPECT_TRUE(w.Find("PanalPhyPipe")->isHidden());

    w.Form().show();
    w.Form().resize(760, 766);
    auto* view = w.Find<QPushButton>("SubsetView");
    view->setVisible(true);
    w.Choose("ConfigurationSelect", 4);
    w.Click("SubsetView");
    EXPECT_EQ(std::pair(view->text(), w.Form().width()), std::pair(QString("<<"), 1350));
    EXPECT_EQ(w.Find<QComboBox>("ConfigurationSelect")->currentIndex(), 0);
    EXPECT_FALSE(w.Find("ConfigPhyChannel")->isHidden());
    w.Click("SubsetView");
    EXPECT_EQ(std::pair(view->text(), w.Form().width()), std::pair(QString(">>"), 760));

    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    w.Click("SubsetView");
    auto* wall = w.Find<QComboBox>("WallMaterial");
    wall->setCurrentIndex(3);
    w.Choose("ConfigurationSelect", 1);
    w.Click("GetDataPipe");
    EXPECT_EQ(w.Form().PanelText(4), "Getting Pipe Data failed: Wall Material (25012)");
    EXPECT_EQ(wall->currentIndex(), -1);
    EXPECT_EQ(w.Find<QLineEdit>("OuterDiameter")->text(), "100.000");
}

}  // namespace
}  // namespace windowtest
