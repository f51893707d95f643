#pragma once

// The simulated meter's register model: measured-value blocks, heartbeat, identification,
// service registers, the parameter subset with write protection and measuring state, and the
// Modbus process inputs. No I/O: the transports call Read/Write and serve what comes back.
// All public members are safe to call from several threads.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace vsim {

// Modbus exception codes the model answers with.
enum TException : uint8_t {
    exNone = 0,
    exIllegalFunction = 1,
    exIllegalAddress = 2,
    exIllegalValue = 3,
    exServerFailure = 4,
};

struct TMeterIdentity {
    uint8_t address = 1;
    std::string serial;        // up to 16 characters; empty = derived from the address
    std::string marker = "ARM";  // exactly 3 characters
    std::string idText = "KALDOR VORTAN V3";
    bool reportsId = true;     // false: function 17 is not supported
};

struct TRegisterChange {
    uint16_t address;
    uint16_t oldValue;
    uint16_t newValue;
    std::chrono::system_clock::time_point time;
    double elapsedSeconds;  // since the meter was created
};

// Well-known registers, for the transports' tests and for other developers' tests.
namespace reg {
constexpr uint16_t Heartbeat = 1;
constexpr uint16_t ByteOrder = 17;
constexpr uint16_t TotalizerReset = 20;
constexpr uint16_t CalibrationChannel = 110;
constexpr uint16_t CalibrationSlope = 112;
constexpr uint16_t CalibrationOffset = 114;
constexpr uint16_t CalibrationApply = 120;
constexpr uint16_t ProcessInputBase = 140;  // + 10 (n - 1)
constexpr uint16_t LoggerChannels = 29250;
constexpr uint16_t LoggerRate = 29251;
constexpr uint16_t LoggerOptions = 29253;
constexpr uint16_t ProtectionEnable = 29254;
constexpr uint16_t ProtectionCode = 29255;
constexpr uint16_t MeasuringState = 29257;
constexpr uint16_t CustomRegisterTable = 65535;
}  // namespace reg

class TMeter {
public:
    using Clock = std::chrono::steady_clock;
    using ClockFn = std::function<Clock::time_point()>;

    explicit TMeter(TMeterIdentity identity, ClockFn clock = &Clock::now);
    TMeter(const TMeter&) = delete;
    TMeter& operator=(const TMeter&) = delete;

    uint8_t Address() const { return identity_.address; }
    bool ReportsId() const { return identity_.reportsId; }

    // Scenario set-up before the first request; none of it is a change the dump lists.
    // Preset makes the registers exist and hold the values (at offset 3 of a measured-value
    // block: the unit id); throws std::invalid_argument for registers the meter computes.
    void Preset(uint16_t start, std::span<const uint16_t> values);
    void Remove(uint16_t address);
    void Refuse(uint16_t address);
    // Write protection on, unlocked only by this code.
    void Protect(uint32_t code);

    // Both all-or-nothing: a range with one register the meter lacks, or one write it refuses,
    // answers the exception and changes nothing.
    TException Read(uint16_t start, uint16_t count, std::vector<uint16_t>& out);
    TException Write(uint16_t start, std::span<const uint16_t> values);

    // Data of the Report Server ID reply (after the byte count).
    std::vector<uint8_t> Identification() const;

    std::vector<TRegisterChange> Changes() const;

    // The internal (unscaled) value of a quantity now, for tests.
    double InternalValue(int channel, int q);

private:
    struct TQuantityState {
        uint16_t status;
        double internal;
        uint16_t secondsSinceUpdate;
    };

    bool Exists(uint16_t a) const;
    uint16_t ReadOne(uint16_t a, Clock::time_point now);
    uint16_t ReadBlockRegister(int channel, int q, int offset, Clock::time_point now);
    TException CheckWrite(uint16_t start, std::span<const uint16_t> values) const;
    void ApplyWrite(uint16_t start, std::span<const uint16_t> values, Clock::time_point now);

    TQuantityState Quantity(int channel, int q, Clock::time_point now);
    double MeasuringSeconds(Clock::time_point now) const;
    uint16_t ProcessInputStatus(int n) const;
    bool ProcessInputOverride(int channel, uint16_t quantity, double& internal) const;
    bool Protected(uint16_t a) const;
    uint16_t& UnitId(int channel, int q);

    uint16_t Stored(uint16_t a) const;
    uint32_t Stored32(uint16_t a) const;
    float StoredFloat(uint16_t a) const;

    TMeterIdentity identity_;
    ClockFn clock_;
    Clock::time_point start_;
    std::chrono::system_clock::time_point wallStart_;

    mutable std::mutex mutex_;
    std::map<uint16_t, uint16_t> store_;      // every writable register outside the blocks
    std::map<int, uint16_t> unitIds_;         // key channel * 64 + q; channel -1 -> 6
    std::set<uint16_t> refused_;
    uint32_t protectionSecret_ = 0;
    uint32_t enteredCode_ = 0;
    double measuringAccumulated_ = 0.0;       // seconds measured before measuringSince_
    Clock::time_point measuringSince_;
    Clock::time_point stoppedAt_;
    std::map<char, double> calibrationSlope_;
    std::vector<TRegisterChange> changes_;
};

}  // namespace vsim
