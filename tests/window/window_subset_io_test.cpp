// The subset beyond the physical channels: calculation channels, global settings with the write
// protection, current loops and temperature inputs, start and stop of measuring, the Modbus
// process inputs and the configuration file, judged by the simulated meter's request log over
// RTU and TCP alike.

#include "WindowHarness.h"

#include "SimLog.h"

#include "Configuration.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace windowtest {
namespace {

using Briefs = std::vector<std::string>;
using Shown = tarnwick::RecordingDialogService::Shown;

struct SubsetMeter : SimWindow {
    SubsetMeter(Transport t, std::vector<std::string> device = {}) : SimWindow(t, device, {"-subset"})
    {
        w->Click("SubsetView");
    }
    QCheckBox* Check(const char* name) { return w->Find<QCheckBox>(name); }
    QString Panel(int n) { return w->Form().PanelText(n); }
    // Timer3's read after the last operation is in, and the button is usable again.
    void Settle(const char* button = "StartMeas")
    {
        EXPECT_TRUE(w->WaitFor([&] { return !w->Find<QTimer>("Timer3")->isActive() && w->Find(button)->isEnabled(); }));
    }
    // Clicks, keeps panel 4's text as the operation ended, and settles: what the meter received.
    Briefs Do(const char* button, QString* ended = nullptr)
    {
        w->Click(button);
        if (ended)
            *ended = Panel(4);
        Settle(button);
        return Sent();
    }
};

std::string Read(int reg, int count) { return "fc3 " + std::to_string(reg) + "+" + std::to_string(count) + " reply"; }
// Reads of rows that follow each other from start, the registers of each; then Timer3's read.
Briefs Reads(int start, std::initializer_list<int> counts, bool timer3 = true)
{
    Briefs b;
    for (int count : counts) {
        b.push_back(Read(start, count));
        start += count;
    }
    if (timer3)
        b.push_back(Read(29257, 1));
    return b;
}
std::string Write(int reg, const std::string& words, const char* result = "reply")
{
    return "fc16 " + std::to_string(reg) + "+" + std::to_string(std::count(words.begin(), words.end(), ',') + 1) +
           " [" + words + "] " + result;
}
// The requests' briefs that are writes (function 6 or 16).
Briefs Writes(const Briefs& all)
{
    Briefs out;
    std::copy_if(all.begin(), all.end(), std::back_inserter(out),
                 [](const std::string& b) { return b.rfind("fc16", 0) == 0 || b.rfind("fc6", 0) == 0; });
    return out;
}
const char* const Locked = "Protection Code Activ\r\n\r\nUse Global Settings to unlock.";

class WindowSubsetIo : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, WindowSubsetIo, ::testing::Values(Transport::Rtu, Transport::Tcp),
                         [](const auto& info) { return Name(info.param); });

