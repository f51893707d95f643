// One request at a time: the senders, their waits, the reply handlers' common frame, the
// frame events and the timers.
//
// A request is outstanding from its send until its reply handler ends or the watchdog (Timer2)
// gives up on it. Only then may the next one be sent: a sender that finds one outstanding
// waits. A reply is decoded only when it carries the transaction ID of the outstanding request;
// anything else arrived too late and is dropped, so it can never pass for the answer of a
// later request of another kind.

#include "FormTarnwick.h"

#include "StatusPanels.h"

#include "ConnectionRules.h"
#include "ModbusError.h"
#include "TcpSocket.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>

namespace tarnwick {

void TFormTarnwick::WaitUntil(const std::function<bool()>& done)
{
    // Every change of the awaited state comes from an event (a posted reply, a timer, a click),
    // so sleeping until the next event never misses one and never spins.
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TFormTarnwick::WaitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void TFormTarnwick::WaitForIdle()
{
    WaitUntil([this] { return !reply_pending || m_destroying; });
}

void TFormTarnwick::SetKindFlag(RequestKind kind, bool on)
{
    switch (kind) {
    case RequestKind::ExpertRead: exp_read_pending = on; break;
    case RequestKind::Heartbeat: heartbeat_pending = on; break;
    case RequestKind::ByteOrderRead: byte_order_read_pending = on; break;
    case RequestKind::CrtCheck: crt_check_pending = on; break;
    case RequestKind::CrtEnable: crt_enable_pending = on; break;
    case RequestKind::CrtDisable: crt_disable_pending = on; break;
    case RequestKind::Subset: subset_pending = on; break;
    case RequestKind::ConnectTest:  // lives until its reply, see ModbusClientDiagnostics
    case RequestKind::MeasuredValue:
    case RequestKind::Identification:
    case RequestKind::UnitWrite: break;
    }
}

bool TFormTarnwick::IsAwaited(std::uint32_t id) const { return m_awaitedId && *m_awaitedId == id; }

void TFormTarnwick::EndRequest()
{
    if (m_awaitedKind)
        SetKindFlag(*m_awaitedKind, false);
    m_awaitedKind.reset();
    m_awaitedId.reset();
    Timer2->stop();
    reply_pending = false;
}

bool TFormTarnwick::ShowReplyStatus(const modbus::TTransactionInfo& info, bool nameException)
{
    QString text;
    switch (info.Reply) {
    case modbus::trNoReply: text = QStringLiteral("No data received!"); break;
    case modbus::trInvalidFrame: text = QStringLiteral("Invalid Frame!"); break;
    case modbus::trUnmatchedReply: text = QStringLiteral("Unmatched Reply!"); break;
    case modbus::trExceptionReply: {
        text = QStringLiteral("Exception Reply!");
        if (nameException) {
            const std::string_view name = modbus::ServerExceptionName(info.ServerException);
            text += QStringLiteral("  -  ") + QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
        }
        break;
    }
    default: return false;
    }
    StatusBar1->SetText(3, text);
    return true;
}

void TFormTarnwick::DropLateReply(const modbus::TTransactionInfo& info)
{
    ++m_droppedReplies;
    // A late failure still says what happened on the line; a late answer is not decoded.
    if (!ShowReplyStatus(info, false))
        StatusBar1->SetText(3, QStringLiteral("Late reply ignored."));
}

bool TFormTarnwick::SendSerial(RequestKind kind, const std::function<std::uint32_t()>& call)
{
    WaitForIdle();
    if (m_destroying || !ModbusConnection->Active())
        return false;
    SetKindFlag(kind, true);
    m_awaitedKind = kind;
    reply_pending = true;
    Timer2->start();
    try {
        m_awaitedId = call();
    } catch (const modbus::EModbusError& e) {
        EndRequest();
        ShowError(QString::fromUtf8(e.what()));
        return false;
    }
    if (kind == RequestKind::ConnectTest)
        m_connectTestId = m_awaitedId;
    WaitUntil([this] { return !reply_pending || m_destroying; });
    return true;
}

std::uint32_t TFormTarnwick::BeginTcpRequest(RequestKind kind)
{
    SetKindFlag(kind, true);
    m_awaitedKind = kind;
    m_awaitedId = ++m_tcpRequestCounter;
    reply_pending = true;
    return *m_awaitedId;
}

void TFormTarnwick::TcpRequestFailed(const std::exception& error)
{
    EndRequest();
    // A socket error leaves a stream that cannot be followed any more: the connection is over.
    // Saying so once beats an error box for every further request of the loop.
    if (dynamic_cast<const modbus::ESocketError*>(&error)) {
        ModbusTCP->Disconnect();
        set_form_elements_after_disconnection();
    }
    ShowError(QString::fromUtf8(error.what()));
}

void TFormTarnwick::ReadRegisters(RequestKind kind, std::uint16_t reg, std::uint16_t count)
{
    if (!connected)
        return;
    if (Opt_RTU->isChecked()) {
        SendSerial(kind, [&] { return ModbusClient->ReadHoldingRegisters(reg, count); });
        return;
    }
    WaitForIdle();
    modbus::TTransactionInfo info;
    info.ID = BeginTcpRequest(kind);
    info.Reply = modbus::trSuccess;
    std::vector<uint16_t> values;
    try {
        if (ModbusTCP->ReadHoldingRegisters(reg, count, values)) {
            ModbusClientHoldingRegistersRead(info, reg, count, values);
            return;
        }
    } catch (const std::exception& e) {
        TcpRequestFailed(e);
        return;
    }
    EndRequest();
}

void TFormTarnwick::WriteRegister(RequestKind kind, std::uint16_t reg, std::uint16_t value)
{
    if (!connected)
        return;
    if (Opt_RTU->isChecked()) {
        SendSerial(kind, [&] { return ModbusClient->WriteSingleRegister(reg, value, 0); });
        return;
    }
    WaitForIdle();
    BeginTcpRequest(kind);
    try {
        ModbusTCP->WriteSingleRegister(reg, value);
    } catch (const std::exception& e) {
        TcpRequestFailed(e);
        return;
    }
    EndRequest();
}

void TFormTarnwick::ModbusClientHoldingRegistersRead(const modbus::TTransactionInfo& info, std::uint16_t,
                                                     std::uint16_t, const modbus::TRegValues& values)
{
    if (!IsAwaited(info.ID)) {
        DropLateReply(info);
        return;
    }
    if (Opt_TCPIP->isChecked())
        Timer4->start();
    ShowReplyStatus(info, false);
    switch (info.Reply) {
    case modbus::trInvalidFrame: CountInvalidFrame(); break;
    case modbus::trSuccess:
        // The first set flag wins, in this order; the expert, byte-order, CRT and subset
        // branches arrive with their functions.
        if (exp_read_pending) {
        } else if (heartbeat_pending) {
            ShowHeartbeat(values);
        } else if (byte_order_read_pending || crt_check_pending || subset_pending) {
        } else {
            ShowMeasuredValueBlock(values);
        }
        break;
    default: break;
    }
    EndRequest();
}

void TFormTarnwick::ModbusClientSingleRegisterWrite(const modbus::TTransactionInfo& info)
{
    if (!IsAwaited(info.ID)) {
        DropLateReply(info);
        return;
    }
    ShowReplyStatus(info, true);  // the single write does not count invalid frames
    EndRequest();
}

void TFormTarnwick::ModbusClientMultipleRegistersWrite(const modbus::TTransactionInfo& info)
{
    if (!IsAwaited(info.ID)) {
        DropLateReply(info);
        return;
    }
    ShowReplyStatus(info, true);
    if (info.Reply == modbus::trInvalidFrame)
        CountInvalidFrame();
    EndRequest();
}

void TFormTarnwick::CountInvalidFrame()
{
    bool ok = false;
    const int count = invalid_frame_count->text().toInt(&ok);
    invalid_frame_count->setText(QString::number(ok ? count + 1 : 1));
}

void TFormTarnwick::ModbusConnectionFrameSend(const modbus::TFrameData&) { status_bar_send_mb_req(); }

void TFormTarnwick::status_bar_send_mb_req()
{
    StatusBar1->SetText(3, QStringLiteral("Sending MODBUS request..."));
    StatusBar1->repaint();
    // The watchdog guards the outstanding request only; a stray frame must not arm it.
    if (reply_pending)
        Timer2->start();
}

void TFormTarnwick::ModbusConnectionFrameReceive(const modbus::TFrameData& frame)
{
    if (!frame.empty()) {
        StatusBar1->SetText(3, QStringLiteral("MODBUS reply received: %1 bytes.").arg(frame.size()));
    } else {
        StatusBar1->SetText(3, QStringLiteral("No data received!"));
        ClearValueColumn();
    }
    if (reply_pending)
        Timer2->start();
}

void TFormTarnwick::CheBox_loopClick()
{
    if (CheBox_loop->isChecked())
        Timer1->start();
    else
        Timer1->stop();
}

void TFormTarnwick::Timer1Timer()
{
    if (CheBox_loop->isChecked())
        MeasuredValueCycle(false);
}

void TFormTarnwick::Timer2Timer()
{
    StatusBar1->SetText(3, QString());
    // The request is given up: its flag ends with it, and its reply, should it still come,
    // is dropped. The connection test alone stays answerable (see ModbusClientDiagnostics).
    EndRequest();
}

void TFormTarnwick::Timer3Timer()
{
    Timer3->stop();
    StatusBar1->SetText(4, QString());
    if (!connected)
        return;
    ConfigurationSelect->setEnabled(true);
    StartMeas->setEnabled(true);
    for (QPushButton* b : m_subsetButtons)
        b->setEnabled(true);
}

void TFormTarnwick::Timer4Timer()
{
    Timer4->stop();
    if (!Opt_TCPIP->isChecked() || !connected)
        return;
    Bt_dis_connectClick();
    m_dialogs.MessageBox(this, QString::fromLatin1(app::TcpIdleCaption.data(), app::TcpIdleCaption.size()),
                         QString::fromLatin1(app::TcpIdleText.data(), app::TcpIdleText.size()), IDialogService::Icon::None,
                         IDialogService::Ok);
}

}  // namespace tarnwick
