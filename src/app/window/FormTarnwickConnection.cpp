// Connecting and disconnecting over RTU and TCP, the connection test, the control states of
// both states, and the dialogs opened from the communication area.

#include "FormTarnwick.h"

#include "MBParaVeri.h"
#include "ModbusConnectionEditor.h"
#include "SubsetPanel.h"

#include "MB_Serial_Parameters.h"
#include "QtMainThread.h"
#include "StatusPanels.h"

#include "ConnectionRules.h"
#include "ModbusError.h"
#include "SerialPortList.h"
#include "TcpSocket.h"
#include "UnitTables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>

namespace tarnwick {

namespace {

QString ErrorText(const modbus::EModbusError& e)
{
    QString text = QString::fromUtf8(e.what());
    if (!e.Reason().empty())
        text += QStringLiteral("\n") + QString::fromStdString(e.Reason());
    return text;
}

}  // namespace

void TFormTarnwick::Opt_RTUClick()
{
    for (QWidget* w : {static_cast<QWidget*>(Label146), static_cast<QWidget*>(Label147),
                       static_cast<QWidget*>(IPAdresse), static_cast<QWidget*>(Port)})
        w->setVisible(false);
    Opt_RTU->setChecked(true);
    Opt_TCPIP->setChecked(false);
    Bt_mb_settings->setEnabled(true);
    Bt_veri_mb_para->setEnabled(true);
}

void TFormTarnwick::Opt_TCPIPClick()
{
    // A serial attempt whose test is still unanswered is abandoned, so its late answer cannot
    // close or report on the TCP connection that follows.
    if (!connected && ModbusConnection->Active()) {
        m_connectTestId.reset();
        try {
            ModbusConnection->SetActive(false);
        } catch (const modbus::EModbusError& e) {
            ShowError(ErrorText(e));
        }
    }
    for (QWidget* w : {static_cast<QWidget*>(Label146), static_cast<QWidget*>(Label147),
                       static_cast<QWidget*>(IPAdresse), static_cast<QWidget*>(Port)})
        w->setVisible(true);
    Opt_TCPIP->setChecked(true);
    Opt_RTU->setChecked(false);
    Bt_mb_settings->setEnabled(false);
    Bt_veri_mb_para->setEnabled(false);
}

void TFormTarnwick::SpEd_slave_adrExit()
{
    if (SpEd_slave_adr->cleanText().trimmed().isEmpty())
        SpEd_slave_adr->setValue(1);
}

void TFormTarnwick::Bt_dis_connectClick()
{
    SpEd_slave_adrExit();
    const auto slave = static_cast<uint8_t>(SpEd_slave_adr->value());

    if (!ModbusConnection->Active() && Opt_RTU->isChecked()) {
        try {
            ModbusConnection->SetSilentInterval(
                app::silentIntervalForBaud(modbus::BaudRateValue(ModbusConnection->BaudRate())));
            ModbusClient->SetServerAddress(slave);
            ModbusConnection->SetActive(true);
        } catch (const modbus::EModbusError& e) {
            ShowError(ErrorText(e));
            return;
        }
        Transfer(RequestKind::ConnectTest, modbus::Request{modbus::Op::Diagnostics});
    } else if (Opt_TCPIP->isChecked() && !connected) {
        const std::optional<int> port = app::parseTcpPort(Port->text().toStdString());
        if (!port) {
            ShowError(QStringLiteral("'%1' is not a valid port number (1 to 65535)").arg(Port->text()));
            return;
        }
        ModbusTCP->SetHost(IPAdresse->text().trimmed().toStdString());
        ModbusTCP->SetPort(*port);
        ModbusTCP->SetUnitID(slave);
        try {
            // Bounded like every other TCP exchange, so a wrong address does not freeze the
            // window for the system's connect time-out.
            ModbusTCP->Connect(static_cast<int>(ModbusTCP->TimeOut()));
        } catch (const modbus::ESocketError& e) {
            ShowError(QString::fromUtf8(e.what()));
            return;
        } catch (const modbus::EModbusError& e) {
            ShowError(ErrorText(e));
            return;
        }
        Timer4->start();
    } else {
        if (Opt_TCPIP->isChecked() && connected)
            ModbusTCP->Disconnect();
        connected = false;
        set_form_elements_after_disconnection();
    }

    invalid_frame_count->setText(QStringLiteral("0"));
    if (!connected) {
        if (Opt_TCPIP->isChecked()) {
            ModbusTCP->Disconnect();
            // Left running, the idle timer would reconnect by itself later.
            Timer4->stop();
        }
        return;
    }
    set_form_elements_after_suc_connection();
    ReadIdentificationAfterConnect();
}

void TFormTarnwick::ModbusTCPConnected()
{
    std::vector<uint16_t> values;
    try {
        connected = ModbusTCP->ReadHoldingRegisters(65535, 1, values);
    } catch (const std::exception&) {
        // A probe that fails for any reason closes the connection without a message.
        connected = false;
    }
}

void TFormTarnwick::ModbusClientDiagnostics(const modbus::TTransactionInfo& info)
{
    if (!m_connectTestId || *m_connectTestId != info.ID) {
        DropLateReply(info);
        return;
    }
    m_connectTestId.reset();
    if (info.Reply == modbus::trSuccess) {
        set_form_elements_after_suc_connection();
    } else {
        StatusBar1->SetText(3, QString());
        connected = false;
        try {
            ModbusConnection->SetActive(false);
        } catch (const modbus::EModbusError& e) {
            ShowError(ErrorText(e));
        }
        if (IsAwaited(info.ID))
            EndRequest();
        m_dialogs.MessageBox(this, QStringLiteral("ERROR"),
                             QString::fromStdString(app::connectionFailureText(
                                 SpEd_slave_adr->value(), ModbusConnection->EchoQueryBeforeReply())),
                             IDialogService::Icon::Error, IDialogService::Ok);
    }
    if (IsAwaited(info.ID)) {
        Conclude(info);
        EndRequest();
    }
}

void TFormTarnwick::ModbusConnectionLineLost()
{
    // Before the connection counts as connected, its test reports the failure itself.
    if (!connected || !Opt_RTU->isChecked())
        return;
    const std::string port = ModbusConnection->Port();
    // Ends the loop and any waiting sender, and closes the port, so that Connect opens the
    // adapter afresh once it is plugged in again.
    set_form_elements_after_disconnection();
    m_dialogs.MessageBox(this, QStringLiteral("ERROR"), QString::fromStdString(modbus::AdapterDisconnectedText(port)),
                         IDialogService::Icon::Error, IDialogService::Ok);
}

void TFormTarnwick::ReadIdentificationAfterConnect()
{
    const OperationGuard operation(*this);
    ReadIdentification();
    check_crt_activation();
    if (subset_mode)
        ReadSubsetStateAfterConnect();
}

void TFormTarnwick::set_form_elements_after_suc_connection()
{
    connected = true;
    Bt_dis_connect->setText(QStringLiteral("Disconnect"));
    StatusBar1->SetText(0, QStringLiteral("Connected"));
    SetConnectedControls(true);
    cb_unit->setEnabled(units::unitBoxEnabled(cb_meas_val->currentIndex(), true));
}

void TFormTarnwick::set_form_elements_after_disconnection()
{
    connected = false;
    // Whatever was outstanding cannot be answered any more; its sender stops waiting.
    m_connectTestId.reset();
    EndRequest();
    Bt_dis_connect->setText(QStringLiteral("Connect"));
    StatusBar1->SetText(0, QStringLiteral("Disconnected"));
    StatusBar1->SetText(1, QStringLiteral("CRT"));
    StatusBar1->SetText(2, QString());
    StatusBar1->SetText(3, QString());
    ClearValueColumn();
    StringGrid1->item(3, 1)->setText(QString());
    CheBox_loop->setChecked(false);
    CheBox_loopClick();
    SetConnectedControls(false);
    cb_unit->setEnabled(false);
    Timer4->stop();
    TimerInputsInterval->stop();
    try {
        ModbusConnection->SetActive(false);
    } catch (const modbus::EModbusError& e) {
        ShowError(ErrorText(e));
    }
}

void TFormTarnwick::SetConnectedControls(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(CheBox_loop), static_cast<QWidget*>(Bt_read_adr),
                       static_cast<QWidget*>(Bt_report_slave_id), static_cast<QWidget*>(cb_channel),
                       static_cast<QWidget*>(cb_meas_val), static_cast<QWidget*>(Bt_read_adr_exp_mode),
                       static_cast<QWidget*>(Bt_write_adr_exp_mode), static_cast<QWidget*>(Button_activate_crt),
                       static_cast<QWidget*>(Button_deactivate_crt)})
        w->setEnabled(on);
    GroupSubset->SetConnected(on);
    for (QWidget* w : {static_cast<QWidget*>(SpEd_slave_adr), static_cast<QWidget*>(Bt_mb_settings),
                       static_cast<QWidget*>(Bt_veri_mb_para), static_cast<QWidget*>(IPAdresse),
                       static_cast<QWidget*>(Port), static_cast<QWidget*>(Opt_RTU), static_cast<QWidget*>(Opt_TCPIP)})
        w->setEnabled(!on);
}

