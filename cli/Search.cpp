#include "Search.h"

#include "SerialSearch.h"

#include "MainThread.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>

namespace cli {

using namespace modbus;

namespace {

struct PortLine {
    explicit PortLine(IMainThread& mainThread) : connection(mainThread) { client.SetConnection(&connection); }
    TModbusConnection connection;
    TModbusClient client;
};

}  // namespace

int RunSearch(const SearchOptions& o, std::ostream& out, std::ostream& err)
{
    EventQueue events;
    std::vector<std::unique_ptr<PortLine>> lines;
    std::vector<std::unique_ptr<search::TSerialSearch>> walks;
    auto add = [&](std::vector<search::TCombination> list) {
        lines.push_back(std::make_unique<PortLine>(events));
        lines.back()->connection.SetEchoQueryBeforeReply(o.echo);
        walks.push_back(std::make_unique<search::TSerialSearch>(lines.back()->connection, lines.back()->client,
                                                                std::move(list), search::TSerialSearch::Options{o.quick}));
    };
    // Quick: every port its own line, side by side; otherwise one line walks the ports in turn.
    if (o.quick) {
        for (auto& list : search::CombinationsPerPort(o.choice))
            add(std::move(list));
    } else {
        add(search::Combinations(o.choice));
    }
    // A single walk needs no worker: it runs on this thread, within Start. Walks side by side
    // keep theirs.
    if (lines.size() == 1)
        lines.front()->connection.SetSynchronous(true);

    int found = 0;
    bool aborted = false;
    const auto start = std::chrono::steady_clock::now();
    for (auto& w : walks) {
        w->OnFound = [&](const search::TCombination& c, bool isVortan) {
            ++found;
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (o.json) {
                out << nlohmann::json{{"port", c.port}, {"address", c.address}, {"baud", std::stoi(c.baudText)},
                                      {"parity", c.parityText}, {"vortan", isVortan}, {"elapsed_ms", ms}}
                           .dump()
                    << std::endl;
            } else {
                out << (isVortan ? "VORTAN" : "other") << ' ' << c.port << " address " << c.address << ' '
                    << c.baudText << ' ' << c.parityText << std::endl;
            }
        };
        w->OnOpenFailed = [&](const search::TCombination& c, const std::string& error) {
            err << "Search was aborted! - " << c.port << ": " << error << '\n';
            aborted = true;
            for (auto& other : walks)
                other->Stop();
        };
    }
    for (auto& w : walks)
        w->Start();
    auto done = [&] {
        for (auto& w : walks)
            if (!w->Finished())
                return false;
        return true;
    };
    while (!events.RunUntil(done, std::chrono::hours(1))) {
    }
    if (aborted)
        return 2;
    return found > 0 ? 0 : 1;
}

}  // namespace cli
