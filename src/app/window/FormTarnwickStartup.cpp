// Start-up: title, switches, settings file, lists; and the settings write at the end.

#include "FormTarnwick.h"

#include "SubsetPanel.h"

#include "StatusPanels.h"

#include "CommTool.h"
#include "MBMasterUnitIDs.h"
#include "ModbusError.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QSignalBlocker>
#include <QTimer>

#include <cmath>
#include <vector>

namespace tarnwick {

namespace {

constexpr int StatusPanelGrowth = 330;

}  // namespace

QString TFormTarnwick::VersionText() { return QStringLiteral("Version 1.14"); }

void TFormTarnwick::FormCreate(const QStringList& args)
{
    setWindowTitle(windowTitle() + QStringLiteral(" - ") + VersionText());

    StatusBar1->SetWidth(2, 0);
    StatusBar1->SetWidth(3, StatusBar1->Width(3) + StatusPanelGrowth);
    resize(520, 550);

    std::vector<std::string> argStore;
    for (const QString& a : args)
        argStore.push_back(a.toStdString());
    std::vector<std::string_view> argViews(argStore.begin(), argStore.end());
    const app::CommandLineOptions options = app::parseCommandLine(argViews);
    const app::StartupLayout layout = app::startupLayout(options);
    expert_mode = options.expert;
    subset_mode = options.subset;
    resize(layout.width, layout.height);
    GroupBox_swap->setVisible(layout.showSwapGroup);
    if (layout.showSwapGroup)
        for (QComboBox* box : m_swapBoxes)
            box->setCurrentIndex(0);
    GroupBox_auto_totalizer_reset->setVisible(layout.showTotalizerResetGroup);
    GroupBox_calibr_factor->setVisible(layout.showCalibrFactorGroup);
    GroupSubset->setVisible(layout.showSubsetGroup);
    SubsetView->setVisible(false);  // shown by the right-hand part once a subset meter answers
    StatusBar1->SetWidth(2, layout.statusPanel2Width);
    StatusBar1->SetWidth(3, layout.statusPanel3Width);

    CentreWindow();

    // Settings. A file that cannot be written costs the user nothing but a message: the window
    // carries on with its own values instead of stopping half-built.
    m_settingsPath = QString::fromStdString(app::GetDataFilePath(std::string(app::SettingsFileName)).string());
    m_settingsFile = std::make_unique<app::SettingsFile>(m_settingsPath.toStdString());
    m_settingsOpened = true;
    const app::StartupSettings startup =
        app::TarnwickStartupSettings(*m_settingsFile, CollectSettings(), expert_mode);
    if (!startup.messages.empty()) {
        QStringList lines;
        for (const std::string& m : startup.messages)
            lines << QString::fromStdString(m);
        m_dialogs.MessageBox(this, QStringLiteral("Settings"), lines.join(QStringLiteral("\r\n")),
                             startup.writeFailed ? IDialogService::Icon::Error : IDialogService::Icon::Warning,
                             IDialogService::Ok);
    }
    // Standard reading hands back the window's own values for the keys it does not read.
    if (!startup.writeFailed)
        ApplySettings(startup.settings);

    StringGrid1->item(0, 0)->setText(QStringLiteral("Status:"));
    StringGrid1->item(1, 0)->setText(QStringLiteral("Value:"));
    StringGrid1->item(2, 0)->setText(QStringLiteral("Heart-Beat:"));
    StringGrid1->setCurrentCell(-1, -1);

    QStringList quantities;
    auto append = [&quantities](auto const& names) {
        for (std::string_view n : names)
            quantities << QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size()));
    };
    append(units::QuantityNames);
    append(units::DiagnosticNames);
    append(units::PathDiffNames);
    cb_meas_val->addItems(quantities);
    {
        const QSignalBlocker block(cb_meas_val2);
        cb_meas_val2->addItems(quantities);
    }
    cb_channel->setCurrentIndex(0);
    cb_meas_val->setCurrentIndex(0);
    change_cb_unit();
    cb_channel2->setCurrentIndex(0);
    cb_meas_val2->setCurrentIndex(0);
    cb_mb_data->setCurrentIndex(0);
    cb_channel2Change();
    cb_meas_val2Change();
    cb_mb_dataChange();

    Button_activate_crt->setText(QStringLiteral("Activate\n\rCRT"));
    Button_deactivate_crt->setText(QStringLiteral("Deactivate\n\rCRT"));

    m_pending.reset();
    m_connectTestId.reset();
    connected = false;
}

void TFormTarnwick::FormDestroy()
{
    Timer1->stop();
    Timer2->stop();
    Timer3->stop();
    Timer4->stop();
    TimerInputsInterval->stop();
    if (m_settingsOpened)
        TarnwickWriteSettings();
    ModbusTCP->Disconnect();
    try {
        ModbusConnection->SetActive(false);
    } catch (const std::exception&) {
        // The port is going away with the window anyway.
    }
}

void TFormTarnwick::closeEvent(QCloseEvent* event)
{
    // No new cycle starts, and a wait for a reply ends at once instead of after the watchdog.
    Timer1->stop();
    EndRequest();
    QMainWindow::closeEvent(event);
}

