#pragma once

#include "MainThread.h"
#include "ModbusBuffer.h"
#include "ModbusTypes.h"
#include "SerialPort.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

namespace modbus {

class TModbusClient;
class TModbusTransaction;
class TTransactionRunner;
class TTransactionThread;

// One serial port for Modbus RTU or ASCII: line settings, framing, timing, and the worker thread
// that carries the transactions of its clients. Properties and events belong to the main thread,
// except the two *Async send events, which run on the worker thread.
//
// A Synchronous connection (client mode) has no worker: each client operation runs its
// transaction on the caller's thread, with the same rules, and raises the result and frame
// events before it returns. An operation called from one of those events is queued and runs when
// the event has returned. For callers without an event loop, such as a command-line client.
class TModbusConnection {
public:
    using PortFactory = std::function<std::unique_ptr<ISerialPort>()>;
    using Notify = std::function<void(TModbusConnection&)>;
    using FrameEvent = std::function<void(TModbusConnection&, const TFrameData&)>;

    explicit TModbusConnection(IMainThread& mainThread, PortFactory portFactory = {});
    ~TModbusConnection();
    TModbusConnection(const TModbusConnection&) = delete;
    TModbusConnection& operator=(const TModbusConnection&) = delete;

    bool Active() const { return active_; }
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }

    // Only while inactive.
    TConnectionMode ConnectionMode() const { return connectionMode_; }
    void SetConnectionMode(TConnectionMode v);
    bool DTREnabled() const { return dtrEnabled_; }
    void SetDTREnabled(bool v);
    TFlowControl FlowControl() const { return flowControl_; }
    void SetFlowControl(TFlowControl v);
    bool HookExistingPort() const { return hookExistingPort_; }
    void SetHookExistingPort(bool v);
    int InputBufferSize() const { return inputBufferSize_; }
    void SetInputBufferSize(int v);
    int OutputBufferSize() const { return outputBufferSize_; }
    void SetOutputBufferSize(int v);
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& v);
    bool RTSEnabled() const { return rtsEnabled_; }
    void SetRTSEnabled(bool v);
    TTransmissionMode TransmissionMode() const { return transmissionMode_; }
    void SetTransmissionMode(TTransmissionMode v);
    bool Synchronous() const { return synchronous_; }
    void SetSynchronous(bool v);

    // Applied at once to an open port.
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate v);
    uint32_t CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(uint32_t v);  // also switches BaudRate to brCustom
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits v);
    TParityScheme Parity() const { return parity_; }
    void SetParity(TParityScheme v);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits v);
    uint32_t SilentInterval() const { return silentInterval_; }
    void SetSilentInterval(uint32_t v);
    TThreadPriority ThreadPriority() const { return threadPriority_; }
    void SetThreadPriority(TThreadPriority v);

    // Timing, read by the worker at each use (under the settings lock).
    uint32_t MaxRetries() const;
    void SetMaxRetries(uint32_t v);  // 0 raises "Value must be between 1 and 4294967295"
    uint32_t ReceiveTimeout() const;
    void SetReceiveTimeout(uint32_t ms);
    uint32_t RefetchDelay() const;
    void SetRefetchDelay(uint32_t ms);
    uint32_t RTSHoldDelay() const;
    void SetRTSHoldDelay(uint32_t ms);
    uint32_t SendTimeout() const;
    void SetSendTimeout(uint32_t ms);
    uint32_t TurnaroundDelay() const;
    void SetTurnaroundDelay(uint32_t ms);
    bool EchoQueryBeforeReply() const { return echoQueryBeforeReply_; }
    void SetEchoQueryBeforeReply(bool v);
    // RTU: a reply ends as soon as its bytes form a whole frame of the length its content implies
    // with a good CRC, instead of after the silent interval. Anything else still ends at the
    // silence. Off by default.
    bool EndFrameByLength() const { return endFrameByLength_; }
    void SetEndFrameByLength(bool v) { endFrameByLength_ = v; }

    // Milliseconds of silence that end a frame; derived from the line settings.
    uint32_t EffectiveSilentInterval() const;
    // RTU: milliseconds the line stays silent after the last byte received before the next
    // request goes out. 0 in ASCII mode.
    uint32_t InterFrameGap() const;
    // Rate in bits per second that the line runs at.
    uint32_t LineBaud() const;

    // Main-thread events.
    Notify OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose;
    std::function<void(TModbusConnection&, int& handle)> OnGetHookedPortHandle;
    Notify OnInvalidFrameDiscard;
    // Once per opening, when the device has gone (an adapter pulled). The connection stays
    // active, every request ends as no reply, until it is closed.
    Notify OnLineLost;
    bool LineLost() const { return lineLost_; }
    void SetOnFrameSend(FrameEvent fn);
    void SetOnFrameReceive(FrameEvent fn);
    // Worker-thread events; assign them while the connection is inactive.
    Notify OnBeforeFrameSendAsync, OnAfterFrameSendAsync;

    // Used by clients and the worker thread.
    uint32_t NextTransactionID() { return transactionCounter_++; }
    void AddClient(TModbusClient* c);
    void RemoveClient(TModbusClient* c);
    bool HasClient(const TModbusClient* c) const;
    void Submit(std::unique_ptr<TModbusTransaction> t, TModbusClient* client);
    void RemoveTransactions(TModbusClient* client);
    IMainThread& MainThread() { return mainThread_; }

    // Port procedures of the worker thread.
    void PurgePort(bool input, bool output);
    // Sleeps until the inter-frame gap after the last byte received has passed.
    void WaitForInterFrameGap();
    // False when the bytes could not be handed over, or the line did not send them within
    // their wire time plus SendTimeout (the output is purged then). Returns once the driver has
    // taken them; with fcRtsToggle only after their wire time, when RTS may drop.
    bool SendFrame(const uint8_t* bytes, int length);
    // Milliseconds (rounded up) until the last frame sent has left the line by its wire time.
    uint32_t MsUntilTransmitted() const;
    void WaitUntilTransmitted() const;
    // Wire bytes of one frame; firstTimeoutMs < 0 waits without limit (server mode). `echo` is
    // the request as sent when the line may return it before the reply.
    int ReceiveFrame(uint8_t* buf, int capacity, int firstTimeoutMs, const uint8_t* echo = nullptr,
                     int echoLength = 0);
    void PostFrame(const uint8_t* bytes, int count, bool sent);
    void PostTransaction(std::unique_ptr<TModbusTransaction> t);
    void PostInvalidFrameDiscard();
    void PostException(const std::string& message);
    // After each attempt: true once the device has gone (LineLost from then on).
    bool CheckLine();
    // After the transaction is posted: tells the main thread, once, that the device has gone.
    void ReportLineLost();
    // Ends the worker's wait for a request (server mode).
    void StopWaiting();
    size_t QueuedTransactions() const;

