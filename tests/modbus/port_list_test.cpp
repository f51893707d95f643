// The port list from a fake sysfs and /dev tree laid out as the kernel and udev lay out real
// adapters, followed by the virtual ports of the environment; and finding a stored setting in it.
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

namespace {

class PortList : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("TARNWICK_SERIAL_PORTS", virt.c_str(), 1); }
    void TearDown() override { ::unsetenv("TARNWICK_SERIAL_PORTS"); }

    FakeSysfs tree;
    std::string virt = "/tmp/tarnwick-virtual-a:/dev/pts/97";
};

struct Expected {
    std::string path, stableName, description, label;
};

TEST_F(PortList, RealPortsWithWhatSysfsKnowsThenTheVirtualOnes)
{
    const auto ports = ListSerialPorts(tree.Roots());
    // ttyS0 has no UART behind it and tty0 no device: neither is offered.
    const std::vector<Expected> expected = {
        {"/dev/ttyS1", "", "", "/dev/ttyS1"},
        {"/dev/ttyUSB0", FakeSysfs::FtdiById, "FTDI USB-RS485 Cable FT4ABCDE",
         "FTDI USB-RS485 Cable FT4ABCDE (ttyUSB0)"},
        // No maker string: named after the vendor id.
        {"/dev/ttyUSB1", FakeSysfs::Ch340ById, "QinHeng USB2.0-Serial", "QinHeng USB2.0-Serial (ttyUSB1)"},
        {"/tmp/tarnwick-virtual-a", "", "", "/tmp/tarnwick-virtual-a"},
        {"/dev/pts/97", "", "", "/dev/pts/97"},
    };
    ASSERT_EQ(ports.size(), expected.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].path);
        EXPECT_EQ(ports[i].path, expected[i].path);
        EXPECT_EQ(ports[i].stableName, expected[i].stableName);
        EXPECT_EQ(ports[i].description, expected[i].description);
        EXPECT_EQ(ports[i].Label(), expected[i].label);
        // The by-id name is what a setting keeps when there is one.
        EXPECT_EQ(ports[i].Setting(), expected[i].stableName.empty() ? expected[i].path : expected[i].stableName);
    }
    EXPECT_EQ(ports[1].vendorId, "0403");
    EXPECT_EQ(ports[1].serial, "FT4ABCDE");
    EXPECT_EQ(ports[2].manufacturer, "");
}

TEST_F(PortList, AStoredSettingFindsItsPortByAnyOfItsNames)
{
    // A link of the user's to a virtual port is the same port.
    const auto dir = std::filesystem::temp_directory_path();
    const auto target = dir / ("tarnwick-port-target-" + std::to_string(::getpid()));
    const auto link = dir / ("tarnwick-port-link-" + std::to_string(::getpid()));
    std::ofstream(target).put('x');
    std::filesystem::remove(link);
    std::filesystem::create_symlink(target, link);
    ::setenv("TARNWICK_SERIAL_PORTS", target.c_str(), 1);
    const auto ports = ListSerialPorts(tree.Roots());

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
        EXPECT_EQ(FindSerialPort(ports, c.setting), c.index) << c.setting;
    std::filesystem::remove(link);
    std::filesystem::remove(target);
}

TEST_F(PortList, MissingTreesGiveOnlyTheVirtualPorts)
{
    const auto ports = ListSerialPorts({"/nonexistent/sys", "/nonexistent/dev"});
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].path, "/tmp/tarnwick-virtual-a");

    // The list of names from the real trees: the devices, then the virtual ports; nothing stale.
    std::vector<std::string> list{"stale"};
    EnumerateSerialPorts(list);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[list.size() - 2], "/tmp/tarnwick-virtual-a");
    EXPECT_EQ(list.back(), "/dev/pts/97");
    EXPECT_EQ(std::count(list.begin(), list.end(), "stale"), 0);
}

}  // namespace
