// The parameter subset's pages, judged by what the simulated meter received (its request log)
// and what it holds afterwards, over RTU and over TCP alike.

#include "WindowHarness.h"

#include "SimLog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace windowtest {
namespace {

using Briefs = std::vector<std::string>;
using tarnwick::IDialogService;

// A window in subset mode connected to vortan-sim.
struct SubsetMeter : SimWindow {
    SubsetMeter(Transport t, std::vector<std::string> device = {}) : SimWindow(t, device, {"-subset"}) {}
};

class WindowSubset : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, WindowSubset, ::testing::Values(Transport::Rtu, Transport::Tcp),
                         [](const auto& info) { return Name(info.param); });

struct PageCase {
    const char* show;
    const char* get;
    const char* write;
    std::vector<std::pair<int, int>> rows;  // channel A: first register, count
    std::vector<std::pair<int, int>> writes;
};

// The pages' rows as the meter's register description lists them.
const std::vector<PageCase>& PageCases()
{
    static const std::vector<PageCase> cases = {
        {"ShowPipe", "GetDataPipe", "WritePipeData",
         {{24000, 2}, {24002, 1}, {24003, 2}, {24005, 1}, {24006, 1}, {24007, 2}, {24009, 2}, {24011, 1},
          {24012, 1}, {24013, 2}, {24015, 2}, {24017, 1}, {24018, 1}, {24019, 2}, {24021, 2}, {24023, 1},
          {24024, 1}, {24025, 2}, {24027, 2}},
         {}},
        {"ShowFluid", "GetFluidData", "WriteFluidData",
         {{24125, 1}, {24126, 2}, {24128, 2}, {24130, 2}, {24132, 2}, {24134, 2}, {24136, 2}, {24138, 2},
          {24140, 2}, {24142, 2}},
         {}},
        {"ShowTransducer", "GetTransducerData", "WriteTransducerData",
         {{24250, 1}, {24251, 4}, {24255, 2}, {24257, 2}, {24259, 2}, {24261, 2}, {24263, 2}, {24265, 2},
          {24267, 2}, {24269, 1}, {24270, 2}},
         {}},
        {"ShowMeasure", "GetMeasuringData", "WriteMeasuringData",
         {{24375, 1}, {24376, 1}, {24377, 1}, {24378, 2}, {24380, 2}, {24382, 1}, {24383, 1}, {24384, 1},
          {24385, 1}, {24386, 2}, {24388, 2}, {24390, 1}},
         // The quantity and its unit go together.
         {{24375, 1}, {24376, 2}, {24378, 2}, {24380, 2}, {24382, 1}, {24383, 1}, {24384, 1}, {24385, 1},
          {24386, 2}, {24388, 2}, {24390, 1}}},
        {"ShowLinking", "GetLinkingData", "WriteLinkingData", {{24500, 1}, {24501, 1}}, {}},
    };
    return cases;
}

std::string Read(int reg, int count) { return "fc3 " + std::to_string(reg) + "+" + std::to_string(count) + " reply"; }

TEST_P(WindowSubset, ConnectReadsMeasuringAndProtectionState)
{
    struct Case {
        std::vector<std::string> device;
        const char* panel2;
        const char* caption;
    } cases[] = {
        {{}, "Activ Measuring", "Stop Measuring"},
        {{"protect=4711", "set=29257:0"}, "No Measuring / Protection Code Activ", "Start Measuring"},
    };
    for (const Case& c : cases) {
        SubsetMeter m(GetParam(), c.device);
        ASSERT_GE(m.connectRequests.size(), 2u);
        const Briefs tail(m.connectRequests.end() - 2, m.connectRequests.end());
        EXPECT_EQ(tail, (Briefs{Read(29257, 1), Read(29254, 1)}));
        EXPECT_EQ(m.w->Form().PanelText(2), c.panel2);
        EXPECT_EQ(m.w->Find<QPushButton>("StartMeas")->text(), c.caption);
    }
}

