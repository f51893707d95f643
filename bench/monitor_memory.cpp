// Memory of the window over a long loop with every diagnostic view open: the traffic monitor
// keeps a bounded number of lines, the statistics a bounded number of times, the trend only its
// chosen minutes. Prints the resident set at each quarter of the run; it should stay flat.
//
//   tarnwick-monitor-memory [CYCLES]   (default 20000; vortan-sim from the same build)

#include "DiagnosticViews.h"
#include "DialogService.h"
#include "Diagnostics.h"
#include "FormTarnwick.h"

#include "ChildProcess.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

long RssKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

int main(int argc, char** argv)
{
    const long cycles = argc > 1 ? std::atol(argv[1]) : 20000;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::filesystem::path config = std::filesystem::temp_directory_path() / ("tarnwick-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(config / "Kaldor");
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const std::filesystem::path bin = std::filesystem::path(argv[0]).parent_path().parent_path();
    testing_support::ChildProcess sim({(bin / "sim" / "vortan-sim").string(), "--pty"});
    const auto line = sim.ReadLine(std::chrono::seconds(10));
    if (!line || line->rfind("pty: ", 0) != 0) {
        std::fprintf(stderr, "vortan-sim did not start\n");
        return 1;
    }
    std::ofstream(config / "Kaldor" / "Tarnwick.INI")
        << "[Modbus Settings]\r\nSlaveAddress=1\r\nComPort=" << line->substr(5)
        << "\r\nBaudRate=8\r\nEchoQueryBeforeReply=0\r\nParity=2\r\n\r\n[Modbus TCP/RTU]\r\nStart mode=0\r\n";

    QApplication app(argc, argv);
    tarnwick::RecordingDialogService dialogs;
    tarnwick::TFormTarnwick window({}, dialogs);
    window.SetTimerIntervals(1, 1000, 150000);
    window.Bt_dis_connectClick();
    if (!window.IsConnected()) {
        std::fprintf(stderr, "the window did not connect\n");
        return 1;
    }
    window.Diagnostics().ShowTrafficMonitor();
    window.Diagnostics().ShowLineStatistics();
    window.Diagnostics().ShowTrend();
    auto* loop = window.findChild<QCheckBox*>(QStringLiteral("CheBox_loop"));
    QElapsedTimer clock;
    clock.start();
    std::printf("cycles  elapsed_s  rss_kib  monitor_lines\n");
    long done = 0;
    long nextReport = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        done = static_cast<long>(window.Diagnostics().Counts().ByAddress().at(1).requests / 2);
        if (done >= nextReport) {
            std::printf("%6ld  %9.1f  %7ld  %zu\n", done, clock.elapsed() / 1000.0, RssKiB(),
                        window.Diagnostics().Monitor()->Log().Lines().size());
            std::fflush(stdout);
            nextReport += cycles / 4;
        }
        if (done >= cycles) {
            loop->setChecked(false);
            app.quit();
        }
    });
    probe.start(50);
    loop->setChecked(true);
    app.exec();
    std::filesystem::remove_all(config);
    return 0;
}
