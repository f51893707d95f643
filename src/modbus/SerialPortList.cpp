#include "SerialPortList.h"

#include "ModbusConnection.h"
#include "SerialPort.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace modbus {

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

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

// Adapters that carry no maker string (most CH340s) are still named by their vendor id.
std::string VendorName(const std::string& vendorId)
{
    static const std::map<std::string, std::string> known = {
        {"0403", "FTDI"}, {"067b", "Prolific"}, {"10c4", "Silicon Labs"}, {"1a86", "QinHeng"},
    };
    const auto it = known.find(vendorId);
    return it == known.end() ? std::string() : it->second;
}

// The USB device is the nearest ancestor of the tty's device that has a vendor id.
void ReadUsbDevice(const fs::path& ttyDir, const fs::path& sysRoot, SerialPortInfo& info)
{
    std::error_code ec;
    fs::path dir = fs::canonical(ttyDir / "device", ec);
    const fs::path top = fs::canonical(sysRoot, ec);
    if (ec)
        return;
    for (; !dir.empty() && dir != top && dir != dir.root_path(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec))
            continue;
        info.vendorId = ReadLine(dir / "idVendor");
        info.productId = ReadLine(dir / "idProduct");
        info.manufacturer = ReadLine(dir / "manufacturer");
        info.product = ReadLine(dir / "product");
        info.serial = ReadLine(dir / "serial");
        break;
    }
    if (info.vendorId.empty())
        return;
    std::string maker = info.manufacturer.empty() ? VendorName(info.vendorId) : info.manufacturer;
    std::string text = info.product;
    if (maker.empty())
        maker = info.vendorId + ":" + info.productId;
    if (text.rfind(maker, 0) != 0)
        text = text.empty() ? maker : maker + " " + text;
    if (!info.serial.empty())
        text += " " + info.serial;
    info.description = text;
}

// tty name -> its link under /dev/serial/by-id.
std::map<std::string, std::string> StableNames(const fs::path& devRoot)
{
    std::map<std::string, std::string> names;
    std::error_code ec;
    for (const auto& link : fs::directory_iterator(devRoot / "serial" / "by-id", ec)) {
        const fs::path target = fs::read_symlink(link.path(), ec);
        if (ec)
            continue;
        auto& name = names[target.filename().string()];
        // Two links to one tty (an interface alias): the shorter name is the one to keep.
        const std::string candidate = "/dev/serial/by-id/" + link.path().filename().string();
        if (name.empty() || candidate.size() < name.size())
            name = candidate;
    }
    return names;
}

SerialPortRoots& DefaultRoots()
{
    static SerialPortRoots roots;
    return roots;
}

std::string Resolved(const std::string& path)
{
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? std::string() : p.string();
}

}  // namespace

std::string SerialPortInfo::Label() const
{
    if (description.empty())
        return Setting();
    return description + " (" + fs::path(path).filename().string() + ")";
}

std::vector<SerialPortInfo> ListSerialPorts(const SerialPortRoots& roots)
{
    std::vector<SerialPortInfo> ports;
    const auto stable = StableNames(roots.dev);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(roots.sys / "class" / "tty", ec)) {
        if (!HasHardware(entry.path()))
            continue;
        SerialPortInfo info;
        const std::string name = entry.path().filename().string();
        info.path = "/dev/" + name;
        if (const auto it = stable.find(name); it != stable.end())
            info.stableName = it->second;
        ReadUsbDevice(entry.path(), roots.sys, info);
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });

    if (const char* extra = std::getenv("TARNWICK_SERIAL_PORTS")) {
        std::stringstream in(extra);
        std::string item;
        while (std::getline(in, item, ':'))
            if (!item.empty()) {
                SerialPortInfo info;
                info.path = item;
                ports.push_back(std::move(info));
            }
    }
    return ports;
}

std::vector<SerialPortInfo> ListSerialPorts() { return ListSerialPorts(DefaultRoots()); }

void SetDefaultSerialPortRoots(const SerialPortRoots& roots) { DefaultRoots() = roots; }

int FindSerialPort(const std::vector<SerialPortInfo>& ports, const std::string& setting)
{
    if (setting.empty())
        return -1;
    const std::string path = SerialDevicePath(setting);
    for (size_t i = 0; i < ports.size(); ++i)
        if (ports[i].path == setting || ports[i].path == path || ports[i].stableName == path)
            return static_cast<int>(i);
    // Any other link to the same device (a by-path name, a link the user made).
    const std::string device = Resolved(path);
    if (device.empty())
        return -1;
    for (size_t i = 0; i < ports.size(); ++i)
        if (Resolved(ports[i].path) == device)
            return static_cast<int>(i);
    return -1;
}

std::string AdapterDisconnectedText(const std::string& port)
{
    return "the serial adapter " + port + " was disconnected";
}

void EnumerateSerialPorts(std::vector<std::string>& list)
{
    list.clear();
    for (const auto& p : ListSerialPorts())
        list.push_back(p.Setting());
}

}  // namespace modbus
