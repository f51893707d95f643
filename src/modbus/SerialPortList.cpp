#include "ModbusConnection.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace modbus {

namespace fs = std::filesystem;

namespace {

// Legacy 8250 UARTs are listed whether or not hardware answers; their "type" says (0: none).
bool HasHardware(const fs::path& ttyDir)
{
    std::error_code ec;
    if (!fs::exists(ttyDir / "device", ec))
        return false;
    const fs::path driver = fs::read_symlink(ttyDir / "device" / "driver", ec);
    if (!ec && driver.filename() == "serial8250") {
        std::ifstream type(ttyDir / "type");
        int t = 0;
        return (type >> t) && t != 0;
    }
    return true;
}

}  // namespace

void EnumerateSerialPorts(std::vector<std::string>& list)
{
    list.clear();
    std::error_code ec;
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", ec)) {
        if (HasHardware(entry.path()))
            found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    list = std::move(found);

    if (const char* extra = std::getenv("TARNWICK_SERIAL_PORTS")) {
        std::stringstream in(extra);
        std::string item;
        while (std::getline(in, item, ':'))
            if (!item.empty())
                list.push_back(item);
    }
}

}  // namespace modbus
