// tarnwick-cli as a user runs it, against a device played on a pty or a loopback TCP server.
#include "ChildProcess.h"
#include "PtyPair.h"
#include "ScriptedTcpServer.h"
#include "SimProcess.h"
#include "TcpBackend.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace testing_support;
using Piece = ScriptedPeer::Piece;
using nlohmann::json;

namespace {

std::string Cli() { return BuildPath("cli/tarnwick-cli"); }

json OnlyLine(const std::string& out)
{
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    return json::parse(out.substr(0, out.find('\n')));
}

json RunJson(std::vector<std::string> args, int exit = 0)
{
    args.insert(args.begin(), {Cli(), "--json"});
    const RunResult r = RunProgram(args);
    EXPECT_EQ(r.exitCode, exit) << r.err;
    return OnlyLine(r.out);
}

}  // namespace

// Each operation on a fresh device: the request as the device saw it and one field of the answer.
TEST(CliOperation, SendsTheRequestAndPrintsTheResult)
{
    const struct {
        std::vector<std::string> command;
        std::string wire, key;
        json value;
    } rows[] = {
        {{"read", "0", "1"}, "01 03 00 00 00 01 84 0A", "values", json::array({0})},
        {{"--ascii", "read", "0x3E8", "2"}, ":0103" "03E80002" "0F\r\n", "values", json::array({1000, 1001})},
        {{"write", "9115", "3"}, "01 06 23 9B 00 03 B3 A0", "op", "write"},
        {{"write", "140", "1", "-1"}, Hex(WithCrc(HexBytes("01 10 00 8C 00 02 04 00 01 FF FF"))), "values",
         json::array({1, 65535})},
        {{"--ascii", "write-multiple", "20", "1"}, ":011000140001020001D7\r\n", "op", "write-multiple"},
        {{"diag"}, "01 08 00 00 A5 37 DA 8D", "op", "diag"},
        {{"--ascii", "id"}, ":0111EE\r\n", "data_hex", "564F5254414EFF"},
    };
    for (const auto& c : rows) {
        SCOPED_TRACE(c.wire);
        const bool ascii = c.command[0] == "--ascii";
        PtyPair pty;
        ScriptedPeer peer(pty, Device(ascii ? modbus::tmASCII : modbus::tmRTU));
        std::vector<std::string> args{"--port", pty.SlavePath()};
        args.insert(args.end(), c.command.begin(), c.command.end());
        const json j = RunJson(args);
        const auto req = peer.Requests();
        ASSERT_EQ(req.size(), 1u);
        EXPECT_EQ(Hex(req[0].bytes), Hex(ascii ? Ascii(c.wire) : HexBytes(c.wire)));
        EXPECT_EQ((json{j["status"], j["attempts"], j["exception"], j[c.key], j["elapsed_ms"].is_number()}),
                  (json{"trSuccess", 1, nullptr, c.value, true}));
    }
}

// Failures exit 1 with their status; loops, tables, --frame-end. Writes go unanswered, register 7 refused.
TEST(CliOutcome, FailuresLoopTableAndFrameEnd)
{
    PtyPair pty;
    ScriptedPeer peer(pty, [device = Device(modbus::tmRTU)](const Bytes& req) {
        if (req[1] == 0x06)
            return std::vector<Piece>{};
        return req[3] == 7 ? std::vector<Piece>{{RtuFrame(1, ExceptionPdu(3, 2)), 0}} : device(req);
    });
    json j = RunJson({"--port", pty.SlavePath(), "read", "7", "2"}, 1);  // no register was read: no values
    EXPECT_EQ((json{j["status"], j["exception"], j["exception_code"], j["values"]}),
              (json{"trExceptionReply", "seIllegalDataAddress", 2, nullptr}));
    // A write names the values it tried to write.
    j = RunJson({"--port", pty.SlavePath(), "--retries", "2", "--receive-timeout", "100", "write", "1", "1"}, 1);
    EXPECT_EQ((json{j["status"], j["attempts"], j["values"]}), (json{"trNoReply", 2, {1}}));

    const size_t before = peer.RequestCount();
    const RunResult r = RunProgram({Cli(), "--port", pty.SlavePath(), "read", "1000", "2", "--loop", "3",
                                    "--interval", "10"});
    EXPECT_EQ(std::tuple(r.exitCode, peer.RequestCount()), std::tuple(0, before + 3)) << r.err;
    EXPECT_NE(r.out.find("read: trSuccess, 1 attempt"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("      1001    1001  0x03E9"), std::string::npos) << r.out;

    // 400 characters at 19200 baud: 209 ms of silence end a frame.
    auto elapsed = [&](const char* mode) {
        return RunJson({"--port", pty.SlavePath(), "--silent-interval", "400", "--frame-end", mode, "read", "0", "1"})
            ["elapsed_ms"].get<double>();
    };
    EXPECT_GE(elapsed("silence"), 200.0);
    EXPECT_LT(elapsed("length"), 150.0);
}

// A loop whose adapter is pulled out ends at once with one message and status 2, not a failure a round.
TEST(CliOutcome, LoopEndsWhenTheAdapterIsPulled)
{
    PtyPair pty;
    ChildProcess cli({Cli(), "--port", pty.SlavePath(), "--json", "--retries", "3", "read", "0", "1", "--loop",
                      "1000", "--interval", "20"},
                     true);
    ASSERT_FALSE(pty.ReadFrame(5000).empty());  // the child is stopped with the object
    const auto t0 = Clock::now();
    pty.CloseMaster();
    const std::optional<std::string> line = cli.ReadLine(std::chrono::seconds(5));
    EXPECT_EQ(cli.Wait(std::chrono::seconds(5)), 2);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));  // not after the 1000 ms receive time-out
    const json j = json::parse(line.value_or("{}"));
    EXPECT_EQ((json{j["status"], j["attempts"]}), (json{"trNoReply", 1}));
    EXPECT_FALSE(cli.ReadLine(std::chrono::milliseconds(100)).has_value());
    EXPECT_EQ(cli.Stderr(), "the serial adapter " + pty.SlavePath() + " was disconnected\n");
}