void TFormTarnwick::Bt_mb_settingsClick()
{
    if (expert_mode) {
        modbus::EditorHooks hooks;
        hooks.exec = [this](QDialog& dialog) { return m_dialogs.Exec(dialog); };
        hooks.showMessage = [this](QWidget* parent, const QString& text) { m_dialogs.ShowException(parent, text); };
        try {
            modbus::EditConnection(*ModbusConnection, QStringLiteral("Modbus Settings"), hooks, this);
        } catch (const modbus::EModbusError& e) {
            ShowError(ErrorText(e));
        }
        return;
    }
    TForm_mb_settings dialog(*ModbusConnection, this);
    dialog.SetErrorHandler([this](const QString& text) { ShowError(text); });
    m_dialogs.Exec(dialog);
}

void TFormTarnwick::Bt_veri_mb_paraClick()
{
    search::TFormVeriMBPara dialog(*m_mainThread, m_dialogs, this);
    dialog.OnApply = [this](const search::TVortan_Device& device) {
        SpEd_slave_adr->setValue(device.Addr);
        try {
            search::ApplyToConnection(*ModbusConnection, device);
        } catch (const modbus::EModbusError& e) {
            ShowError(ErrorText(e));
        }
    };
    m_dialogs.Exec(dialog);
}

}  // namespace tarnwick