TEST_P(WindowSubset, GetReadsEveryRowInOrderThenTheMeasuringState)
{
    SubsetMeter m(GetParam());
    m.w->Click("SubsetView");
    for (int channel : {0, 1}) {
        m.w->Choose("ConfigurationSelect", channel);
        for (const PageCase& p : PageCases()) {
            SCOPED_TRACE(std::string(p.get) + " channel " + std::to_string(channel));
            m.w->Click(p.show);
            const auto requests = m.Run(p.get);
            Briefs expected;
            for (auto [reg, count] : p.rows)
                expected.push_back(Read(reg + 1000 * channel, count));
            expected.push_back(Read(29257, 1));
            EXPECT_EQ(simtest::Briefs(requests), expected);
            ASSERT_EQ(requests.size(), expected.size());
            // Timer3's read comes 1.25 s after the page, not with it.
            const double pause = requests.back().tMs - requests[requests.size() - 2].tMs;
            EXPECT_GE(pause, 1200.0);
            EXPECT_LT(pause, 4000.0);  // a loaded machine may be late, never early
            const QString panel4 = m.w->Form().PanelText(4);
            EXPECT_EQ(panel4, "");
        }
    }
}

TEST_P(WindowSubset, WriteWithNothingChangedWritesBackEveryWordAsRead)
{
    // Codes no list entry stands for, a roughness finer than three decimals (0.0015), an index
    // past its list, a type with zero bytes and the largest tolerance, on channel B.
    SubsetMeter m(GetParam(), {"set=25006:9", "set=25003:39846:15044", "set=25500:0x5433", "set=25125:10094",
                               "set=25250:7", "set=25251:0x4241:0:0:0", "set=25265:65535:65535",
                               "set=25376:9", "set=25012:26"});
    m.w->Click("SubsetView");
    m.w->Choose("ConfigurationSelect", 1);
    for (const PageCase& p : PageCases()) {
        SCOPED_TRACE(p.write);
        m.w->Click(p.show);
        m.Run(p.get);
        const Briefs sent = m.RunBriefs(p.write);
        // The protection first, then one write-multiple per row (or row pair), then for the pipe
        // a second read of the page, then Timer3's read.
        const auto& writes = p.writes.empty() ? p.rows : p.writes;
        ASSERT_GE(sent.size(), writes.size() + 2);
        EXPECT_EQ(sent.front(), Read(29254, 1));
        for (size_t i = 0; i < writes.size(); ++i)
            EXPECT_EQ(sent[1 + i].rfind("fc16 " + std::to_string(writes[i].first + 1000) + "+" +
                                            std::to_string(writes[i].second) + " [", 0),
                      0u)
                << sent[1 + i];
        EXPECT_EQ(sent.back(), Read(29257, 1));
    }
    const auto changes = m.Changes();
    EXPECT_GT(changes.size(), 60u);
    for (const auto& [address, before, after] : changes)
        EXPECT_EQ(before, after) << "register " << address;
    EXPECT_EQ(m.Box("CoatingMaterial")->currentIndex(), -1);
    EXPECT_EQ(m.Box("Fluid")->currentIndex(), -1);
    EXPECT_EQ(m.Box("LinkingTemperature")->currentIndex(), -1);
    EXPECT_EQ(m.Box("SelectTransducer")->currentIndex(), -1);
    EXPECT_EQ(m.Edit("UserRougness")->text(), "0.002");
    EXPECT_EQ(m.Edit("TransducerTolerance")->text(), "4294967295");
}

