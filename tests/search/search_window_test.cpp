// The search window against simulated devices on ptys: what it tries, in what order and how fast.

#include "MBParaVeri.h"

#include "FoundDevices.h"
#include "QtMainThread.h"
#include "SearchReport.h"
#include "SerialPortList.h"

#include "SimLog.h"
#include "WindowHarness.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QPrinter>
#include <QProgressBar>
#include <QToolButton>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <tuple>

namespace {

using search::TFormVeriMBPara;
using tarnwick::IDialogService;
using tarnwick::RecordingDialogService;
using simtest::LoggedSim;
using simtest::SimProcess;
using Strings = std::vector<std::string>;

Strings Device(const std::string& settings) { return {"--pty", "--device", settings}; }

class SearchWindow : public ::testing::Test {
protected:
    // The ports the window offers: only those of the test, whatever the machine has.
    void Offer(const Strings& ports)
    {
        std::string list;
        for (const auto& p : ports)
            list += (list.empty() ? "" : ":") + p;
        setenv("TARNWICK_SERIAL_PORTS", list.c_str(), 1);
        modbus::SetDefaultSerialPortRoots({"/nonexistent", "/nonexistent"});  // none of the machine's
        windowtest::EnsureApplication();
        mainThread = std::make_unique<tarnwick::QtMainThread>([](const std::string&) {});
        form = std::make_unique<TFormVeriMBPara>(*mainThread, dialogs);
        view = form.get();
    }
    void TearDown() override { unsetenv("TARNWICK_SERIAL_PORTS"); }

    template <typename W = QWidget>
    W* Find(const char* name)
    {
        return windowtest::FindIn<W>(*view, name);
    }
    void Narrow(const std::string& port, int address, const char* baud, const char* parity)
    {
        Find<QComboBox>("ComboBox_com_port")->setCurrentText(QString::fromStdString(port));
        Find<QComboBox>("ComboBox_baud")->setCurrentText(baud);
        Find<QComboBox>("ComboBox_parity")->setCurrentText(parity);
        Find<QSpinBox>("SpinEdit_adr")->setValue(address);
    }
    // Runs a whole search (the click returns when it has ended).
    void Search() { Find<QPushButton>("Bt_start_ver_ser_para")->click(); }
    // A grid's rows as "port|address|baud|parity".
    Strings Rows(const char* grid)
    {
        Strings rows;
        auto* g = Find<QTableWidget>(grid);
        for (int r = 0; r < g->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < 4; ++c)
                cells << (g->item(r, c) ? g->item(r, c)->text() : QString());
            rows.push_back(cells.join('|').toStdString());
        }
        return rows;
    }
    std::vector<QString> MessageTexts() const
    {
        std::vector<QString> texts;
        for (const auto& s : dialogs.shown)
            if (s.kind == RecordingDialogService::Shown::Kind::MessageBox)
                texts.push_back(s.caption + "|" + s.text);
        return texts;
    }
    bool ReportButtonsShown()
    {
        return !Find("Bt_apply_para")->isHidden() && !Find("BitBtn_save")->isHidden() &&
               !Find("BitBtn_print")->isHidden() && !Find("Label_save_print_para")->isHidden();
    }
    void ExpectIdle()
    {
        EXPECT_EQ(Find<QPushButton>("Bt_start_ver_ser_para")->text(), "Search");
        EXPECT_TRUE(Find("ProgressBar")->isHidden());
        EXPECT_EQ(Find<QProgressBar>("ProgressBar")->value(), 0);
        EXPECT_FALSE(Find("Bt_cancel")->isHidden());
        EXPECT_EQ(Find<QComboBox>("ComboBox_com_port")->currentText(), "-");
        EXPECT_EQ(Find<QSpinBox>("SpinEdit_adr")->value(), 0);
        for (const char* c : {"ComboBox_com_port", "SpinEdit_adr", "ComboBox_baud", "ComboBox_parity"})
            EXPECT_TRUE(Find(c)->isEnabled()) << c;
        EXPECT_FALSE(form->Searching());
    }
    // Acts once `when` holds, from inside the running search, as the user would.
    void WhileSearching(std::function<bool()> when, std::function<void()> act)
    {
        auto* poll = new QTimer(form.get());
        QObject::connect(poll, &QTimer::timeout, form.get(), [=] {
            if (when()) {
                poll->stop();
                act();
            }
        });
        poll->start(5);
    }

