// Ports from a fake sysfs and /dev, then the environment's virtual ones; a stored setting found.
#include "FakeSysfs.h"
#include "ModbusConnection.h"
#include "SerialPortList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace modbus;
using testing_support::FakeSysfs;

// Each port as path | by-id name | description | label | setting (the by-id name when there is one).
TEST(PortList, RealPortsThenVirtualOnesFoundByAnyName)
{
    const char* virt = "/tmp/tarnwick-virtual-a:/dev/pts/97";
    ::setenv("TARNWICK_SERIAL_PORTS", virt, 1);
    FakeSysfs tree;
    const auto ports = ListSerialPorts(tree.Roots());
    std::vector<std::string> got;
    for (const auto& p : ports)
        got.push_back(p.path + " | " + p.stableName + " | " + p.description + " | " + p.Label() + " | " +
                      p.Setting());
    const std::string ftdi = FakeSysfs::FtdiById, ch340 = FakeSysfs::Ch340ById;
    const std::string ftdiText = "FTDI USB-RS485 Cable FT4ABCDE", ch340Text = "QinHeng USB2.0-Serial";
    // ttyS0 (no UART) and tty0 (no device) are not offered; the CH340 is named by its vendor id.
    const std::vector<std::string> expected = {
        "/dev/ttyS1 |  |  | /dev/ttyS1 | /dev/ttyS1",
        "/dev/ttyUSB0 | " + ftdi + " | " + ftdiText + " | " + ftdiText + " (ttyUSB0) | " + ftdi,
        "/dev/ttyUSB1 | " + ch340 + " | " + ch340Text + " | " + ch340Text + " (ttyUSB1) | " + ch340,
        "/tmp/tarnwick-virtual-a |  |  | /tmp/tarnwick-virtual-a | /tmp/tarnwick-virtual-a",
        "/dev/pts/97 |  |  | /dev/pts/97 | /dev/pts/97",
    };
    EXPECT_EQ(got, expected);
    ASSERT_EQ(ports.size(), 5u);
    EXPECT_EQ(ports[1].vendorId, "0403");
    EXPECT_EQ(ports[1].serial, "FT4ABCDE");
    EXPECT_EQ(ports[2].manufacturer, "");

    // A setting finds its port by any of its names; a user's link to a virtual port is that port.
    const auto dir = std::filesystem::temp_directory_path();
    const auto target = dir / ("tarnwick-port-target-" + std::to_string(::getpid()));
    const auto link = dir / ("tarnwick-port-link-" + std::to_string(::getpid()));
    std::ofstream(target).put('x');
    std::filesystem::remove(link);
    std::filesystem::create_symlink(target, link);
    ::setenv("TARNWICK_SERIAL_PORTS", target.c_str(), 1);
    const auto withLink = ListSerialPorts(tree.Roots());
    const struct {
        std::string setting;
        int index;
    } cases[] = {
        {"ttyUSB0", 1},            // settings of earlier versions
        {"/dev/ttyUSB0", 1},
        {FakeSysfs::FtdiById, 1},  // the adapter in another socket is still found by this
        {FakeSysfs::Ch340ById, 2},
        {"ttyS1", 0},
        {target.string(), 3},
        {link.string(), 3},
        {"/dev/ttyGONE", -1},
        {"COM1", -1},
        {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindSerialPort(withLink, c.setting), c.index) << c.setting;
    std::filesystem::remove(link);
    std::filesystem::remove(target);

    ::setenv("TARNWICK_SERIAL_PORTS", virt, 1);
    const auto none = ListSerialPorts({"/nonexistent/sys", "/nonexistent/dev"});
    ASSERT_EQ(none.size(), 2u);
    EXPECT_EQ(none[0].path, "/tmp/tarnwick-virtual-a");

    // The list of names from the real trees: the devices, then the virtual ports; nothing stale.
    std::vector<std::string> list{"stale"};
    EnumerateSerialPorts(list);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[list.size() - 2], "/tmp/tarnwick-virtual-a");
    EXPECT_EQ(list.back(), "/dev/pts/97");
    EXPECT_EQ(std::count(list.begin(), list.end(), "stale"), 0);
    ::unsetenv("TARNWICK_SERIAL_PORTS");
}