TEST_P(WindowSubset, AChangedControlChangesExactlyItsRow)
{
    SubsetMeter m(GetParam());
    m.w->Click("SubsetView");
    struct Case {
        int channel;
        const char* show;
        const char* get;
        const char* write;
        std::function<void(SubsetMeter&)> change;
        std::vector<std::array<int, 2>> changed;  // address, new value
    } cases[] = {
        {0, "ShowPipe", "GetDataPipe", "WritePipeData",
         [](SubsetMeter& s) { s.Box("WallMaterial")->setCurrentIndex(9); },  // Ductile Iron
         {{24012, 10}}},
        {1, "ShowFluid", "GetFluidData", "WriteFluidData",
         [](SubsetMeter& s) { s.Box("Fluid")->setCurrentIndex(25); },  // Seawater
         {{25125, 10058}}},
        {0, "ShowTransducer", "GetTransducerData", "WriteTransducerData",
         [](SubsetMeter& s) {
             s.Edit("TransducerType")->setText("AB");
             s.Edit("TransducerTolerance")->setText("-1");
             s.Edit("TransducerPiezoAngle")->setText("1.0");
         },
         {{24251, 0x4241}, {24252, 0x2020}, {24253, 0x2020}, {24254, 0x0020}, {24256, 0x3F80},
          {24265, 0xFFFF}, {24266, 0xFFFF}}},
        {1, "ShowMeasure", "GetMeasuringData", "WriteMeasuringData",
         [](SubsetMeter& s) { s.w->Choose("MeasuringValue", 3); },  // Mass Flow, first unit
         {{25376, 3}}},
        {0, "ShowLinking", "GetLinkingData", "WriteLinkingData",
         [](SubsetMeter& s) { s.Box("LinkingTemperatureAux")->setCurrentIndex(1); },  // Fixed Value
         {{24501, 0x4356}}},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.write);
        m.w->Choose("ConfigurationSelect", c.channel);
        m.w->Click(c.show);
        m.Run(c.get);
        c.change(m);
        m.Run(c.write);
        const auto all = m.Changes();
        std::vector<std::array<int, 2>> changed;
        for (size_t i = seen; i < all.size(); ++i)
            if (all[i][1] != all[i][2])
                changed.push_back({all[i][0], all[i][2]});
        seen = all.size();
        EXPECT_EQ(changed, c.changed);
    }
    EXPECT_EQ(m.Box("MeasuringUnit")->currentIndex(), 0);
}

TEST_P(WindowSubset, NothingIsWrittenThatCannotBe)
{
    struct Case {
        std::vector<std::string> device;
        bool get;
        std::function<void(SubsetMeter&)> change;
        const char* caption;  // of the message
        std::vector<const char*> textHas;
    } cases[] = {
        // Protected meter: warning, no write.
        {{"protect=4711"}, true, nullptr, "Warning ...", {"Protection Code Activ\r\n\r\nUse Global Settings to unlock."}},
        // Write before Get: the empty fields are named.
        {{}, false, nullptr, "", {"Transducer to Use (24250): nothing selected", "Soundpath Number (24269): empty"}},
        {{}, true, [](SubsetMeter& s) { s.Edit("TransducerType")->setText("ABCDEFGH"); }, "",
         {"Transducer Type (24251): 'ABCDEFGH' is longer than 7 characters"}},
        {{}, true, [](SubsetMeter& s) { s.Edit("TransducerSoundpathNumber")->setText("65536"); }, "",
         {"'65536' is out of range (0 .. 65535)"}},
        {{}, true, [](SubsetMeter& s) { s.Edit("TransducerTolerance")->setText("4294967296"); }, "",
         {"'4294967296' is out of range (-2147483648 .. 4294967295)"}},
        {{}, true, [](SubsetMeter& s) { s.Edit("TransducerDistance")->setText("1e39"); }, "",
         {"'1e39' is out of range (single precision)"}},
        {{}, true, [](SubsetMeter& s) { s.Edit("TransducerAddCable")->setText("abc"); }, "",
         {"'abc' is not a valid floating point value"}},
    };
    for (const Case& c : cases) {
        SubsetMeter m(GetParam(), c.device);
        m.w->Click("SubsetView");
        m.w->Click("ShowTransducer");
        if (c.get)
            m.Run("GetTransducerData");
        if (c.change)
            c.change(m);
        const size_t before = m.w->Messages().size();
        const Briefs sent = m.RunBriefs("WriteTransducerData");
        for (const std::string& b : sent)
            EXPECT_EQ(b.rfind("fc16", 0), std::string::npos) << b;
        ASSERT_EQ(m.w->Messages().size(), before + 1);
        const auto& shown = m.w->Messages().back();
        if (*c.caption) {
            EXPECT_EQ(shown.caption, c.caption);
        } else {
            EXPECT_EQ(shown.kind, tarnwick::RecordingDialogService::Shown::Kind::Exception);
        }
        for (const char* part : c.textHas)
            EXPECT_TRUE(shown.text.contains(QString::fromUtf8(part))) << shown.text.toStdString();
        // The rest of the page keeps what it showed.
        if (c.get) {
            EXPECT_FALSE(m.Edit("TransducerPiezoAngle")->text().isEmpty());
        }
    }
}

