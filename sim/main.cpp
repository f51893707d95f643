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
        "  --dump FILE        keep a log of every request, and write it with every register write\n"
        "                     as JSON to FILE on exit and on each SIGUSR1 (the file is replaced\n"
        "                     whole, never half-written)\n"
        "\n"
        "SETTINGS is a comma-separated list of key=value settings, fault switches and presets:\n%s"
        "\n"
        "A device answers only its own address, and only while the line runs at its baud rate.\n"
        "On TCP the unit identifier picks the device; with a single device any unit id reaches it.\n"
        "\n"
        "The dump:\n"
        "{\"sequence\": N (1 for the first dump, +1 for each),\n"
        " \"changes\": [{\"device\",\"address\",\"old\",\"new\",\"time\",\"elapsed\"}, ...],\n"
        " \"requests\": [{\"n\", \"t_ms\", \"transport\", \"baud\", \"tid\", \"unit\", \"function\",\n"
        "               \"start\", \"count\", \"values\", \"sub\", \"data\", \"result\", \"reason\",\n"
        "               \"hex\"}, ...],\n"
        " \"requests_dropped\": N}\n"
        "One request entry per frame received, in order of arrival:\n"
        "  n          1, 2, ... since start\n"
        "  t_ms       ms since start (monotonic clock, 0.001 ms steps)\n"
        "  transport  \"tcp\", \"rtu\" or \"ascii\"\n"
        "  baud       serial only: the line's speed when the frame came\n"
        "  tid        tcp only: the transaction id\n"
        "  unit       slave address / unit id (absent when the bytes made no frame)\n"
        "  function   function code; start, count for 3, 6 (count 1) and 16; values for 6\n"
        "             and 16; sub and data (words) for 8; each only when the request holds it\n"
        "  result     \"reply\", \"exception N\", \"silent\" (reason: \"fault\", \"broadcast\",\n"
        "             \"listen only\") or \"ignored\" (reason: \"other address\", \"other speed\",\n"
        "             \"other mode\", \"bad checksum\", \"bad frame\", \"incomplete frame\",\n"
        "             \"noise\", \"bad header\"); on tcp an unknown unit gets \"exception 11\"\n"
        "             with the reason \"other address\"\n"
        "  hex        the bytes as received, \"01 03 00 01 00 01 D5 CA\"\n"
        "The log keeps the latest 100000 requests; requests_dropped counts older ones.\n",
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
        try {
            devices.push_back(std::make_shared<vsim::TSimDevice>(settings));
        } catch (const std::invalid_argument& e) {
            Usage("--device " + text + ": " + e.what());
        }
    }
    if (devices.empty())
        devices.push_back(std::make_shared<vsim::TSimDevice>(vsim::TDeviceSettings{}));

    // Signals are taken by sigwait below, never by a handler in a server thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // Only a dump can show the log, and a long demo without one should not grow it.
    const auto log = options.dump ? std::make_shared<vsim::TRequestLog>() : nullptr;
    uint64_t dumps = 0;
    auto dump = [&] {
        if (!options.dump)
            return true;
        try {
            vsim::WriteDump(*options.dump, devices, log.get(), ++dumps);
            return true;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vortan-sim: %s\n", e.what());
            return false;
        }
    };

    std::unique_ptr<vsim::TTcpServer> tcp;
    std::unique_ptr<vsim::TSerialServer> pty;
    std::unique_ptr<vsim::TSerialServer> tty;
    try {
        if (options.tcp) {
            const auto [host, port] = ParseTcp(*options.tcp);
            tcp = vsim::TTcpServer::Listen(host, port, devices, log);
        }
        if (options.pty)
            pty = vsim::TSerialServer::OpenPty(devices, log);
        if (options.tty)
            tty = vsim::TSerialServer::OpenTty(*options.tty, devices, log);
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

    // SIGUSR1 dumps while serving, so that a test can look between two steps.
    for (int signal = SIGUSR1; signal == SIGUSR1;) {
        if (sigwait(&signals, &signal) != 0)
            break;
        if (signal == SIGUSR1)
            dump();
    }

    if (tcp)
        tcp->Stop();
    if (pty)
        pty->Stop();
    if (tty)
        tty->Stop();
    if (options.link)
        unlink(options.link->c_str());
    return dump() ? 0 : 1;
}