    RecordingDialogService dialogs;
    std::unique_ptr<tarnwick::QtMainThread> mainThread;
    std::unique_ptr<TFormVeriMBPara> form;
    QWidget* view = nullptr;  // the form, or the one the main window opened
};

// From the window as it opens through searches that find nothing, abort, find, walk one address, and stop.
TEST_F(SearchWindow, OpensWithItsChoicesAndListsWhatEachSearchFound)
{
    Offer({"/tmp/tarnwick-a", "/tmp/tarnwick-b"});
    // The bauds and parities offered: the fixed-address walk below sees them tried.
    auto* ports = Find<QComboBox>("ComboBox_com_port");
    EXPECT_EQ(std::tuple(ports->count(), ports->itemText(0), ports->itemText(2)),
              std::tuple(3, "-", "/tmp/tarnwick-b"));
    EXPECT_FALSE(Find<QCheckBox>("CheckBox_quick_search")->isChecked());
    EXPECT_EQ(Rows("StringGrid_flx_dev"), Strings{"|||"});
    EXPECT_FALSE(Find("StringGrid_oth_dev")->isEnabled());
    EXPECT_FALSE(ReportButtonsShown());
    ExpectIdle();
    // Every control can be found by a screen reader, and the image buttons act through it.
    for (QWidget* w : form->findChildren<QWidget*>()) {
        if (w->focusPolicy() != Qt::NoFocus && !w->objectName().isEmpty() && !w->objectName().startsWith("qt_")) {
            EXPECT_FALSE(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty())
                << w->objectName().toStdString();
        }
    }
    QAccessibleInterface* save = QAccessible::queryAccessibleInterface(Find("BitBtn_save"));
    save->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogService::Shown::Kind::SaveFile);
    Offer({});  // no port: the search ends at once
    Search();
    EXPECT_EQ(MessageTexts(), std::vector<QString>({"|Search completed - No VORTAN found !"}));
    ExpectIdle();

    // A device without identification is another device, and no meter is found.
    SimProcess noid(Device("address=3,noid"));
    Offer({noid.PtyPath()});
    Narrow(noid.PtyPath(), 3, "19200", "Even");
    Search();
    EXPECT_EQ(Rows("StringGrid_oth_dev"), Strings{noid.PtyPath() + "|3|19200|Even"});
    EXPECT_EQ(Rows("StringGrid_flx_dev"), Strings{"|||"});
    EXPECT_EQ(MessageTexts(), std::vector<QString>(2, "|Search completed - No VORTAN found !"));
    EXPECT_FALSE(ReportButtonsShown());

    // A port held by another program aborts the search before anything is sent.
    dialogs.shown.clear();
    LoggedSim held(Device("address=1"));
    Offer({held.PtyPath()});
    const int fd = ::open(held.PtyPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    Narrow("-", 1, "19200", "-");
    Search();
    ::close(fd);
    EXPECT_EQ(MessageTexts(), std::vector<QString>({"ERROR|Search was aborted! - Maybe one ComPort is opened?"}));
    EXPECT_EQ(dialogs.shown.back().icon, IDialogService::Icon::Error);
    EXPECT_TRUE(held.Requests().empty());
    EXPECT_FALSE(ReportButtonsShown());
    ExpectIdle();

    // A meter and a foreign device, searched side by side (quick): both ports are held at once.
    dialogs.shown.clear();
    LoggedSim meter(Device("address=5"));
    SimProcess foreign(Device("address=5,baud=9600,id=ACME FLOW 2000"));
    Offer({meter.PtyPath(), foreign.PtyPath()});
    Narrow("-", 5, "-", "None");
    Find<QCheckBox>("CheckBox_quick_search")->setChecked(true);
    int locked = 0;
    QString timeLeft;
    WhileSearching([&] { return !Find<QLabel>("Label_time_left")->isHidden(); },
                   [&] {
                       timeLeft = Find<QLabel>("Label_time_left")->text();
                       for (const auto& path : {meter.PtyPath(), foreign.PtyPath()}) {
                           const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
                           locked += ::flock(fd, LOCK_EX | LOCK_NB) != 0;
                           ::close(fd);
                       }
                   });
    Search();
    EXPECT_EQ(locked, 2);
    EXPECT_TRUE(timeLeft.startsWith("Time left: at most ")) << timeLeft.toStdString();
    EXPECT_TRUE(Find("Label_time_left")->isHidden());
    EXPECT_EQ(Rows("StringGrid_flx_dev"), Strings{meter.PtyPath() + "|5|19200|None"});
    EXPECT_EQ(Rows("StringGrid_oth_dev"), Strings{foreign.PtyPath() + "|5|9600|None"});
    EXPECT_EQ(MessageTexts(), std::vector<QString>({"|Search completed - 2 Modbus device(s) found !"}));
    EXPECT_EQ(dialogs.shown.back().icon, IDialogService::Icon::Warning);
    EXPECT_TRUE(ReportButtonsShown());
    ExpectIdle();
    const auto quick = meter.NewRequests();
    ASSERT_EQ(quick.size(), 3u);  // 9600 silent, 19200 probe and identification
    EXPECT_EQ(std::tuple(quick[0].baud, quick[1].baud), std::tuple(9600u, 19200u));
    EXPECT_GE(quick[1].tMs - quick[0].tMs, search::QuickProbeTimeoutMs(9600, modbus::psNone) - 5.0);
    EXPECT_LT(quick[1].tMs - quick[0].tMs, 300);

    // Apply needs a selection; the report's text is SearchReport's, here its file, error and print.
    Find<QPushButton>("Bt_apply_para")->click();
    EXPECT_EQ(MessageTexts().back(), "ERROR|No VORTAN Device selected !");
    EXPECT_EQ(form->result(), 0);
    std::string expected;
    for (const auto& line : search::SavedReportLines(search::VortanDevices, search::OtherDevices))
        expected += line + "\r\n";
    windowtest::TempConfig dir;
    const auto base = dir.Dir() / "devices";
    dialogs.fileNames = {QString::fromStdString(base.string()), QString::fromStdString((dir.Dir() / "missing" / "x").string())};
    for (int i = 0; i < 2; ++i)
        Find<QToolButton>("BitBtn_save")->click();
    EXPECT_EQ(windowtest::ReadFile(base.string() + ".txt"), expected);
    ASSERT_EQ(dialogs.shown.back().kind, RecordingDialogService::Shown::Kind::Exception);
    EXPECT_TRUE(dialogs.shown.back().text.contains("missing/x.txt")) << dialogs.shown.back().text.toStdString();
    const size_t shownBefore = dialogs.shown.size();
    Find<QToolButton>("BitBtn_save")->click();
    EXPECT_EQ(dialogs.shown.size(), shownBefore + 1);

    const auto pdf = dir.Dir() / "report.pdf";
    dialogs.printAnswer = true;
    dialogs.onPrint = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf.string()));
    };
    Find<QToolButton>("BitBtn_print")->click();
    EXPECT_EQ(dialogs.shown.back().kind, RecordingDialogService::Shown::Kind::Print);
    EXPECT_EQ(windowtest::ReadFile(pdf).substr(0, 5), "%PDF-");
    EXPECT_GT(std::filesystem::file_size(pdf), 1000u);
    // The meter's row where poppler's tools are installed; their layout guesses the spaces.
    if (std::filesystem::exists("/usr/bin/pdftotext")) {
        auto text = testing_support::RunProgram({"/usr/bin/pdftotext", "-layout", pdf.string(), "-"}).out;
        std::erase_if(text, [](char ch) { return ch == ' ' || ch == '\n'; });
        EXPECT_NE(text.find("FOUNDMODBUSDEVICES"), std::string::npos) << text;
        EXPECT_NE(text.find("|5|19200|None|8|1|----"), std::string::npos) << text;
    }

    // One port, a fixed address: every baud and parity in order.
    dialogs.shown.clear();
    const std::string port = meter.PtyPath();
    Offer({port});
    Narrow(port, 5, "-", "-");
    Search();
    const auto seen = meter.NewRequests();
    Strings wire;
    for (const auto& r : seen)
        wire.push_back("fc" + std::to_string(r.function) + "@" + std::to_string(r.baud) + " " + r.result);
    EXPECT_EQ(wire, (Strings{"fc8@9600 ignored", "fc8@9600 ignored", "fc8@9600 ignored", "fc8@19200 reply",
                             "fc17@19200 reply", "fc8@19200 reply", "fc17@19200 reply", "fc8@19200 reply",
                             "fc17@19200 reply"}));
    for (const auto& r : seen)
        EXPECT_EQ(r.unit, 5);
    // A pty carries no parity: the meter answers all three, listed in the order tried.
    EXPECT_EQ(Rows("StringGrid_flx_dev"), (Strings{port + "|5|19200|None", port + "|5|19200|Odd",
                                                   port + "|5|19200|Even"}));
    EXPECT_EQ(MessageTexts(), std::vector<QString>({"|Search completed - 3 Modbus device(s) found !"}));
    // Each silent combination waits out the 500 ms time-out before the next probe.
    ASSERT_GE(seen.size(), 4u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_GE(seen[i + 1].tMs - seen[i].tMs, 490) << i;
        EXPECT_LT(seen[i + 1].tMs - seen[i].tMs, 900) << i;
    }

    // Stopped while address 1, which nothing answers, is tried.
    dialogs.shown.clear();
    Narrow(port, 0, "-", "-");
    // The third combination is being tried: two probes have gone out.
    WhileSearching([&] { return Find<QComboBox>("ComboBox_parity")->currentText() == "Even"; },
                   [&] {
                       EXPECT_EQ(Find<QPushButton>("Bt_start_ver_ser_para")->text(), "Stop");
                       EXPECT_FALSE(Find("ComboBox_baud")->isEnabled());
                       EXPECT_TRUE(Find("Bt_cancel")->isHidden());
                       Search();
                   });
    Search();
    EXPECT_TRUE(MessageTexts().empty());
    ExpectIdle();
    // Absence can only be seen by waiting: a fourth probe must not come within two time-outs and more.
    const size_t probes = meter.WaitNewRequests(4, std::chrono::milliseconds(1200)).size();
    EXPECT_GE(probes, 2u);
    EXPECT_LE(probes, 3u);
}

