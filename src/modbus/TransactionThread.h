#pragma once

#include "ModbusBuffer.h"
#include "ModbusFrame.h"
#include "ModbusTypes.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace modbus {

class TModbusClient;
class TModbusConnection;

class TModbusTransaction {
public:
    explicit TModbusTransaction(TTransmissionMode mode)
        : query(RawFrameCapacity(mode)), reply(RawFrameCapacity(mode))
    {
    }
    TModbusBuffer query;
    TModbusBuffer reply;
    TTransactionInfo info;
    TModbusClient* client = nullptr;  // not owned
};

// One transaction on the line, from the first attempt to the outcome: the attempt, echo,
// time-out, refetch and inter-frame rules of the connection. The worker thread runs it for the
// window; a synchronous connection runs it on the caller's thread.
class TTransactionRunner {
public:
    explicit TTransactionRunner(TModbusConnection& connection);

    // Fills the outcome into t.info and the reply into t.reply. False for a broadcast, which
    // reports nothing.
    bool Run(TModbusTransaction& t);

    uint8_t* SendBuffer() { return sendBuffer_.data(); }
    uint8_t* ReceiveBuffer() { return receiveBuffer_.data(); }
    int Capacity() const { return static_cast<int>(sendBuffer_.size()); }

private:
    void ReceiveReply(TModbusTransaction& t, int sentLength);

    TModbusConnection& connection_;
    const TTransmissionMode mode_;
    std::vector<uint8_t> sendBuffer_, receiveBuffer_;
};

// The worker that owns the line while its connection is active: one transaction at a time, in
// the order submitted.
class TTransactionThread {
public:
    explicit TTransactionThread(TModbusConnection& connection);
    ~TTransactionThread();  // waits for the transaction on the line; frees the queued ones
    TTransactionThread(const TTransactionThread&) = delete;
    TTransactionThread& operator=(const TTransactionThread&) = delete;

    void Submit(std::unique_ptr<TModbusTransaction> t);
    // Frees every queued transaction of the client (all of them for nullptr), without events.
    void RemoveTransactions(const TModbusClient* client);
    size_t QueuedCount() const;
    void SetPriority(TThreadPriority p);

private:
    void Execute();
    void ClientExecute();
    void ServerExecute();
    void Process(std::unique_ptr<TModbusTransaction> t);
    void HandleException(const std::string& message);
    std::unique_ptr<TModbusTransaction> TakeNext();

    TModbusConnection& connection_;
    const TTransmissionMode mode_;
    const TConnectionMode connectionMode_;
    mutable std::mutex queueLock_;
    std::condition_variable workEvent_;
    std::deque<std::unique_ptr<TModbusTransaction>> queue_;
    std::atomic<bool> terminated_{false};
    std::atomic<int> tid_{0};
    TTransactionRunner runner_;
    std::thread thread_;
};

}  // namespace modbus
