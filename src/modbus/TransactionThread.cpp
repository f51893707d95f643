#include "TransactionThread.h"

#include "ModbusConnection.h"
#include "ModbusError.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <sys/resource.h>
#include <unistd.h>

namespace modbus {

namespace {

int ClampMs(uint32_t ms)
{
    return static_cast<int>(std::min<uint32_t>(ms, std::numeric_limits<int>::max()));
}

void SleepMs(uint32_t ms)
{
    if (ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

void ApplyThreadPriority(pid_t tid, TThreadPriority p)
{
    static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
    // Raising priority needs privileges; without them the thread keeps its priority.
    if (tid > 0)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kNice[p <= tpTimeCritical ? p : tpNormal]);
}

TTransactionThread::TTransactionThread(TModbusConnection& connection)
    : connection_(connection),
      mode_(connection.TransmissionMode()),
      connectionMode_(connection.ConnectionMode()),
      runner_(connection)
{
    const TThreadPriority priority = connection.ThreadPriority();
    thread_ = std::thread([this, priority] {
        tid_ = ::gettid();
        ApplyThreadPriority(tid_, priority);
        Execute();
    });
}

TTransactionThread::~TTransactionThread()
{
    {
        std::lock_guard lock(queueLock_);
        terminated_ = true;
    }
    workEvent_.notify_all();
    if (connectionMode_ == cmServer)
        connection_.StopWaiting();
    if (thread_.joinable())
        thread_.join();
    RemoveTransactions(nullptr);
}

void TTransactionThread::SetPriority(TThreadPriority p)
{
    ApplyThreadPriority(tid_.load(), p);
}

void TTransactionThread::Submit(std::unique_ptr<TModbusTransaction> t)
{
    {
        std::lock_guard lock(queueLock_);
        queue_.push_back(std::move(t));
    }
    workEvent_.notify_one();
}

void TTransactionThread::RemoveTransactions(const TModbusClient* client)
{
    std::lock_guard lock(queueLock_);
    if (!client) {
        queue_.clear();
        return;
    }
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [client](const auto& t) { return t->client == client; }),
                 queue_.end());
}

size_t TTransactionThread::QueuedCount() const
{
    std::lock_guard lock(queueLock_);
    return queue_.size();
}

void TTransactionThread::Execute()
{
    if (connectionMode_ == cmClient)
        ClientExecute();
    else
        ServerExecute();
}

std::unique_ptr<TModbusTransaction> TTransactionThread::TakeNext()
{
    std::unique_lock lock(queueLock_);
    workEvent_.wait(lock, [this] { return terminated_ || !queue_.empty(); });
    if (terminated_)
        return nullptr;
    auto t = std::move(queue_.front());
    queue_.pop_front();
    return t;
}

void TTransactionThread::ClientExecute()
{
    connection_.PurgePort(true, true);
    while (auto t = TakeNext())
        Process(std::move(t));
}

void TTransactionThread::Process(std::unique_ptr<TModbusTransaction> t)
{
    try {
        if (runner_.Run(*t))
            connection_.PostTransaction(std::move(t));
        // After the result, so that its receiver has seen it before hearing why.
        connection_.ReportLineLost();
    } catch (const std::exception& e) {
        HandleException(e.what());
    }
}

TTransactionRunner::TTransactionRunner(TModbusConnection& connection)
    : connection_(connection),
      mode_(connection.TransmissionMode()),
      sendBuffer_(static_cast<size_t>(WireFrameCapacity(mode_))),
      receiveBuffer_(static_cast<size_t>(WireFrameCapacity(mode_)))
{
}

bool TTransactionRunner::Run(TModbusTransaction& t)
{
    TTransactionInfo& info = t.info;
    uint8_t* send = sendBuffer_.data();
    info.Attempts = 0;
    const int length = EncodeFrame(mode_, t.query, send, static_cast<int>(sendBuffer_.size()));
    const bool broadcast = info.ServerAddress == 0;

    for (;;) {
        info.Reply = trNoReply;
        ++info.Attempts;
        connection_.PostFrame(send, length, true);
        if (mode_ == tmRTU)
            connection_.WaitForInterFrameGap();
        connection_.PurgePort(true, true);
        if (connection_.SendFrame(send, length)) {
            if (broadcast) {
                connection_.WaitUntilTransmitted();
                SleepMs(connection_.TurnaroundDelay());
                info.Reply = trSuccess;
            } else {
                ReceiveReply(t, length);
            }
        }
        SleepMs(connection_.RefetchDelay());
        // Retrying on a device that has gone only repeats the same failure.
        const bool gone = connection_.CheckLine();
        const bool retry = (info.Reply == trNoReply || info.Reply == trInvalidFrame) && !gone;
        if (!retry || info.Attempts >= connection_.MaxRetries())
            break;
    }
    return !broadcast;
}

void TTransactionRunner::ReceiveReply(TModbusTransaction& t, int sentLength)
{
    TTransactionInfo& info = t.info;
    uint8_t* recv = receiveBuffer_.data();
    const int capacity = static_cast<int>(receiveBuffer_.size());
    for (;;) {
        // The time-out counts from the moment the request has left the line.
        const int timeout = ClampMs(connection_.ReceiveTimeout() + connection_.MsUntilTransmitted());
        const bool echo = connection_.EchoQueryBeforeReply();
        int n = connection_.ReceiveFrame(recv, capacity, timeout, echo ? sendBuffer_.data() : nullptr,
                                         sentLength);
        // An RS-485 adapter that hears its own request hands it back before the reply.
        if (echo && n >= sentLength &&
            std::memcmp(recv, sendBuffer_.data(), static_cast<size_t>(sentLength)) == 0) {
            if (n == sentLength) {
                n = connection_.ReceiveFrame(recv, capacity, ClampMs(connection_.ReceiveTimeout()));
            } else {
                std::memmove(recv, recv + sentLength, static_cast<size_t>(n - sentLength));
                n -= sentLength;
            }
        }
        connection_.PostFrame(recv, n, false);
        const Classification c = ClassifyReply(mode_, recv, n, t.query, t.reply);
        if (c.reply == trOtherServer)
            continue;  // another server's frame: wait afresh for ours
        info.Reply = c.reply;
        info.ExceptionCode = c.exceptionCode;
        info.ServerException = c.reply == trExceptionReply ? ServerExceptionFromCode(c.exceptionCode)
                                                           : seUnknown;
        return;
    }
}

void TTransactionThread::ServerExecute()
{
    connection_.PurgePort(true, true);
    TModbusTransaction t(mode_);
    uint8_t* recv = runner_.ReceiveBuffer();
    const int capacity = runner_.Capacity();
    while (!terminated_) {
        try {
            const int n = connection_.ReceiveFrame(recv, capacity, -1);
            if (terminated_)
                break;
            if (n == 0) {
                // Nothing came although the wait ended: the device has gone. Do not spin.
                std::unique_lock lock(queueLock_);
                workEvent_.wait_for(lock, std::chrono::milliseconds(100),
                                    [this] { return terminated_.load(); });
                continue;
            }
            connection_.PostFrame(recv, n, false);
            if (!DecodeFrame(mode_, cmServer, recv, n, t.query)) {
                connection_.PostInvalidFrameDiscard();
                continue;
            }
            t.info.ServerAddress = t.query.Data()[0];
            t.reply.SetSize(0);
            // No request handlers are registered, so the reply stays empty and nothing is written;
            // the send procedure still runs for its events and RTS.
            if (t.info.ServerAddress != 0) {
                const int length = EncodeFrame(mode_, t.reply, runner_.SendBuffer(), runner_.Capacity());
                connection_.PurgePort(true, true);
                connection_.SendFrame(runner_.SendBuffer(), length);
            }
        } catch (const std::exception& e) {
            HandleException(e.what());
        }
    }
}

// Shown on the main thread without waiting for it: a worker that waited here could deadlock
// with a main thread that is closing the connection.
void TTransactionThread::HandleException(const std::string& message)
{
    connection_.PostException(message);
}

}  // namespace modbus