// Through the main window: Apply sets the connection to the found meter, which Connect then reaches.
TEST_F(SearchWindow, FromTheMainWindowApplyCopiesTheSettingsAndConnectReachesTheMeter)
{
    SimProcess meter(Device("address=9,baud=9600"));
    setenv("TARNWICK_SERIAL_PORTS", meter.PtyPath().c_str(), 1);
    windowtest::TempConfig config;
    // Echo removal off: the meter's answer to the probe would look like an echo.
    config.WriteIni(windowtest::SerialIni("/dev/ttyNONE", 1, false));
    windowtest::Window w;
    w.Form().Connection().SetFlowControl(modbus::fcRtsCts);
    w.Form().Connection().SetTransmissionMode(modbus::tmASCII);
    w.dialogs.onDialog = [&](QDialog& d) {
        view = &d;
        Narrow(meter.PtyPath(), 9, "9600", "None");
        Search();
        Find<QTableWidget>("StringGrid_flx_dev")->selectRow(0);
        Find<QPushButton>("Bt_apply_para")->click();
        return d.result();
    };
    w.Click("Bt_veri_mb_para");
    ASSERT_FALSE(w.dialogs.shown.empty());
    EXPECT_EQ(w.dialogs.shown.back().answer, QDialog::Accepted);
    EXPECT_EQ(w.Find<QSpinBox>("SpEd_slave_adr")->value(), 9);
    const auto& c = w.Form().Connection();
    EXPECT_EQ(std::tuple(c.Port(), c.BaudRate(), c.Parity(), c.FlowControl(), c.TransmissionMode(), c.DataBits(),
                         c.StopBits(), c.RTSEnabled(), c.DTREnabled()),
              std::tuple(meter.PtyPath(), modbus::br9600, modbus::psNone, modbus::fcNone, modbus::tmRTU, modbus::db8,
                         modbus::sb1, false, false));
    w.Click("Bt_dis_connect");
    EXPECT_TRUE(w.WaitFor([&] { return w.Form().IsConnected(); }));
}

}  // namespace
