#include "WindowHarness.h"

#include <QApplication>
#include <QLocale>
#include <QMenu>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace windowtest {

using testing_support::Bytes;
using testing_support::ScriptedPeer;

void EnsureApplication()
{
    if (QApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(std::filesystem::temp_directory_path().string()));
    static int argc = 1;
    static char name[] = "window_test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives until the process ends, shared as in one program
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    // Values are formatted with the locale's separator; tests that want another set their own.
    QLocale::setDefault(QLocale::c());
}

TempConfig::TempConfig()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-window-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
}

TempConfig::~TempConfig()
{
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void TempConfig::WriteIni(const std::string& text) const
{
    std::filesystem::create_directories(IniPath().parent_path());
    std::ofstream(IniPath(), std::ios::binary) << text;
}

std::string ReadFile(const std::filesystem::path& path)
{
    return (std::stringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

void TempConfig::ExpectLines(std::initializer_list<const char*> lines) const
{
    const std::string ini = ReadFile(IniPath());
    for (const char* line : lines)
        EXPECT_NE(ini.find(std::string(line) + "\r\n"), std::string::npos) << line;
}

std::string SerialIni(const std::string& port, int slave, bool echo)
{
    return "[Modbus Settings]\r\nSlaveAddress=" + std::to_string(slave) + "\r\nComPort=" + port +
           "\r\nBaudRate=8\r\nEchoQueryBeforeReply=" + (echo ? "1" : "0") +
           "\r\nParity=2\r\n\r\n[Modbus TCP/RTU]\r\nStart mode=0\r\n";
}

std::vector<uint8_t> VortanIdentification(const std::string& marker, const std::string& idText)
{
    // Serial (16), separator, firmware (17), Modbus firmware (16), Modbus serial (16), marker (3).
    const std::string data =
        idText + '\xFF' + "VT23000004711001 3.12.0 2024-05-172.04  2023-11-06MB00000000815001" + marker;
    return {data.begin(), data.end()};
}

ScriptedPeer::Responder FakeMeter::Responder()
{
    using namespace testing_support;
    return [this](const Bytes& request) -> std::vector<ScriptedPeer::Piece> {
        if (silent || request.size() < 4 || request[0] != 1)
            return {};
        const uint8_t fc = request[1];
        const int start = request[2] << 8 | request[3];
        Bytes pdu = ExceptionPdu(fc, 0x01);
        if (fc == 0x08 || fc == 0x06) {
            pdu.assign(request.begin() + 1, request.end() - 2);
        } else if (fc == 0x11) {
            pdu = Concat({0x11, static_cast<uint8_t>(identification.size())}, identification);
        } else if (auto e = exceptions.find(start); fc == 0x03 && e != exceptions.end() && e->second != 0) {
            e->second -= e->second > 0;
            pdu = ExceptionPdu(fc, 0x02);
        } else if (fc == 0x03) {
            std::vector<uint16_t> words;
            for (int reg = start; reg < start + (request[4] << 8 | request[5]); ++reg)
                words.push_back(registers.contains(reg) ? registers.at(reg) : 0);
            pdu = RegistersPdu(fc, words);
        }
        Bytes frame = RtuFrame(1, pdu);
        if (fc == 0x03 && badCrcOnReads)
            frame.back() ^= 0xFF;
        const auto d = delayForStart.find(start);
        return {{frame, fc == 0x03 && d != delayForStart.end() ? d->second : 0}};
    };
}

Window::Window(const QStringList& args)
{
    EnsureApplication();
    form = std::make_unique<tarnwick::TFormTarnwick>(args, dialogs);
}

void Window::Click(const char* name)
{
    auto* b = Find<QAbstractButton>(name);
    if (!b->isEnabled())
        throw std::runtime_error(std::string(name) + " is disabled");
    b->click();
}

void Window::Choose(const char* comboName, int index)
{
    auto* box = Find<QComboBox>(comboName);
    if (!box->isEnabled())
        throw std::runtime_error(std::string(comboName) + " is disabled");
    box->setCurrentIndex(index);
    emit box->activated(index);
}

QString Window::Cell(int row) const
{
    return Find<QTableWidget>("StringGrid1")->item(row, 1)->text();
}

bool Window::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    return QTest::qWaitFor(done, static_cast<int>(timeout.count()));
}

int Window::CountCaption(const QString& caption) const
{
    int n = 0;
    for (const auto& m : dialogs.shown)
        n += m.caption == caption;
    return n;
}

void OpenFromMenu(Window& w, const QString& item)
{
    for (QAction* a : w.Find<QPushButton>("ViewMenu")->menu()->actions())
        if (a->text() == item)
            a->trigger();
}

std::string Name(Transport t) { return t == Transport::Rtu ? "RTU" : "TCP"; }

static std::vector<std::string> SimArgs(Transport t, const std::vector<std::string>& device,
                                        const std::string& link)
{
    std::string settings = "address=1";
    for (const std::string& d : device)
        settings += "," + d;
    if (t == Transport::Rtu)
        return {"--link", link, "--device", settings};
    return {"--tcp", "0", "--device", settings};
}

SimWindow::SimWindow(Transport t, const std::vector<std::string>& device, const QStringList& args,
                     std::deque<int> answers, Start start)
    : args(args), sim(SimArgs(t, device, Port()))
{
    const std::string tcp = "[Modbus TCP]\r\nIP Address=127.0.0.1\r\nPort=" + std::to_string(sim.TcpPort()) +
                            "\r\n[Modbus TCP/RTU]\r\nStart mode=1\r\n";
    Reopen(t == Transport::Rtu ? SerialIni(Port()) : "[Modbus Settings]\r\nSlaveAddress=1\r\n" + tcp);
    if (start == Start::Connected)
        Connect(std::move(answers));
}

void SimWindow::Connect(std::deque<int> answers)
{
    w->dialogs.answers = std::move(answers);
    w->dialogs.answers.push_front(tarnwick::IDialogService::Ok);
    w->Click("Bt_dis_connect");
    connectRequests = Sent();
}

void SimWindow::Reopen(const std::string& ini)
{
    w.reset();
    config.WriteIni(ini);
    w = std::make_unique<Window>(args);
}

std::vector<std::array<int, 3>> SimWindow::Changes()
{
    std::vector<std::array<int, 3>> out;
    const nlohmann::json dump = sim.Dump();
    for (const auto& c : dump.at("changes"))
        out.push_back({c.at("address").get<int>(), c.at("old").get<int>(), c.at("new").get<int>()});
    return out;
}

ScriptedWindow::ScriptedWindow(FakeMeter& meter, const QStringList& args, Start start)
    : peer(pty, meter.Responder())
{
    config.WriteIni(SerialIni(pty.SlavePath()));
    w = std::make_unique<Window>(args);
    if (start == Start::Connected) {
        w->Click("Bt_dis_connect");
        if (!w->Form().IsConnected())
            throw std::runtime_error("scripted meter did not connect");
    }
}

void ExpectControlStates(Window& w, bool connected, bool afterDisconnection)
{
    SCOPED_TRACE(connected ? "connected" : "disconnected");
    tarnwick::TFormTarnwick& f = w.Form();
    EXPECT_EQ(f.IsConnected(), connected);
    EXPECT_EQ(w.Find<QPushButton>("Bt_dis_connect")->text(), connected ? "Disconnect" : "Connect");
    EXPECT_EQ(f.PanelText(0), connected ? "Connected" : "Disconnected");
    if (!connected && afterDisconnection) {  // panels 1 to 3, then the grid's four rows
        const QStringList shown = {f.PanelText(1), f.PanelText(2), f.PanelText(3),
                                   w.Cell(0), w.Cell(1), w.Cell(2), w.Cell(3)};
        EXPECT_EQ(shown, (QStringList{"CRT", "", "", "", "", "", ""}));
    }
    if (!connected) {
        EXPECT_FALSE(w.Find<QCheckBox>("CheBox_loop")->isChecked());
        for (const char* timer : {"Timer1", "Timer4", "TimerInputsInterval"})
            EXPECT_FALSE(w.Find<QTimer>(timer)->isActive()) << timer;
        EXPECT_FALSE(f.Connection().Active());
    }
    const char* onWhenConnected[] = {
        "CheBox_loop", "Bt_read_adr", "Bt_report_slave_id", "cb_channel", "cb_meas_val",
        "Bt_read_adr_exp_mode", "Bt_write_adr_exp_mode", "Button_activate_crt", "Button_deactivate_crt",
        "GetDataPipe", "WritePipeData", "GetFluidData", "WriteFluidData", "GetTransducerData",
        "WriteTransducerData", "GetMeasuringData", "WriteMeasuringData", "GetLinkingData", "WriteLinkingData",
        "GetCalcChannel", "WriteCalcChannel", "GetGlobalSettings", "WriteGlobalSettings",
        "GetProcessInputData", "WriteProcessInputData", "GetProcessOutputData", "WriteProcessOutputData",
        "StartMeas", "ConfigMBProcessInputAll", "SetValueReadStatus", "ProcessInputsReload", "InputsAsLoop",
    };
    for (const char* name : onWhenConnected)
        EXPECT_EQ(w.Find(name)->isEnabled(), connected) << name;
    const char* offWhenConnected[] = {"SpEd_slave_adr", "Bt_mb_settings", "Bt_veri_mb_para",
                                      "IPAdresse", "Port", "Opt_RTU", "Opt_TCPIP"};
    for (const char* name : offWhenConnected)
        EXPECT_EQ(w.Find(name)->isEnabled(), !connected) << name;
}

}  // namespace windowtest

