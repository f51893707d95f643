#pragma once

// A simulated device as the transports see it: settings, register model, application layer and
// the fault counters that must survive from one request to the next.

#include "DeviceSettings.h"
#include "Meter.h"
#include "MeterPdu.h"
#include "RequestLog.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace vsim {

struct TSimDevice {
    // Applies the settings' presets; throws std::invalid_argument for one the meter cannot take.
    explicit TSimDevice(const TDeviceSettings& s);
    TDeviceSettings settings;
    TMeter meter;
    TPduServer pdu;
    std::atomic<unsigned> replies{0};  // for badcrc=N

    // True when this reply is the Nth of badcrc=N.
    bool NextReplyCorrupt()
    {
        const unsigned n = ++replies;
        return settings.faults.badCrc > 0 && n % static_cast<unsigned>(settings.faults.badCrc) == 0;
    }
};

using TDevices = std::vector<std::shared_ptr<TSimDevice>>;

// What the devices did, as JSON: every register write they took and, with a log, every request.
// sequence counts the dumps, so that a reader can tell a new one from the last. WriteDump
// replaces the file atomically; throws std::runtime_error when it cannot be written.
void WriteDump(const std::string& path, const TDevices& devices, const TRequestLog* log,
               uint64_t sequence);
std::string DumpText(const TDevices& devices, const TRequestLog* log, uint64_t sequence);

}  // namespace vsim
