// The subset beyond the physical channels: calculation channels, global settings with the write
// protection, current loops and temperature inputs, start and stop of measuring, and the Modbus
// process inputs, judged by the simulated meter's request log over RTU and TCP alike.

#include "WindowHarness.h"

#include "SimLog.h"

#include "Configuration.h"

#include <QCheckBox>
#include <QDialog>
#include <QComboBox>
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
using tarnwick::IDialogService;
using Shown = tarnwick::RecordingDialogService::Shown;

struct SubsetMeter : SimWindow {
    SubsetMeter(Transport t, std::vector<std::string> device = {}) : SimWindow(t, device, {"-subset"})
    {
        w->Click("SubsetView");
    }
    QCheckBox* Check(const char* name) { return w->Find<QCheckBox>(name); }
    QString Panel(int n) { return w->Form().PanelText(n); }
    // Timer3's read after the last operation is in.
    void Settle()
    {
        EXPECT_TRUE(w->WaitFor([&] { return !w->Find<QTimer>("Timer3")->isActive(); }));
    }
};

std::string Read(int reg, int count) { return "fc3 " + std::to_string(reg) + "+" + std::to_string(count) + " reply"; }
std::string Write(int reg, const std::string& words, const char* result = "reply")
{
    return "fc16 " + std::to_string(reg) + "+" + std::to_string(std::count(words.begin(), words.end(), ',') + 1) +
           " [" + words + "] " + result;
}
// The requests' briefs that are writes (function 6 or 16).
Briefs Writes(const Briefs& all)
{
    Briefs out;
    for (const std::string& b : all)
        if (b.rfind("fc16", 0) == 0 || b.rfind("fc6", 0) == 0)
            out.push_back(b);
    return out;
}

class WindowSubsetIo : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, WindowSubsetIo, ::testing::Values(Transport::Rtu, Transport::Tcp),
                         [](const auto& info) { return Name(info.param); });

TEST_P(WindowSubsetIo, CalculationChannelsReadTheirListsAndWriteTheirCodes)
{
    SubsetMeter m(GetParam(), {"set=28501:89:90", "set=28504:0x2AF3:0x3112"});  // Z: inputs Y and Z; 2.0e-9
    // Channel Y: the meter's inputs A and B; the low cuts with 8 decimals.
    m.w->Choose("ConfigurationSelect", 2);
    Briefs expected;
    for (auto [reg, count] : std::vector<std::pair<int, int>>{{28000, 1}, {28001, 1}, {28002, 1}, {28003, 1}, {28004, 2},
                                                              {28006, 2}, {28008, 1}, {28009, 1}, {28010, 2}, {28012, 2}})
        expected.push_back(Read(reg, count));
    expected.push_back(Read(29257, 1));
    EXPECT_EQ(m.RunBriefs("GetCalcChannel"), expected);
    EXPECT_EQ(m.Box("CalculationInput1")->currentText(), "Channel A");
    EXPECT_EQ(m.Box("CalculationInput2")->itemText(3), "Channel Z");
    EXPECT_EQ(m.Edit("CalculationLowCutNegative")->text(), "-0.00500000");
    EXPECT_EQ(m.Edit("CalculationLowCutPositive")->text(), "0.00500000");
    EXPECT_EQ(m.Box("CalculationMeasValue")->currentText(), "Volumemetric Flow");
    EXPECT_GT(m.Box("CalculationMeasUnit")->count(), 0);

    m.Box("CalculationInput1")->setCurrentIndex(2);  // Channel B
    m.Box("CalculationInput2")->setCurrentIndex(3);  // Channel Z
    const Briefs sent = m.RunBriefs("WriteCalcChannel");
    ASSERT_EQ(sent.size(), 11u);
    EXPECT_EQ(sent.front(), Read(29254, 1));
    EXPECT_EQ(sent[2], Write(28001, "66"));
    EXPECT_EQ(sent[3], Write(28002, "90"));
    EXPECT_EQ(sent[7].rfind("fc16 28008+2 [1,0]", 0), 0u) << sent[7];  // quantity and unit together
    EXPECT_EQ(sent.back(), Read(29257, 1));
    EXPECT_EQ(m.Panel(4), "");

    // Channel Z: its own lists, 500 registers on; a code of its own channel is no entry.
    m.w->Choose("ConfigurationSelect", 3);
    EXPECT_EQ(m.Box("CalculationInput1")->count(), 4);
    EXPECT_EQ(m.Box("CalculationInput1")->itemText(3), "Channel Y");
    EXPECT_EQ(m.Box("CalculationInput1")->currentIndex(), -1);
    EXPECT_EQ(m.RunBriefs("GetCalcChannel").front(), Read(28500, 1));
    EXPECT_EQ(m.Box("CalculationInput1")->currentText(), "Channel Y");
    EXPECT_EQ(m.Box("CalculationInput2")->currentIndex(), -1);
    EXPECT_EQ(m.Edit("CalculationLowCutNegative")->text(), "0.00000000");
    // The unchanged row with a code the list cannot show goes back as it came.
    m.Box("CalculationInput1")->setCurrentIndex(1);
    const Briefs z = Writes(m.RunBriefs("WriteCalcChannel"));
    EXPECT_EQ(z[1], Write(28501, "65"));
    EXPECT_EQ(z[2], Write(28502, "90"));
    EXPECT_EQ(z[4], Write(28504, "10995,12562"));
}

