#include "ModbusConnection.h"

#include "ModbusClient.h"
#include "ModbusError.h"
#include "ModbusFrame.h"
#include "TransactionThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

namespace modbus {

uint32_t ComputeEffectiveSilentInterval(TTransmissionMode mode, uint32_t silentInterval,
                                        uint32_t baud, TDataBits dataBits, TParityScheme parity,
                                        TStopBits stopBits)
{
    uint64_t ms = silentInterval;
    if (mode == tmRTU) {
        const uint64_t bits = (parity != psNone ? 1 : 0) + (dataBits == db7 ? 7 : 8) +
                              (stopBits == sb2 ? 2 : 1);
        const uint64_t rate = baud ? baud : 1;
        ms = (bits * silentInterval * 1000 + rate - 1) / rate;
    }
    ms = std::max<uint64_t>(ms, 16);
    return static_cast<uint32_t>(std::min<uint64_t>(ms, std::numeric_limits<uint32_t>::max()));
}

namespace {

using Clock = std::chrono::steady_clock;

uint64_t BitsPerCharacter(TDataBits dataBits, TParityScheme parity, TStopBits stopBits)
{
    return 1 + (dataBits == db7 ? 7 : 8) + (parity != psNone ? 1 : 0) + (stopBits == sb2 ? 2 : 1);
}

}  // namespace

uint32_t ComputeInterFrameGap(TTransmissionMode mode, uint32_t silentInterval, uint32_t baud,
                              TDataBits dataBits, TParityScheme parity, TStopBits stopBits)
{
    if (mode != tmRTU)
        return 0;
    const uint64_t rate = baud ? baud : 1;
    // 3.5 characters = 7 half characters.
    const uint64_t gap = (7 * BitsPerCharacter(dataBits, parity, stopBits) * 1000 + 2 * rate - 1) / (2 * rate);
    const uint32_t silent =
        ComputeEffectiveSilentInterval(mode, silentInterval, baud, dataBits, parity, stopBits);
    return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(gap, silent),
                                                    std::numeric_limits<uint32_t>::max()));
}

TModbusConnection::TModbusConnection(IMainThread& mainThread, PortFactory portFactory)
    : mainThread_(mainThread),
      portFactory_(portFactory ? std::move(portFactory) : PortFactory(CreatePosixSerialPort))
{
}

TModbusConnection::~TModbusConnection()
{
    destroying_ = true;
    try {
        SetActive(false);
    } catch (...) {
        CloseProcedure();
    }
    for (TModbusClient* c : std::vector<TModbusClient*>(clients_))
        c->ConnectionDestroyed();
    clients_.clear();
}

void TModbusConnection::SetActive(bool value)
{
    if (value == active_)
        return;
    if (value) {
        if (OnBeforeOpen)
            OnBeforeOpen(*this);
        OpenProcedure();
        if (OnAfterOpen)
            OnAfterOpen(*this);
        active_ = true;
    } else {
        if (OnBeforeClose)
            OnBeforeClose(*this);
        CloseProcedure();
        if (OnAfterClose)
            OnAfterClose(*this);
        active_ = false;
    }
}

void TModbusConnection::OpenProcedure()
{
    lineLost_ = false;
    lineLostReported_ = false;
    port_io_ = portFactory_();
    if (hookExistingPort_) {
        int handle = -1;
        if (OnGetHookedPortHandle)
            OnGetHookedPortHandle(*this, handle);
        if (handle < 0) {
            port_io_.reset();
            throw EModbusError(msg::CannotOpenPort);
        }
        port_io_->Hook(handle);
    } else {
        try {
            port_io_->Open(port_);
        } catch (...) {
            port_io_.reset();
            throw;
        }
    }
    try {
        if (inputBufferSize_ <= 0 || outputBufferSize_ <= 0)
            throw EModbusError(msg::InitBuffersFailed);
        if (!ApplyLineSettings())
            throw EModbusError(msg::UpdateDcbFailed);
        RecomputeSilentInterval();
        if (synchronous_ && connectionMode_ == cmClient) {
            runner_ = std::make_unique<TTransactionRunner>(*this);
            PurgePort(true, true);
        } else {
            thread_ = std::make_unique<TTransactionThread>(*this);
        }
    } catch (...) {
        CloseProcedure();
        throw;
    }
}

