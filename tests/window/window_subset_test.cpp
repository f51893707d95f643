// The parameter subset's channel pages, judged by what the simulated meter received (its request
// log) and what it holds afterwards, over RTU and over TCP alike.

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
using Changes = std::vector<std::array<int, 2>>;  // address, new value
using Kind = tarnwick::RecordingDialogService::Shown::Kind;

std::string Read(int reg, int count) { return "fc3 " + std::to_string(reg) + "+" + std::to_string(count) + " reply"; }

// What a button's operation sent until Timer3's read after it, and panel 4's text as it ended.
struct Step {
    std::vector<simtest::SimRequest> requests;
    Briefs sent;
    QString ended;
};
Step Do(SimWindow& m, const char* button)
{
    m.w->Click(button);
    Step s{{}, {}, m.w->Form().PanelText(4)};
    EXPECT_TRUE(m.w->WaitFor([&] { return !m.w->Find<QTimer>("Timer3")->isActive() && m.w->Find(button)->isEnabled(); }, 8s))
        << button;
    s.requests = m.sim.NewRequests();
    s.sent = simtest::Briefs(s.requests);
    return s;
}

// One error message naming the parts, and no write sent.
void ExpectRefused(SimWindow& m, const char* write, std::vector<std::string> parts)
{
    const size_t before = m.w->Messages().size();
    for (const std::string& b : Do(m, write).sent)
        EXPECT_EQ(b.rfind("fc16", 0), std::string::npos) << b;
    ASSERT_EQ(m.w->Messages().size(), before + 1);
    EXPECT_EQ(m.w->Messages().back().kind, Kind::Exception);
    for (const std::string& part : parts)
        EXPECT_TRUE(m.w->Messages().back().text.contains(QString::fromStdString(part)))
            << m.w->Messages().back().text.toStdString();
}

struct PageCase {
    const char *show, *get, *write, *name;
    int start;                // channel A's first register; the rows follow each other
    std::vector<int> rows;    // registers per row
    std::vector<int> writes;  // registers per write, where a quantity and its unit go together
    std::function<void(SimWindow&)> check, change;  // channel B: after the read; a change or none
    Changes changed;
    bool overwritesPreset = false;  // so its words as read are written back first
};

const std::vector<PageCase>& PageCases()
{
    static const std::vector<PageCase> cases = {
        {"ShowPipe", "GetDataPipe", "WritePipeData", "Pipe", 24000,
         {2, 1, 2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2}, {},
         [](SimWindow& m) {
             EXPECT_EQ(m.Box("CoatingMaterial")->currentIndex(), -1);
             EXPECT_EQ(m.Box("WallMaterial")->currentIndex(), -1);
             EXPECT_EQ(m.Edit("UserRougness")->text(), "0.002");
         },
         nullptr, {}},
        {"ShowFluid", "GetFluidData", "WriteFluidData", "Fluid", 24125, {1, 2, 2, 2, 2, 2, 2, 2, 2, 2}, {},
         [](SimWindow& m) { EXPECT_EQ(m.Box("Fluid")->currentIndex(), -1); },
         [](SimWindow& m) { m.Box("Fluid")->setCurrentIndex(25); },  // Seawater
         {{25125, 10058}}, true},
        {"ShowTransducer", "GetTransducerData", "WriteTransducerData", "Transducer", 24250,
         {1, 4, 2, 2, 2, 2, 2, 2, 2, 1, 2}, {},
         [](SimWindow& m) {
             EXPECT_EQ(m.Box("SelectTransducer")->currentIndex(), -1);
             EXPECT_EQ(m.Edit("TransducerTolerance")->text(), "4294967295");
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
                 ExpectRefused(m, "WriteTransducerData", {message});
                 m.Edit(edit)->setText(shown);
             }
             EXPECT_FALSE(m.Edit("TransducerPiezoAngle")->text().isEmpty());
         },
         [](SimWindow& m) {
             m.Edit("TransducerType")->setText("BA");
             m.Edit("TransducerTolerance")->setText("-2");
             m.Edit("TransducerPiezoAngle")->setText("1.0");
         },
         {{25251, 0x4142}, {25252, 0x2020}, {25253, 0x2020}, {25254, 0x0020}, {25256, 0x3F80}, {25265, 0xFFFE}}, true},
        {"ShowMeasure", "GetMeasuringData", "WriteMeasuringData", "Measuring", 24375,
         {1, 1, 1, 2, 2, 1, 1, 1, 1, 2, 2, 1}, {1, 2, 2, 2, 1, 1, 1, 1, 2, 2, 1},
         nullptr,
         [](SimWindow& m) {
             m.w->Choose("MeasuringValue", 3);  // Mass Flow, its first unit
                  },
         {{25376, 3}}, true},
        {"ShowLinking", "GetLinkingData", "WriteLinkingData", "Linking", 24500, {1, 1}, {},
         [](SimWindow& m) { EXPECT_EQ(m.Box("LinkingTemperature")->currentIndex(), -1); },
         [](SimWindow& m) { m.Box("LinkingTemperatureAux")->setCurrentIndex(1); },  // Fixed Value
         {{25501, 0x4356}}},
    };
    return cases;
}

