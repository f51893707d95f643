#pragma once

// What tarnwick-cli asks of a meter and what came back, whichever transport carried it.

#include "ModbusTypes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class Op { Read, WriteSingle, WriteMultiple, Diagnostics, Identify };

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

struct Request {
    Op op = Op::Read;
    uint16_t start = 0;
    uint16_t count = 0;
    std::vector<uint16_t> values;
};

struct Outcome {
    std::string op;
    modbus::TTransactionReply status = modbus::trNoReply;
    uint32_t attempts = 0;
    std::optional<modbus::TServerException> exception;
    uint8_t exceptionCode = 0;
    std::vector<uint16_t> values;  // read: the registers; write: the values written
    std::vector<uint8_t> data;     // identification bytes
    uint16_t diagResult = 0;
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