TEST_P(WindowSubsetIo, GlobalSettingsWriteTheProtectionFirstThenPauseThenTheLogger)
{
    SubsetMeter m(GetParam());
    m.w->Form().SetTimerIntervals(1000, 400, 150000);
    m.w->Choose("ConfigurationSelect", 4);
    EXPECT_EQ(m.RunBriefs("GetGlobalSettings"), (Briefs{Read(29250, 1), Read(29251, 2), Read(29253, 1), Read(29254, 1),
                                                        Read(29255, 2), Read(29257, 1)}));
    // 29250 = 3, 29253 = 0xA0.
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
    const auto requests = m.Run("WriteGlobalSettings");
    EXPECT_EQ(simtest::Briefs(requests),
              (Briefs{Write(29254, "0,0,0"), Write(29250, "35"), Write(29251, "0,16416"), Write(29253, "164"),
                      Read(29254, 1), Read(29257, 1)}));
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_GE(requests[1].tMs - requests[0].tMs, 380.0);  // one reply time-out after the protection
    EXPECT_EQ(m.Panel(2), "Activ Measuring");
}

TEST_P(WindowSubsetIo, ProtectionIsSwitchedByTheGlobalWriteOnlyAndGuardsEveryOtherWrite)
{
    struct Case {
        const char* name;
        std::vector<std::string> device;
        int enable;         // ProtectionEnable position chosen
        const char* code;   // typed
        Briefs firstWrites;  // the writes sent, the first three at most
        const char* message;  // caption of a message box, "" for none
        const char* panel2;
        bool otherPages = false;  // also try another page's write and the start/stop
    } cases[] = {
        {"protected, left enabled", {"protect=4711"}, 1, "4711", {}, "Warning ...", "Activ Measuring / Protection Code Activ"},
        {"unlocked with its code", {"protect=4711"}, 0, "4711",
         {Write(29254, "0,4711,0"), Write(29250, "3"), Write(29251, "0,16672")}, "", "Activ Measuring", true},
        {"a wrong code", {"protect=4711"}, 0, "1234",
         {Write(29254, "0,1234,0", "exception 2"), Write(29250, "3", "exception 2"), Write(29251, "0,16672", "exception 2")},
         "", "Activ Measuring / Protection Code Activ", true},
        // The meter locks at once, so the logger rows after it are refused (and named).
        {"switched on", {}, 1, "123456",
         {Write(29254, "1,57920,1"), Write(29250, "3", "exception 2"), Write(29251, "0,16672", "exception 2")}, "",
         "Activ Measuring / Protection Code Activ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SubsetMeter m(GetParam(), c.device);
        m.w->Form().SetTimerIntervals(1000, 200, 150000);
        m.w->Choose("ConfigurationSelect", 4);
        m.Run("GetGlobalSettings");
        EXPECT_EQ(m.Edit("ProtectionCode")->text(), "0");  // a locked meter keeps its code
        m.Box("ProtectionEnable")->setCurrentIndex(c.enable);
        m.Edit("ProtectionCode")->setText(QString::fromLatin1(c.code));
        const size_t before = m.w->Messages().size();
        Briefs writes = Writes(m.RunBriefs("WriteGlobalSettings"));
        if (writes.size() > 3)
            writes.resize(3);
        EXPECT_EQ(writes, c.firstWrites);
        if (*c.message) {
            ASSERT_EQ(m.w->Messages().size(), before + 1);
            EXPECT_EQ(m.w->Messages().back().caption, c.message);
            EXPECT_EQ(m.w->Messages().back().text, "Protection Code Activ\r\n\r\nUse Global Settings to unlock.");
        } else {
            EXPECT_EQ(m.w->Messages().size(), before);
        }
        EXPECT_EQ(m.Panel(2), c.panel2);
        if (!c.otherPages)
            continue;
        // Every other write, and the start or stop, asks the meter first and stops at its protection.
        const bool locked = QString::fromLatin1(c.panel2).contains("Protection");
        m.w->Choose("ConfigurationSelect", 2);
        m.Run("GetCalcChannel");
        EXPECT_EQ(Writes(m.RunBriefs("WriteCalcChannel")).empty(), locked);
        m.w->Click("StartMeas");
        const Briefs startStop = m.Sent();
        ASSERT_FALSE(startStop.empty());
        EXPECT_EQ(startStop.front(), Read(29254, 1));
        EXPECT_EQ(Writes(startStop).empty(), locked);
        m.w->WaitFor([&] { return m.w->Find("StartMeas")->isEnabled() && !m.w->Find<QTimer>("Timer3")->isActive(); });
    }
}

TEST_P(WindowSubsetIo, CurrentLoopsAndTemperatureInputsStopAtNotPresent)
{
    // Loop 2 and T1 are not there; loop 1 and T2 are.
    SubsetMeter m(GetParam(), {"set=29142:2", "set=29000:2", "set=29002:0:0"});
    m.w->Choose("ConfigurationSelect", 5);
    EXPECT_EQ(m.Box("SelectCurrentLoop")->currentIndex(), 0);
    Briefs loop1;
    for (auto [reg, count] : std::vector<std::pair<int, int>>{{29125, 1}, {29126, 1}, {29127, 2}, {29129, 1}, {29130, 1},
                                                              {29131, 2}, {29133, 2}, {29135, 1}, {29136, 2}, {29138, 2},
                                                              {29140, 2}})
        loop1.push_back(Read(reg, count));
    loop1.push_back(Read(29257, 1));
    EXPECT_EQ(m.RunBriefs("GetProcessOutputData"), loop1);
    EXPECT_EQ(m.Box("CurrentLoopMeasValue")->currentText(), "Volumemetric Flow");
    EXPECT_EQ(m.Edit("CurrentLoopFullScale")->text(), "0.050");
    const QString flowUnit = m.w->Find<QLabel>("Label139")->text();

    struct Case {
        const char* name;
        bool output;
        int instance;
        std::function<void(SubsetMeter&)> change;
        Briefs get;
        Briefs written;
        const char* panel4;  // right after the write
    } cases[] = {
        {"loop 2 not present", true, 1, nullptr, {Read(29142, 1), Read(29257, 1)}, {}, "Not Present!"},
        {"loop 1 mass flow", true, 0, [](SubsetMeter& s) { s.w->Choose("CurrentLoopMeasValue", 5); }, loop1,
         {Write(29127, "16723,17997")}, "Writing Channel Data Ready"},
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
        // What the panel showed stays where the meter has nothing to show.
        m.Edit("CurrentLoopMinValue")->setText("kept");
        EXPECT_EQ(m.RunBriefs(c.output ? "GetProcessOutputData" : "GetProcessInputData"), c.get);
        if (c.get.size() == 2)
            EXPECT_EQ(m.Edit("CurrentLoopMinValue")->text(), "kept");
        if (c.change)
            c.change(m);
        const char* write = c.output ? "WriteProcessOutputData" : "WriteProcessInputData";
        m.w->Click(write);
        EXPECT_EQ(m.Panel(4), c.panel4);
        m.w->WaitFor([&] { return m.w->Find(write)->isEnabled() && !m.w->Find<QTimer>("Timer3")->isActive(); });
        const Briefs sent = m.Sent();
        EXPECT_EQ(sent.front(), Read(29254, 1));
        Briefs changed;
        for (const std::string& b : Writes(sent))
            if (std::find(c.written.begin(), c.written.end(), b) != c.written.end())
                changed.push_back(b);
        EXPECT_EQ(changed, c.written);
        if (c.written.empty())
            EXPECT_EQ(Writes(sent), Briefs{});
    }
    // The output quantity's unit reaches the scaling labels.
    EXPECT_NE(m.w->Find<QLabel>("Label139")->text(), flowUnit);
}

TEST_P(WindowSubsetIo, StartThenStopMeasuringReadsTheStateBack)
{
    SubsetMeter m(GetParam());
    auto* start = m.w->Find<QPushButton>("StartMeas");
    struct Step {
        const char* value;
        const char* panel2;
        const char* caption;
    } steps[] = {{"0", "No Measuring", "Start Measuring"}, {"1", "Activ Measuring", "Stop Measuring"}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.value);
        m.w->Click("StartMeas");
        EXPECT_EQ(m.Panel(4), "Measuring will be started...");
        EXPECT_FALSE(start->isEnabled());
        ASSERT_TRUE(m.w->WaitFor([&] { return start->isEnabled() && !m.w->Find<QTimer>("Timer3")->isActive(); }, 5s));
        const auto requests = m.sim.NewRequests();
        EXPECT_EQ(simtest::Briefs(requests), (Briefs{Read(29254, 1), Write(29257, s.value), Read(29257, 1)}));
        ASSERT_EQ(requests.size(), 3u);
        const double pause = requests[2].tMs - requests[1].tMs;
        EXPECT_GE(pause, 1200.0);
        EXPECT_LT(pause, 2500.0);
        EXPECT_EQ(m.Panel(2), s.panel2);
        EXPECT_EQ(start->text(), s.caption);
        EXPECT_EQ(m.Panel(4), "");
    }
}

