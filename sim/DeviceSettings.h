#pragma once

// One simulated device as given by --device: its serial settings and the faults it injects.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vsim {

enum class TParity : uint8_t { None, Odd, Even };
// Auto takes a request that starts with ':' as ASCII, anything else as RTU.
enum class TFraming : uint8_t { Auto, Rtu, Ascii };

struct TFaults {
    bool silent = false;     // never answers
    bool echo = false;       // the request's bytes before the reply, as an RS-485 adapter does
    int badCrc = 0;          // every Nth reply with a wrong CRC / LRC (0 = off)
    bool otherAddress = false;  // a reply from the next address first
    bool wrongFunction = false; // replies carry the function code + 1
    int exception = 0;       // answer everything with this exception code (0 = off)
    int gapMs = 0;           // pause in the middle of each reply frame
    bool garbage = false;    // noise bytes before and after each reply
    int splitMs = 0;         // TCP: reply in two segments, this far apart
    bool staleId = false;    // TCP: a reply with the previous transaction id first
};

// set=ADDR:VALUE[:VALUE...]: consecutive registers from ADDR.
struct TRegisterPreset {
    uint16_t address;
    std::vector<uint16_t> values;
};

struct TDeviceSettings {
    uint8_t address = 1;
    uint32_t baud = 19200;
    TParity parity = TParity::Even;
    TFraming framing = TFraming::Auto;
    std::string marker = "ARM";
    std::string serial;  // empty: derived from the address
    int delayMs = 0;
    TFaults faults;
    // Scenario presets.
    std::vector<TRegisterPreset> presets;
    std::optional<std::string> idText;   // replaces the ID text of the identification
    bool noId = false;                   // function 17 answers "illegal function"
    bool noCrt = false;                  // no register 65535
    std::vector<uint16_t> refused;       // writes answer exception 4
    std::optional<uint32_t> protectCode; // starts locked with this code
};

// Parses "address=2,baud=9600,badcrc=3,..." (empty text = all defaults). id=TEXT takes the
// rest of the text, commas included, so it comes last. Throws
// std::invalid_argument with a message that names the offending setting.
TDeviceSettings ParseDeviceSettings(std::string_view text);

// The keys with a one-line explanation each, for --help.
const char* DeviceSettingsHelp();

}  // namespace vsim
