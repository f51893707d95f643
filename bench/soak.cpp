// Fault soak: many transactions through the serial client (TModbusClient over TModbusConnection)
// and the TCP client (TModbusTcpClient), in this process, against one vortan-sim whose devices
// each carry a fault. Every transaction picks a device at random, so faults switch at random;
// after each faulty one a request to the healthy device must succeed. Each outcome is checked
// against its fault, each duration against the time-outs, and the process's RSS is compared
// between the warm-up and the end.
//
//   tarnwick-soak [--sim PATH] [--transactions N] [--seed S] [--report FILE]

#include "ChildProcess.h"
#include "MainThread.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "ModbusTcpClient.h"
#include "TcpSocket.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace modbus;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint16_t kStart = 1000;
constexpr uint16_t kCount = 16;
constexpr uint32_t kReceiveTimeoutMs = 100;  // serial, one attempt
constexpr uint32_t kTcpTimeoutMs = 100;
// A transaction that ends later than its time-outs allow by more than this counts as a hang.
constexpr double kHangMarginMs = 50;

struct Expect {
    bool used = false;
    TTransactionReply reply = trSuccess;
    uint8_t exceptionCode = 0;
};

struct Fault {
    const char* name;
    const char* settings;  // vortan-sim device settings after the address
    Expect serial;
    Expect tcp;
    bool echoAdapter = false;   // the serial side talks to it as through an echoing adapter
    // Serial: the refetch pause after the attempt, for the rest of a torn or noisy reply to pass
    // before the next request goes out (the simulator leaves 60 ms between the pieces).
    uint32_t refetchMs = 0;
    // TCP: the server answers one request of a connection at a time, so a reply it still owes
    // keeps the next request waiting for this long.
    uint32_t busyMs = 0;
};

constexpr Expect Ok{true, trSuccess, 0};
constexpr Expect None{};

// Serial-only and TCP-only faults leave the other side unused. A serial delay longer than the
// time-out is left out: its late reply meets a later request on the shared line, which no
// master can tell from the answer.
const std::vector<Fault> kFaults = {
    {"healthy", "", Ok, Ok},
    {"silence", ",silent", {true, trNoReply, 0}, {true, trNoReply, 0}},
    {"delay 40 ms", ",delay=40", Ok, Ok},
    {"delay 300 ms (past the time-out)", ",delay=300", None, {true, trNoReply, 0}, false, 0, 220},
    {"bad CRC", ",badcrc=1", {true, trInvalidFrame, 0}, None},
    {"echo", ",echo", Ok, None, true},
    {"other address first", ",otheraddr", Ok, Ok},
    {"wrong function", ",wrongfc", {true, trUnmatchedReply, 0}, {true, trUnmatchedReply, 0}},
    {"exception 2", ",exception=2", {true, trExceptionReply, 2}, {true, trExceptionReply, 2}},
    {"exception 6", ",exception=6", {true, trExceptionReply, 6}, {true, trExceptionReply, 6}},
    {"gap 5 ms", ",gap=5", Ok, Ok},
    {"gap 40 ms", ",gap=40", {true, trInvalidFrame, 0}, Ok, false, 60},
    {"garbage", ",garbage", {true, trInvalidFrame, 0}, {true, trUnmatchedReply, 0}, false, 150},
    {"split 20 ms", ",split=20", None, Ok},
    {"stale id", ",staleid", None, Ok},
};

std::string ReplyName(TTransactionReply r)
{
    return std::string(modbus::TransactionReplyName(r));
}

long RssKb()
{
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            in >> kb;
            return kb;
        }
        std::string rest;
        std::getline(in, rest);
    }
    return -1;
}

struct Outcome {
    TTransactionReply reply = trNoReply;
    uint8_t exceptionCode = 0;
    double elapsedMs = 0;
    size_t values = 0;
    std::string error;  // an exception the operation raised
};

struct Tally {
    long total = 0, right = 0, wrong = 0, hangs = 0, followUpFailures = 0;
    double worstOverMs = -1e9;  // largest (elapsed - allowed)
    std::map<std::string, long> perFault;
    std::vector<std::string> examples;  // the first wrong outcomes, for the report
};

class SerialSide {
public:
    explicit SerialSide(const std::string& pty) : connection_(events_)
    {
        connection_.SetPort(pty);
        connection_.SetBaudRate(br19200);
        connection_.SetParity(psEven);
        connection_.SetReceiveTimeout(kReceiveTimeoutMs);
        connection_.SetMaxRetries(1);
        connection_.SetRefetchDelay(0);
        connection_.SetEndFrameByLength(true);
        client_.SetConnection(&connection_);
        client_.OnHoldingRegistersRead = [this](TModbusClient&, const TTransactionInfo& info,
                                                uint16_t, uint16_t, const TRegValues& v) {
            Outcome o;
            o.reply = info.Reply;
            o.exceptionCode = info.ExceptionCode;
            o.values = v.size();
            result_ = o;
        };
        connection_.Open();
    }