TEST_P(WindowSubsetIo, CalculationGlobalLoopsInputsMeasuringAndProcessInputsOnOneMeter)
{
    // Z: inputs Y and Z, 2.0e-9; loop 2 and T1 not there; process input 2 a pressure in psi.
    SubsetMeter m(GetParam(), {"set=28501:89:90", "set=28504:0x2AF3:0x3112", "set=29142:2", "set=29000:2",
                               "set=29002:0:0", "set=150:66:4:3:0:0x41CC"});

    // Calculation channel Y: the meter's inputs A and B; the low cuts with 8 decimals.
    m.w->Choose("ConfigurationSelect", 2);
    EXPECT_EQ(m.Do("GetCalcChannel"), Reads(28000, {1, 1, 1, 1, 2, 2, 1, 1, 2, 2}));
    EXPECT_EQ(m.Box("CalculationInput1")->currentText(), "Channel A");
    EXPECT_EQ(m.Box("CalculationInput2")->itemText(3), "Channel Z");
    EXPECT_EQ(m.Edit("CalculationLowCutNegative")->text(), "-0.00500000");
    EXPECT_EQ(m.Edit("CalculationLowCutPositive")->text(), "0.00500000");
    EXPECT_EQ(m.Box("CalculationMeasValue")->currentText(), "Volumemetric Flow");
    EXPECT_GT(m.Box("CalculationMeasUnit")->count(), 0);
    m.Box("CalculationInput1")->setCurrentIndex(2);  // Channel B
    m.Box("CalculationInput2")->setCurrentIndex(3);  // Channel Z
    QString ended;
    const Briefs y = m.Do("WriteCalcChannel", &ended);
    ASSERT_EQ(y.size(), 11u);
    EXPECT_EQ(y.front(), Read(29254, 1));
    EXPECT_EQ(y[2], Write(28001, "66"));
    EXPECT_EQ(y[3], Write(28002, "90"));
    EXPECT_EQ(y[7].rfind("fc16 28008+2 [1,0]", 0), 0u) << y[7];  // quantity and unit together
    EXPECT_EQ(y.back(), Read(29257, 1));
    EXPECT_EQ(ended, "Writing Channel Data Ready");
    EXPECT_EQ(m.Panel(4), "");
    // Channel Z: its own lists, 500 registers on; a code of its own channel is no entry.
    m.w->Choose("ConfigurationSelect", 3);
    EXPECT_EQ(m.Box("CalculationInput1")->count(), 4);
    EXPECT_EQ(m.Box("CalculationInput1")->itemText(3), "Channel Y");
    EXPECT_EQ(m.Box("CalculationInput1")->currentIndex(), -1);
    EXPECT_EQ(m.Do("GetCalcChannel").front(), Read(28500, 1));
    EXPECT_EQ(m.Box("CalculationInput1")->currentText(), "Channel Y");
    EXPECT_EQ(m.Box("CalculationInput2")->currentIndex(), -1);
    EXPECT_EQ(m.Edit("CalculationLowCutNegative")->text(), "0.00000000");
    // The unchanged row with a code the list cannot show goes back as it came.
    m.Box("CalculationInput1")->setCurrentIndex(1);
    const Briefs z = Writes(m.Do("WriteCalcChannel"));
    ASSERT_GE(z.size(), 5u);
    EXPECT_EQ(z[1], Write(28501, "65"));
    EXPECT_EQ(z[2], Write(28502, "90"));
    EXPECT_EQ(z[4], Write(28504, "10995,12562"));

    // Global settings: the protection first, a reply time-out, then the logger. 29250 = 3, 29253 = 0xA0.
    m.w->Form().SetTimerIntervals(1000, 400, 150000);
    m.w->Choose("ConfigurationSelect", 4);
    EXPECT_EQ(m.Do("GetGlobalSettings"), Reads(29250, {1, 2, 1, 1, 2}));
    const std::pair<const char*, bool> boxes[] = {
        {"LoggerChannelA", true}, {"LoggerChannelB", true}, {"LoggerChannelY", false}, {"LoggerChannelZ", false},
        {"LoggerOptDiagnistic", false}, {"LoggerOptAmplitude", false}, {"LoggeroptFluidSS", false},
        {"LoggerOptTotalizer", true}, {"LoggerOptAverage", false}, {"LoggerOptRingBuffer", true},
    };
    for (const auto& [name, checked] : boxes)
        EXPECT_EQ(m.Check(name)->isChecked(), checked) << name;
    EXPECT_EQ(m.Edit("LoggerRate")->text(), "10.000");
    EXPECT_EQ(m.Box("ProtectionEnable")->currentText(), "Disabled");
    m.Check("LoggerChannelZ")->setChecked(true);
    m.Check("LoggerOptDiagnistic")->setChecked(true);
    m.Edit("LoggerRate")->setText("2.5");
    m.w->Click("WriteGlobalSettings");
    m.Settle("WriteGlobalSettings");
    const auto global = m.sim.NewRequests();
    EXPECT_EQ(simtest::Briefs(global), (Briefs{Write(29254, "0,0,0"), Write(29250, "35"), Write(29251, "0,16416"),
                                               Write(29253, "164"), Read(29254, 1), Read(29257, 1)}));
    ASSERT_EQ(global.size(), 6u);
    EXPECT_GE(global[1].tMs - global[0].tMs, 380.0);
    EXPECT_EQ(m.Panel(2), "Activ Measuring");

    // Current loops and temperature inputs: loop 1 and T2 are there; the others stop at the
    // presence row, and the rest of the panel keeps what it showed.
    m.w->Choose("ConfigurationSelect", 5);
    EXPECT_EQ(m.Box("SelectCurrentLoop")->currentIndex(), 0);
    const Briefs loop1 = Reads(29125, {1, 1, 2, 1, 1, 2, 2, 1, 2, 2, 2});
    EXPECT_EQ(m.Do("GetProcessOutputData"), loop1);
    EXPECT_EQ(m.Box("CurrentLoopMeasValue")->currentText(), "Volumemetric Flow");
    EXPECT_EQ(m.Edit("CurrentLoopFullScale")->text(), "0.050");
    const QString flowUnit = m.w->Find<QLabel>("Label139")->text();
    struct Case {
        const char* name;
        bool output;
        int instance;
        std::function<void(SubsetMeter&)> change;
        Briefs get;  // none: the page as read before
        Briefs written;
        const char* panel4;  // right after the write
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
        const Briefs sent = m.Do(c.output ? "WriteProcessOutputData" : "WriteProcessInputData", &ended);
        EXPECT_EQ(ended, c.panel4);
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.front(), Read(29254, 1));
        Briefs changed;
        std::copy_if(sent.begin(), sent.end(), std::back_inserter(changed),
                     [&](const std::string& b) { return std::find(c.written.begin(), c.written.end(), b) != c.written.end(); });
        EXPECT_EQ(changed, c.written);
        if (c.written.empty()) {
            EXPECT_EQ(Writes(sent), Briefs{});
        }
        // The output quantity's unit reaches the scaling labels.
        if (c.output && c.instance == 0) {
            EXPECT_NE(m.w->Find<QLabel>("Label139")->text(), flowUnit);
        }
    }
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
        EXPECT_GE(requests[2].tMs - requests[1].tMs, 1200.0);
        EXPECT_LT(requests[2].tMs - requests[1].tMs, 2500.0);
        EXPECT_EQ(m.Panel(2), panel2);
        EXPECT_EQ(start->text(), caption);
        EXPECT_EQ(m.Panel(4), "");
    }

    // Modbus process inputs: choosing them reads all four; the lists follow the meter.
    m.w->Choose("ConfigurationSelect", 6);
    m.Settle();
    Briefs inputs;
    for (int base = 140; base <= 170; base += 10) {
        const Briefs one = Reads(base, {1, 1, 1, 2, 1}, false);
        inputs.insert(inputs.end(), one.begin(), one.end());
    }
    inputs.push_back(Read(29257, 1));
    EXPECT_EQ(m.Sent(), inputs);
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(m.Edit(("ProcessInputStatus" + std::to_string(n)).c_str())->text(), "OK") << n;
    EXPECT_EQ(m.Box("ProcessInputChannel2")->currentText(), "Channel B");
    EXPECT_EQ(m.Box("ProcessInputMeas2")->currentText(), "Pressure Paux");
    EXPECT_EQ(m.Box("ProcessInputUnit2")->count(), 10);
    EXPECT_EQ(m.Box("ProcessInputUnit2")->currentText(), "psi");
    EXPECT_EQ(m.Edit("ProcessInputValue2")->text(), "25.500");
    EXPECT_EQ(m.Panel(4), "");

    // Set values: finite singles of the inputs in use only, each with its status read.
    m.Edit("ProcessInputValue1")->clear();
    m.Edit("ProcessInputValue2")->setText("25.5");
    m.w->Click("SetValueReadStatus");
    EXPECT_EQ(m.Sent(), Briefs{});
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(m.Edit(("ProcessInputStatus" + std::to_string(n)).c_str())->text(), "---") << n;
    m.w->Click("UseInput2");
    EXPECT_FALSE(m.w->Find("GroupBoxInput2")->isHidden());
    m.w->Click("SetValueReadStatus");
    EXPECT_EQ(m.Sent(), (Briefs{Write(153, "0,16844"), Read(155, 1)}));
    EXPECT_EQ(m.Edit("ProcessInputStatus1")->text(), "---");
    EXPECT_EQ(m.Edit("ProcessInputStatus2")->text(), "OK");
    EXPECT_EQ(m.Panel(4), "Set Modbus Process Input Data Ready");
    for (const char* bad : {"nan", "inf", "-inf", "1e39", "abc"}) {
        SCOPED_TRACE(bad);
        m.Edit("ProcessInputValue1")->setText(QString::fromLatin1(bad));
        const size_t before = m.w->Messages().size();
        m.w->Click("SetValueReadStatus");
        EXPECT_EQ(m.Sent(), Briefs{});
        ASSERT_EQ(m.w->Messages().size(), before + 1);
        EXPECT_EQ(m.w->Messages().back().kind, Shown::Kind::Exception);
        EXPECT_TRUE(m.w->Messages().back().text.contains(QString::fromLatin1(bad))) << m.w->Messages().back().text.toStdString();
        EXPECT_EQ(m.Edit("ProcessInputStatus2")->text(), "OK");  // nothing locked, nothing reset
    }
    m.Edit("ProcessInputValue1")->setText("1.5");
    m.Edit("ProcessInputValue2")->clear();

    // Configure all: each input in use register by register (function 6 on a serial line), one
    // without a quantity named and left out.
    m.w->Choose("ProcessInputChannel1", 1);  // B
    m.w->Choose("ProcessInputMeas1", 4);     // Pressure Paux
    EXPECT_EQ(m.Box("ProcessInputUnit1")->itemText(0), "bar");
    m.w->Choose("ProcessInputUnit1", 3);  // psi
    m.Box("ProcessInputMeas2")->setCurrentIndex(-1);
    m.w->Click("UseInput3");
    m.w->Choose("ProcessInputChannel3", 6);  // All Channels
    m.w->Choose("ProcessInputMeas3", 1);
    const bool rtu = GetParam() == Transport::Rtu;
    auto single = [rtu](int reg, int value) {
        return rtu ? "fc6 " + std::to_string(reg) + "+1 [" + std::to_string(value) + "] reply" : Write(reg, std::to_string(value));
    };
    EXPECT_EQ(m.Do("ConfigMBProcessInputAll", &ended),
              (Briefs{single(140, 66), single(141, 4), single(142, 3), Read(145, 1), single(160, 42), single(161, 1),
                      single(162, 0), Read(165, 1), Read(29257, 1)}));
    EXPECT_EQ(ended, "Configure Modbus Process Input Data failed: Input 2 Measuring Quantity (151): nothing selected");
    EXPECT_EQ(m.Edit("ProcessInputStatus1")->text(), "OK");
    // "Unused" keeps the unit list.
    m.w->Choose("ProcessInputMeas2", 4);
    m.w->Choose("ProcessInputMeas2", 0);
    EXPECT_EQ(m.Box("ProcessInputUnit2")->count(), 10);

    // The loop: an interval that is no positive whole number never starts it.
    auto* timer = m.w->Find<QTimer>("TimerInputsInterval");
    for (const char* bad : {"0", "-5", "abc", ""}) {
        m.Edit("InputsTime")->setText(QString::fromLatin1(bad));
        m.w->Click("InputsAsLoop");
        EXPECT_FALSE(timer->isActive()) << bad;
        EXPECT_FALSE(m.Check("InputsAsLoop")->isChecked()) << bad;
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
    std::vector<const simtest::SimRequest*> loop;
    for (const auto& r : log)
        if (r.start == 143 || r.start == 145)
            loop.push_back(&r);
    ASSERT_GE(loop.size(), 8u);
    for (size_t i = 0; i + 1 < loop.size(); i += 2) {
        EXPECT_EQ(simtest::Brief(*loop[i]), Write(143, "0,16320"));
        EXPECT_EQ(simtest::Brief(*loop[i + 1]), Read(145, 1));
        if (i + 2 < loop.size()) {
            EXPECT_GE(loop[i + 2]->tMs - loop[i + 1]->tMs, 140.0);
        }
    }
    // Stopped: nothing more comes.
    EXPECT_FALSE(m.w->WaitFor([&] {
        const auto more = m.sim.NewRequests();
        return std::any_of(more.begin(), more.end(), [](const auto& r) { return r.start == 143; });
    }, 600ms));
}