app::TarnwickSettings TFormTarnwick::CollectSettings() const
{
    const modbus::TModbusConnection& c = *ModbusConnection;
    app::TarnwickSettings s;
    s.slaveAddress = SpEd_slave_adr->text().toStdString();
    s.comPort = c.Port();
    s.baudRate = c.BaudRate();
    s.echoQueryBeforeReply = c.EchoQueryBeforeReply();
    s.dataBits = c.DataBits();
    s.parity = c.Parity();
    s.stopBits = c.StopBits();
    s.transmissionMode = c.TransmissionMode();
    s.flowControl = c.FlowControl();
    s.dtr = c.DTREnabled();
    s.rts = c.RTSEnabled();
    s.silentInterval = c.SilentInterval();
    s.connectionMode = c.ConnectionMode();
    s.refetchDelayMs = c.RefetchDelay();
    s.sendTimeoutMs = c.SendTimeout();
    s.receiveTimeoutMs = c.ReceiveTimeout();
    s.maxRetries = c.MaxRetries();
    s.turnaroundDelayMs = c.TurnaroundDelay();
    s.threadPriority = c.ThreadPriority();
    s.ipAddress = IPAdresse->text().toStdString();
    // A port text that is no number keeps the port last known good rather than losing the file.
    bool ok = false;
    const int port = Port->text().trimmed().toInt(&ok);
    s.tcpPort = ok && port >= 0 && port <= 65535 ? port : ModbusTCP->Port();
    s.startMode = Opt_RTU->isChecked() ? 0 : 1;
    return s;
}

void TFormTarnwick::ApplySettings(const app::TarnwickSettings& s)
{
    SpEd_slave_adr->setValue(QString::fromStdString(s.slaveAddress).toInt());
    IPAdresse->setText(QString::fromStdString(s.ipAddress));
    Port->setText(QString::number(s.tcpPort));
    ModbusTCP->SetPort(s.tcpPort);
    modbus::TModbusConnection& c = *ModbusConnection;
    try {
        c.SetPort(s.comPort);
        c.SetBaudRate(static_cast<modbus::TBaudRate>(s.baudRate));
        c.SetEchoQueryBeforeReply(s.echoQueryBeforeReply);
        c.SetParity(static_cast<modbus::TParityScheme>(s.parity));
        // Standard reading leaves these at the values passed in, so applying them is a no-op.
        c.SetDataBits(static_cast<modbus::TDataBits>(s.dataBits));
        c.SetStopBits(static_cast<modbus::TStopBits>(s.stopBits));
        c.SetTransmissionMode(static_cast<modbus::TTransmissionMode>(s.transmissionMode));
        c.SetFlowControl(static_cast<modbus::TFlowControl>(s.flowControl));
        c.SetDTREnabled(s.dtr);
        c.SetRTSEnabled(s.rts);
        c.SetSilentInterval(s.silentInterval);
        c.SetConnectionMode(static_cast<modbus::TConnectionMode>(s.connectionMode));
        c.SetRefetchDelay(s.refetchDelayMs);
        c.SetSendTimeout(s.sendTimeoutMs);
        c.SetReceiveTimeout(s.receiveTimeoutMs);
        c.SetMaxRetries(s.maxRetries);
        c.SetTurnaroundDelay(s.turnaroundDelayMs);
        c.SetThreadPriority(static_cast<modbus::TThreadPriority>(s.threadPriority));
    } catch (const modbus::EModbusError& e) {
        ShowError(QString::fromUtf8(e.what()));
    }
    ApplyStartMode(s.startMode);
}

void TFormTarnwick::ApplyStartMode(int startMode)
{
    const bool rtu = startMode == 0;
    // The start mode sets the buttons; the click handlers' effects differ and do not run here.
    const QSignalBlocker blockRtu(Opt_RTU);
    const QSignalBlocker blockTcp(Opt_TCPIP);
    Opt_RTU->setChecked(rtu);
    Opt_TCPIP->setChecked(!rtu);
    IPAdresse->setVisible(!rtu);
    Port->setVisible(!rtu);
    if (expert_mode) {
        Label146->setVisible(!rtu);
        Label147->setVisible(!rtu);
        Bt_mb_settings->setEnabled(rtu);
        Bt_veri_mb_para->setEnabled(rtu);
    }
}

void TFormTarnwick::TarnwickWriteSettings()
{
    m_settingsFile->write(CollectSettings());
    const std::string err = m_settingsFile->save();
    if (!err.empty())
        m_dialogs.ShowException(m_destroying ? nullptr : this, QString::fromStdString(err));
}

void TFormTarnwick::CentreWindow(bool horizontallyOnly)
{
    const QScreen* s = screen();
    if (!s)
        return;
    const QRect area = s->geometry();
    const int left = static_cast<int>(std::lround(area.x() + (area.width() - width()) / 2.0));
    const int top = horizontallyOnly ? y() : static_cast<int>(std::lround(area.y() + (area.height() - height()) / 2.0));
    move(left, top);
}

void TFormTarnwick::bt_adv_viewClick()
{
    if (adv_view_collapsed) {
        resize(760, height());
        adv_view_collapsed = false;
        bt_adv_view->setText(QStringLiteral("<<"));
        if (subset_mode && !GroupSubset->isHidden())
            SubsetView->setVisible(true);
    } else {
        resize(525, height());
        adv_view_collapsed = true;
        bt_adv_view->setText(QStringLiteral(">>"));
        SubsetView->setVisible(false);
        SubsetView->setText(QStringLiteral(">>"));
    }
    CentreWindow(true);
}

}  // namespace tarnwick