    // Time the transaction may take: the receive time-out, a frame's trailing silence, the
    // refetch pause.
    double AllowedMs(const Fault& f) const
    {
        return kReceiveTimeoutMs + connection_.EffectiveSilentInterval() + f.refetchMs;
    }

    Outcome Read(uint8_t address, const Fault& f)
    {
        connection_.SetEchoQueryBeforeReply(f.echoAdapter);
        connection_.SetRefetchDelay(f.refetchMs);
        client_.SetServerAddress(address);
        result_.reset();
        const auto t0 = Clock::now();
        Outcome o;
        try {
            client_.ReadHoldingRegisters(kStart, kCount);
            // Far beyond any time-out: a transaction that needs this long has hung.
            if (events_.RunUntil([this] { return result_.has_value(); }, std::chrono::seconds(10)))
                o = *result_;
            else
                o.error = "no result within 10 s";
        } catch (const std::exception& e) {
            o.error = e.what();
        }
        o.elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        return o;
    }

private:
    EventQueue events_;
    TModbusConnection connection_;
    TModbusClient client_;
    std::optional<Outcome> result_;
};

class TcpSide {
public:
    explicit TcpSide(int port)
    {
        client_.SetHost("127.0.0.1");
        client_.SetPort(port);
        client_.SetTimeOut(kTcpTimeoutMs);
        client_.SetBaseRegister(0);
        client_.SetAutoConnect(false);
        client_.Connect(1000);
    }

    double AllowedMs(const Fault&) const { return kTcpTimeoutMs; }
    long Reconnects() const { return reconnects_; }

    Outcome Read(uint8_t unit, const Fault& f)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(owed_));
        owed_ = f.busyMs;
        Outcome o;
        auto t0 = Clock::now();
        try {
            // A malformed reply closes the stream; the next exchange starts on a new one. The
            // connect has its own time-out and is not part of the exchange's time.
            if (!client_.Connected()) {
                ++reconnects_;
                client_.Connect(1000);
                t0 = Clock::now();
            }
            client_.SetUnitID(unit);
            std::vector<uint16_t> values;
            client_.ReadHoldingRegisters(kStart, kCount, values);
            o.reply = client_.LastResult().Reply;
            o.exceptionCode = client_.LastResult().ExceptionCode;
            o.values = values.size();
        } catch (const std::exception& e) {
            o.error = e.what();
        }
        o.elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        return o;
    }

private:
    TModbusTcpClient client_;
    long reconnects_ = 0;
    uint32_t owed_ = 0;  // ms the server still needs for the last request's reply
};

template <typename Side>
void Judge(Tally& t, Side& side, const Fault& f, const Expect& e, const Outcome& o, bool followUp)
{
    ++t.total;
    ++t.perFault[f.name];
    const double over = o.elapsedMs - side.AllowedMs(f);
    t.worstOverMs = std::max(t.worstOverMs, over);
    const bool hang = over > kHangMarginMs;
    const bool right = o.error.empty() && o.reply == e.reply &&
                       (e.reply != trExceptionReply || o.exceptionCode == e.exceptionCode) &&
                       o.values == kCount;
    if (hang)
        ++t.hangs;
    if (right) {
        ++t.right;
    } else {
        ++t.wrong;
        if (followUp)
            ++t.followUpFailures;
    }
    if ((!right || hang) && t.examples.size() < 20) {
        std::ostringstream s;
        s << (followUp ? "follow-up after " : "") << f.name << ": expected " << ReplyName(e.reply)
          << ", got " << (o.error.empty() ? ReplyName(o.reply) : "error: " + o.error)
          << (o.reply == trExceptionReply ? " code " + std::to_string(o.exceptionCode) : "")
          << ", " << o.elapsedMs << " ms";
        t.examples.push_back(s.str());
    }
}

template <typename Side>
void Soak(Tally& t, Side& side, bool serial, long transactions, std::mt19937& rng, long& rssWarm,
          std::vector<long>& rssQuarters)
{
    std::vector<size_t> usable;
    for (size_t i = 0; i < kFaults.size(); ++i)
        if ((serial ? kFaults[i].serial : kFaults[i].tcp).used)
            usable.push_back(i);
    std::uniform_int_distribution<size_t> pick(0, usable.size() - 1);
    const Fault& healthy = kFaults[0];
    const long warmUp = std::min<long>(500, transactions / 10);
    while (t.total < transactions) {
        if (t.total >= warmUp && rssWarm < 0)
            rssWarm = RssKb();
        if (t.total >= transactions * static_cast<long>(rssQuarters.size() + 1) / 4)
            rssQuarters.push_back(RssKb());
        const size_t i = usable[pick(rng)];
        const Fault& f = kFaults[i];
        const Expect& e = serial ? f.serial : f.tcp;
        Judge(t, side, f, e, side.Read(static_cast<uint8_t>(i + 1), f), false);
        if (i != 0)
            Judge(t, side, f, healthy.serial, side.Read(1, healthy), true);
    }
}

