// The View menu's traffic monitor, line statistics and trend with its CSV log, fed by a real
// exchange with vortan-sim.

#include "WindowHarness.h"

#include "DiagnosticViews.h"
#include "Diagnostics.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace windowtest {
namespace {

QStringList Lines(const tarnwick::TTrafficMonitor& m) { return QString::fromStdString(m.Log().Text()).split('\n', Qt::SkipEmptyParts); }

bool AnyLine(const QStringList& lines, const QString& a, const QString& b)
{
    for (const QString& l : lines)
        if (l.contains(a) && l.contains(b))
            return true;
    return false;
}

void OpenFromMenu(Window& w, const QString& item)
{
    auto* menu = w.Find<QPushButton>("ViewMenu")->menu();
    for (QAction* a : menu->actions())
        if (a->text() == item)
            a->trigger();
}

TEST(WindowDiagnostics, MonitorShowsEachFrameAsHexWithItsMeaningOverRtuAndTcp)
{
    for (bool tcp : {false, true}) {
        SCOPED_TRACE(tcp ? "TCP" : "RTU");
        TempConfig config;
        Sim sim(tcp ? std::vector<std::string>{"--tcp", "0"} : std::vector<std::string>{"--pty"});
        config.WriteIni(tcp ? TcpIni(sim.TcpHost(), sim.TcpPort()) : SerialIni(sim.Pty()));
        Window w;
        OpenFromMenu(w, QStringLiteral("Traffic Monitor"));
        auto* monitor = w.Form().Diagnostics().Monitor();
        ASSERT_TRUE(monitor && monitor->isVisible());
        w.Click("Bt_dis_connect");
        ASSERT_TRUE(w.Form().IsConnected());
        w.Click("Bt_read_adr");
        const QStringList lines = Lines(*monitor);
        if (tcp) {
            EXPECT_TRUE(AnyLine(lines, "TX  00 ", "unit 1 tid")) << lines.join('\n').toStdString();
            EXPECT_TRUE(AnyLine(lines, "01 03 03 E8 00 10", "fc3 1000+16"));
            EXPECT_TRUE(AnyLine(lines, "RX  ", "fc3 32 bytes"));
        } else {
            EXPECT_TRUE(AnyLine(lines, "TX  01 03 03 E8 00 10", "addr 1 fc3 1000+16")) << lines.join('\n').toStdString();
            EXPECT_TRUE(AnyLine(lines, "RX  01 03 20 ", "addr 1 fc3 32 bytes"));
        }
        EXPECT_TRUE(AnyLine(lines, "--  addr 1", "ok after"));
        // Paused, nothing more is added; cleared, nothing is left.
        const auto before = lines.size();
        w.Click("TrafficPause");
        w.Click("Bt_read_adr");
        EXPECT_EQ(Lines(*monitor).size(), before);
        w.Click("TrafficClear");
        EXPECT_TRUE(monitor->Log().Lines().empty());
        EXPECT_TRUE(w.Find<QPlainTextEdit>("TrafficText")->toPlainText().isEmpty());
    }
}

TEST(WindowDiagnostics, StatisticsCountBadChecksumsAndHintAtTheLine)
{
    TempConfig config;
    Sim sim({"--pty", "--device", "address=1,badcrc=2"});
    config.WriteIni(SerialIni(sim.Pty()));
    Window w;
    w.Click("Bt_dis_connect");
    for (int i = 0; i < 3 && w.Form().IsConnected(); ++i)
        w.Click("Bt_read_adr");
    OpenFromMenu(w, QStringLiteral("Line Statistics"));
    const auto& s = w.Form().Diagnostics().Counts().ByAddress().at(1);
    EXPECT_GE(s.badChecksums, 2u);
    EXPECT_GE(s.replies, 2u);
    EXPECT_EQ(s.requests, s.replies + s.badChecksums + s.timeouts + s.exceptions + s.unmatched);
    auto* table = w.Find<QTableWidget>("LineStatisticsTable");
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 0)->text(), "1");
    EXPECT_EQ(table->item(0, 4)->text().toUInt(), s.badChecksums);
    EXPECT_TRUE(w.Find<QLabel>("LineStatisticsHint")->text().contains("parity"));
    w.Click("LineStatisticsReset");
    EXPECT_EQ(table->rowCount(), 0);
}

TEST(WindowDiagnostics, TrendGetsAPointPerLoopCycleAndTheCsvIsWrittenLineByLine)
{
    TempConfig config;
    Sim sim({"--pty"});
    config.WriteIni(SerialIni(sim.Pty()));
    const std::string csv = (config.Dir() / "log.csv").string();
    Window w;
    w.Form().SetTimerIntervals(100, 1000, 150000);
    w.Click("Bt_dis_connect");
    ASSERT_TRUE(w.Form().IsConnected());
    OpenFromMenu(w, QStringLiteral("Trend and Log"));
    auto* trend = w.Form().Diagnostics().Trend();
    ASSERT_TRUE(trend);
    w.dialogs.fileNames.push_back(QString::fromStdString(csv));
    w.Click("TrendLogStart");
    ASSERT_TRUE(trend->Logging());
    w.Find<QCheckBox>("CheBox_loop")->click();
    ASSERT_TRUE(w.WaitFor([&] { return trend->PointCount() >= 3; }, 5s));
    w.Find<QCheckBox>("CheBox_loop")->click();
    const int points = trend->PointCount();
    // Read while the window still runs: every row is already on disk.
    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "time,channel,quantity,status,value,unit,heartbeat");
    int rows = 0;
    while (std::getline(in, line)) {
        ++rows;
        EXPECT_NE(line.find(",A,"), std::string::npos) << line;
        EXPECT_NE(line.find(",OK,"), std::string::npos) << line;
        EXPECT_EQ(line.substr(4, 1), "-");  // an ISO 8601 date starts the row
    }
    EXPECT_EQ(rows, points);
    w.Click("TrendLogStop");
    EXPECT_FALSE(trend->Logging());
}

}  // namespace
}  // namespace windowtest