private:
    void OpenProcedure();
    void CloseProcedure();
    void RequireInactive(bool changed) const;
    bool ApplyLineSettings();
    void RecomputeSilentInterval();
    LineSettings CurrentLineSettings() const;
    int ReceiveRTU(uint8_t* buf, int capacity, int firstTimeoutMs, const uint8_t* echo, int echoLength);
    int ReceiveASCII(uint8_t* buf, int capacity, int firstTimeoutMs);
    bool AwaitTransmitted(std::chrono::steady_clock::time_point writeStart, int length,
                          uint32_t sendTimeoutMs);
    void Deliver(TModbusTransaction& t);
    void DeliverFrame(const TFrameData& data, bool sent);
    void RunQueued();

    IMainThread& mainThread_;
    PortFactory portFactory_;
    std::unique_ptr<ISerialPort> port_io_;
    std::unique_ptr<TTransactionThread> thread_;
    // Synchronous connection: the runner and the operations submitted while one runs.
    std::unique_ptr<TTransactionRunner> runner_, retired_;
    std::deque<std::unique_ptr<TModbusTransaction>> pending_;
    bool running_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // posted calls check it
    bool active_ = false;
    bool destroying_ = false;

    TConnectionMode connectionMode_ = cmClient;
    bool dtrEnabled_ = true;
    TFlowControl flowControl_ = fcNone;
    bool hookExistingPort_ = false;
    int inputBufferSize_ = 1024;
    int outputBufferSize_ = 1024;
    std::string port_ = "COM1";
    bool rtsEnabled_ = true;
    TTransmissionMode transmissionMode_ = tmRTU;
    bool synchronous_ = false;
    TBaudRate baudRate_ = br19200;
    uint32_t customBaudRate_ = 19200;
    TDataBits dataBits_ = db8;
    TParityScheme parity_ = psEven;
    TStopBits stopBits_ = sb1;
    uint32_t silentInterval_ = 4;
    TThreadPriority threadPriority_ = tpNormal;

    mutable std::shared_mutex settingsLock_;
    uint32_t maxRetries_ = 1;
    uint32_t receiveTimeout_ = 1000;
    uint32_t refetchDelay_ = 0;
    uint32_t rtsHoldDelay_ = 0;
    uint32_t sendTimeout_ = 1000;
    uint32_t turnaroundDelay_ = 100;
    uint32_t effectiveSilentInterval_ = 16;
    uint32_t interFrameGap_ = 16;
    uint32_t characterTimeUs_ = 573;  // 11 bits at 19200 baud
    std::atomic<bool> echoQueryBeforeReply_{false};
    std::atomic<bool> endFrameByLength_{false};
    std::atomic<bool> lineLost_{false}, lineLostReported_{false};

    FrameEvent onFrameSend_, onFrameReceive_;
    std::atomic<bool> hasFrameSend_{false}, hasFrameReceive_{false};

    // Worker thread only.
    std::chrono::steady_clock::time_point lastByteReceived_{};
    std::chrono::steady_clock::time_point transmitted_{};

    uint32_t transactionCounter_ = 0;
    std::vector<TModbusClient*> clients_;
};

// Milliseconds of silence that end a frame: RTU counts SilentInterval characters at the line's
// rate (start bit not counted), ASCII takes it as milliseconds; never below 16.
uint32_t ComputeEffectiveSilentInterval(TTransmissionMode mode, uint32_t silentInterval,
                                        uint32_t baud, TDataBits dataBits, TParityScheme parity,
                                        TStopBits stopBits);

// RTU: 3.5 characters at the line's rate (start bit counted), or the effective silent interval
// when that is longer, in whole milliseconds. ASCII has no gap: 0.
uint32_t ComputeInterFrameGap(TTransmissionMode mode, uint32_t silentInterval, uint32_t baud,
                              TDataBits dataBits, TParityScheme parity, TStopBits stopBits);

// Machine's serial ports as settings keep them (by-id names where there are any); the
// descriptions are in ListSerialPorts (SerialPortList.h).
void EnumerateSerialPorts(std::vector<std::string>& list);

// Kept for the process's life; builds nothing and asks for nothing here, where millisecond
// sleeps are already precise.
class TSystemClockResolutionEnhancer {
public:
    TSystemClockResolutionEnhancer() = default;
    unsigned Period() const { return 1; }
};

}  // namespace modbus
