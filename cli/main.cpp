// tarnwick-cli: the Modbus operations of the service tool from a terminal or a script.
#include "ModbusConnection.h"
#include "Config.h"
#include "Measure.h"
#include "ModbusError.h"
#include "Output.h"
#include "Search.h"
#include "SerialBackend.h"
#include "TcpBackend.h"
#include "TcpSocket.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <iostream>
#include <string_view>
#include <thread>

using namespace cli;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Register numbers and values: decimal or 0x-hex; values may also be negative 16-bit integers.
uint16_t ParseWord(const std::string& text, const char* what, bool allowNegative)
{
    long long v = 0;
    size_t used = 0;
    try {
        v = std::stoll(text, &used, 0);
    } catch (...) {
        used = 0;
    }
    const long long low = allowNegative ? -32768 : 0;
    if (used != text.size() || text.empty() || v < low || v > 65535)
        throw CLI::ValidationError(what, "'" + text + "' is not a number from " +
                                             std::to_string(low) + " to 65535");
    return static_cast<uint16_t>(v);
}

// Building the parser is most of what a start costs this program itself. An option or a sub-command
// that no argument names can take no part in a parse (CLI11 matches names exactly), so only the
// named ones are built; help, which lists them all, gets them all.
class Mentions {
public:
    Mentions(int argc, char** argv) : args_(argv + 1, argv + argc)
    {
        for (std::string_view a : args_)
            if (a.starts_with("-h") || a.starts_with("--h"))
                all_ = true;
    }
    // "--name" or "--name=value" among the arguments.
    bool Option(std::string_view name) const
    {
        for (std::string_view a : args_)
            if (all_ || (a.starts_with(name) && (a.size() == name.size() || a[name.size()] == '=')))
                return true;
        return false;
    }
    bool Command(std::string_view name) const
    {
        for (std::string_view a : args_)
            if (all_ || a == name)
                return true;
        return false;
    }

private:
    std::vector<std::string_view> args_;
    bool all_ = false;
};

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Tarnwick command-line client: Modbus RTU/ASCII on a serial line, or Modbus TCP"};
    app.require_subcommand(1);

    std::string port, tcp, parity = "even", frameEnd = "length";
    SerialOptions serial;
    uint32_t baud = 19200, receiveTimeout = 1000, retries = 1, refetch = 0, turnaround = 100,
             silent = 4, tcpTimeout = 5000;
    int dataBits = 8, stopBits = 1, address = 1;
    bool ascii = false, echo = false, json = false;

    const Mentions named(argc, argv);
    CLI::Option* portOpt = nullptr;
    CLI::Option* tcpOpt = nullptr;
    if (named.Option("--port"))
        portOpt = app.add_option("--port", port, "Serial port (ttyUSB0 or a path such as /dev/pts/3)");
    if (named.Option("--tcp"))
        tcpOpt = app.add_option("--tcp", tcp, "Modbus TCP server, HOST[:PORT] (port 502 by default)");
    if (portOpt && tcpOpt)
        portOpt->excludes(tcpOpt);
    if (named.Option("--baud"))
        app.add_option("--baud", baud, "Baud rate")->capture_default_str()->check(CLI::Range(1u, 4000000u));
    if (named.Option("--parity"))
        app.add_option("--parity", parity, "Parity")->capture_default_str()->check(CLI::IsMember({"none", "odd", "even"}));
    if (named.Option("--data-bits"))
        app.add_option("--data-bits", dataBits, "Data bits")->capture_default_str()->check(CLI::IsMember({7, 8}));
    if (named.Option("--stop-bits"))
        app.add_option("--stop-bits", stopBits, "Stop bits")->capture_default_str()->check(CLI::IsMember({1, 2}));
    if (named.Option("--ascii"))
        app.add_flag("--ascii", ascii, "Modbus ASCII framing instead of RTU");
    if (named.Option("--echo"))
        app.add_flag("--echo", echo, "The adapter echoes each request before the reply");
    if (named.Option("--address"))
        app.add_option("--address", address, "Server address (serial) or unit id (TCP)")
            ->capture_default_str()->check(CLI::Range(0, 255));
    if (named.Option("--receive-timeout"))
        app.add_option("--receive-timeout", receiveTimeout, "Serial reply time-out, ms")->capture_default_str();
    if (named.Option("--retries"))
        app.add_option("--retries", retries, "Attempts per request in all (MaxRetries)")
            ->capture_default_str()->check(CLI::Range(1u, 4294967295u));
    if (named.Option("--refetch-delay"))
        app.add_option("--refetch-delay", refetch, "Pause after every attempt, ms")->capture_default_str();
    if (named.Option("--turnaround-delay"))
        app.add_option("--turnaround-delay", turnaround, "Pause after a broadcast, ms")->capture_default_str();
    if (named.Option("--silent-interval"))
        app.add_option("--silent-interval", silent, "Characters (RTU) or ms (ASCII) of silence that end a frame")
            ->capture_default_str();
    if (named.Option("--frame-end"))
        app.add_option("--frame-end", frameEnd,
                       "How an RTU reply ends: 'length' as soon as it is whole, or 'silence' after the silent interval")
            ->capture_default_str()->check(CLI::IsMember({"length", "silence"}));
    if (named.Option("--timeout"))
        app.add_option("--timeout", tcpTimeout, "TCP reply time-out, ms")->capture_default_str();
    if (named.Option("--json"))
        app.add_flag("--json", json, "One JSON object per transaction, one per line");
    bool trace = false;
    if (named.Option("--trace"))
        app.add_flag("--trace", trace, "Every frame sent and received, as hex with its meaning, on standard error");

    Request request;
    int loop = 1;
    uint32_t interval = 1000;
    std::string startText, countText;
    std::vector<std::string> valueTexts;

    // Each sub-command is built whole, or not at all; one not built is never parsed().
    auto command = [&](const char* name, const char* description) -> CLI::App* {
        return named.Command(name) ? app.add_subcommand(name, description) : nullptr;
    };
    auto parsed = [](const CLI::App* sub) { return sub && sub->parsed(); };
    auto* read = command("read", "Read holding registers (function 3)");
    if (read) {
        read->add_option("START", startText, "First register, as on the wire (0-based)")->required();
        read->add_option("COUNT", countText, "Number of registers (1 to 125)")->required();
        read->add_option("--loop", loop, "Repeat N times")->check(CLI::Range(1, 100000000));
        read->add_option("--interval", interval, "Pause between repetitions, ms");
    }
    auto* write = command("write", "Write one register (function 6) or several (function 16)");
    if (write) {
        write->add_option("START", startText, "Register")->required();
        write->add_option("VALUE", valueTexts, "Values")->required();
    }
    auto* writeMultiple = command("write-multiple", "Write registers with function 16");
    if (writeMultiple) {
        writeMultiple->add_option("START", startText, "First register")->required();
        writeMultiple->add_option("VALUE", valueTexts, "Values")->required();
    }
    auto* diag = command("diag", "Diagnostics, return query data (function 8)");
    auto* id = command("id", "Report server identification (function 17)");
    auto* ports = command("ports", "List the serial ports of this machine with what is known of them");
    if (ports)
        ports->add_flag("--json", json, "One JSON object per port");
    std::string channelText, quantityText;
    auto* measure = command("measure", "Read and decode the measured value of a quantity of a channel");
    if (measure) {
        measure->add_option("CHANNEL", channelText, "A, B, C, D, Z or Y")->required();
        measure->add_option("QUANTITY", quantityText, "Quantity name (\"Volume Flow\") or position 0 to 45")->required();
        measure->add_option("--loop", loop, "Repeat N times")->check(CLI::Range(1, 100000000));
        measure->add_option("--interval", interval, "Pause between repetitions, ms");
    }
    std::optional<MeasureTarget> target;
    SearchOptions searchOptions;
    std::string searchBaud = "-", searchParity = "-";
    auto* searchCmd =
        command("search", "Find devices by trying port, address, baud rate (9600, 19200) and parity in turn");
    if (searchCmd) {
        searchCmd->add_option("--port", searchOptions.choice.ports, "A port to search; repeat for several (default: all)");
        searchCmd->add_option("--address", searchOptions.choice.address, "Only this address (default: 1 to 247)")
            ->check(CLI::Range(1, 247));
        searchCmd->add_option("--baud", searchBaud, "Only this baud rate")->check(CLI::IsMember({"9600", "19200"}));
        searchCmd->add_option("--parity", searchParity, "Only this parity")->check(CLI::IsMember({"none", "odd", "even"}));
        searchCmd->add_flag("--quick", searchOptions.quick,
                            "Time-outs from the line speed, and all ports at the same time");
        searchCmd->add_flag("--json", searchOptions.json, "One JSON object per device found");
    }

    ConfigOptions configOptions;
    std::uint32_t protectionCode = 0;
    CLI::App* configSave = nullptr;
    CLI::Option* codeOpt = nullptr;
    auto* config = command("config", "The meter's configuration as a JSON file");
    if (config) {
        config->require_subcommand(1);
        configSave = config->add_subcommand("save", "Read every subset page and write them to FILE");
        configSave->add_option("FILE", configOptions.file, "JSON file to write")->required();
        configSave->add_option("--channel", configOptions.channel, "Only this channel's pages")
            ->check(CLI::IsMember({"A", "B", "Y", "Z"}));
        auto* configRestore = config->add_subcommand(
            "restore", "Compare FILE with the meter, print the differences and write the rows that differ");
        configRestore->add_option("FILE", configOptions.file, "JSON file written by config save")->required();
        configRestore->add_flag("--dry-run", configOptions.dryRun, "Print the differences, write nothing");
        codeOpt = configRestore->add_option("--protection-code", protectionCode,
                                            "The code that unlocks a write-protected meter for the restore");
    }

    try {
        app.parse(argc, argv);
        if (codeOpt && codeOpt->count() > 0)
            configOptions.protectionCode = protectionCode;
        if (parsed(ports)) {
            PrintPorts(std::cout, modbus::ListSerialPorts(), json);
            return kExitOk;
        }
        if (parsed(searchCmd)) {
            if (!port.empty())
                searchOptions.choice.ports.insert(searchOptions.choice.ports.begin(), port);
            if (searchOptions.choice.ports.empty())
                modbus::EnumerateSerialPorts(searchOptions.choice.ports);
            searchOptions.choice.baudText = searchBaud;
            searchOptions.choice.parityText = searchParity == "-" ? "-"
                                              : searchParity == "none" ? "None"
                                              : searchParity == "odd"  ? "Odd"
                                                                       : "Even";
            searchOptions.echo = echo;
            searchOptions.json = searchOptions.json || json;
            return RunSearch(searchOptions, std::cout, std::cerr);
        }
        if (port.empty() && tcp.empty())
            throw CLI::RequiredError("--port or --tcp");
        if (parsed(read)) {
            request.op = Op::Read;
            request.start = ParseWord(startText, "START", false);
            request.count = ParseWord(countText, "COUNT", false);
        } else if (parsed(write) || parsed(writeMultiple)) {
            request.start = ParseWord(startText, "START", false);
            for (const auto& v : valueTexts)
                request.values.push_back(ParseWord(v, "VALUE", true));
            request.op = parsed(write) && request.values.size() == 1 ? Op::WriteSingle : Op::WriteMultiple;
        } else if (parsed(diag)) {
            request.op = Op::Diagnostics;
        } else if (parsed(id)) {
            request.op = Op::Identify;
        } else if (parsed(config)) {
            request.op = Op::Identify;
        } else if (parsed(measure)) {
            std::string error;
            target = ParseMeasureTarget(channelText, quantityText, error);
            if (!target)
                throw CLI::ValidationError(error);
            request.op = Op::Read;
            request.start = target->address;
            request.count = 16;
        }
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }

    std::unique_ptr<Backend> backend;
    try {
        if (!tcp.empty()) {
            TcpOptions o;
            if (!ParseHostPort(tcp, o.host, o.port)) {
                std::cerr << "--tcp: '" << tcp << "' is not HOST or HOST:PORT\n";
                return kExitUsage;
            }
            if (request.op == Op::Diagnostics) {
                std::cerr << "diag: the Modbus TCP client has no function 8 (Diagnostics); "
                             "use it over a serial line (--port)\n";
                return kExitUsage;
            }
            o.unitId = static_cast<uint8_t>(address);
            o.timeoutMs = tcpTimeout;
            o.trace = trace;
            backend = std::make_unique<TcpBackend>(o);
        } else {
            serial.port = port;
            serial.baud = baud;
            serial.parity = parity == "none" ? modbus::psNone : parity == "odd" ? modbus::psOdd : modbus::psEven;
            serial.dataBits = dataBits == 7 ? modbus::db7 : modbus::db8;
            serial.stopBits = stopBits == 2 ? modbus::sb2 : modbus::sb1;
            serial.ascii = ascii;
            serial.echo = echo;
            serial.address = static_cast<uint8_t>(address);
            serial.receiveTimeoutMs = receiveTimeout;
            serial.retries = retries;
            serial.refetchDelayMs = refetch;
            serial.turnaroundDelayMs = turnaround;
            serial.silentInterval = silent;
            serial.endFrameByLength = frameEnd == "length";
            serial.trace = trace;
            backend = std::make_unique<SerialBackend>(serial);
        }
    } catch (const modbus::EModbusError& e) {
        std::cerr << e.what();
        if (!e.Reason().empty())
            std::cerr << ": " << e.Reason();
        std::cerr << '\n';
        return kExitUsage;
    } catch (const modbus::ESocketError& e) {
        std::cerr << e.what() << '\n';
        return kExitUsage;
    }

    if (parsed(config)) {
        try {
            return parsed(configSave) ? RunConfigSave(*backend, configOptions, std::cout, std::cerr)
                                        : RunConfigRestore(*backend, configOptions, std::cout, std::cerr);
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return kExitFailed;
        }
    }

    Printer printer(std::cout, json);
    int exitCode = kExitOk;
    try {
        for (int i = 0; i < loop; ++i) {
            if (i > 0 && interval > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(interval));
            Outcome o = backend->Perform(request);
            if (target)
                DecodeMeasurement(*target, o);
            printer.Print(o);
            if (o.status != modbus::trSuccess)
                exitCode = kExitFailed;
            // A loop on a line that has gone would only print the same failure again.
            if (const std::string lost = backend->Lost(); !lost.empty()) {
                std::cerr << lost << '\n';
                return kExitUsage;
            }
        }
    } catch (const modbus::EModbusError& e) {
        std::cerr << e.what() << '\n';
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return kExitUsage;
    }
    return exitCode;
}
