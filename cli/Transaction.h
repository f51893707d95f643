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
};

// One transport with its settings applied; Perform blocks until the transaction has ended.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Outcome Perform(const Request& r) = 0;
};

}  // namespace cli