void TModbusConnection::CloseProcedure()
{
    thread_.reset();
    // Closed from an event of a synchronous run: the queued operations go without events, and
    // the runner, which may be in the middle of an attempt, lives until the run has returned.
    pending_.clear();
    if (running_)
        retired_ = std::move(runner_);
    runner_.reset();
    if (port_io_)
        port_io_->Close();
    port_io_.reset();
}

void TModbusConnection::RequireInactive(bool changed) const
{
    if (changed && active_)
        throw EModbusError(msg::MustNotBeActive);
}

LineSettings TModbusConnection::CurrentLineSettings() const
{
    LineSettings s;
    s.baud = LineBaud();
    s.dataBits = dataBits_;
    s.parity = parity_;
    s.stopBits = stopBits_;
    s.flowControl = flowControl_;
    s.rtsOn = rtsEnabled_ && (flowControl_ == fcNone || flowControl_ == fcDtrDsr);
    s.dtrOn = dtrEnabled_ && flowControl_ != fcDtrDsr;
    return s;
}

uint32_t TModbusConnection::LineBaud() const
{
    return baudRate_ == brCustom ? customBaudRate_ : BaudRateValue(baudRate_);
}

bool TModbusConnection::ApplyLineSettings()
{
    return port_io_ && port_io_->IsOpen() && port_io_->Configure(CurrentLineSettings());
}

void TModbusConnection::RecomputeSilentInterval()
{
    const uint32_t baud = LineBaud();
    const uint32_t v = ComputeEffectiveSilentInterval(transmissionMode_, silentInterval_, baud,
                                                      dataBits_, parity_, stopBits_);
    const uint32_t gap = ComputeInterFrameGap(transmissionMode_, silentInterval_, baud, dataBits_,
                                              parity_, stopBits_);
    const uint64_t rate = baud ? baud : 1;
    const uint64_t charUs = (BitsPerCharacter(dataBits_, parity_, stopBits_) * 1000000 + rate - 1) / rate;
    std::unique_lock lock(settingsLock_);
    effectiveSilentInterval_ = v;
    interFrameGap_ = gap;
    characterTimeUs_ = static_cast<uint32_t>(std::min<uint64_t>(charUs, std::numeric_limits<uint32_t>::max()));
}

#define TARNWICK_INACTIVE_SETTER(Name, member)      \
    void TModbusConnection::Set##Name(decltype(member) v) \
    {                                               \
        RequireInactive(v != member);               \
        member = v;                                 \
    }

TARNWICK_INACTIVE_SETTER(ConnectionMode, connectionMode_)
TARNWICK_INACTIVE_SETTER(DTREnabled, dtrEnabled_)
TARNWICK_INACTIVE_SETTER(FlowControl, flowControl_)
TARNWICK_INACTIVE_SETTER(HookExistingPort, hookExistingPort_)
TARNWICK_INACTIVE_SETTER(InputBufferSize, inputBufferSize_)
TARNWICK_INACTIVE_SETTER(OutputBufferSize, outputBufferSize_)
TARNWICK_INACTIVE_SETTER(RTSEnabled, rtsEnabled_)
TARNWICK_INACTIVE_SETTER(TransmissionMode, transmissionMode_)
TARNWICK_INACTIVE_SETTER(Synchronous, synchronous_)
#undef TARNWICK_INACTIVE_SETTER

void TModbusConnection::SetPort(const std::string& v)
{
    RequireInactive(v != port_);
    port_ = v;
}

// Line settings reach an open port at once; a port that refuses them raises.
#define TARNWICK_LINE_SETTER(Name, member)                  \
    void TModbusConnection::Set##Name(decltype(member) v)   \
    {                                                       \
        member = v;                                         \
        if (active_) {                                      \
            RecomputeSilentInterval();                      \
            if (!ApplyLineSettings())                       \
                throw EModbusError(msg::UpdateDcbFailed);   \
        }                                                   \
    }

TARNWICK_LINE_SETTER(BaudRate, baudRate_)
TARNWICK_LINE_SETTER(DataBits, dataBits_)
TARNWICK_LINE_SETTER(Parity, parity_)
TARNWICK_LINE_SETTER(StopBits, stopBits_)
#undef TARNWICK_LINE_SETTER

void TModbusConnection::SetCustomBaudRate(uint32_t v)
{
    customBaudRate_ = v;
    SetBaudRate(brCustom);
}

void TModbusConnection::SetSilentInterval(uint32_t v)
{
    silentInterval_ = v;
    if (active_)
        RecomputeSilentInterval();
}

void TModbusConnection::SetThreadPriority(TThreadPriority v)
{
    threadPriority_ = v;
    if (thread_)
        thread_->SetPriority(v);
}