// Modbus process inputs.

Briefs AllInputReads()
{
    Briefs b;
    for (int base = 140; base <= 170; base += 10)
        for (auto [offset, count] : std::vector<std::pair<int, int>>{{0, 1}, {1, 1}, {2, 1}, {3, 2}, {5, 1}})
            b.push_back(Read(base + offset, count));
    return b;
}

TEST_P(WindowSubsetIo, ChoosingProcessInputsReadsAllFourAndShowsEveryStatus)
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
        {{}, {"OK", "OK", "OK", "OK"}},
    };
    for (const Case& c : cases) {
        SubsetMeter m(GetParam(), c.device);
        m.w->Choose("ConfigurationSelect", 6);
        ASSERT_TRUE(m.w->WaitFor([&] { return !m.w->Find<QTimer>("Timer3")->isActive(); }));
        Briefs expected = AllInputReads();
        expected.push_back(Read(29257, 1));
        EXPECT_EQ(m.Sent(), expected);
        for (int n = 0; n < 4; ++n)
            EXPECT_EQ(m.Edit(("ProcessInputStatus" + std::to_string(n + 1)).c_str())->text(), c.status[static_cast<size_t>(n)])
                << n + 1;
    }
    // The lists follow the meter: input 2 above holds a compression factor in "-".
    SubsetMeter m(GetParam(), {"set=150:66:4:3:0:0x41CC"});
    m.w->Choose("ConfigurationSelect", 6);
    EXPECT_EQ(m.Box("ProcessInputChannel2")->currentText(), "Channel B");
    EXPECT_EQ(m.Box("ProcessInputMeas2")->currentText(), "Pressure Paux");
    EXPECT_EQ(m.Box("ProcessInputUnit2")->count(), 10);
    EXPECT_EQ(m.Box("ProcessInputUnit2")->currentText(), "psi");
    EXPECT_EQ(m.Edit("ProcessInputValue2")->text(), "25.500");
    EXPECT_EQ(m.Panel(4), "Getting Modbus Process Input Data Ready");
    // "Unused" keeps the unit list.
    m.w->Choose("ProcessInputMeas2", 0);
    EXPECT_EQ(m.Box("ProcessInputUnit2")->count(), 10);
}