void Write(std::ostream& out, const char* title, const Tally& t, long rssWarm,
           const std::vector<long>& rssQuarters, long rssEnd, double seconds)
{
    out << title << ": " << t.total << " transactions in " << seconds << " s; " << t.right
        << " as expected, " << t.wrong << " wrong (" << t.followUpFailures
        << " of them follow-ups), " << t.hangs << " over their time-outs by more than "
        << kHangMarginMs << " ms; worst end relative to the time-outs " << t.worstOverMs
        << " ms\n";
    out << "  RSS after warm-up " << rssWarm << " kB, at each quarter";
    for (long kb : rssQuarters)
        out << " " << kb;
    out << " kB, at the end " << rssEnd << " kB (" << (rssEnd - rssWarm) << " kB)\n  transactions per fault (a follow-up counts under the fault"
        << " before it):";
    for (const auto& [name, n] : t.perFault)
        out << " " << name << " " << n << ";";
    out << "\n";
    for (const auto& ex : t.examples)
        out << "  wrong: " << ex << "\n";
}

}  // namespace

int main(int argc, char** argv)
{
    std::string sim = "build-bench/sim/vortan-sim";
    long transactions = 10000;  // per client
    unsigned seed = 1;
    std::string report;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << a << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--sim") sim = next();
        else if (a == "--transactions") transactions = std::stol(next());
        else if (a == "--seed") seed = static_cast<unsigned>(std::stoul(next()));
        else if (a == "--report") report = next();
        else {
            std::cerr << "usage: tarnwick-soak [--sim PATH] [--transactions N] [--seed S] [--report FILE]\n";
            return 2;
        }
    }

    std::vector<std::string> args = {sim, "--tcp", "0", "--pty"};
    for (size_t i = 0; i < kFaults.size(); ++i) {
        args.push_back("--device");
        args.push_back("address=" + std::to_string(i + 1) + kFaults[i].settings);
    }
    testing_support::ChildProcess simulator(args);
    std::string pty;
    int port = 0;
    while (pty.empty() || port == 0) {
        const auto line = simulator.ReadLine(std::chrono::seconds(10));
        if (!line) {
            std::cerr << "vortan-sim did not report its pty and TCP port\n";
            return 2;
        }
        if (line->rfind("pty: ", 0) == 0)
            pty = line->substr(5);
        else if (line->rfind("tcp: ", 0) == 0)
            port = std::stoi(line->substr(line->rfind(':') + 1));
    }

    std::mt19937 rng(seed);
    const long rssStart = RssKb();
    std::ostringstream out;
    out << "tarnwick-soak, seed " << seed << ", " << transactions << " transactions per client;"
        << " serial: RTU 19200 8E1 on a pty, receive time-out " << kReceiveTimeoutMs
        << " ms, one attempt, end by length; TCP: loopback, time-out " << kTcpTimeoutMs << " ms\n";
    out << "command:";
    for (int i = 0; i < argc; ++i)
        out << " " << argv[i];
    out << "\nsimulator:";
    for (const auto& a : args)
        out << " " << a;
    out << "\nexpected outcome per device (serial / TCP; '-' not used there):\n";
    for (size_t i = 0; i < kFaults.size(); ++i) {
        const Fault& f = kFaults[i];
        auto text = [](const Expect& e) -> std::string {
            if (!e.used)
                return "-";
            std::string s = ReplyName(e.reply);
            if (e.reply == trExceptionReply)
                s += " code " + std::to_string(e.exceptionCode);
            return s;
        };
        out << "  " << i + 1 << " " << f.name << ": " << text(f.serial) << " / " << text(f.tcp);
        if (f.echoAdapter)
            out << " (serial: the connection is set for an adapter that echoes)";
        if (f.refetchMs)
            out << " (serial refetch pause " << f.refetchMs << " ms)";
        if (f.busyMs)
            out << " (TCP: next request " << f.busyMs << " ms later, the server still owes the reply)";
        out << "\n";
    }
    out << "every faulty transaction is followed by one to device 1, which must succeed\n";
    out << "RSS at start " << rssStart << " kB\n";

    int status = 0;
    if (transactions <= 0) {
        std::cout << out.str();
        simulator.Stop();
        return 0;
    }
    {
        Tally t;
        long warm = -1;
        std::vector<long> quarters;
        const auto t0 = Clock::now();
        SerialSide side(pty);
        Soak(t, side, true, transactions, rng, warm, quarters);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        Write(out, "serial", t, warm, quarters, RssKb(), s);
        std::cout << out.str() << std::flush;
        status |= (t.wrong || t.hangs) ? 1 : 0;
    }
    {
        Tally t;
        long warm = -1;
        std::vector<long> quarters;
        const auto t0 = Clock::now();
        TcpSide side(port);
        Soak(t, side, false, transactions, rng, warm, quarters);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        std::ostringstream part;
        Write(part, "tcp", t, warm, quarters, RssKb(), s);
        part << "  TCP reconnects after malformed replies: " << side.Reconnects() << "\n";
        std::cout << part.str() << std::flush;
        out << part.str();
        status |= (t.wrong || t.hangs) ? 1 : 0;
    }
    out << "RSS at the end " << RssKb() << " kB\n";
    simulator.Stop();
    if (!report.empty())
        std::ofstream(report) << out.str();
    return status;
}