#define TARNWICK_TIMING(Name, member)                    \
    uint32_t TModbusConnection::Name() const             \
    {                                                    \
        std::shared_lock lock(settingsLock_);            \
        return member;                                   \
    }                                                    \
    void TModbusConnection::Set##Name(uint32_t v)        \
    {                                                    \
        std::unique_lock lock(settingsLock_);            \
        member = v;                                      \
    }

TARNWICK_TIMING(ReceiveTimeout, receiveTimeout_)
TARNWICK_TIMING(RefetchDelay, refetchDelay_)
TARNWICK_TIMING(RTSHoldDelay, rtsHoldDelay_)
TARNWICK_TIMING(SendTimeout, sendTimeout_)
TARNWICK_TIMING(TurnaroundDelay, turnaroundDelay_)
#undef TARNWICK_TIMING

uint32_t TModbusConnection::MaxRetries() const
{
    std::shared_lock lock(settingsLock_);
    return maxRetries_;
}

void TModbusConnection::SetMaxRetries(uint32_t v)
{
    if (v == 0)
        throw EModbusError(msg::ValueRange, 1, 4294967295LL);
    std::unique_lock lock(settingsLock_);
    maxRetries_ = v;
}

uint32_t TModbusConnection::EffectiveSilentInterval() const
{
    std::shared_lock lock(settingsLock_);
    return effectiveSilentInterval_;
}

uint32_t TModbusConnection::InterFrameGap() const
{
    std::shared_lock lock(settingsLock_);
    return interFrameGap_;
}

void TModbusConnection::SetEchoQueryBeforeReply(bool v)
{
    echoQueryBeforeReply_ = v;
}

void TModbusConnection::SetOnFrameSend(FrameEvent fn)
{
    hasFrameSend_ = static_cast<bool>(fn);
    onFrameSend_ = std::move(fn);
}

void TModbusConnection::SetOnFrameReceive(FrameEvent fn)
{
    hasFrameReceive_ = static_cast<bool>(fn);
    onFrameReceive_ = std::move(fn);
}

void TModbusConnection::AddClient(TModbusClient* c)
{
    if (c && !HasClient(c))
        clients_.push_back(c);
}

void TModbusConnection::RemoveClient(TModbusClient* c)
{
    clients_.erase(std::remove(clients_.begin(), clients_.end(), c), clients_.end());
}

bool TModbusConnection::HasClient(const TModbusClient* c) const
{
    return std::find(clients_.begin(), clients_.end(), c) != clients_.end();
}

void TModbusConnection::Submit(std::unique_ptr<TModbusTransaction> t, TModbusClient* client)
{
    if (!active_ || !(thread_ || runner_))
        throw EModbusError(msg::MustBeActive);
    t->client = client;
    if (thread_) {
        thread_->Submit(std::move(t));
        return;
    }
    pending_.push_back(std::move(t));
    if (!running_)
        RunQueued();
}

void TModbusConnection::RunQueued()
{
    running_ = true;
    struct Reset {
        TModbusConnection& c;
        ~Reset()
        {
            c.running_ = false;
            c.retired_.reset();
        }
    } reset{*this};
    // An event may close or reopen the connection: look at the runner afresh every time.
    while (runner_ && !pending_.empty()) {
        std::unique_ptr<TModbusTransaction> t = std::move(pending_.front());
        pending_.pop_front();
        try {
            if (runner_->Run(*t))
                Deliver(*t);
            // After the result, so that its receiver has seen it before hearing why.
            ReportLineLost();
        } catch (const std::exception& e) {
            mainThread_.ShowException(e.what());
        }
    }
}

void TModbusConnection::RemoveTransactions(TModbusClient* client)
{
    if (!active_ || connectionMode_ != cmClient)
        return;
    if (thread_)
        thread_->RemoveTransactions(client);
    std::erase_if(pending_, [client](const auto& t) { return t->client == client; });
}

void TModbusConnection::PurgePort(bool input, bool output)
{
    if (port_io_)
        port_io_->Purge(input, output);
}

void TModbusConnection::WaitForInterFrameGap()
{
    // A reply that ends as soon as it is whole leaves no silence behind it by itself.
    if (lastByteReceived_ == Clock::time_point{})
        return;
    std::this_thread::sleep_until(lastByteReceived_ + std::chrono::milliseconds(InterFrameGap()));
}

