#include "Device.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

namespace vsim {

namespace {

std::string IsoTime(std::chrono::system_clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    const std::time_t secs = static_cast<std::time_t>(ms.count() / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", buf, static_cast<int>(ms.count() % 1000));
    return out;
}

}  // namespace

std::string DumpText(const TDevices& devices)
{
    nlohmann::json changes = nlohmann::json::array();
    for (const auto& d : devices)
        for (const auto& c : d->meter.Changes())
            changes.push_back({{"device", d->settings.address},
                               {"address", c.address},
                               {"old", c.oldValue},
                               {"new", c.newValue},
                               {"time", IsoTime(c.time)},
                               {"elapsed", c.elapsedSeconds}});
    return nlohmann::json{{"changes", changes}}.dump(2) + "\n";
}

void WriteDump(const std::string& path, const TDevices& devices)
{
    std::ofstream out(path, std::ios::trunc);
    if (out)
        out << DumpText(devices);
    if (!out)
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace vsim
