#include "Config.h"

#include "AtomicFile.h"
#include "Configuration.h"
#include "DeviceIdentification.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

namespace cli {

namespace {

constexpr int kOk = 0, kFailed = 1, kRefused = 2;

subset::Perform PerformOn(Backend& backend)
{
    return [&backend](const Request& r) -> modbus::Outcome { return backend.Perform(r); };
}

std::string UtcNow()
{
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// The family is the identification text's first word after the maker ("KALDOR VORTAN V3").
std::optional<subset::Identification> Identify(Backend& backend, std::ostream& err)
{
    const Outcome o = backend.Perform(Request{Op::Identify, 0, 0, {}});
    if (!o.Ok()) {
        err << "Reading the meter's identification failed\n";
        return std::nullopt;
    }
    const app::DeviceIdentification d = app::decodeIdentification(o.data);
    subset::Identification id{d.isVortan() ? "VORTAN" : "", d.idText, d.serialNumber, d.firmwareVersion};
    if (id.family.empty()) {
        err << "\"" << d.idText << "\" is not a VORTAN meter\n";
        return std::nullopt;
    }
    return id;
}

}  // namespace

int RunConfigSave(Backend& backend, const ConfigOptions& o, std::ostream& out, std::ostream& err)
{
    const auto slots = subset::ConfigurationSlots(o.channel);
    if (!slots) {
        err << "--channel: '" << o.channel << "' is not A, B, Y or Z\n";
        return kRefused;
    }
    const auto id = Identify(backend, err);
    if (!id)
        return kFailed;
    try {
        const auto words = subset::ReadSlots(PerformOn(backend), *slots);
        const nlohmann::json file = subset::BuildConfiguration(*id, UtcNow(), *slots, words);
        if (const std::string error = app::writeFileAtomically(o.file, file.dump(2) + "\n"); !error.empty()) {
            err << "Writing " << o.file << " failed: " << error << '\n';
            return kFailed;
        }
        out << "Saved " << slots->size() << " parameters of " << id->idText << " to " << o.file << '\n';
        return kOk;
    } catch (const std::runtime_error& e) {
        err << e.what() << '\n';
        return kFailed;
    }
}

int RunConfigRestore(Backend& backend, const ConfigOptions& o, std::ostream& out, std::ostream& err)
{
    subset::Loaded loaded;
    try {
        std::ifstream in(o.file, std::ios::binary);
        if (!in) {
            err << "Cannot read " << o.file << '\n';
            return kRefused;
        }
        loaded = subset::LoadConfiguration(nlohmann::json::parse(in));
    } catch (const nlohmann::json::exception& e) {
        err << o.file << " is damaged: " << e.what() << '\n';
        return kRefused;
    } catch (const std::invalid_argument& e) {
        err << o.file << " refused: " << e.what() << '\n';
        return kRefused;
    }
    const auto id = Identify(backend, err);
    if (!id)
        return kFailed;
    if (id->family != loaded.family) {
        err << o.file << " refused: it is from a " << loaded.family << " meter, this is a " << id->family << '\n';
        return kRefused;
    }
    const subset::Perform perform = PerformOn(backend);
    try {
        std::vector<subset::Slot> slots;
        for (const auto& e : loaded.entries)
            slots.push_back(e.slot);
        const auto differences = subset::Compare(loaded.entries, subset::ReadSlots(perform, slots));
        for (const auto& d : differences)
            out << subset::DifferenceText(d) << '\n';
        out << differences.size() << (differences.size() == 1 ? " parameter differs" : " parameters differ") << '\n';
        if (o.dryRun || differences.empty())
            return kOk;
        const auto plan = subset::WritePlan(loaded.entries, differences);

        const auto protection = perform(Request::Read(subset::ProtectionRegister, 1));
        if (!protection.Ok() || protection.values.size() != 1) {
            err << "Reading the write protection (29254) failed; nothing written\n";
            return kFailed;
        }
        const bool locked = protection.values[0] == 1;
        if (locked) {
            if (!o.protectionCode) {
                err << "The meter's write protection is active: give its code with --protection-code; "
                       "nothing written\n";
                return kRefused;
            }
            perform(subset::ProtectionWrite(false, *o.protectionCode));
            const auto after = perform(Request::Read(subset::ProtectionRegister, 1));
            if (!after.Ok() || after.values != std::vector<uint16_t>{0}) {
                err << "The meter did not accept the protection code; nothing written\n";
                return kFailed;
            }
        }
        int failed = 0;
        for (const auto& w : plan) {
            const auto written = perform(w.Request());
            for (const auto& e : w.rows) {
                const auto back = perform(Request::Read(static_cast<uint16_t>(e.slot.Register()), e.slot.row->count));
                if (!written.Ok() || !back.Ok() || back.values != e.words) {
                    ++failed;
                    err << "Did not take: " << subset::DifferenceText({e, back.values}) << '\n';
                }
            }
        }
        // Leave the meter protected as it was found.
        if (locked) {
            perform(subset::ProtectionWrite(true, *o.protectionCode));
            const auto after = perform(Request::Read(subset::ProtectionRegister, 1));
            if (!after.Ok() || after.values != std::vector<uint16_t>{1}) {
                err << "The write protection could not be switched on again\n";
                ++failed;
            }
        }
        if (failed) {
            err << "Restore FAILED: " << failed << " of the rows written did not take\n";
            return kFailed;
        }
        out << "Wrote " << plan.size() << (plan.size() == 1 ? " row" : " rows") << ", read back and verified\n";
        return kOk;
    } catch (const std::runtime_error& e) {
        err << e.what() << '\n';
        return kFailed;
    } catch (const std::invalid_argument& e) {
        err << o.file << " refused: " << e.what() << '\n';
        return kRefused;
    }
}

}  // namespace cli
