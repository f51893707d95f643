#pragma once

// A simulated device as the transports see it: settings, register model, application layer and
// the fault counters that must survive from one request to the next.

#include "DeviceSettings.h"
#include "Meter.h"
#include "MeterPdu.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace vsim {

struct TSimDevice {
    explicit TSimDevice(const TDeviceSettings& s)
        : settings(s), meter(TMeterIdentity{s.address, s.serial, s.marker}), pdu(meter)
    {
    }
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

// Writes every register write the devices took as JSON; throws std::runtime_error when the
// file cannot be written.
void WriteDump(const std::string& path, const TDevices& devices);
std::string DumpText(const TDevices& devices);

}  // namespace vsim
