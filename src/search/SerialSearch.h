#pragma once

// The probe walk over one list of combinations on one serial connection, driven by the client's
// result events (which arrive on the connection's main thread, or, on a synchronous connection,
// before Start returns). The search window runs one walk
// over all ports in turn; the quick search runs one walk per port, side by side.

#include "FoundDevices.h"
#include "SearchWalk.h"

#include "ModbusClient.h"
#include "ModbusConnection.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace search {

class TSerialSearch {
public:
    struct Options {
        // Quick: time-out from the line speed, and the port stays open from one probe to the
        // next (the line settings change on the open port). Otherwise every probe opens and
        // closes the port and waits the fixed time-out.
        bool quick = false;
    };

    // The client must be bound to the connection; both outlive this object.
    TSerialSearch(modbus::TModbusConnection& connection, modbus::TModbusClient& client,
                  std::vector<TCombination> combinations, Options options);
    ~TSerialSearch();
    TSerialSearch(const TSerialSearch&) = delete;
    TSerialSearch& operator=(const TSerialSearch&) = delete;

    // Before each probe, with the combination about to be tried.
    std::function<void(const TCombination&)> OnCombination;
    // A device answered the probe; isVortan from its identification.
    std::function<void(const TCombination&, bool isVortan)> OnFound;
    // The port could not be opened; the walk has ended.
    std::function<void(const TCombination&, const std::string& error)> OnOpenFailed;
    std::function<void()> OnFinished;

    void Start();
    // Ends the walk between two events: closes the port; a late result is dropped.
    void Stop();
    bool Finished() const { return finished_; }
    size_t Done() const { return next_; }
    size_t Total() const { return list_.size(); }
    uint64_t RemainingMs() const { return search::RemainingMs(list_, next_, options_.quick); }

private:
    void Probe();
    void Advance();
    void Finish();
    bool OpenFor(const TCombination& c);
    void CloseUnlessQuick();
    template <typename Send>
    void Ask(Send send);
    bool Answers(const modbus::TTransactionInfo& info);
    void Diagnostics(const modbus::TTransactionInfo& info);
    void Identification(const modbus::TTransactionInfo& info, const modbus::TServerIdentificationData& data);

    modbus::TModbusConnection& connection_;
    modbus::TModbusClient& client_;
    std::vector<TCombination> list_;
    Options options_;
    size_t next_ = 0;
    // The probe in flight. A synchronous connection answers before the call has returned the
    // ID; the answer is then taken as the one awaited.
    bool awaiting_ = false;
    std::optional<uint32_t> pendingId_;
    bool started_ = false;
    bool finished_ = false;
};

// The main window's connection set to a found meter: its port, baud and parity, and otherwise
// the plain RTU line (8 data bits, 1 stop bit, no flow control, silent interval 4, RTS and DTR off).
// The connection must be inactive.
void ApplyToConnection(modbus::TModbusConnection& connection, const TVortan_Device& device);

}  // namespace search
