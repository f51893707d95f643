#include "SimLog.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

namespace simtest {

namespace {

using Clock = std::chrono::steady_clock;

int IntOr(const nlohmann::json& j, const char* key, int fallback)
{
    return j.contains(key) ? j.at(key).get<int>() : fallback;
}

std::vector<uint16_t> WordsOf(const nlohmann::json& j, const char* key)
{
    return j.contains(key) ? j.at(key).get<std::vector<uint16_t>>() : std::vector<uint16_t>{};
}

std::string Join(const std::vector<uint16_t>& words)
{
    std::string s = "[";
    for (size_t i = 0; i < words.size(); ++i)
        s += (i ? "," : "") + std::to_string(words[i]);
    return s + "]";
}

// The sequence of the dump at path; 0 while there is none. The simulator replaces the file by
// rename, so a read never sees half of one.
long long SequenceAt(const std::string& path, nlohmann::json* dump = nullptr)
{
    std::ifstream in(path);
    if (!in)
        return 0;
    nlohmann::json j = nlohmann::json::parse(in);
    const long long sequence = j.value("sequence", 0LL);
    if (dump)
        *dump = std::move(j);
    return sequence;
}

std::string TempDumpPath()
{
    const char* dir = std::getenv("TMPDIR");
    std::random_device random;
    return std::string(dir ? dir : "/tmp") + "/vortan-sim-log-" + std::to_string(::getpid()) + "-" +
           std::to_string(random()) + ".json";
}

// SIGUSR1 to the simulator, then the first dump newer than the one at path.
nlohmann::json TriggerDump(pid_t pid, const std::string& path)
{
    const long long before = SequenceAt(path);
    if (::kill(pid, SIGUSR1) != 0)
        throw std::runtime_error("vortan-sim is not running");
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    nlohmann::json dump;
    while (SequenceAt(path, &dump) <= before) {
        if (Clock::now() >= deadline)
            throw std::runtime_error("vortan-sim wrote no dump to " + path);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return dump;
}

}  // namespace

std::vector<SimRequest> RequestsOf(const nlohmann::json& dump)
{
    std::vector<SimRequest> out;
    for (const auto& j : dump.at("requests")) {
        SimRequest r;
        r.n = j.at("n").get<long long>();
        r.tMs = j.at("t_ms").get<double>();
        r.transport = j.at("transport").get<std::string>();
        r.baud = static_cast<uint32_t>(IntOr(j, "baud", 0));
        r.tid = IntOr(j, "tid", -1);
        r.unit = IntOr(j, "unit", -1);
        r.function = IntOr(j, "function", -1);
        r.start = IntOr(j, "start", -1);
        r.count = IntOr(j, "count", -1);
        r.values = WordsOf(j, "values");
        r.sub = IntOr(j, "sub", -1);
        r.data = WordsOf(j, "data");
        r.result = j.at("result").get<std::string>();
        r.reason = j.value("reason", "");
        r.hex = j.at("hex").get<std::string>();
        out.push_back(std::move(r));
    }
    return out;
}

std::string Brief(const SimRequest& r)
{
    std::string s = r.function < 0 ? "-" : "fc" + std::to_string(r.function);
    if (r.start >= 0)
        s += " " + std::to_string(r.start) + "+" + std::to_string(r.count);
    if (r.sub >= 0)
        s += " sub" + std::to_string(r.sub);
    if (!r.values.empty())
        s += " " + Join(r.values);
    if (r.sub >= 0)
        s += " " + Join(r.data);
    s += " " + r.result;
    if (!r.reason.empty())
        s += " (" + r.reason + ")";
    return s;
}

std::vector<std::string> Briefs(const std::vector<SimRequest>& requests)
{
    std::vector<std::string> out;
    for (const auto& r : requests)
        out.push_back(Brief(r));
    return out;
}

LoggedSim::LoggedSim(std::vector<std::string> args, std::chrono::milliseconds timeout)
    : path_(TempDumpPath())
{
    args.insert(args.begin(), {"--dump", path_});
    process_ = std::make_unique<SimProcess>(std::move(args), timeout);
}

LoggedSim::~LoggedSim()
{
    process_->Stop();
    std::remove(path_.c_str());
}

nlohmann::json LoggedSim::Dump()
{
    return TriggerDump(process_->Pid(), path_);
}

std::vector<SimRequest> LoggedSim::Requests()
{
    return RequestsOf(Dump());
}

std::vector<SimRequest> LoggedSim::NewRequests()
{
    return WaitNewRequests(0);
}

std::vector<SimRequest> LoggedSim::WaitNewRequests(size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::vector<SimRequest> fresh;
    for (;;) {
        fresh.clear();
        for (auto& r : Requests())
            if (r.n > seen_)
                fresh.push_back(std::move(r));
        if (fresh.size() >= count || Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!fresh.empty())
        seen_ = fresh.back().n;
    return fresh;
}

}  // namespace simtest
