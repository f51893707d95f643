#include "DeviceSettings.h"

#include <charconv>
#include <stdexcept>

namespace vsim {

namespace {

long ParseNumber(std::string_view key, std::string_view value, long low, long high)
{
    long n = 0;
    const char* end = value.data() + value.size();
    const auto [p, ec] = std::from_chars(value.data(), end, n);
    if (value.empty() || ec != std::errc() || p != end)
        throw std::invalid_argument(std::string(key) + "=" + std::string(value) +
                                    ": not a number");
    if (n < low || n > high)
        throw std::invalid_argument(std::string(key) + "=" + std::string(value) +
                                    ": must be between " + std::to_string(low) + " and " +
                                    std::to_string(high));
    return n;
}

// Decimal, or hexadecimal after 0x.
long ParseWord(std::string_view key, std::string_view value, long low, long high)
{
    long n = 0;
    const bool hex = value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
    const std::string_view digits = hex ? value.substr(2) : value;
    const char* end = digits.data() + digits.size();
    const auto [p, ec] = std::from_chars(digits.data(), end, n, hex ? 16 : 10);
    if (digits.empty() || ec != std::errc() || p != end)
        throw std::invalid_argument(std::string(key) + ": " + std::string(value) + " is not a number");
    if (n < low || n > high)
        throw std::invalid_argument(std::string(key) + ": " + std::string(value) +
                                    " must be between " + std::to_string(low) + " and " +
                                    std::to_string(high));
    return n;
}

TRegisterPreset ParsePreset(std::string_view value)
{
    const std::string item = "set=" + std::string(value);
    TRegisterPreset p{};
    size_t colon = value.find(':');
    if (colon == std::string_view::npos || colon + 1 == value.size())
        throw std::invalid_argument(item + ": needs ADDR:VALUE[:VALUE...]");
    p.address = static_cast<uint16_t>(ParseWord(item, value.substr(0, colon), 0, 65535));
    while (colon != std::string_view::npos) {
        value = value.substr(colon + 1);
        colon = value.find(':');
        p.values.push_back(static_cast<uint16_t>(ParseWord(item, value.substr(0, colon), 0, 65535)));
    }
    if (p.address + p.values.size() > 0x10000)
        throw std::invalid_argument(item + ": runs past register 65535");
    return p;
}

void RequireNoValue(std::string_view key, bool hasValue)
{
    if (hasValue)
        throw std::invalid_argument(std::string(key) + " takes no value");
}

}  // namespace

TDeviceSettings ParseDeviceSettings(std::string_view text)
{
    TDeviceSettings d;
    while (!text.empty()) {
        // The identification text may hold anything, commas too.
        const size_t comma = text.substr(0, 3) == "id=" ? std::string_view::npos : text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (item.empty())
            continue;
        const size_t eq = item.find('=');
        const bool hasValue = eq != std::string_view::npos;
        const std::string_view key = item.substr(0, eq);
        const std::string_view value = hasValue ? item.substr(eq + 1) : std::string_view();
        auto need = [&] {
            if (!hasValue)
                throw std::invalid_argument(std::string(key) + " needs a value (" +
                                            std::string(key) + "=...)");
        };
        if (key == "address") {
            need();
            d.address = static_cast<uint8_t>(ParseNumber(key, value, 1, 247));
        } else if (key == "baud") {
            need();
            d.baud = static_cast<uint32_t>(ParseNumber(key, value, 50, 4000000));
        } else if (key == "parity") {
            need();
            if (value == "none" || value == "N" || value == "n")
                d.parity = TParity::None;
            else if (value == "odd" || value == "O" || value == "o")
                d.parity = TParity::Odd;
            else if (value == "even" || value == "E" || value == "e")
                d.parity = TParity::Even;
            else
                throw std::invalid_argument("parity=" + std::string(value) +
                                            ": must be none, odd or even");
        } else if (key == "mode") {
            need();
            if (value == "auto")
                d.framing = TFraming::Auto;
            else if (value == "rtu")
                d.framing = TFraming::Rtu;
            else if (value == "ascii")
                d.framing = TFraming::Ascii;
            else
                throw std::invalid_argument("mode=" + std::string(value) +
                                            ": must be auto, rtu or ascii");
        } else if (key == "marker") {
            need();
            if (value.size() != 3)
                throw std::invalid_argument("marker=" + std::string(value) +
                                            ": must be exactly 3 characters");
            d.marker = value;
        } else if (key == "serial") {
            need();
            if (value.empty() || value.size() > 16)
                throw std::invalid_argument("serial=" + std::string(value) +
                                            ": must be 1 to 16 characters");
            d.serial = value;
        } else if (key == "delay") {
            need();
            d.delayMs = static_cast<int>(ParseNumber(key, value, 0, 60000));
        } else if (key == "silent") {
            RequireNoValue(key, hasValue);
            d.faults.silent = true;
        } else if (key == "echo") {
            RequireNoValue(key, hasValue);
            d.faults.echo = true;
        } else if (key == "badcrc") {
            need();
            d.faults.badCrc = static_cast<int>(ParseNumber(key, value, 1, 1000000));
        } else if (key == "otheraddr") {
            RequireNoValue(key, hasValue);
            d.faults.otherAddress = true;
        } else if (key == "wrongfc") {
            RequireNoValue(key, hasValue);
            d.faults.wrongFunction = true;
        } else if (key == "exception") {
            need();
            d.faults.exception = static_cast<int>(ParseNumber(key, value, 1, 255));
        } else if (key == "gap") {
            need();
            d.faults.gapMs = static_cast<int>(ParseNumber(key, value, 1, 60000));
        } else if (key == "garbage") {
            RequireNoValue(key, hasValue);
            d.faults.garbage = true;
        } else if (key == "split") {
            need();
            d.faults.splitMs = static_cast<int>(ParseNumber(key, value, 0, 60000));
        } else if (key == "staleid") {
            RequireNoValue(key, hasValue);
            d.faults.staleId = true;
        } else if (key == "set") {
            need();
            d.presets.push_back(ParsePreset(value));
        } else if (key == "id") {
            need();
            if (value.empty() || value.size() > 180)
                throw std::invalid_argument("id=" + std::string(value) + ": must be 1 to 180 characters");
            d.idText = value;
        } else if (key == "noid") {
            RequireNoValue(key, hasValue);
            d.noId = true;
        } else if (key == "nocrt") {
            RequireNoValue(key, hasValue);
            d.noCrt = true;
        } else if (key == "refuse") {
            need();
            d.refused.push_back(static_cast<uint16_t>(ParseWord("refuse=" + std::string(value), value, 0, 65535)));
        } else if (key == "protect") {
            need();
            d.protectCode = static_cast<uint32_t>(ParseNumber(key, value, 0, 4294967295L));
        } else {
            throw std::invalid_argument("unknown setting \"" + std::string(key) + "\"");
        }
    }
    return d;
}

const char* DeviceSettingsHelp()
{
    return "  address=N     slave address 1..247 (default 1)\n"
           "  baud=N        line speed the device listens at (default 19200)\n"
           "  parity=P      none, odd or even (default even; a pty cannot carry parity)\n"
           "  mode=M        auto (default: ':' starts an ASCII request), rtu or ascii\n"
           "  marker=XYZ    identification marker, 3 characters (default ARM)\n"
           "  serial=TEXT   device serial number, up to 16 characters\n"
           "  delay=MS      wait before answering\n"
           "faults:\n"
           "  silent        never answer\n"
           "  echo          send the request back before the reply (RS-485 adapter echo)\n"
           "  badcrc=N      every Nth reply with a wrong CRC/LRC (serial only)\n"
           "  otheraddr     a reply from the next address first\n"
           "  wrongfc       replies carry the function code + 1\n"
           "  exception=C   answer every request with exception code C\n"
           "  gap=MS        pause inside each reply frame (serial; on TCP like split)\n"
           "  garbage       noise bytes before and after each reply\n"
           "  split=MS      TCP: reply in two segments MS apart\n"
           "  staleid       TCP: a reply with the previous transaction id first\n"
           "presets:\n"
           "  set=ADDR:V[:V...]  holding registers from ADDR hold these values at start (decimal\n"
           "                or 0x hex; repeat for more); the register exists even where the\n"
           "                meter has none, and a preset measured value stays fixed\n"
           "  id=TEXT       identification text in place of \"KALDOR VORTAN V3\" (the fields\n"
           "                after it stay); takes the rest of SETTINGS, commas included: put it last\n"
           "  noid          answer function 17 with exception 1 (function 8 still answers)\n"
           "  nocrt         no register 65535: reading or writing it answers exception 2\n"
           "  refuse=ADDR   writes that touch ADDR answer exception 4 (repeat for more)\n"
           "  protect=CODE  start with the write protection on (29254 = 1) and code CODE; the\n"
           "                parameter registers (24000..29257, process inputs 140..175) then\n"
           "                answer writes with exception 2, 29255/29256 read 0, and a write of\n"
           "                29254..29256 = 0, CODE low, CODE high unlocks (a wrong code: exception 2)\n";
}

}  // namespace vsim
