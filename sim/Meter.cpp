#include "Meter.h"

#include "MeterTables.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>

namespace vsim {

namespace {

constexpr double kPipeArea = 0.0091950;  // m2, 114.3 mm pipe with 3.05 mm wall
constexpr double kFlowVelocity = 1.6;    // m/s on channel A
constexpr double kSwingPeriod = 90.0;    // s, slow swing of the flow
constexpr double kSwing = 0.04;          // relative amplitude of the swing
constexpr double kDensityWater = 998.2;  // kg/m3
constexpr double kHeatCapacity = 4186.0; // J/(kg K)

constexpr int kChannelC = 2;
constexpr int kChannelD = 3;
constexpr int kChannelZ = 4;
constexpr int kChannelY = 5;

uint16_t Low(uint32_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
uint16_t High(uint32_t v) { return static_cast<uint16_t>(v >> 16); }
uint32_t FloatBits(float f) { return std::bit_cast<uint32_t>(f); }

// Deterministic noise in [-1, 1] per quantity and update second.
double Noise(int channel, int q, long long second)
{
    uint64_t z = (static_cast<uint64_t>(channel + 1) << 40) ^ (static_cast<uint64_t>(q) << 32) ^
                 static_cast<uint64_t>(second);
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

// Scale of each channel against channel A; Z is the difference channel, Y the mean.
double ChannelScale(int channel)
{
    static constexpr double kScale[] = {1.0, 0.95, 1.0, 1.0, 0.05, 0.975};
    return channel < 0 ? 1.0 : kScale[channel];
}

struct TDefault {
    uint16_t address;
    std::vector<uint16_t> words;
};

std::vector<uint16_t> F32(float f) { return {Low(FloatBits(f)), High(FloatBits(f))}; }
std::vector<uint16_t> U32(uint32_t v) { return {Low(v), High(v)}; }
std::vector<uint16_t> Chars7(const char* s)
{
    std::vector<uint16_t> w(4, 0);
    for (int i = 0; i < 7 && s[i]; ++i)
        w[static_cast<size_t>(i / 2)] |= static_cast<uint16_t>(static_cast<uint8_t>(s[i]) << (i % 2 ? 8 : 0));
    return w;
}

// Factory settings of a water meter on a DN100 steel pipe. Offsets: channel B +1000,
// calculation channel Z +500, current loop 2 +17, temperature input T2 +2.
std::vector<TDefault> Defaults()
{
    std::vector<TDefault> d = {
        {reg::ByteOrder, {0}},
        {reg::TotalizerReset, {0}},
        {reg::CalibrationChannel, {65}},
        {111, {0}},
        {reg::CalibrationSlope, F32(1.0f)},
        {reg::CalibrationOffset, {0}},
        {115, {0, 0, 0, 0, 0}},
        {reg::CalibrationApply, {0}},
        {reg::CustomRegisterTable, {0}},
        {reg::LoggerChannels, {0x0003}},
        {reg::LoggerRate, F32(10.0f)},
        {reg::LoggerOptions, {0x00A0}},
        {reg::ProtectionEnable, {0}},
        {reg::ProtectionCode, U32(0)},
        {reg::MeasuringState, {1}},
    };
    for (uint16_t off : {0, 1000}) {
        auto at = [off](int a) { return static_cast<uint16_t>(a + off); };
        const std::vector<TDefault> channel = {
            // pipe
            {at(24000), F32(114.3f)}, {at(24002), {0}}, {at(24003), F32(0.05f)},
            {at(24005), {0}}, {at(24006), {0}}, {at(24007), F32(0.0f)}, {at(24009), F32(0.0f)},
            {at(24011), {1}}, {at(24012), {2}}, {at(24013), F32(3.05f)},
            {at(24015), F32(3230.0f)}, {at(24017), {0}}, {at(24018), {0}},
            {at(24019), F32(0.0f)}, {at(24021), F32(0.0f)}, {at(24023), {0}}, {at(24024), {0}},
            {at(24025), F32(0.0f)}, {at(24027), F32(0.0f)},
            // fluid
            {at(24125), {10001}}, {at(24126), F32(1400.0f)}, {at(24128), F32(1600.0f)},
            {at(24130), F32(0.9982f)}, {at(24132), F32(1.0f)}, {at(24134), F32(1.0f)},
            {at(24136), F32(20.0f)}, {at(24138), F32(20.0f)}, {at(24140), F32(1.013f)},
            {at(24142), F32(1.013f)},
            // transducer
            {at(24250), {0}}, {at(24251), Chars7("VTM-1A2")}, {at(24255), F32(36.0f)},
            {at(24257), F32(2650.0f)}, {at(24259), F32(2750.0f)}, {at(24261), F32(120.0f)},
            {at(24263), F32(8.5f)}, {at(24265), U32(10)}, {at(24267), F32(0.0f)},
            {at(24269), {2}}, {at(24270), F32(54.2f)},
            // measuring
            {at(24375), {1}}, {at(24376), {1}}, {at(24377), {0}}, {at(24378), U32(10)},
            {at(24380), U32(30)}, {at(24382), {1}}, {at(24383), {0}}, {at(24384), {1}},
            {at(24385), {0}}, {at(24386), F32(0.01f)}, {at(24388), F32(-0.01f)},
            {at(24390), {0}},
            // linking: T1 and T2
            {at(24500), {0x5431}}, {at(24501), {0x5432}},
        };
        d.insert(d.end(), channel.begin(), channel.end());
    }
    for (uint16_t off : {0, 500}) {
        auto at = [off](int a) { return static_cast<uint16_t>(a + off); };
        const bool y = off == 0;
        const std::vector<TDefault> calc = {
            {at(28000), {static_cast<uint16_t>(y ? 1 : 0)}},
            {at(28001), {static_cast<uint16_t>(y ? 65 : 0)}},
            {at(28002), {static_cast<uint16_t>(y ? 66 : 0)}},
            {at(28003), {0}}, {at(28004), F32(-0.005f)}, {at(28006), F32(0.005f)},
            {at(28008), {1}}, {at(28009), {0}}, {at(28010), U32(10)}, {at(28012), U32(30)},
        };
        d.insert(d.end(), calc.begin(), calc.end());
    }
    for (uint16_t off : {0, 17}) {
        auto at = [off](int a) { return static_cast<uint16_t>(a + off); };
        const bool first = off == 0;
        const std::vector<TDefault> loop = {
            {at(29125), {static_cast<uint16_t>(first ? 1 : 0)}}, {at(29126), {65}},
            {at(29127), U32(1180061516u)},  // FVOL
            {at(29129), {0}}, {at(29130), {0}}, {at(29131), F32(0.0f)},
            {at(29133), F32(0.05f)}, {at(29135), {0}}, {at(29136), F32(4.0f)},
            {at(29138), F32(20.0f)}, {at(29140), F32(3.5f)},
        };
        d.insert(d.end(), loop.begin(), loop.end());
    }
    d.push_back({29000, {1, 0}});
    d.push_back({29002, {1, 1}});
    for (int n = 0; n < 4; ++n) {
        const auto base = static_cast<uint16_t>(reg::ProcessInputBase + 10 * n);
        d.push_back({base, {65, 0, 0}});
        d.push_back({static_cast<uint16_t>(base + 3), F32(0.0f)});
    }
    return d;
}

bool InProcessInputs(uint16_t a) { return a >= 140 && a < 180 && (a - 140) % 10 < 6; }
bool IsProcessInputStatus(uint16_t a) { return InProcessInputs(a) && (a - 140) % 10 == 5; }
bool InProtectionRegisters(uint16_t a)
{
    return a >= reg::ProtectionEnable && a <= reg::ProtectionCode + 1;
}

std::string Field(std::string s, size_t width)
{
    s.resize(width, ' ');
    return s;
}

}  // namespace

TMeter::TMeter(TMeterIdentity identity, ClockFn clock)
    : identity_(std::move(identity)), clock_(std::move(clock)), start_(clock_()),
      wallStart_(std::chrono::system_clock::now()), measuringSince_(start_), stoppedAt_(start_)
{
    for (const auto& d : Defaults())
        for (size_t i = 0; i < d.words.size(); ++i)
            store_[static_cast<uint16_t>(d.address + i)] = d.words[i];
}

bool TMeter::Exists(uint16_t a) const
{
    TBlockRef ref;
    return a == reg::Heartbeat || store_.count(a) || IsProcessInputStatus(a) || FindBlock(a, ref);
}

bool TMeter::Protected(uint16_t a) const
{
    if (InProtectionRegisters(a))
        return false;
    return InProcessInputs(a) || (a >= 24000 && a <= reg::MeasuringState && store_.count(a));
}

uint16_t TMeter::Stored(uint16_t a) const
{
    auto it = store_.find(a);
    return it == store_.end() ? 0 : it->second;
}

uint32_t TMeter::Stored32(uint16_t a) const
{
    return Stored(a) | (static_cast<uint32_t>(Stored(static_cast<uint16_t>(a + 1))) << 16);
}

float TMeter::StoredFloat(uint16_t a) const { return std::bit_cast<float>(Stored32(a)); }

uint16_t& TMeter::UnitId(int channel, int q)
{
    return unitIds_.try_emplace((channel < 0 ? 6 : channel) * 64 + q, uint16_t{0}).first->second;
}

double TMeter::MeasuringSeconds(Clock::time_point now) const
{
    double s = measuringAccumulated_;
    if (Stored(reg::MeasuringState) == 1)
        s += std::chrono::duration<double>(now - measuringSince_).count();
    return s;
}

void TMeter::Preset(uint16_t start, std::span<const uint16_t> values)
{
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < values.size(); ++i) {
        const auto a = static_cast<uint16_t>(start + i);
        if (a == reg::Heartbeat || IsProcessInputStatus(a))
            throw std::invalid_argument("register " + std::to_string(a) +
                                        " is computed by the meter and cannot be preset");
        TBlockRef ref;
        if (!store_.count(a) && FindBlock(a, ref) && ref.offset == 3)
            UnitId(ref.channel, ref.q) = values[i] < UnitsOf(UnitClassOf(ref.q)).size() ? values[i] : 0xFFFF;
        else
            store_[a] = values[i];
    }
    // As if written: a protection switched on keeps the code it was given.
    if (Stored(reg::ProtectionEnable) == 1)
        protectionSecret_ = Stored32(reg::ProtectionCode);
}

void TMeter::Remove(uint16_t address)
{
    std::lock_guard lock(mutex_);
    store_.erase(address);
}

void TMeter::Refuse(uint16_t address)
{
    std::lock_guard lock(mutex_);
    refused_.insert(address);
}

void TMeter::Protect(uint32_t code)
{
    std::lock_guard lock(mutex_);
    store_[reg::ProtectionEnable] = 1;
    store_[reg::ProtectionCode] = Low(code);
    store_[reg::ProtectionCode + 1] = High(code);
    protectionSecret_ = code;
    enteredCode_ = 0;
}

TException TMeter::Read(uint16_t start, uint16_t count, std::vector<uint16_t>& out)
{
    std::lock_guard lock(mutex_);
    out.clear();
    if (count == 0 || start + count > 0x10000)
        return exIllegalAddress;
    for (int a = start; a < start + count; ++a)
        if (!Exists(static_cast<uint16_t>(a)))
            return exIllegalAddress;
    const auto now = clock_();
    out.reserve(count);
    for (int a = start; a < start + count; ++a)
        out.push_back(ReadOne(static_cast<uint16_t>(a), now));
    return exNone;
}

uint16_t TMeter::ReadOne(uint16_t a, Clock::time_point now)
{
    if (a == reg::Heartbeat)
        return static_cast<uint16_t>(
            static_cast<long long>(std::chrono::duration<double>(now - start_).count()) & 0xFFFF);
    if (IsProcessInputStatus(a))
        return ProcessInputStatus((a - 140) / 10);
    TBlockRef ref;
    if (!store_.count(a) && FindBlock(a, ref))
        return ReadBlockRegister(ref.channel, ref.q, ref.offset, now);
    // A locked meter does not give its code away.
    if (Stored(reg::ProtectionEnable) == 1 && (a == reg::ProtectionCode || a == reg::ProtectionCode + 1))
        return 0;
    return Stored(a);
}

uint16_t TMeter::ReadBlockRegister(int channel, int q, int offset, Clock::time_point now)
{
    const TQuantityState s = Quantity(channel, q, now);
    const uint16_t unitId = UnitId(channel, q);
    const auto units = UnitsOf(UnitClassOf(q));
    const bool unitKnown = unitId < units.size();
    const double scaled =
        unitKnown ? s.internal * units[unitId].factor + units[unitId].offset : s.internal;
    const uint32_t raw = FloatBits(static_cast<float>(s.internal));
    const uint32_t sc = FloatBits(static_cast<float>(scaled));
    switch (offset) {
    case 0: return s.status;
    case 1: return Low(raw);
    case 2: return High(raw);
    case 3: return unitId;
    case 4: return Low(sc);
    case 5: return High(sc);
    case 6:
    case 7:
    case 8: {
        if (!unitKnown)
            return 0;
        // First character in the low byte, as the meter packs all its texts.
        const std::string_view t = units[unitId].text;
        const size_t i = static_cast<size_t>(offset - 6) * 2;
        const uint8_t lo = i < t.size() ? static_cast<uint8_t>(t[i]) : 0;
        const uint8_t hi = i + 1 < t.size() ? static_cast<uint8_t>(t[i + 1]) : 0;
        return static_cast<uint16_t>(lo | (hi << 8));
    }
    case 9: return s.secondsSinceUpdate;
    default: return 0;
    }
}

double TMeter::InternalValue(int channel, int q)
{
    std::lock_guard lock(mutex_);
    return Quantity(channel, q, clock_()).internal;
}

TMeter::TQuantityState TMeter::Quantity(int channel, int q, Clock::time_point now)
{
    const auto sinceStart = static_cast<long long>(std::chrono::duration<double>(now - start_).count());
    auto clampSeconds = [](long long s) { return static_cast<uint16_t>(std::clamp(s, 0LL, 65535LL)); };

    // Channel C has no transducers connected; channel D has lost its signal.
    if (channel == kChannelC)
        return {0, 0.0, 0};
    if (channel == kChannelD)
        return {2, 0.0, clampSeconds(sinceStart)};
    bool active = true;
    if (channel == 0 || channel == 1)
        active = Stored(static_cast<uint16_t>(24375 + 1000 * channel)) == 1;
    else if (channel == kChannelY || channel == kChannelZ)
        active = Stored(channel == kChannelY ? 28000 : 28500) == 1;
    // No concentration model, and a liquid has no gas compression factor.
    if (!active || q == 19 || q == 24)
        return {0, 0.0, 0};

    const bool measuring = Stored(reg::MeasuringState) == 1;
    const double tm = MeasuringSeconds(now);
    const auto tu = static_cast<long long>(std::floor(tm));
    const uint16_t since =
        measuring ? 0 : clampSeconds(static_cast<long long>(std::chrono::duration<double>(now - stoppedAt_).count()));

    const double k = ChannelScale(channel);
    const double w = 2.0 * std::numbers::pi / kSwingPeriod;
    const double n = Noise(channel, q, tu);
    double slope = 1.0;
    if (channel >= 0) {
        auto it = calibrationSlope_.find(kChannelLetters[static_cast<size_t>(channel)]);
        if (it != calibrationSlope_.end())
            slope = it->second;
    }
    const double velocity = slope * k * kFlowVelocity * (1.0 + kSwing * std::sin(w * tu)) + 0.004 * n;
    const double flow = velocity * kPipeArea;
    // Totals integrate the noiseless flow, so they only ever count up.
    const double q0 = slope * k * kFlowVelocity * kPipeArea;
    const double volume = q0 * (tu + kSwing / w * (1.0 - std::cos(w * tu)));
    const double posTotal = 1234.5 * k + volume;
    const double negTotal = 12.75 * k;
    const double deltaT = 8.0;
    const double heatPerM3 = kDensityWater * kHeatCapacity * deltaT;

    double v = 0.0;
    switch (q) {
    case 0: v = 21.5 + 0.3 * std::sin(w * tu / 7.0) + 0.02 * n; break;
    case 1: v = 18.2 + 0.02 * n; break;
    case 2: v = 4.2 + 0.01 * n; break;
    case 3: v = 1.013 + 0.001 * n; break;
    case 4: v = 72.0 + 0.5 * n; break;
    case 5: v = 1482.0 + 0.2 * n; break;
    case 6: v = velocity; break;
    case 7: v = flow; break;
    case 8: v = posTotal; break;
    case 9: v = negTotal; break;
    case 10: v = 0.98 * flow; break;
    case 11: v = 0.98 * posTotal; break;
    case 12: v = 0.98 * negTotal; break;
    case 13: v = kDensityWater * flow; break;
    case 14: v = kDensityWater * posTotal; break;
    case 15: v = kDensityWater * negTotal; break;
    case 16: v = heatPerM3 * flow; break;
    case 17: v = heatPerM3 * posTotal; break;
    case 18: v = heatPerM3 * negTotal; break;
    case 20: v = 60.0 + 0.05 * n; break;
    case 21: v = 52.0 + 0.05 * n; break;
    case 22: v = 6.0 + 0.01 * n; break;
    case 23: v = 5.6 + 0.01 * n; break;
    case 25: v = kDensityWater + 0.05 * n; break;
    case 26: v = posTotal - negTotal; break;
    case 27: v = 0.98 * (posTotal - negTotal); break;
    case 28: v = kDensityWater * (posTotal - negTotal); break;
    case 29: v = heatPerM3 * (posTotal - negTotal); break;
    case 30: v = 38.0 + 0.3 * n; break;
    case 31: v = 32.0 + 0.3 * n; break;
    case 32: v = 3.5 + 0.2 * n; break;
    case 33: v = 1.2 + 0.1 * n; break;
    case 34: v = 98.5 + 0.5 * n; break;
    case 35: v = 0.0; break;
    default: {
        static constexpr double kPathDiff[] = {0.012, 0.8, 0.4, 0.03, 1.5, 2.1, 0.6, 1.6, 0.7, 2.2};
        v = kPathDiff[q - kFirstPathDiff] * (1.0 + 0.05 * n);
    }
    }
    // Fed process values replace the meter's own temperatures, pressures and density.
    static constexpr std::pair<int, uint16_t> kFed[] = {
        {0, pqTemperatureFluid}, {1, pqTemperatureAux}, {2, pqPressureFluid},
        {3, pqPressureAux}, {25, pqDensity}};
    for (auto [fq, pq] : kFed)
        if (fq == q)
            ProcessInputOverride(channel, pq, v);
    return {1, v, since};
}

bool TMeter::ProcessInputOverride(int channel, uint16_t quantity, double& internal) const
{
    if (channel < 0)
        return false;
    const uint16_t letter = static_cast<uint16_t>(kChannelLetters[static_cast<size_t>(channel)]);
    for (int n = 0; n < 4; ++n) {
        const auto base = static_cast<uint16_t>(reg::ProcessInputBase + 10 * n);
        const uint16_t ch = Stored(base);
        if (Stored(static_cast<uint16_t>(base + 1)) != quantity || (ch != letter && ch != '*') ||
            ProcessInputStatus(n) != 0)
            continue;
        const auto unit = ProcessInputUnits(quantity)[Stored(static_cast<uint16_t>(base + 2))];
        internal = (StoredFloat(static_cast<uint16_t>(base + 3)) - unit.offset) / unit.factor;
        return true;
    }
    return false;
}

// Error bits: 1 channel, 2 quantity, 4 unit, 8 not a float, 16 measuring type, 32 range.
uint16_t TMeter::ProcessInputStatus(int n) const
{
    const auto base = static_cast<uint16_t>(reg::ProcessInputBase + 10 * n);
    const uint16_t channel = Stored(base);
    const uint16_t quantity = Stored(static_cast<uint16_t>(base + 1));
    const uint16_t unit = Stored(static_cast<uint16_t>(base + 2));
    const float value = StoredFloat(static_cast<uint16_t>(base + 3));

    uint16_t status = 0;
    static constexpr uint16_t kChannels[] = {'A', 'B', 'C', 'D', 'Y', 'Z', '*'};
    if (std::find(std::begin(kChannels), std::end(kChannels), channel) == std::end(kChannels))
        status |= 1;
    if (quantity == pqUnused)
        return status;
    if (quantity >= kProcessQuantityCount)
        return status | 2;
    const auto units = ProcessInputUnits(quantity);
    if (unit >= units.size())
        status |= 4;
    if (!std::isfinite(value))
        status |= 8;
    // A compression factor means nothing to a channel measuring liquid.
    if (quantity == pqGasCompressFactor) {
        bool gas = false;
        if (channel == 'A' || channel == '*')
            gas = gas || Stored(24390) == 1;
        if (channel == 'B' || channel == '*')
            gas = gas || Stored(25390) == 1;
        if (!gas)
            status |= 16;
    }
    if (status & (4 | 8))
        return status;
    const double x = (value - units[unit].offset) / units[unit].factor;
    struct TRange { double low, high; };
    static constexpr TRange kRanges[] = {
        {0, 0}, {-200.0, 600.0}, {-200.0, 600.0}, {0.0, 1000.0}, {0.0, 1000.0},
        {0.01, 3000.0}, {0.01, 100000.0}, {0.001, 1.0e6}, {0.1, 5.0}};
    if (x < kRanges[quantity].low || x > kRanges[quantity].high)
        status |= 32;
    return status;
}

TException TMeter::Write(uint16_t start, std::span<const uint16_t> values)
{
    std::lock_guard lock(mutex_);
    if (values.empty() || start + values.size() > 0x10000)
        return exIllegalAddress;
    if (const TException e = CheckWrite(start, values); e != exNone)
        return e;
    ApplyWrite(start, values, clock_());
    return exNone;
}

TException TMeter::CheckWrite(uint16_t start, std::span<const uint16_t> values) const
{
    const bool locked = Stored(reg::ProtectionEnable) == 1;
    bool touchesProtection = false;
    uint16_t enable = 1;
    uint32_t code = enteredCode_;
    // A refused register fails the write as a broken device would, whatever else it holds.
    for (size_t i = 0; i < values.size(); ++i)
        if (refused_.count(static_cast<uint16_t>(start + i)))
            return exServerFailure;
    for (size_t i = 0; i < values.size(); ++i) {
        const auto a = static_cast<uint16_t>(start + i);
        const uint16_t v = values[i];
        TBlockRef ref;
        if (a == reg::Heartbeat || IsProcessInputStatus(a))
            return exIllegalAddress;
        if (!store_.count(a)) {
            // Of a measured-value block only the unit id can be written.
            if (!FindBlock(a, ref) || ref.offset != 3)
                return exIllegalAddress;
            continue;
        }
        if (locked && Protected(a))
            return exIllegalAddress;
        switch (a) {
        case reg::MeasuringState:
        case reg::CustomRegisterTable:
        case reg::TotalizerReset:
        case reg::ProtectionEnable:
            if (v > 1)
                return exIllegalValue;
            break;
        case reg::CalibrationChannel:
            if (v < 'A' || v > 'H')
                return exIllegalValue;
            break;
        default: break;
        }
        if (InProtectionRegisters(a)) {
            touchesProtection = true;
            if (a == reg::ProtectionEnable)
                enable = v;
            else if (a == reg::ProtectionCode)
                code = (code & 0xFFFF0000u) | v;
            else
                code = (code & 0xFFFFu) | (static_cast<uint32_t>(v) << 16);
        }
    }
    // Unlocking needs the right code; anything else the locked meter refuses.
    if (locked && touchesProtection && enable == 0 && code != protectionSecret_)
        return exIllegalAddress;
    return exNone;
}

void TMeter::ApplyWrite(uint16_t start, std::span<const uint16_t> values, Clock::time_point now)
{
    const bool locked = Stored(reg::ProtectionEnable) == 1;
    const bool wasMeasuring = Stored(reg::MeasuringState) == 1;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const auto wallNow = wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                          std::chrono::duration<double>(elapsed));
    bool apply = false;
    for (size_t i = 0; i < values.size(); ++i) {
        const auto a = static_cast<uint16_t>(start + i);
        const uint16_t v = values[i];
        TBlockRef ref;
        uint16_t old;
        if (!store_.count(a) && FindBlock(a, ref)) {
            uint16_t& id = UnitId(ref.channel, ref.q);
            old = id;
            id = v < UnitsOf(UnitClassOf(ref.q)).size() ? v : 0xFFFF;
        } else if (locked && InProtectionRegisters(a)) {
            old = ReadOne(a, now);
            if (a == reg::ProtectionCode)
                enteredCode_ = (enteredCode_ & 0xFFFF0000u) | v;
            else if (a == reg::ProtectionCode + 1)
                enteredCode_ = (enteredCode_ & 0xFFFFu) | (static_cast<uint32_t>(v) << 16);
        } else {
            old = store_[a];
            store_[a] = v;
            apply = apply || (a == reg::CalibrationApply && v == 1);
        }
        changes_.push_back({a, old, v, wallNow, elapsed});
    }
    if (locked) {
        // CheckWrite let an unlock through only with the right code.
        if (start <= reg::ProtectionEnable && start + values.size() > reg::ProtectionEnable &&
            values[reg::ProtectionEnable - start] == 0) {
            store_[reg::ProtectionEnable] = 0;
            enteredCode_ = 0;
        }
    } else if (Stored(reg::ProtectionEnable) == 1) {
        protectionSecret_ = Stored32(reg::ProtectionCode);
        enteredCode_ = 0;
    }
    const bool measuring = Stored(reg::MeasuringState) == 1;
    if (measuring && !wasMeasuring) {
        measuringSince_ = now;
    } else if (!measuring && wasMeasuring) {
        measuringAccumulated_ += std::chrono::duration<double>(now - measuringSince_).count();
        stoppedAt_ = now;
    }
    if (apply) {
        const char channel = static_cast<char>(Stored(reg::CalibrationChannel));
        calibrationSlope_[channel] = StoredFloat(reg::CalibrationSlope);
        store_[reg::CalibrationApply] = 0;  // a command, not a setting
    }
}

std::vector<uint8_t> TMeter::Identification() const
{
    char serial[32];
    std::snprintf(serial, sizeof serial, "VT23%012u", 4711000u + identity_.address);
    char mbSerial[32];
    std::snprintf(mbSerial, sizeof mbSerial, "MB%014u", 815000u + identity_.address);
    // An even-length ID text keeps the 69 field bytes whole when read as registers over TCP.
    const std::string& text = identity_.idText;
    std::string fields = Field(identity_.serial.empty() ? serial : identity_.serial, 16) + " " +
                         Field("3.12.0 2024-05-17", 17) + Field("2.04  2023-11-06", 16) +
                         Field(mbSerial, 16) + Field(identity_.marker, 3);
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0xFF);
    data.insert(data.end(), fields.begin(), fields.end());
    return data;
}

std::vector<TRegisterChange> TMeter::Changes() const
{
    std::lock_guard lock(mutex_);
    return changes_;
}

}  // namespace vsim
