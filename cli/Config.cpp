#include "Config.h"

#include "AtomicFile.h"
#include "Configuration.h"

#include <iostream>

namespace cli {

namespace {

constexpr int kOk = 0, kFailed = 1, kRefused = 2;

subset::Perform PerformOn(Backend& backend)
{
    return [&backend](const Request& r) -> modbus::Outcome { return backend.Perform(r); };
}

}  // namespace

int RunConfigSave(Backend& backend, const ConfigOptions& o, std::ostream& out, std::ostream& err)
{
    const auto slots = subset::ConfigurationSlots(o.channel);
    if (!slots) {
        err << "--channel: '" << o.channel << "' is not A, B, Y or Z\n";
        return kRefused;
    }
    try {
        const nlohmann::json file = subset::ReadConfiguration(PerformOn(backend), *slots);
        if (const std::string error = app::writeFileAtomically(o.file, file.dump(2) + "\n"); !error.empty()) {
            err << "Writing " << o.file << " failed: " << error << '\n';
            return kFailed;
        }
        out << "Saved " << slots->size() << " parameters of " << file["meter"]["identification"].get<std::string>()
            << " to " << o.file << '\n';
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
        loaded = subset::LoadConfigurationFile(o.file);
    } catch (const std::invalid_argument& e) {
        err << e.what() << '\n';
        return kRefused;
    }
    const subset::Perform perform = PerformOn(backend);
    try {
        const subset::Comparison comparison = subset::CompareWithMeter(perform, loaded);
        for (const auto& d : comparison.differences)
            out << subset::DifferenceText(d) << '\n';
        const std::size_t n = comparison.differences.size();
        out << n << (n == 1 ? " parameter differs" : " parameters differ") << '\n';
        if (o.dryRun || n == 0)
            return kOk;
        if (comparison.protectionActive && !o.protectionCode) {
            err << "The meter's write protection is active: give its code with --protection-code; "
                   "nothing written\n";
            return kRefused;
        }
        const subset::WriteReport report = subset::WriteDifferences(perform, loaded, comparison, o.protectionCode);
        if (report.unlockRefused) {
            err << "The meter did not accept the protection code; nothing written\n";
            return kFailed;
        }
        for (const std::string& f : report.failures)
            err << f << '\n';
        if (report.aborted)
            err << "Restore FAILED: the connection ended after " << report.requests << " of the writes\n";
        else if (!report.failures.empty())
            err << "Restore FAILED: " << report.failures.size() << " of the rows written did not take\n";
        if (!report.Ok())
            return kFailed;
        out << "Wrote " << report.requests << (report.requests == 1 ? " row" : " rows")
            << ", read back and verified\n";
        return kOk;
    } catch (const std::invalid_argument& e) {
        err << o.file << " refused: " << e.what() << '\n';
        return kRefused;
    } catch (const std::runtime_error& e) {
        err << e.what() << '\n';
        return kFailed;
    }
}

}  // namespace cli
