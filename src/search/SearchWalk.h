#pragma once

// The combinations a search tries, in the order it tries them, and the numbers derived from
// them (progress, quick time-outs, time left). No port is touched here.

#include "ModbusTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace search {

// What the window's choices narrow the search to; an empty text, 0 or "-" means all.
struct TSearchChoice {
    std::vector<std::string> ports;  // the ports to try, in list order
    int address = 0;                 // 0: 1 to 247
    std::string baudText = "-";      // "-", "9600", "19200"
    std::string parityText = "-";    // "-", "None", "Odd", "Even"
};

struct TCombination {
    std::string port;
    int address = 1;
    std::string baudText;
    std::string parityText;
    modbus::TBaudRate baud = modbus::br19200;
    modbus::TParityScheme parity = modbus::psEven;

    bool operator==(const TCombination&) const = default;
};

// Port, then address, then baud, then parity, outermost first.
std::vector<TCombination> Combinations(const TSearchChoice& choice);
// Same order, one list per port, for searching the ports side by side.
std::vector<std::vector<TCombination>> CombinationsPerPort(const TSearchChoice& choice);

// The progress bar's position (0..100) after `done` of `total` combinations: a running sum of
// 100/total steps, rounded. No combination at all stays at 0.
int ProgressPosition(size_t done, size_t total);

// Receive time-out of the standard search.
inline constexpr uint32_t SearchReceiveTimeoutMs = 500;

// Quick search: what a probe can take when a device is there. The Diagnostics request and its
// echo are 8 bytes each; every character costs start bit, 8 data bits, parity bit and stop bit.
// The margin covers the device's turnaround and the adapters' latency on both ways.
inline constexpr uint32_t QuickTurnaroundMarginMs = 40;
inline constexpr uint32_t QuickFloorMs = 50;
uint32_t WireTimeUs(uint32_t bytes, uint32_t baud, modbus::TParityScheme parity);
uint32_t QuickProbeTimeoutMs(uint32_t baud, modbus::TParityScheme parity);
uint32_t ProbeTimeoutMs(const TCombination& c, bool quick);

// Worst case for what is left of a list from `next` on: every probe silent.
uint64_t RemainingMs(const std::vector<TCombination>& list, size_t next, bool quick);

// True when the identification text (data up to the first 0x00 or 0xFF) names the family.
bool IsVortanIdentification(const std::vector<uint8_t>& data);

}  // namespace search
