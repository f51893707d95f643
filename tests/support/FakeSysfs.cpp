#include "FakeSysfs.h"

#include <fstream>
#include <random>

namespace testing_support {

namespace fs = std::filesystem;

static void Write(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << '\n';
}

static void Link(const fs::path& link, const fs::path& target)
{
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

// USB device, interface, usb-serial port with its driver, and the tty class device linked back.
static void UsbAdapter(const fs::path& sys, const std::string& usbDev, const std::string& tty,
                       const std::string& driver, const std::vector<std::pair<std::string, std::string>>& attributes)
{
    const fs::path dev = sys / "devices/pci0000:00/0000:00:14.0/usb1" / usbDev;
    for (const auto& [name, value] : attributes)
        Write(dev / name, value);
    const fs::path port = dev / (usbDev + ":1.0") / tty;
    Link(port / "driver", "../../../../../../../bus/usb-serial/drivers/" + driver);
    Write(port / "tty" / tty / "dev", "188:0");
    Link(port / "tty" / tty / "device", "../../../" + tty);
    Link(sys / "class/tty" / tty,
         "../../devices/pci0000:00/0000:00:14.0/usb1/" + usbDev + "/" + usbDev + ":1.0/" + tty + "/tty/" + tty);
}

static void Uart(const fs::path& sys, const std::string& tty, int type)
{
    const fs::path dir = sys / "devices/platform/serial8250/tty" / tty;
    Write(dir / "type", std::to_string(type));
    Link(dir / "device", "../../../serial8250");
    Link(sys / "class/tty" / tty, "../../devices/platform/serial8250/tty/" + tty);
}

FakeSysfs::FakeSysfs()
{
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("tarnwick-sysfs-" + std::to_string(rd()));
    const fs::path sys = root_ / "sys";
    UsbAdapter(sys, "1-2", "ttyUSB0", "ftdi_sio",
               {{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
                {"product", "USB-RS485 Cable"}, {"serial", "FT4ABCDE"}});
    UsbAdapter(sys, "1-3", "ttyUSB1", "ch341-uart",
               {{"idVendor", "1a86"}, {"idProduct", "7523"}, {"product", "USB2.0-Serial"}});
    Link(sys / "devices/platform/serial8250/driver", "../../../bus/platform/drivers/serial8250");
    Uart(sys, "ttyS0", 0);
    Uart(sys, "ttyS1", 4);
    Write(sys / "devices/virtual/tty/tty0/dev", "4:0");
    Link(sys / "class/tty/tty0", "../../devices/virtual/tty/tty0");
    // udev's links, relative as udev makes them.
    Link(root_ / std::string(FtdiById).substr(1), "../../ttyUSB0");
    Link(root_ / std::string(Ch340ById).substr(1), "../../ttyUSB1");
}

FakeSysfs::~FakeSysfs()
{
    std::error_code ec;
    fs::remove_all(root_, ec);
}

}  // namespace testing_support
