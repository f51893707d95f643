#include "SerialSearch.h"

#include "ModbusError.h"

namespace search {

using namespace modbus;

TSerialSearch::TSerialSearch(TModbusConnection& connection, TModbusClient& client,
                             std::vector<TCombination> combinations, Options options)
    : connection_(connection), client_(client), list_(std::move(combinations)), options_(options)
{
    if (options_.quick)
        connection_.SetEndFrameByLength(true);
    client_.OnDiagnostics = [this](TModbusClient&, const TTransactionInfo& info, TDiagnosticAction, uint16_t) {
        Diagnostics(info);
    };
    client_.OnServerIdentificationReport = [this](TModbusClient&, const TTransactionInfo& info, int,
                                                  const TServerIdentificationData& data) {
        Identification(info, data);
    };
}

TSerialSearch::~TSerialSearch()
{
    client_.OnDiagnostics = nullptr;
    client_.OnServerIdentificationReport = nullptr;
}

void TSerialSearch::Start()
{
    if (started_)
        return;
    started_ = true;
    Probe();
}

void TSerialSearch::Stop()
{
    if (finished_)
        return;
    awaiting_ = false;
    pendingId_.reset();
    try {
        connection_.Close();
    } catch (const EModbusError&) {
        // Closing never fails in a way the user could act on; the walk ends either way.
    }
    Finish();
}

void TSerialSearch::Finish()
{
    finished_ = true;
    if (OnFinished)
        OnFinished();
}

bool TSerialSearch::OpenFor(const TCombination& c)
{
    try {
        if (!options_.quick || connection_.Port() != c.port)
            connection_.Close();
        if (!connection_.Active())
            connection_.SetPort(c.port);
        connection_.SetBaudRate(c.baud);
        connection_.SetParity(c.parity);
        connection_.SetReceiveTimeout(ProbeTimeoutMs(c, options_.quick));
        if (!connection_.Active())
            connection_.Open();
        return true;
    } catch (const EModbusError& e) {
        try {
            connection_.Close();
        } catch (const EModbusError&) {
        }
        finished_ = true;
        if (OnOpenFailed)
            OnOpenFailed(c, e.what());
        if (OnFinished)
            OnFinished();
        return false;
    }
}

void TSerialSearch::CloseUnlessQuick()
{
    if (options_.quick)
        return;
    try {
        connection_.Close();
    } catch (const EModbusError&) {
    }
}

void TSerialSearch::Probe()
{
    if (finished_)
        return;
    if (next_ >= list_.size()) {
        try {
            connection_.Close();
        } catch (const EModbusError&) {
        }
        Finish();
        return;
    }
    const TCombination& c = list_[next_];
    if (OnCombination)
        OnCombination(c);
    if (finished_)  // stopped from the notification
        return;
    client_.SetServerAddress(static_cast<uint8_t>(c.address));
    if (!OpenFor(c))
        return;
    Ask([this] { return client_.Diagnostics(daReturnQueryData, 0); });
}

template <typename Send>
void TSerialSearch::Ask(Send send)
{
    awaiting_ = true;
    pendingId_.reset();
    const uint32_t id = send();
    if (awaiting_ && !pendingId_)
        pendingId_ = id;
}

bool TSerialSearch::Answers(const TTransactionInfo& info)
{
    if (finished_ || !awaiting_ || (pendingId_ && *pendingId_ != info.ID))
        return false;
    awaiting_ = false;
    pendingId_.reset();
    return true;
}

void TSerialSearch::Advance()
{
    ++next_;
    Probe();
}

void TSerialSearch::Diagnostics(const TTransactionInfo& info)
{
    if (!Answers(info))
        return;
    if (info.Reply != trSuccess) {
        CloseUnlessQuick();
        Advance();
        return;
    }
    CloseUnlessQuick();
    if (!OpenFor(list_[next_]))
        return;
    Ask([this] { return client_.ReportServerIdentification(0); });
}

void TSerialSearch::Identification(const TTransactionInfo& info, const TServerIdentificationData& data)
{
    if (!Answers(info))
        return;
    const bool isVortan = info.Reply == trSuccess && IsVortanIdentification(data);
    CloseUnlessQuick();
    if (OnFound)
        OnFound(list_[next_], isVortan);
    if (!finished_)
        Advance();
}

}  // namespace search

namespace search {

void ApplyToConnection(TModbusConnection& connection, const TVortan_Device& device)
{
    connection.SetPort(device.ComPort);
    connection.SetBaudRate(device.BaudRate);
    connection.SetParity(device.Parity);
    connection.SetDataBits(db8);
    connection.SetStopBits(sb1);
    connection.SetFlowControl(fcNone);
    connection.SetTransmissionMode(tmRTU);
    connection.SetSilentInterval(4);
    connection.SetRTSEnabled(false);
    connection.SetDTREnabled(false);
}

}  // namespace search