// The changes the meter took since the last call that changed a register.
Changes ChangedSince(SimWindow& m, size_t& seen)
{
    const auto all = m.Changes();
    Changes changed;
    for (size_t i = seen; i < all.size(); ++i)
        if (all[i][1] != all[i][2])
            changed.push_back({all[i][0], all[i][2]});
    seen = all.size();
    return changed;
}

class WindowSubset : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, WindowSubset, ::testing::Values(Transport::Rtu, Transport::Tcp),
                         [](const auto& info) { return Name(info.param); });

TEST_P(WindowSubset, ChannelPagesReadEveryRowWriteBackWhatTheyReadAndExactlyWhatChanged)
{
    // Channel B: codes no list entry stands for, a roughness finer than three decimals (0.0015), an
    // index past its list, a type with zero bytes and the largest tolerance. Channel A's wall
    // material is refused.
    SimWindow m(GetParam(),
                {"set=25006:9", "set=25003:39846:15044", "set=25500:0x5433", "set=25125:10094", "set=25250:7",
                 "set=25251:0x4241:0:0:0", "set=25265:65535:65535", "set=25376:9", "set=25012:26", "refuse=24012"},
                {"-subset"});
    ASSERT_GE(m.connectRequests.size(), 2u);
    EXPECT_EQ(Briefs(m.connectRequests.end() - 2, m.connectRequests.end()), (Briefs{Read(29257, 1), Read(29254, 1)}));
    EXPECT_EQ(m.w->Form().PanelText(2), "Activ Measuring");
    EXPECT_EQ(m.w->Find<QPushButton>("StartMeas")->text(), "Stop Measuring");
    m.w->Click("SubsetView");
    // A write before the page was read names the empty fields.
    m.w->Click("ShowTransducer");
    ExpectRefused(m, "WriteTransducerData",
                  {"Transducer to Use (24250): nothing selected", "Soundpath Number (24269): empty"});

    // Channel B page by page; a page write sends the protection read, one write-multiple per row
    // (or row pair), for the pipe a second read of the page, then Timer3's read.
    m.w->Choose("ConfigurationSelect", 1);
    size_t seen = 0;
    for (const PageCase& p : PageCases()) {
        SCOPED_TRACE(p.get);
        m.w->Click(p.show);
        const Step got = Do(m, p.get);
        Briefs expected;
        for (int reg = p.start + 1000; int count : p.rows) {
            expected.push_back(Read(reg, count));
            reg += count;
        }
        expected.push_back(Read(29257, 1));
        EXPECT_EQ(got.sent, expected);
        EXPECT_EQ(got.ended, QString("Getting %1 Data Ready").arg(p.name));
        ASSERT_EQ(got.requests.size(), expected.size());
        // Timer3's read comes 1.25 s after the page, not with it, and clears panel 4.
        const double pause = got.requests.back().tMs - got.requests[got.requests.size() - 2].tMs;
        EXPECT_GE(pause, 1200.0);
        EXPECT_LT(pause, 4000.0);  // a loaded machine may be late, never early
        EXPECT_EQ(m.w->Form().PanelText(4), "");
        if (p.check)
            p.check(m);
        for (bool changing : {false, true}) {
            if (changing ? !p.change : (p.change && !p.overwritesPreset))
                continue;
            if (changing)
                p.change(m);
            const Step written = Do(m, p.write);
            const std::vector<int>& writes = p.writes.empty() ? p.rows : p.writes;
            ASSERT_GE(written.sent.size(), writes.size() + 2);
            EXPECT_EQ(written.sent.front(), Read(29254, 1));
            for (size_t i = 0, reg = p.start + 1000; i < writes.size(); reg += writes[i++])
                EXPECT_EQ(written.sent[1 + i].rfind("fc16 " + std::to_string(reg) + "+" + std::to_string(writes[i]) + " [", 0),
                          0u)
                    << written.sent[1 + i];
            EXPECT_EQ(written.sent.back(), Read(29257, 1));
            EXPECT_EQ(written.ended, p.show == std::string("ShowLinking") ? QString("Writing Linkage Data Ready")
                                                                          : QString("Writing %1 Data Ready").arg(p.name));
            EXPECT_EQ(ChangedSince(m, seen), changing ? p.changed : Changes{});
        }
    }
    EXPECT_EQ(seen, 145u);  // every register of the pages written, some twice

    // Channel A: the instance's own registers. A failing row is named; the next holding-register
    // reply is a measured value again.
    m.w->Choose("ConfigurationSelect", 0);
    m.w->Click("ShowPipe");
    const Step pipe = Do(m, "GetDataPipe");
    ASSERT_FALSE(pipe.sent.empty());
    EXPECT_EQ(pipe.sent.front(), Read(24000, 2));
    EXPECT_EQ(pipe.sent.size(), 20u);
    m.Box("WallMaterial")->setCurrentIndex(9);  // Ductile Iron
    const Step failed = Do(m, "WritePipeData");
    EXPECT_NE(std::find(failed.sent.begin(), failed.sent.end(), "fc16 24012+1 [10] exception 4"), failed.sent.end());
    EXPECT_EQ(failed.ended, "Writing Pipe Data failed: Wall Material (24012)");
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
    w.dialogs.answers.push_front(tarnwick::IDialogService::Ok);
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
