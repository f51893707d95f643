// One request at a time: the senders, their waits, the reply handlers' common frame, the
// frame events and the timers.
//
// A request is outstanding from its send until its reply handler ends or the watchdog (Timer2)
// gives up on it. Only then may the next one be sent: a sender that finds one outstanding
// waits. A reply is decoded only when it carries the transaction ID of the outstanding request;
// anything else arrived too late and is dropped, so it can never pass for the answer of a
// later request of another kind.

#include "FormTarnwick.h"

#include "Diagnostics.h"
#include "StatusPanels.h"
#include "SubsetPanel.h"

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
#include <QSpinBox>
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
    WaitUntil([this] { return !reply_pending() || m_destroying; });
}

TFormTarnwick::OperationGuard::OperationGuard(TFormTarnwick& w) : w_(w), owns_(!w.m_operationRunning)
{
    if (owns_)
        w_.m_operationRunning = true;
}

TFormTarnwick::OperationGuard::~OperationGuard()
{
    if (owns_)
        w_.m_operationRunning = false;
}

void TFormTarnwick::EndRequest()
{
    m_pending.reset();
    Timer2->stop();
}

void TFormTarnwick::Conclude(const modbus::TTransactionInfo& info, const modbus::TRegValues& values,
                             const modbus::TServerIdentificationData& data)
{
    modbus::Outcome o;
    o.status = info.Reply;
    o.attempts = info.Attempts;
    if (info.Reply == modbus::trExceptionReply) {
        o.exception = info.ServerException;
        o.exceptionCode = info.ExceptionCode;
    }
    if (info.Reply == modbus::trSuccess) {
        o.values = values;
        o.data = data;
    }
    m_outcome = std::move(o);
    RecordRequestEnd(info);
}

int TFormTarnwick::RequestAddress(const modbus::TTransactionInfo& info) const
{
    return Opt_RTU->isChecked() && info.ServerAddress != 0 ? info.ServerAddress : SpEd_slave_adr->value();
}

void TFormTarnwick::RecordRequestEnd(const modbus::TTransactionInfo& info)
{
    app::RequestEnd end = app::RequestEnd::Reply;
    switch (info.Reply) {
    case modbus::trSuccess: end = app::RequestEnd::Reply; break;
    case modbus::trNoReply: end = app::RequestEnd::Timeout; break;
    case modbus::trInvalidFrame: end = app::RequestEnd::BadChecksum; break;
    case modbus::trExceptionReply: end = app::RequestEnd::Exception; break;
    default: end = app::RequestEnd::Unmatched; break;
    }
    std::optional<double> ms;
    if (m_pending)
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_pending->started).count();
    m_diagnostics->RequestEnded(RequestAddress(info), end, ms);
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
    m_diagnostics->RequestEnded(RequestAddress(info), app::RequestEnd::Late, std::nullopt);
    // A late failure still says what happened on the line; a late answer is not decoded.
    if (!ShowReplyStatus(info, false))
        StatusBar1->SetText(3, QStringLiteral("Late reply ignored."));
}

modbus::Outcome TFormTarnwick::Transfer(RequestKind kind, const modbus::Request& r)
{
    modbus::Outcome aborted;
    aborted.aborted = true;
    WaitForIdle();
    const bool serial = Opt_RTU->isChecked();
    // The connection test runs before the window counts as connected.
    const bool open = kind == RequestKind::ConnectTest ? ModbusConnection->Active() : connected;
    if (m_destroying || !open || (serial && !ModbusConnection->Active()))
        return aborted;
    // The adapter has gone: nothing more is sent until the window has said so and disconnected.
    if (serial && ModbusConnection->LineLost())
        return aborted;
    if (!serial)
        return PerformTcpRequest(kind, r);

    m_outcome.reset();
    m_pending = PendingRequest{0, kind, r.start, r.count};
    Timer2->start();
    std::uint32_t id = 0;
    try {
        id = modbus::Submit(*ModbusClient, r);
    } catch (const modbus::EModbusError& e) {
        EndRequest();
        ShowError(QString::fromUtf8(e.what()));
        return aborted;
    }
    m_pending->id = id;
    if (kind == RequestKind::ConnectTest)
        m_connectTestId = id;
    WaitUntil([this, id] { return !IsAwaited(id) || m_destroying; });
    // Without an outcome the watchdog gave up, or the connection went while waiting.
    if (!m_outcome)
        return aborted;
    return *m_outcome;
}