bool TModbusConnection::SendFrame(const uint8_t* bytes, int length)
{
    if (OnBeforeFrameSendAsync)
        OnBeforeFrameSendAsync(*this);
    if (!port_io_)
        return false;
    const bool toggle = flowControl_ == fcRtsToggle;
    if (toggle)
        port_io_->SetRTS(true);
    const uint32_t sendTimeout = SendTimeout();
    const auto writeStart = Clock::now();
    bool ok = port_io_->Write(bytes, length,
                              static_cast<int>(std::min<uint32_t>(sendTimeout, std::numeric_limits<int>::max())));
    if (ok)
        ok = AwaitTransmitted(writeStart, length, sendTimeout);
    if (toggle) {
        if (const uint32_t hold = RTSHoldDelay())
            std::this_thread::sleep_for(std::chrono::milliseconds(hold));
        port_io_->SetRTS(false);
    }
    if (OnAfterFrameSendAsync)
        OnAfterFrameSendAsync(*this);
    return ok;
}

// The driver's queue tells what it still holds; the frame's wire time covers what sits in the
// transmitter's FIFO or an adapter, which no driver reports reliably. A line that has not sent
// the frame by its wire time plus SendTimeout is stalled (CTS held low, a hung adapter).
bool TModbusConnection::AwaitTransmitted(Clock::time_point writeStart, int length,
                                         uint32_t sendTimeoutMs)
{
    uint32_t charUs;
    {
        std::shared_lock lock(settingsLock_);
        charUs = characterTimeUs_;
    }
    const auto sent = writeStart + std::chrono::microseconds(uint64_t(length) * charUs);
    transmitted_ = sent;
    const auto deadline = sent + std::chrono::milliseconds(sendTimeoutMs);
    for (;;) {
        const int queued = port_io_->OutputQueued();
        const auto now = Clock::now();
        if (queued <= 0) {
            // RTS must stay up until the last bit; otherwise the reply's time-out starts at
            // the wire time instead (MsUntilTransmitted), and a reply, or an echo, that comes
            // sooner is read at once.
            if (flowControl_ == fcRtsToggle)
                std::this_thread::sleep_until(sent);
            return true;
        }
        if (now >= deadline) {
            port_io_->Purge(false, true);
            return false;
        }
        const auto step = std::clamp<Clock::duration>(std::chrono::microseconds(uint64_t(queued) * charUs),
                                                      std::chrono::milliseconds(1), std::chrono::milliseconds(20));
        std::this_thread::sleep_until(std::min(now + step, deadline));
    }
}

uint32_t TModbusConnection::MsUntilTransmitted() const
{
    const auto left = transmitted_ - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<uint32_t>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

void TModbusConnection::WaitUntilTransmitted() const
{
    std::this_thread::sleep_until(transmitted_);
}

int TModbusConnection::ReceiveFrame(uint8_t* buf, int capacity, int firstTimeoutMs,
                                    const uint8_t* echo, int echoLength)
{
    if (firstTimeoutMs == 0 || !port_io_)
        return 0;
    return transmissionMode_ == tmRTU ? ReceiveRTU(buf, capacity, firstTimeoutMs, echo, echoLength)
                                      : ReceiveASCII(buf, capacity, firstTimeoutMs);
}

int TModbusConnection::ReceiveRTU(uint8_t* buf, int capacity, int firstTimeoutMs,
                                  const uint8_t* echo, int echoLength)
{
    if (port_io_->WaitForData(firstTimeoutMs) != WaitResult::Data)
        return 0;
    int n = port_io_->Read(buf, capacity);
    if (n <= 0)
        return 0;
    lastByteReceived_ = Clock::now();
    const int gap = static_cast<int>(EffectiveSilentInterval());
    const bool byLength = endFrameByLength_;
    // A whole reply, or the echo of the request followed by a whole reply.
    auto complete = [&] {
        if (IsCompleteRtuReply(buf, n))
            return true;
        return echo && n > echoLength && std::memcmp(buf, echo, static_cast<size_t>(echoLength)) == 0 &&
               IsCompleteRtuReply(buf + echoLength, n - echoLength);
    };
    // The frame ends at the first silence of the effective interval; bytes past the capacity stay
    // in the driver until the next purge.
    while (n < capacity && !(byLength && complete()) && port_io_->WaitForData(gap) == WaitResult::Data) {
        const int k = port_io_->Read(buf + n, capacity - n);
        if (k <= 0)
            break;
        n += k;
        lastByteReceived_ = Clock::now();
    }
    return n;
}

int TModbusConnection::ReceiveASCII(uint8_t* buf, int capacity, int firstTimeoutMs)
{
    enum { Idle, InFrame, AfterCR, Complete } state = Idle;
    const int gap = static_cast<int>(EffectiveSilentInterval());
    using Clock = std::chrono::steady_clock;
    // Stray bytes on the line must not keep an idle receiver waiting for ever: the wait for a
    // frame to start is bounded by the first time-out as a whole.
    const auto idleDeadline = Clock::now() + std::chrono::milliseconds(firstTimeoutMs);
    int n = 0;
    uint8_t chunk[128];
    while (state != Complete) {
        int wait = gap;
        if (state == Idle) {
            if (firstTimeoutMs < 0) {
                wait = -1;
            } else {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    idleDeadline - Clock::now());
                if (left.count() <= 0)
                    break;
                wait = static_cast<int>(left.count());
            }
        }
        if (port_io_->WaitForData(wait) != WaitResult::Data)
            break;
        const int k = port_io_->Read(chunk, sizeof chunk);
        if (k <= 0)
            break;
        for (int i = 0; i < k && state != Complete; ++i) {
            const uint8_t c = chunk[i];
            if (c == ':') {
                n = 0;
                buf[n++] = c;
                state = InFrame;
                continue;
            }
            switch (state) {
            case Idle:
                break;
            case InFrame:
                if (n < capacity)
                    buf[n++] = c;
                if (c == '\r')
                    state = AfterCR;
                break;
            case AfterCR:
                if (c == '\n') {
                    if (n < capacity)
                        buf[n++] = c;
                    state = Complete;
                } else {
                    state = Idle;
                    n = 0;
                }
                break;
            case Complete:
                break;
            }
        }
    }
    return n;
}