TEST_P(WindowSubsetIo, ProtectionIsSwitchedByTheGlobalWriteOnlyAndGuardsEveryOtherWrite)
{
    SubsetMeter m(GetParam(), {"protect=4711", "set=29257:0"});
    ASSERT_GE(m.connectRequests.size(), 2u);
    EXPECT_EQ(Briefs(m.connectRequests.end() - 2, m.connectRequests.end()), (Briefs{Read(29257, 1), Read(29254, 1)}));
    EXPECT_EQ(m.Panel(2), "No Measuring / Protection Code Activ");
    EXPECT_EQ(m.w->Find<QPushButton>("StartMeas")->text(), "Start Measuring");
    m.w->Form().SetTimerIntervals(1000, 200, 150000);
    struct Case {
        const char* name;
        const char* codeRead;  // what a read of the page shows, or nullptr: no read
        int enable;            // ProtectionEnable position chosen
        const char* code;      // typed
        Briefs firstWrites;    // the writes sent, the first three at most
        bool warned;
        const char* panel2;
        bool otherPages = false;  // also try another page's write and the start/stop
    } cases[] = {
        {"left enabled", "0", 1, "4711", {}, true, "No Measuring / Protection Code Activ"},
        {"a wrong code", nullptr, 0, "1234",
         {Write(29254, "0,1234,0", "exception 2"), Write(29250, "3", "exception 2"), Write(29251, "0,16672", "exception 2")},
         false, "No Measuring / Protection Code Activ", true},
        {"unlocked with its code", nullptr, 0, "4711",
         {Write(29254, "0,4711,0"), Write(29250, "3"), Write(29251, "0,16672")}, false, "No Measuring", true},
        // The meter locks at once, so the logger rows after it are refused (and named).
        {"switched on", "4711", 1, "123456",
         {Write(29254, "1,57920,1"), Write(29250, "3", "exception 2"), Write(29251, "0,16672", "exception 2")}, false,
         "Activ Measuring / Protection Code Activ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m.w->Choose("ConfigurationSelect", 4);
        if (c.codeRead) {
            m.Do("GetGlobalSettings");
            EXPECT_EQ(m.Edit("ProtectionCode")->text(), c.codeRead);  // a locked meter keeps its code
        }
        m.Box("ProtectionEnable")->setCurrentIndex(c.enable);
        m.Edit("ProtectionCode")->setText(QString::fromLatin1(c.code));
        const size_t before = m.w->Messages().size();
        Briefs writes = Writes(m.Do("WriteGlobalSettings"));
        writes.resize(std::min<size_t>(writes.size(), 3));
        EXPECT_EQ(writes, c.firstWrites);
        ASSERT_EQ(m.w->Messages().size(), before + c.warned);
        if (c.warned) {
            EXPECT_EQ(m.w->Messages().back().caption, "Warning ...");
            EXPECT_EQ(m.w->Messages().back().text, Locked);
        }
        EXPECT_EQ(m.Panel(2), c.panel2);
        if (!c.otherPages)
            continue;
        // Every other write, and the start or stop, asks the meter first and stops at its
        // protection with a warning.
        const bool locked = QString::fromLatin1(c.panel2).contains("Protection");
        m.w->Choose("ConfigurationSelect", 2);
        m.Do("GetCalcChannel");
        EXPECT_EQ(Writes(m.Do("WriteCalcChannel")).empty(), locked);
        m.w->Click("StartMeas");
        m.Settle();
        const Briefs startStop = m.Sent();
        ASSERT_FALSE(startStop.empty());
        EXPECT_EQ(startStop.front(), Read(29254, 1));
        EXPECT_EQ(Writes(startStop).empty(), locked);
        ASSERT_EQ(m.w->Messages().size(), before + (locked ? 2 : 0));
        for (size_t i = before; i < m.w->Messages().size(); ++i) {
            EXPECT_EQ(m.w->Messages()[i].caption, "Warning ...");
            EXPECT_EQ(m.w->Messages()[i].text, Locked);
        }
    }
}

TEST_P(WindowSubsetIo, ChoosingProcessInputsShowsEveryStatus)
{
    struct Case {
        std::vector<std::string> device;
        std::array<const char*, 4> status;
    } cases[] = {
        // A channel X, an unknown quantity, both, a unit past the list.
        {{"set=140:88", "set=150:65:9", "set=160:88:9", "set=170:65:1:5"},
         {"Err: Ch.", "Err: Type", "Err: Ch+Type", "Err: Unit"}},
        // NaN, a compression factor for a liquid, 1000 degrees, a channel X and a unit past the list.
        {{"set=140:65:1:0:0:0x7FC0", "set=150:65:8:0:0:0x3F80", "set=160:65:1:0:0:0x447A", "set=170:88:1:5"},
         {"Err: Float", "Err: Meas Type", "Err: Out of Range", "5"}},
    };
    for (const Case& c : cases) {
        SubsetMeter m(GetParam(), c.device);
        QString ended;
        m.w->Choose("ConfigurationSelect", 6);
        ended = m.Panel(4);
        m.Settle();
        EXPECT_EQ(ended, "Getting Modbus Process Input Data Ready");
        for (int n = 0; n < 4; ++n)
            EXPECT_EQ(m.Edit(("ProcessInputStatus" + std::to_string(n + 1)).c_str())->text(), c.status[static_cast<size_t>(n)])
                << n + 1;
    }
}

TEST_P(WindowSubsetIo, ConfigurationSavedFromOneMeterShowsItsDifferencesOnAnotherAndWritesOnlyThoseRows)
{
    SubsetMeter source(GetParam());
    auto* save = source.w->Find<QPushButton>("ButtonSaveConfiguration");
    EXPECT_EQ(save->text(), "Save configuration...");
    EXPECT_FALSE(save->accessibleName().isEmpty());
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
    QString ended;
    const Briefs written = target.Do("ButtonLoadConfiguration", &ended);
    EXPECT_EQ(ended, "Loading configuration Ready: 3 written and verified");
    const auto firstWrite = std::find_if(written.begin(), written.end(), [](const std::string& b) { return b.rfind("fc16", 0) == 0; });
    EXPECT_EQ(Briefs(firstWrite, written.end()),
              (Briefs{Write(29254, "0,42,0"), Read(29254, 1), Write(24000, "39322,17124"), Read(24000, 2),
                      Write(25376, "1,0"), Read(25376, 1), Read(25377, 1), Write(29254, "1,42,0"), Read(29254, 1),
                      Read(29257, 1)}));
    for (const Shown& s : target.w->Messages())
        EXPECT_NE(s.kind, Shown::Kind::Exception) << s.text.toStdString();
}

}  // namespace
}  // namespace windowtest
