#pragma once

// The main window under test: a QApplication on the offscreen platform, a private settings
// folder, the simulator or a scripted device, and helpers that act on controls by name.

#include "DialogService.h"
#include "FormTarnwick.h"

#include "ChildProcess.h"
#include "PtyPair.h"
#include "SimLog.h"
#include "SimProcess.h"

#include <QComboBox>
#include <QLineEdit>
#include <QString>
#include <QTableWidget>
#include <QWidget>

#include <array>
#include <atomic>
#include <deque>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace windowtest {

using namespace std::chrono_literals;

// Creates the one QApplication of the test program (offscreen) on first use.
void EnsureApplication();

// A fresh folder set as XDG_CONFIG_HOME while the object lives.
class TempConfig {
public:
    TempConfig();
    ~TempConfig();
    TempConfig(const TempConfig&) = delete;
    TempConfig& operator=(const TempConfig&) = delete;

    std::filesystem::path IniPath() const { return dir_ / "Kaldor" / "Tarnwick.INI"; }
    void WriteIni(const std::string& text) const;
    std::string ReadIni() const;
    const std::filesystem::path& Dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

// Settings for a meter on a serial port (19200 baud, even parity, no echo) or on TCP.
std::string SerialIni(const std::string& port, int slave = 1, bool echo = false);
std::string TcpIni(const std::string& host, int port, int slave = 1);

// vortan-sim without its request log, for suites that need its port only.
struct Sim : simtest::SimProcess {
    using SimProcess::SimProcess;
    const std::string& Pty() const { return PtyPath(); }
};

// A device on a pty that answers what a VORTAN meter answers, from tables the test fills.
struct FakeMeter {
    uint8_t address = 1;
    std::vector<uint8_t> identification;          // Report Server ID data
    std::map<int, std::vector<uint16_t>> blocks;  // start register -> registers
    std::map<int, uint16_t> single;               // register -> value (heartbeat etc.)
    std::map<int, int> delayForStart;             // read start register -> delay before the reply
    std::map<int, int> exceptionFor;              // register -> exception code
    std::map<int, int> exceptionTimes;            // register -> replies with that exception, then normal
    bool badCrcOnReads = false;
    std::atomic<bool> silent{false};  // may change while the peer runs

    testing_support::ScriptedPeer::Responder Responder();
};

std::vector<uint8_t> VortanIdentification(const std::string& marker, const std::string& idText = "KALDOR VORTAN V3");

// The window with its recording dialogs, built like the program builds it.
class Window {
public:
    explicit Window(const QStringList& args = {});

    tarnwick::TFormTarnwick& Form() { return *form; }
    template <typename W = QWidget>
    W* Find(const char* name) const
    {
        W* w = form->findChild<W*>(QString::fromLatin1(name));
        if (!w)
            throw std::runtime_error(std::string("no control ") + name);
        return w;
    }
    void Click(const char* name);
    // As a user's pick from the list: the box changes and reports it.
    void Choose(const char* comboName, int index);
    QString Cell(int row) const;
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s);
    // Message boxes (captions and texts) shown so far.
    const std::vector<tarnwick::RecordingDialogService::Shown>& Messages() const { return dialogs.shown; }
    int CountCaption(const QString& caption) const;

    tarnwick::RecordingDialogService dialogs;
    std::unique_ptr<tarnwick::TFormTarnwick> form;
};

enum class Transport { Rtu, Tcp };
std::string Name(Transport t);
enum class Start { Connected, Disconnected };

// A window connected to vortan-sim over RTU or TCP; the simulator's request log starts after
// the connection's own requests (kept in connectRequests). Over RTU the window knows the pty by
// a link in the settings folder (Port()), which stands for the adapter: a new simulator on the
// same link is the adapter plugged in again.
struct SimWindow {
    // device: vortan-sim's device settings ("protect=4711", "set=29257:0"); args: the window's
    // switches; answers: message box answers after the identification report's.
    SimWindow(Transport t, const std::vector<std::string>& device, const QStringList& args,
              std::deque<int> answers = {}, Start start = Start::Connected);
    std::string Port() const { return (config.Dir() / "ttyMETER").string(); }
    // Clicks Connect, acknowledging the identification report before the given answers.
    void Connect(std::deque<int> answers = {});
    // The program started again on other settings.
    void Reopen(const std::string& ini);
    std::vector<std::string> Sent() { return simtest::Briefs(sim.NewRequests()); }
    // Clicks a subset button and waits until the page has settled: Timer3 has run and the
    // button is usable again. Returns what the meter received meanwhile.
    std::vector<simtest::SimRequest> Run(const char* button);
    std::vector<std::string> RunBriefs(const char* button) { return simtest::Briefs(Run(button)); }
    QLineEdit* Edit(const char* name) { return w->Find<QLineEdit>(name); }
    QComboBox* Box(const char* name) { return w->Find<QComboBox>(name); }
    // Register writes the meter took since start, as (address, old, new).
    std::vector<std::array<int, 3>> Changes();

    Transport transport;
    QStringList args;
    TempConfig config;
    simtest::LoggedSim sim;
    std::unique_ptr<Window> w;
    std::vector<std::string> connectRequests;
};

// A window on a FakeMeter behind a pty (RTU, 19200 baud).
struct ScriptedWindow {
    explicit ScriptedWindow(FakeMeter& meter, const QStringList& args = {}, Start start = Start::Connected);
    TempConfig config;
    testing_support::PtyPair pty;
    testing_support::ScriptedPeer peer;
    std::unique_ptr<Window> w;
};

// The control states of the connected and the disconnected window, control by control. The
// panels and the grid are emptied by a disconnection only; a window that never connected keeps
// the form's texts.
void ExpectControlStates(Window& w, bool connected, bool afterDisconnection = true);

}  // namespace windowtest
