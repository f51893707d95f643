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
    void ReceiveReply(TModbusTransaction& t, int sentLength);
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
    std::vector<uint8_t> sendBuffer_, receiveBuffer_;
    std::thread thread_;
};

}  // namespace modbus
