#pragma once

#include "LineTraffic.h"

#include <span>

#include "SerialPortList.h"
#include "Transaction.h"

#include <ostream>

namespace cli {

// JSON lines for scripts, or a table for people.
class Printer {
public:
    Printer(std::ostream& out, bool json) : out_(out), json_(json) {}
    void Print(const Outcome& o);

private:
    void PrintJson(const Outcome& o);
    void PrintJsonGeneric(const Outcome& o);
    void PrintTable(const Outcome& o);

    std::ostream& out_;
    bool json_;
};

std::string HexString(const std::vector<uint8_t>& bytes);
// elapsed_ms as printed: to the microsecond.
double RoundedMs(double ms);

// --trace: one monitor line per frame on standard error, the time in ms since the first.
void TraceFrame(app::FrameKind kind, bool sent, std::span<const uint8_t> frame);
// One port a line: its path, then what is known of it (description, by-id name), tab-separated;
// or one JSON object a line.
void PrintPorts(std::ostream& out, const std::vector<modbus::SerialPortInfo>& ports, bool json);

}  // namespace cli
