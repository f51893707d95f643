#pragma once

// The devices a search found, program-wide: they outlive the search window, are reset when a
// search starts, and the report reads them in the order found.

#include "ModbusTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace search {

struct TVortan_Device {
    std::string ComPort;
    int32_t Addr = 0;
    modbus::TBaudRate BaudRate = modbus::br19200;
    std::string BaudRateText;
    modbus::TParityScheme Parity = modbus::psEven;
    std::string ParityText;
};

struct TOther_Device {
    std::string ComPort;
    int32_t Addr = 0;
    std::string BaudRateText;
    std::string ParityText;
};

extern std::vector<TVortan_Device> VortanDevices;
extern std::vector<TOther_Device> OtherDevices;

}  // namespace search
