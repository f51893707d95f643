#include "SimLog.h"

#include <unistd.h>

#include <algorithm>
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
using namespace std::chrono_literals;
using Words = std::vector<uint16_t>;

std::string Join(const std::vector<uint16_t>& words)
{
    std::string s = "[";
    for (size_t i = 0; i < words.size(); ++i)
        s += (i ? "," : "") + std::to_string(words[i]);
    return s + "]";
}

// The simulator replaces the file by rename, so no read sees half of one.
nlohmann::json DumpAt(const std::string& path)
{
    std::ifstream in(path);
    return in ? nlohmann::json::parse(in) : nlohmann::json{{"sequence", 0}};
}

}  // namespace

std::vector<SimRequest> RequestsOf(const nlohmann::json& dump)
{
    std::vector<SimRequest> out;
    for (const auto& j : dump.at("requests"))
        out.push_back({j.at("n"), j.at("t_ms"), j.at("transport"), j.value("baud", 0u), j.value("tid", -1),
                       j.value("unit", -1), j.value("function", -1), j.value("start", -1),
                       j.value("count", -1), j.value("values", Words{}), j.value("sub", -1),
                       j.value("data", Words{}), j.at("result"), j.value("reason", ""), j.at("hex")});
    return out;
}

std::string Brief(const SimRequest& r)
{
    std::string s = r.function < 0 ? "-" : "fc" + std::to_string(r.function);
    if (r.start >= 0)
        s += " " + std::to_string(r.start) + "+" + std::to_string(r.count);
    if (r.sub >= 0)  // function 8 carries data, no values
        s += " sub" + std::to_string(r.sub) + " " + Join(r.data);
    if (!r.values.empty())
        s += " " + Join(r.values);
    s += " " + r.result;
    return r.reason.empty() ? s : s + " (" + r.reason + ")";
}

std::vector<std::string> Briefs(const std::vector<SimRequest>& requests)
{
    std::vector<std::string> out(requests.size());
    std::ranges::transform(requests, out.begin(), Brief);
    return out;
}

LoggedSim::LoggedSim(std::vector<std::string> args)
    : path_((std::getenv("TMPDIR") ? std::getenv("TMPDIR") : std::string("/tmp")) + "/vortan-sim-log-" +
            std::to_string(::getpid()) + "-" + std::to_string(std::random_device()()) + ".json")
{
    args.insert(args.begin(), {"--dump", path_});
    process_ = std::make_unique<SimProcess>(std::move(args));
}

LoggedSim::~LoggedSim()
{
    process_->Stop();
    std::remove(path_.c_str());
}

nlohmann::json LoggedSim::Dump()
{
    const long long before = DumpAt(path_).value("sequence", 0LL);
    if (::kill(process_->Pid(), SIGUSR1) != 0)
        throw std::runtime_error("vortan-sim is not running");
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (nlohmann::json dump;; std::this_thread::sleep_for(2ms)) {
        if ((dump = DumpAt(path_)).value("sequence", 0LL) > before)
            return dump;
        if (Clock::now() >= deadline)
            throw std::runtime_error("vortan-sim wrote no dump to " + path_);
    }
}

std::vector<SimRequest> LoggedSim::WaitNewRequests(size_t count, std::chrono::milliseconds timeout)
{
    std::vector<SimRequest> fresh;
    for (const auto deadline = Clock::now() + timeout;; std::this_thread::sleep_for(10ms)) {
        fresh = Requests();
        std::erase_if(fresh, [&](const SimRequest& r) { return r.n <= seen_; });
        if (fresh.size() >= count || Clock::now() >= deadline)
            break;
    }
    if (!fresh.empty())
        seen_ = fresh.back().n;
    return fresh;
}

}  // namespace simtest