modbus::Outcome TFormTarnwick::PerformTcpRequest(RequestKind kind, const modbus::Request& r)
{
    m_outcome.reset();
    m_pending = PendingRequest{++m_tcpRequestCounter, kind, r.start, r.count};
    modbus::Outcome o;
    try {
        o = modbus::PerformTcp(*ModbusTCP, r);
    } catch (const std::exception& e) {
        TcpRequestFailed(e);
        o.aborted = true;
        return o;
    }
    // The blocking call answered in place; the reply handlers then run as for a serial reply,
    // so that both transports show and decode the same.
    modbus::TTransactionInfo info;
    info.ID = m_pending->id;
    info.Attempts = o.attempts;
    info.Reply = o.status;
    info.ExceptionCode = o.exceptionCode;
    info.ServerException = o.exception.value_or(modbus::seUnknown);
    switch (r.op) {
    case modbus::Op::Read: ModbusClientHoldingRegistersRead(info, r.start, r.count, o.values); break;
    case modbus::Op::WriteSingle: ModbusClientSingleRegisterWrite(info); break;
    case modbus::Op::WriteMultiple: ModbusClientMultipleRegistersWrite(info); break;
    case modbus::Op::Identify:
        ModbusClientServerIdentificationReport(info, static_cast<int>(o.data.size()), o.data);
        break;
    case modbus::Op::Diagnostics: break;
    }
    if (m_pending)
        EndRequest();
    return o;
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

modbus::Outcome TFormTarnwick::ReadRegisters(RequestKind kind, std::uint16_t reg, std::uint16_t count)
{
    return Transfer(kind, modbus::Request::Read(reg, count));
}

modbus::Outcome TFormTarnwick::WriteRegister(RequestKind kind, std::uint16_t reg, std::uint16_t value)
{
    return Transfer(kind, modbus::Request::WriteSingle(reg, value));
}

modbus::Outcome TFormTarnwick::WriteRegisters(RequestKind kind, std::uint16_t reg, std::vector<std::uint16_t> values)
{
    return Transfer(kind, modbus::Request::WriteMultiple(reg, std::move(values)));
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
    Conclude(info, values);
    ShowReplyStatus(info, false);
    if (info.Reply == modbus::trInvalidFrame)
        CountInvalidFrame();
    if (info.Reply == modbus::trSuccess) {
        // The kind of the request decides; the senders of the other kinds decode their own
        // answer from the outcome, by what they asked for.
        switch (m_pending->kind) {
        case RequestKind::Heartbeat: ShowHeartbeat(values); break;
        case RequestKind::MeasuredValue: ShowMeasuredValueBlock(values); break;
        default: break;
        }
    }
    EndRequest();
}

void TFormTarnwick::ModbusClientSingleRegisterWrite(const modbus::TTransactionInfo& info)
{
    EndWrite(info, false);  // the single write does not count invalid frames
}

void TFormTarnwick::ModbusClientMultipleRegistersWrite(const modbus::TTransactionInfo& info)
{
    EndWrite(info, true);
}

void TFormTarnwick::EndWrite(const modbus::TTransactionInfo& info, bool countInvalidFrame)
{
    if (!IsAwaited(info.ID)) {
        DropLateReply(info);
        return;
    }
    if (Opt_TCPIP->isChecked())
        Timer4->start();
    Conclude(info);
    ShowReplyStatus(info, true);
    if (countInvalidFrame && info.Reply == modbus::trInvalidFrame)
        CountInvalidFrame();
    EndRequest();
}

void TFormTarnwick::CountInvalidFrame()
{
    bool ok = false;
    const int count = invalid_frame_count->text().toInt(&ok);
    invalid_frame_count->setText(QString::number(ok ? count + 1 : 1));
}

void TFormTarnwick::ModbusConnectionFrameSend(const modbus::TFrameData& frame)
{
    m_diagnostics->Frame(ModbusConnection->TransmissionMode() == modbus::tmASCII ? app::FrameKind::Ascii
                                                                                  : app::FrameKind::Rtu,
                         app::Direction::Sent, frame);
    status_bar_send_mb_req();
}

void TFormTarnwick::status_bar_send_mb_req()
{
    StatusBar1->SetText(3, QStringLiteral("Sending MODBUS request..."));
    StatusBar1->repaint();
    // The watchdog guards the outstanding request only; a stray frame must not arm it.
    if (reply_pending())
        Timer2->start();
}

void TFormTarnwick::ModbusConnectionFrameReceive(const modbus::TFrameData& frame)
{
    m_diagnostics->Frame(ModbusConnection->TransmissionMode() == modbus::tmASCII ? app::FrameKind::Ascii
                                                                                  : app::FrameKind::Rtu,
                         app::Direction::Received, frame);
    if (!frame.empty()) {
        StatusBar1->SetText(3, QStringLiteral("MODBUS reply received: %1 bytes.").arg(frame.size()));
    } else {
        StatusBar1->SetText(3, QStringLiteral("No data received!"));
        ClearValueColumn();
    }
    if (reply_pending())
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
    if (m_pending)
        m_diagnostics->RequestEnded(SpEd_slave_adr->value(), app::RequestEnd::Timeout, std::nullopt);
    // The request is given up: its flag ends with it, and its reply, should it still come,
    // is dropped. The connection test alone stays answerable (see ModbusClientDiagnostics).
    EndRequest();
}

void TFormTarnwick::Timer3Timer()
{
    Timer3->stop();
    // A page operation started meanwhile goes first; the refresh follows it.
    const OperationGuard operation(*this);
    if (!operation) {
        Timer3->start();
        return;
    }
    StatusBar1->SetText(4, QString());
    if (!connected)
        return;
    GroupSubset->CheckMeasClick();
    if (connected)
        GroupSubset->EnablePageControls();
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
