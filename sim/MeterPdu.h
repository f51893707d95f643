#pragma once

// The Modbus application layer of the meter: a request PDU (function code and data) in, a reply
// PDU out. Transport-free; the serial and TCP servers wrap it in their frames.

#include "Meter.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace vsim {

class TPduServer {
public:
    explicit TPduServer(TMeter& meter) : meter_(meter) {}

    // No value: the meter stays silent (broadcast, listen-only mode).
    std::optional<std::vector<uint8_t>> Serve(std::span<const uint8_t> pdu, bool broadcast);

    // Line events the diagnostics counters count.
    void CountBusMessage();
    void CountCommError();

private:
    std::vector<uint8_t> Diagnostics(uint16_t sub, uint16_t data, bool& reply);

    TMeter& meter_;
    std::mutex mutex_;
    bool listenOnly_ = false;
    uint16_t busMessages_ = 0;
    uint16_t commErrors_ = 0;
    uint16_t exceptions_ = 0;
    uint16_t serverMessages_ = 0;
    uint16_t noResponses_ = 0;
};

std::vector<uint8_t> ExceptionPdu(uint8_t function, uint8_t code);

}  // namespace vsim