TEST_P(WindowSubsetIo, ConfigureAllWritesEachUsedInputRegisterByRegister)
{
    SubsetMeter m(GetParam());
    m.w->Choose("ConfigurationSelect", 6);
    m.Settle();
    m.Sent();
    m.w->Choose("ProcessInputChannel1", 1);  // B
    m.w->Choose("ProcessInputMeas1", 4);     // Pressure Paux
    EXPECT_EQ(m.Box("ProcessInputUnit1")->itemText(0), "bar");
    m.w->Choose("ProcessInputUnit1", 3);  // psi
    m.w->Click("UseInput2");               // left without a quantity
    m.Box("ProcessInputMeas2")->setCurrentIndex(-1);
    m.w->Click("UseInput3");
    m.w->Choose("ProcessInputChannel3", 6);  // All Channels
    m.w->Choose("ProcessInputMeas3", 1);
    m.w->Click("ConfigMBProcessInputAll");
    EXPECT_EQ(m.Panel(4), "Configure Modbus Process Input Data failed: Input 2 Measuring Quantity (151): nothing selected");
    const bool rtu = GetParam() == Transport::Rtu;
    auto single = [rtu](int reg, int value) {
        return rtu ? "fc6 " + std::to_string(reg) + "+1 [" + std::to_string(value) + "] reply"
                   : Write(reg, std::to_string(value));
    };
    ASSERT_TRUE(m.w->WaitFor([&] { return !m.w->Find<QTimer>("Timer3")->isActive(); }));
    EXPECT_EQ(m.Sent(), (Briefs{single(140, 66), single(141, 4), single(142, 3), Read(145, 1), single(160, 42),
                                single(161, 1), single(162, 0), Read(165, 1), Read(29257, 1)}));
    EXPECT_EQ(m.Edit("ProcessInputStatus1")->text(), "OK");
}

