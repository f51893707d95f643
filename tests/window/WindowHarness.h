#pragma once

// The main window on the offscreen platform, a private settings folder, the simulator or a scripted
// device, and helpers that act on controls by name: shared by the window, dialog and search suites.

#include "DialogService.h"
#include "FormTarnwick.h"

#include "ChildProcess.h"
#include "PtyPair.h"
#include "SimLog.h"
#include "SimProcess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace windowtest {

using namespace std::chrono_literals;

void EnsureApplication();  // the one QApplication of the program, offscreen

std::string ReadFile(const std::filesystem::path& path);

// A control by its name, or an exception naming it.
template <typename W = QWidget>
W* FindIn(const QObject& parent, const QString& name)
{
    if (W* w = parent.findChild<W*>(name))
        return w;
    throw std::runtime_error("no control " + name.toStdString());
}

// A fresh folder set as XDG_CONFIG_HOME while the object lives.
class TempConfig {
public:
    TempConfig();
    ~TempConfig();

    std::filesystem::path IniPath() const { return dir_ / "Kaldor" / "Tarnwick.INI"; }
    void WriteIni(const std::string& text) const;
    // Each a whole line of the settings file.
    void ExpectLines(std::initializer_list<const char*> lines) const;
    const std::filesystem::path& Dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

// Settings for a meter on a serial port: 19200 baud, even parity.
std::string SerialIni(const std::string& port, int slave = 1, bool echo = false);

std::vector<uint8_t> VortanIdentification(const std::string& marker, const std::string& idText = "KALDOR VORTAN V3");

// A device at address 1 on a pty that answers what a VORTAN meter answers, from tables the test fills.
struct FakeMeter {
    std::vector<uint8_t> identification = VortanIdentification("ARM");  // Report Server ID data
    std::map<int, uint16_t> registers;
    std::map<int, int> delayForStart;  // read start register -> delay before the reply
    std::map<int, int> exceptions;     // read start register -> exception 2 replies (-1: all)
    std::atomic<bool> badCrcOnReads{false};
    std::atomic<bool> silent{false};

    testing_support::ScriptedPeer::Responder Responder();
};

class Window {
public:
    explicit Window(const QStringList& args = {});

    tarnwick::TFormTarnwick& Form() { return *form; }
    template <typename W = QWidget>
    W* Find(const char* name) const
    {
        return FindIn<W>(*form, name);
    }
    void Click(const char* name);
    // As a user's pick from the list: the box changes and reports it.
    void Choose(const char* comboName, int index);
    QString Cell(int row) const;
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s);
    const std::vector<tarnwick::RecordingDialogService::Shown>& Messages() const { return dialogs.shown; }
    int CountCaption(const QString& caption) const;

    tarnwick::RecordingDialogService dialogs;
    std::unique_ptr<tarnwick::TFormTarnwick> form;
};

void OpenFromMenu(Window& w, const QString& item);

enum class Transport { Rtu, Tcp };
std::string Name(Transport t);
enum class Start { Connected, Disconnected };

// A window on vortan-sim over RTU or TCP; Sent() starts after the connection's own requests
// (connectRequests). Over RTU the pty's link in the settings folder (Port()) is the adapter.
struct SimWindow {
    // device: vortan-sim's settings ("protect=4711"); answers: after the identification report's.
    SimWindow(Transport t, const std::vector<std::string>& device, const QStringList& args,
              std::deque<int> answers = {}, Start start = Start::Connected);
    std::string Port() const { return (config.Dir() / "ttyMETER").string(); }
    // Clicks Connect, acknowledging the identification report before the given answers.
    void Connect(std::deque<int> answers = {});
    void Reopen(const std::string& ini);
    std::vector<std::string> Sent() { return simtest::Briefs(sim.NewRequests()); }
    std::vector<std::string> ConnectTail(size_t n) const
    {
        return {connectRequests.end() - static_cast<long>(std::min(n, connectRequests.size())), connectRequests.end()};
    }
    QLineEdit* Edit(const char* name) { return w->Find<QLineEdit>(name); }
    QComboBox* Box(const char* name) { return w->Find<QComboBox>(name); }
    // Register writes the meter took since start, as (address, old, new).
    std::vector<std::array<int, 3>> Changes();

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

// The control states, control by control; a window that never connected keeps the form's texts.
void ExpectControlStates(Window& w, bool connected, bool afterDisconnection = true);

}  // namespace windowtest
