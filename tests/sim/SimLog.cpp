#include "SimLog.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
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

// 0 while there is no dump; the simulator replaces the file by rename, so no read sees half of one.
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

}  // namespace

std::vector<SimRequest> RequestsOf(const nlohmann::json& dump)
{
    std::vector<SimRequest> out;
    for (const auto& j : dump.at("requests"))
        out.push_back({j.at("n").get<long long>(), j.at("t_ms").get<double>(), j.at("transport").get<std::string>(),
                       static_cast<uint32_t>(IntOr(j, "baud", 0)), IntOr(j, "tid", -1), IntOr(j, "unit", -1),
                       IntOr(j, "function", -1), IntOr(j, "start", -1), IntOr(j, "count", -1), WordsOf(j, "values"),
                       IntOr(j, "sub", -1), WordsOf(j, "data"), j.at("result").get<std::string>(),
                       j.value("reason", ""), j.at("hex").get<std::string>()});
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
    return r.reason.empty() ? s : s + " (" + r.reason + ")";
}

std::vector<std::string> Briefs(const std::vector<SimRequest>& requests)
{
    std::vector<std::string> out;
    for (const auto& r : requests)
        out.push_back(Brief(r));
    return out;
}

LoggedSim::LoggedSim(std::vector<std::string> args, std::chrono::milliseconds timeout)
    : path_((std::getenv("TMPDIR") ? std::getenv("TMPDIR") : std::string("/tmp")) + "/vortan-sim-log-" +
            std::to_string(::getpid()) + "-" + std::to_string(std::random_device()()) + ".json")
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
    const long long before = SequenceAt(path_);
    if (::kill(process_->Pid(), SIGUSR1) != 0)
        throw std::runtime_error("vortan-sim is not running");
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    nlohmann::json dump;
    while (SequenceAt(path_, &dump) <= before) {
        if (Clock::now() >= deadline)
            throw std::runtime_error("vortan-sim wrote no dump to " + path_);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return dump;
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
