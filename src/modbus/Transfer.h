#pragma once

// One request and what came of it, whichever transport carried it. The command-line client
// and the window both speak in these, so that their senders need not branch on the transport.

#include "ModbusTypes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace modbus {

class TModbusClient;
class TModbusTcpClient;

enum class Op { Read, WriteSingle, WriteMultiple, Diagnostics, Identify };

struct Request {
    Op op = Op::Read;
    uint16_t start = 0;
    uint16_t count = 0;            // Read
    std::vector<uint16_t> values;  // WriteSingle: one; WriteMultiple: all

    static Request Read(uint16_t start, uint16_t count) { return {Op::Read, start, count, {}}; }
    static Request WriteSingle(uint16_t reg, uint16_t value) { return {Op::WriteSingle, reg, 1, {value}}; }
    static Request WriteMultiple(uint16_t start, std::vector<uint16_t> v)
    {
        const auto n = static_cast<uint16_t>(v.size());
        return {Op::WriteMultiple, start, n, std::move(v)};
    }
};

struct Outcome {
    TTransactionReply status = trNoReply;
    uint32_t attempts = 0;
    std::optional<TServerException> exception;
    uint8_t exceptionCode = 0;
    std::vector<uint16_t> values;  // read: the registers, empty unless the read succeeded
    std::vector<uint8_t> data;     // identification bytes
    uint16_t diagResult = 0;
    // Nothing was sent or the answer was given up: disconnected, closing, or refused locally.
    bool aborted = false;

    bool Ok() const { return status == trSuccess && !aborted; }
};

// Runs r on a connected TCP client and blocks until it has ended. Socket errors propagate as
// ESocketError; Diagnostics has no TCP form and raises std::invalid_argument.
Outcome PerformTcp(TModbusTcpClient& client, const Request& r);

// Hands r to the serial client; its result event tells how it ended. Returns the
// transaction's ID.
uint32_t Submit(TModbusClient& client, const Request& r);

// Identification words of a TCP reply as bytes: high byte first, up to the first zero word.
std::vector<uint8_t> IdentificationBytes(std::span<const uint16_t> words);

}  // namespace modbus