TEST_P(WindowSubsetIo, SetValueSendsFiniteSinglesOnlyAndReadsTheirStatus)
{
    SubsetMeter m(GetParam(), {"set=150:65:1:0"});
    m.w->Choose("ConfigurationSelect", 6);
    m.Settle();
    m.Sent();
    // Only input 1, and no value: nothing to send.
    m.Edit("ProcessInputValue1")->clear();
    m.Edit("ProcessInputValue2")->setText("25.5");
    m.w->Click("SetValueReadStatus");
    EXPECT_EQ(m.Sent(), Briefs{});
    for (const char* status : {"ProcessInputStatus1", "ProcessInputStatus2", "ProcessInputStatus3", "ProcessInputStatus4"})
        EXPECT_EQ(m.Edit(status)->text(), "---") << status;
    m.w->Click("UseInput2");
    EXPECT_FALSE(m.w->Find("GroupBoxInput2")->isHidden());
    m.Edit("ProcessInputValue2")->setText("25.5");
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
}

TEST_P(WindowSubsetIo, TheLoopRepeatsAfterEachExchangeNeverInsideAPageAndStops)
{
    SubsetMeter m(GetParam());
    m.w->Choose("ConfigurationSelect", 6);
    m.Settle();
    auto* timer = m.w->Find<QTimer>("TimerInputsInterval");
    // An interval that is no positive whole number never starts the loop.
    for (const char* bad : {"0", "-5", "abc", ""}) {
        m.Edit("InputsTime")->setText(QString::fromLatin1(bad));
        m.w->Click("InputsAsLoop");
        EXPECT_FALSE(timer->isActive()) << bad;
        EXPECT_FALSE(m.Check("InputsAsLoop")->isChecked()) << bad;
        EXPECT_EQ(m.w->Messages().back().kind, Shown::Kind::Exception);
    }
    m.Sent();
    m.Edit("InputsTime")->setText("150");
    m.Edit("ProcessInputValue1")->setText("1.5");
    m.w->Click("InputsAsLoop");
    EXPECT_FALSE(m.w->Find("ConfigMBProcessInputAll")->isEnabled());
    // A page read started meanwhile goes whole; the loop waits for it.
    m.w->Choose("ConfigurationSelect", 4);
    m.w->Click("GetGlobalSettings");
    std::vector<simtest::SimRequest> log;
    auto writes = [&] {
        size_t n = 0;
        for (const auto& r : log)
            n += r.function == 16;
        return n;
    };
    ASSERT_TRUE(m.w->WaitFor([&] {
        const auto more = m.sim.NewRequests();
        log.insert(log.end(), more.begin(), more.end());
        return writes() >= 5;
    }, 10s));
    m.w->Click("InputsAsLoop");
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(m.w->Find("ConfigMBProcessInputAll")->isEnabled());
    const Briefs briefs = simtest::Briefs(log);
    const auto first = std::find(briefs.begin(), briefs.end(), Read(29250, 1));
    ASSERT_NE(first, briefs.end());
    EXPECT_EQ(Briefs(first, first + 5),
              (Briefs{Read(29250, 1), Read(29251, 2), Read(29253, 1), Read(29254, 1), Read(29255, 2)}));
    // Each exchange is a write and its status read; the next begins an interval after it ended.
    std::vector<const simtest::SimRequest*> loop;
    for (const auto& r : log)
        if (r.start == 143 || r.start == 145)
            loop.push_back(&r);
    ASSERT_GE(loop.size(), 8u);
    for (size_t i = 0; i + 1 < loop.size(); i += 2) {
        EXPECT_EQ(simtest::Brief(*loop[i]), Write(143, "0,16320"));
        EXPECT_EQ(simtest::Brief(*loop[i + 1]), Read(145, 1));
        if (i + 2 < loop.size())
            EXPECT_GE(loop[i + 2]->tMs - loop[i + 1]->tMs, 140.0);
    }
    // Stopped: nothing more comes.
    EXPECT_FALSE(m.w->WaitFor([&] {
        for (const auto& r : m.sim.NewRequests())
            if (r.start == 143)
                return true;
        return false;
    }, 600ms));
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
    const Briefs saved = source.RunBriefs("ButtonSaveConfiguration");
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
    const Briefs cancelled = target.RunBriefs("ButtonLoadConfiguration");
    EXPECT_EQ(rows, (std::vector<QStringList>{
                        {"Pipe A OuterDiameter (24000)", "100.0 mm", "114.3 mm"},
                        {"Measuring B MeasuringValue (25376)", "Mass Flow", "Volumemetric Flow"},
                        {"Measuring B MeasuringUnit (25377)", "kg/min", QStringLiteral("m\u00B3/h")},
                    }));
    EXPECT_TRUE(askedForCode);
    EXPECT_EQ(cancelled.size(), file.entries.size() + 3);  // identification, rows, protection, Timer3
    EXPECT_TRUE(Writes(cancelled).empty());

    answer("ButtonWriteConfiguration", QStringLiteral("42"));
    target.w->Click("ButtonLoadConfiguration");
    EXPECT_EQ(target.Panel(4), "Loading configuration Ready: 3 written and verified");  // until Timer3 clears it
    EXPECT_TRUE(target.w->WaitFor([&] {
        return !target.w->Find<QTimer>("Timer3")->isActive() && target.w->Find("ButtonLoadConfiguration")->isEnabled();
    }));
    const Briefs written = target.Sent();
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
