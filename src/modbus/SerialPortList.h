#pragma once

// The machine's serial ports with what the system knows of each: the ttys under /sys/class/tty
// that have a real device behind them, sorted by name, then the virtual ports of
// TARNWICK_SERIAL_PORTS (colon-separated paths) as given.

#include <filesystem>
#include <string>
#include <vector>

namespace modbus {

struct SerialPortInfo {
    std::string path;        // /dev/ttyUSB0, or a virtual port as listed
    std::string stableName;  // /dev/serial/by-id/... when udev made one; empty otherwise
    // From the USB device in sysfs; empty for UARTs and virtual ports.
    std::string manufacturer, product, serial;
    std::string vendorId, productId;  // four hex digits each
    std::string description;          // "FTDI USB-RS485 Cable FT4ABCDE"

    // What a setting should keep: the by-id name survives replugging into another socket.
    const std::string& Setting() const { return stableName.empty() ? path : stableName; }
    // What a list shows: the description with the tty's name, or the setting alone.
    std::string Label() const;
};

// Roots of the trees read; tests pass a fake tree.
struct SerialPortRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
};

std::vector<SerialPortInfo> ListSerialPorts(const SerialPortRoots& roots);
// From the default roots: the system's, unless a test has replaced them.
std::vector<SerialPortInfo> ListSerialPorts();
void SetDefaultSerialPortRoots(const SerialPortRoots& roots);

// Index of the port a stored setting names (its path, its by-id name, a bare tty name, or any
// other link to the same device), or -1.
int FindSerialPort(const std::vector<SerialPortInfo>& ports, const std::string& setting);

// The one message for an adapter that vanished while in use.
std::string AdapterDisconnectedText(const std::string& port);

}  // namespace modbus