// The machine's own ports come first and differ between machines; the virtual ones end the list.
TEST(CliPorts, ListsPortsAsLinesOrJsonObjects)
{
    ::setenv("TARNWICK_SERIAL_PORTS", "/tmp/tarnwick-cli-a:/dev/pts/97", 1);
    const RunResult text = RunProgram({Cli(), "ports"});
    const RunResult js = RunProgram({Cli(), "ports", "--json"});
    ::unsetenv("TARNWICK_SERIAL_PORTS");
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(text.out.ends_with("/tmp/tarnwick-cli-a\n/dev/pts/97\n")) << text.out;
    ASSERT_EQ(js.exitCode, 0) << js.err;
    ASSERT_TRUE(js.out.ends_with("}\n")) << js.out;  // one object a line, what is unknown null
    const json last = json::parse(js.out.substr(js.out.rfind('\n', js.out.size() - 2) + 1));
    EXPECT_EQ(last, (json{{"path", "/dev/pts/97"}, {"stable_name", nullptr}, {"setting", "/dev/pts/97"},
                          {"description", nullptr}, {"manufacturer", nullptr}, {"product", nullptr},
                          {"serial", nullptr}, {"vendor_id", nullptr}, {"product_id", nullptr}}));
}

TEST(CliUsage, ExitsTwoWithAClearMessage)
{
    PtyPair pty;
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--port", "PTY", "read", "65500", "100"}, "Starting register index is invalid (65500)"},
        {{"--port", "PTY", "write", "5", "12a"}, "'12a' is not a number"},
        {{"--port", "PTY", "write", "5", "70000"}, "'70000' is not a number"},
        {{"read", "0", "1"}, "--port or --tcp"},
        {{"--port", "PTY", "--tcp", "127.0.0.1", "id"}, "excludes"},
        {{"--port", "PTY", "--parity", "mark", "id"}, "parity"},
        {{"--port", "/dev/tarnwick-none", "id"}, "Could not open serial port: /dev/tarnwick-none: No such file or directory"},
        {{"--tcp", "127.0.0.1:notaport", "id"}, "is not HOST or HOST:PORT"},
        {{"--tcp", "127.0.0.1:1", "id"}, "Socket Error # 111"},
        {{"--tcp", "127.0.0.1:1", "diag"}, "has no function 8"},
        {{"--port", "PTY", "measure", "Q", "7"}, "'Q' is not one of A, B, C, D, Z, Y"},
        {{"--port", "PTY", "measure", "A", "46"}, "neither a quantity name nor a position from 0 to 45"}};
    for (const auto& [args, message] : rows) {
        std::vector<std::string> argv{Cli()};
        for (const auto& a : args)
            argv.push_back(a == "PTY" ? pty.SlavePath() : a);
        const RunResult r = RunProgram(argv);
        EXPECT_EQ(r.exitCode, 2) << r.out;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

TEST(CliTcp, OperationsOverLoopbackUseWireRegisterNumbersAndTheUnitId)
{
    tcptest::ScriptedTcpServer server([](const tcptest::Request& r) {
        if (r.Function() == 0x03 && r.bytes[9] == 99)  // register 99: exception 2
            return std::vector<tcptest::Step>{tcptest::Send(tcptest::Answer(r, ExceptionPdu(3, 2)))};
        return tcptest::Device(r);
    });
    const std::string where = "127.0.0.1:" + std::to_string(server.Port());

    EXPECT_EQ(RunJson({"--tcp", where, "--address", "7", "read", "1000", "2"})["values"], json::array({1000, 1001}));
    auto req = server.Requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(Hex(req[0].bytes), "00 01 00 00 00 06 07 03 03 E8 00 02");

    // Words of two bytes each, up to the first zero word: the odd seventh byte is dropped.
    EXPECT_EQ(RunJson({"--tcp", where, "id"})["data_hex"], "564F5254414E");
    const json j = RunJson({"--tcp", where, "read", "99", "1"}, 1);
    EXPECT_EQ((json{j["status"], j["exception_code"], j["values"]}), (json{"trExceptionReply", 2, nullptr}));

    RunJson({"--tcp", where, "write", "9115", "3"});
    EXPECT_EQ(Hex(server.Requests().back().PduBytes()), "06 23 9B 00 03");
    EXPECT_EQ(RunJson({"--tcp", where, "write", "20", "7", "8"})["values"], json::array({7, 8}));
    EXPECT_EQ(Hex(server.Requests().back().PduBytes()), Hex(WriteRegistersPdu(20, {7, 8})));

    const RunResult r = RunProgram({Cli(), "--tcp", where, "--address", "7", "--trace", "read", "1000", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* line : {"  TX  00 01 00 00 00 06 07 03 03 E8 00 02  unit 7 tid 1 fc3 1000+2",
                             "  RX  00 01 00 00 00 07 07 03 04 03 E8 03 E9  unit 7 tid 1 fc3 4 bytes"})
        EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
}

TEST(CliTcp, HostPortParsing)
{
    const std::pair<const char*, const char*> cases[] = {  // text, host and port
        {"127.0.0.1", "127.0.0.1 502"}, {"127.0.0.1:1502", "127.0.0.1 1502"}, {"[::1]:15", "::1 15"},
        {"localhost:0", "refused"}, {"host:", "refused"}, {":502", "refused"}, {"h:70000", "refused"},
        {"[::1", "refused"},
    };
    for (const auto& [text, parsed] : cases) {
        std::string host;
        int port = 0;
        const bool ok = cli::ParseHostPort(text, host, port);
        EXPECT_EQ(ok ? host + " " + std::to_string(port) : "refused", parsed) << text;
    }
}

TEST(CliMeasure, DecodesTheBlockOfAQuantityAgainstTheSimulator)
{
    simtest::SimProcess sim({"--pty"});
    const std::string port = sim.PtyPath();

    RunResult r = RunProgram({Cli(), "--port", port, "--json", "--trace", "measure", "a", "volume flow"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* frame : {"  TX  01 03 04 58 00 10 ", "  RX  01 03 20 "})  // RTU frames as on the line
        EXPECT_NE(r.err.find(frame), std::string::npos) << r.err;
    json j = OnlyLine(r.out);
    EXPECT_EQ((json{j["op"], j["start"], j["quantity"], j["measurement"]["status"], j["measurement"]["unit"]}),
              (json{"measure", 1112, "Volume Flow", "OK", "m3/h"}));
    EXPECT_GT(j["measurement"]["value"].get<double>(), 0.0);

    r = RunProgram({Cli(), "--port", port, "measure", "C", "0"});  // channel C is never set
    EXPECT_NE(r.out.find("Temperature Fluid, channel C: Never set"), std::string::npos) << r.out;

    EXPECT_EQ(sim.Stop(), 0);
}

// scripts/run builds what it runs (the window when Qt is found); a stand-in cmake fails the build.
TEST(CliRunScript, BuildsOnlyTheProgramsItRuns)
{
    for (auto [windowTarget, targets] :
         {std::pair{true, "vortan-sim tarnwick-cli tarnwick"}, {false, "vortan-sim tarnwick-cli"}}) {
        namespace fs = std::filesystem;
        std::string dir = (fs::temp_directory_path() / "tarnwick-run-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        const fs::path bin = fs::path(dir) / "bin", log = fs::path(dir) / "cmake.log";
        fs::create_directory(bin);
        std::ofstream(bin / "cmake") << "#!/bin/sh\n"
                                        "case \"$*\" in\n"
                                        "  *'--target help') echo 'vortan-sim: phony'; "
                                     << (windowTarget ? "echo 'tarnwick: phony'; " : "")
                                     << "echo 'tarnwick-cli: phony' ;;\n"
                                        "  *--build*) echo \"$*\" >>'" << log.string() << "'; exit 3 ;;\n"
                                        "esac\n";
        fs::permissions(bin / "cmake", fs::perms::owner_all);
        const RunResult r = RunProgram({"/usr/bin/env", "PATH=" + bin.string() + ":" + std::getenv("PATH"),
                                        "TARNWICK_SKIP_SETUP=1", "TARNWICK_BUILD_DIR=" + dir + "/build", "bash",
                                        SourcePath("scripts/run")});
        EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
        std::ifstream in(log);
        const std::string builds{std::istreambuf_iterator<char>(in), {}};  // the one build, which fails
        EXPECT_TRUE(builds.starts_with("--build ") && std::count(builds.begin(), builds.end(), '\n') == 1 &&
                    builds.ends_with(" --target " + std::string(targets) + "\n")) << builds;
        fs::remove_all(dir);
    }
}
