#include "Device.h"

namespace vsim {

namespace {

TMeterIdentity IdentityOf(const TDeviceSettings& s)
{
    TMeterIdentity id{s.address, s.serial, s.marker};
    if (s.idText)
        id.idText = *s.idText;
    id.reportsId = !s.noId;
    return id;
}

}  // namespace

TSimDevice::TSimDevice(const TDeviceSettings& s) : settings(s), meter(IdentityOf(s)), pdu(meter)
{
    for (const auto& p : s.presets)
        meter.Preset(p.address, p.values);
    // After the presets: a meter without the table has none, whatever was preset.
    if (s.noCrt)
        meter.Remove(reg::CustomRegisterTable);
    for (const uint16_t a : s.refused)
        meter.Refuse(a);
    if (s.protectCode)
        meter.Protect(*s.protectCode);
}

}  // namespace vsim