TEST_P(WindowSubset, AFailingRowIsNamedAndTheMeasuredValueStaysAMeasuredValue)
{
    SubsetMeter m(GetParam(), {"refuse=24012"});
    m.w->Click("SubsetView");
    m.Run("GetDataPipe");
    m.Box("WallMaterial")->setCurrentIndex(9);
    const Briefs sent = m.RunBriefs("WritePipeData");
    EXPECT_NE(std::find(sent.begin(), sent.end(), "fc16 24012+1 [10] exception 4"), sent.end());
    // The end text is shown until Timer3 clears it; catch it on the next failure too.
    m.Box("WallMaterial")->setCurrentIndex(1);
    m.w->Click("WritePipeData");
    EXPECT_EQ(m.w->Form().PanelText(4), "Writing Pipe Data failed: Wall Material (24012)");
    ASSERT_TRUE(m.w->WaitFor([&] { return m.w->Find("WritePipeData")->isEnabled(); }, 5s));
    // The next holding-register reply is a measured value again.
    m.sim.NewRequests();
    m.w->Click("Bt_read_adr");
    EXPECT_EQ(simtest::Briefs(m.sim.NewRequests()).front(), Read(1000, 16));
    EXPECT_FALSE(m.w->Cell(0).isEmpty());
}

TEST(WindowSubsetRtu, AFailedReadClearsItsRowAndIsNamed)
{
    TempConfig config;
    FakeMeter meter;
    meter.identification = VortanIdentification("ARM");
    meter.single[25000] = 0;
    meter.single[25001] = 0x42C8;  // 100.0
    meter.exceptionFor[24012] = 2;
    meter.exceptionFor[25012] = 2;
    testing_support::PtyPair pty;
    testing_support::ScriptedPeer peer(pty, meter.Responder());
    config.WriteIni(SerialIni(pty.SlavePath()));
    Window w({"-subset"});
    w.dialogs.answers.push_front(IDialogService::Ok);
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

TEST(WindowSubsetView, ConfigurationsShowTheirGroupsAndDefaultsFollowTheLocale)
{
    TempConfig config;
    EnsureApplication();  // it sets the C locale when it starts
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Window w({"-subset"});
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(w.Find<QLineEdit>("OuterDiameter")->text(), "62,0");
    EXPECT_EQ(w.Find<QLineEdit>("UserRougness")->text(), "3,0");
    EXPECT_EQ(w.Find<QComboBox>("CoatingMaterial")->count(), 27);
    EXPECT_EQ(w.Find<QComboBox>("Fluid")->count(), 57);
    for (const char* button : {"GetDataPipe", "WritePipeData", "GetLinkingData", "StartMeas"})
        EXPECT_FALSE(w.Find(button)->isEnabled()) << button;

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
    EXPECT_EQ(view->text(), "<<");
    EXPECT_EQ(w.Form().width(), 1350);
    EXPECT_EQ(w.Find<QComboBox>("ConfigurationSelect")->currentIndex(), 0);
    EXPECT_FALSE(w.Find("ConfigPhyChannel")->isHidden());
    w.Click("SubsetView");
    EXPECT_EQ(view->text(), ">>");
    EXPECT_EQ(w.Form().width(), 760);
}

}  // namespace
}  // namespace windowtest
