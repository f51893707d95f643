#pragma once

// What tarnwick-cli asks of a meter and what came back, whichever transport carried it.

#include "ModbusTypes.h"
#include "Transfer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

using modbus::Op;
using modbus::Request;

// A measured-value block, decoded.
struct Measurement {
    std::string channel, quantity;
    std::string status;  // "OK", "Never set", "Failed"; empty when the read failed
    bool valid = false;
    float value = 0;
    std::string text;  // the value as the window shows it
    uint16_t unitId = 0;
    std::string unit;
    uint16_t ageSeconds = 0;
};

// The library's outcome with what the command line prints beside it; for a write, values are
// the values written.
struct Outcome : modbus::Outcome {
    std::string op;
    uint16_t start = 0;
    double elapsedMs = 0;
    std::optional<Measurement> measurement;
};

// One transport with its settings applied; Perform blocks until the transaction has ended.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Outcome Perform(const Request& r) = 0;
    // Why no further request can succeed (a serial adapter pulled out); empty while they can.
    virtual std::string Lost() const { return {}; }
};

}  // namespace cli
