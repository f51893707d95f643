#pragma once

// A temporary /sys and /dev as for real adapters: FTDI, CH340, two UARTs (one real), a console.

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
