#include "SerialBackend.h"

#include "Output.h"
#include "SerialPortList.h"

#include <chrono>

namespace cli {

using namespace modbus;
using Clock = std::chrono::steady_clock;

SerialBackend::SerialBackend(const SerialOptions& o) : connection_(events_)
{
    // No event loop here: each transaction runs on this thread, with no hand-off to a worker.
    connection_.SetSynchronous(true);
    connection_.SetPort(o.port);
    const TBaudRate named = BaudRateFromValue(o.baud);
    if (named == brCustom)
        connection_.SetCustomBaudRate(o.baud);
    else
        connection_.SetBaudRate(named);
    connection_.SetParity(o.parity);
    connection_.SetDataBits(o.dataBits);
    connection_.SetStopBits(o.stopBits);
    connection_.SetTransmissionMode(o.ascii ? tmASCII : tmRTU);
    connection_.SetEchoQueryBeforeReply(o.echo);
    connection_.SetReceiveTimeout(o.receiveTimeoutMs);
    connection_.SetMaxRetries(o.retries);
    connection_.SetRefetchDelay(o.refetchDelayMs);
    connection_.SetTurnaroundDelay(o.turnaroundDelayMs);
    connection_.SetSilentInterval(o.silentInterval);
    connection_.SetEndFrameByLength(o.endFrameByLength);
    client_.SetConnection(&connection_);
    client_.SetServerAddress(o.address);

    auto finish = [this](const char* op, const TTransactionInfo& info) -> Outcome& {
        result_.emplace();
        result_->op = op;
        result_->status = info.Reply;
        result_->attempts = info.Attempts;
        if (info.Reply == trExceptionReply) {
            result_->exception = info.ServerException;
            result_->exceptionCode = info.ExceptionCode;
        }
        return *result_;
    };
    client_.OnHoldingRegistersRead = [finish](TModbusClient&, const TTransactionInfo& i, uint16_t start,
                                              uint16_t, const TRegValues& v) {
        Outcome& o = finish("read", i);
        o.start = start;
        o.values = v;
    };
    client_.OnSingleRegisterWrite = [finish](TModbusClient&, const TTransactionInfo& i, uint16_t reg,
                                             uint16_t value) {
        Outcome& o = finish("write", i);
        o.start = reg;
        o.values = {value};
    };
    client_.OnMultipleRegistersWrite = [finish](TModbusClient&, const TTransactionInfo& i, uint16_t start,
                                                uint16_t, const TRegValues& v) {
        Outcome& o = finish("write-multiple", i);
        o.start = start;
        o.values = v;
    };
    client_.OnDiagnostics = [finish](TModbusClient&, const TTransactionInfo& i, TDiagnosticAction,
                                     uint16_t result) { finish("diag", i).diagResult = result; };
    client_.OnServerIdentificationReport = [finish](TModbusClient&, const TTransactionInfo& i, int,
                                                    const TServerIdentificationData& d) {
        finish("id", i).data = d;
    };
    if (o.trace) {
        const app::FrameKind kind = o.ascii ? app::FrameKind::Ascii : app::FrameKind::Rtu;
        connection_.SetOnFrameSend([kind](TModbusConnection&, const TFrameData& f) { TraceFrame(kind, true, f); });
        connection_.SetOnFrameReceive([kind](TModbusConnection&, const TFrameData& f) { TraceFrame(kind, false, f); });
    }
    connection_.Open();
}

Outcome SerialBackend::Perform(const Request& r)
{
    result_.reset();
    const auto t0 = Clock::now();
    Submit(client_, r);
    // The result event has run by now; only a broadcast has none.
    if (!result_) {
        result_.emplace();
        result_->status = trNoReply;
    }
    result_->elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    return *result_;
}

std::string SerialBackend::Lost() const
{
    return connection_.LineLost() ? AdapterDisconnectedText(connection_.Port()) : std::string();
}

}  // namespace cli