void TModbusConnection::PostFrame(const uint8_t* bytes, int count, bool sent)
{
    if (count < 1 || !(sent ? hasFrameSend_.load() : hasFrameReceive_.load()))
        return;
    if (runner_) {
        DeliverFrame(TFrameData(bytes, bytes + count), sent);
        return;
    }
    auto data = std::make_shared<TFrameData>(bytes, bytes + count);
    mainThread_.Post([alive = std::weak_ptr<int>(alive_), this, data, sent] {
        if (!alive.expired())
            DeliverFrame(*data, sent);
    });
}

void TModbusConnection::DeliverFrame(const TFrameData& data, bool sent)
{
    const FrameEvent& handler = sent ? onFrameSend_ : onFrameReceive_;
    if (!handler)
        return;
    try {
        handler(*this, data);
    } catch (const std::exception& e) {
        mainThread_.ShowException(e.what());
    }
}

void TModbusConnection::PostTransaction(std::unique_ptr<TModbusTransaction> t)
{
    std::shared_ptr<TModbusTransaction> held(std::move(t));
    mainThread_.Post([alive = std::weak_ptr<int>(alive_), this, held] {
        if (!alive.expired())
            Deliver(*held);
    });
}

// A result counts only for a client that is still listed and still talks to the same address.
void TModbusConnection::PostInvalidFrameDiscard()
{
    mainThread_.Post([alive = std::weak_ptr<int>(alive_), this] {
        if (!alive.expired() && OnInvalidFrameDiscard)
            OnInvalidFrameDiscard(*this);
    });
}

void TModbusConnection::PostException(const std::string& message)
{
    mainThread_.Post([this_thread = &mainThread_, message] { this_thread->ShowException(message); });
}

bool TModbusConnection::CheckLine()
{
    if (port_io_ && port_io_->Gone())
        lineLost_ = true;
    return lineLost_;
}

void TModbusConnection::ReportLineLost()
{
    if (!lineLost_ || lineLostReported_.exchange(true))
        return;
    mainThread_.Post([alive = std::weak_ptr<int>(alive_), this] {
        if (!alive.expired() && active_ && OnLineLost)
            OnLineLost(*this);
    });
}

void TModbusConnection::StopWaiting()
{
    if (port_io_)
        port_io_->Stop();
}

size_t TModbusConnection::QueuedTransactions() const
{
    return thread_ ? thread_->QueuedCount() : pending_.size();
}

void TModbusConnection::Deliver(TModbusTransaction& t)
{
    TModbusClient* client = t.client;
    if (!HasClient(client) || client->ServerAddress() != t.info.ServerAddress)
        return;
    if (!active_ || destroying_)
        return;
    try {
        client->DispatchResult(t);
    } catch (const std::exception& e) {
        mainThread_.ShowException(e.what());
    }
}

}  // namespace modbus
