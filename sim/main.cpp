// vortan-sim: a simulated VORTAN meter for tests, demos and training.

#include "Device.h"
#include "DeviceSettings.h"
#include "SerialServer.h"
#include "TcpServer.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kUsageError = 2;

struct TOptions {
    std::optional<std::string> tcp;  // [HOST:]PORT
    bool pty = false;
    std::optional<std::string> link;
    std::optional<std::string> tty;
    std::vector<std::string> devices;
    std::optional<std::string> dump;
};

void PrintHelp()
{
    std::printf(
        "usage: vortan-sim [--tcp [HOST:]PORT] [--pty] [--link PATH] [--tty PATH]\n"
        "                  [--device SETTINGS]... [--dump FILE]\n"
        "\n"
        "Simulates VORTAN flow meters on Modbus RTU/ASCII (serial) and Modbus TCP.\n"
        "Prints one line per transport opened (\"tcp: HOST:PORT\", \"pty: /dev/pts/N\",\n"
        "\"tty: PATH\") and serves until SIGINT or SIGTERM.\n"
        "\n"
        "  --tcp [HOST:]PORT  listen for Modbus TCP (HOST default 127.0.0.1; PORT 0 = any free)\n"
        "  --pty              serve a new pseudo-terminal (the default without --tcp/--tty)\n"
        "  --link PATH        make PATH a symlink to the pty (implies --pty)\n"
        "  --tty PATH         serve an existing serial port, set to the first device's baud/parity\n"
        "  --device SETTINGS  a device; repeat for several on the same line (default: address=1)\n"
        "  --dump FILE        on exit, write every register write as JSON:\n"
        "                     {\"changes\":[{\"device\",\"address\",\"old\",\"new\",\"time\",\"elapsed\"}]}\n"
        "\n"
        "SETTINGS is a comma-separated list of key=value settings and fault switches:\n%s"
        "\n"
        "A device answers only its own address, and only while the line runs at its baud rate.\n"
        "On TCP the unit identifier picks the device; with a single device any unit id reaches it.\n",
        vsim::DeviceSettingsHelp());
}

[[noreturn]] void Usage(const std::string& message)
{
    std::fprintf(stderr, "vortan-sim: %s\n(see vortan-sim --help)\n", message.c_str());
    std::exit(kUsageError);
}

TOptions ParseOptions(int argc, char** argv)
{
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            PrintHelp();
            std::exit(0);
        } else if (a == "--tcp") {
            o.tcp = value();
        } else if (a == "--pty") {
            o.pty = true;
        } else if (a == "--link") {
            o.link = value();
            o.pty = true;
        } else if (a == "--tty") {
            o.tty = value();
        } else if (a == "--device") {
            o.devices.push_back(value());
        } else if (a == "--dump") {
            o.dump = value();
        } else {
            Usage("unknown option \"" + a + "\"");
        }
    }
    if (!o.tcp && !o.tty)
        o.pty = true;
    return o;
}

std::pair<std::string, uint16_t> ParseTcp(const std::string& text)
{
    const size_t colon = text.rfind(':');
    const std::string host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    char* end = nullptr;
    const long n = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || n < 0 || n > 65535)
        Usage("--tcp " + text + ": port must be a number from 0 to 65535");
    return {host.empty() ? "127.0.0.1" : host, static_cast<uint16_t>(n)};
}

}  // namespace

int main(int argc, char** argv)
{
    const TOptions options = ParseOptions(argc, argv);

    vsim::TDevices devices;
    std::set<int> addresses;
    for (const auto& text : options.devices) {
        vsim::TDeviceSettings settings;
        try {
            settings = vsim::ParseDeviceSettings(text);
        } catch (const std::invalid_argument& e) {
            Usage("--device " + text + ": " + e.what());
        }
        if (!addresses.insert(settings.address).second)
            Usage("--device " + text + ": address " + std::to_string(settings.address) +
                  " is already taken");
        devices.push_back(std::make_shared<vsim::TSimDevice>(settings));
    }
    if (devices.empty())
        devices.push_back(std::make_shared<vsim::TSimDevice>(vsim::TDeviceSettings{}));

    // Signals are taken by sigwait below, never by a handler in a server thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<vsim::TTcpServer> tcp;
    std::unique_ptr<vsim::TSerialServer> pty;
    std::unique_ptr<vsim::TSerialServer> tty;
    try {
        if (options.tcp) {
            const auto [host, port] = ParseTcp(*options.tcp);
            tcp = vsim::TTcpServer::Listen(host, port, devices);
        }
        if (options.pty)
            pty = vsim::TSerialServer::OpenPty(devices);
        if (options.tty)
            tty = vsim::TSerialServer::OpenTty(*options.tty, devices);
        if (options.link) {
            unlink(options.link->c_str());
            if (symlink(pty->Path().c_str(), options.link->c_str()) != 0)
                throw std::runtime_error("symlink " + *options.link + ": " + std::strerror(errno));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vortan-sim: %s\n", e.what());
        return 1;
    }

    if (tcp) {
        tcp->Start();
        std::printf("tcp: %s\n", tcp->Address().c_str());
    }
    if (pty) {
        pty->Start();
        std::printf("pty: %s\n", pty->Path().c_str());
    }
    if (tty) {
        tty->Start();
        std::printf("tty: %s\n", tty->Path().c_str());
    }
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);

    if (tcp)
        tcp->Stop();
    if (pty)
        pty->Stop();
    if (tty)
        tty->Stop();
    if (options.link)
        unlink(options.link->c_str());
    if (options.dump) {
        try {
            vsim::WriteDump(*options.dump, devices);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vortan-sim: %s\n", e.what());
            return 1;
        }
    }
    return 0;
}
