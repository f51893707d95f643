#pragma once

// A temporary /sys and /dev with the layout the kernel and udev give real adapters: an FTDI
// FT232R cable and a CH340 (no maker or serial string), two legacy UARTs of which one has
// hardware, and a virtual console. Removed with the object.

#include "SerialPortList.h"

#include <filesystem>

namespace testing_support {

class FakeSysfs {
public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    modbus::SerialPortRoots Roots() const { return {root_ / "sys", root_ / "dev"}; }

    static constexpr const char* FtdiById = "/dev/serial/by-id/usb-FTDI_USB-RS485_Cable_FT4ABCDE-if00-port0";
    static constexpr const char* Ch340ById = "/dev/serial/by-id/usb-1a86_USB2.0-Serial-if00-port0";

private:
    std::filesystem::path root_;
};

}  // namespace testing_support
