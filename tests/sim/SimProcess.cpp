#include "SimProcess.h"

namespace simtest {

static std::vector<std::string> Command(std::vector<std::string> args)
{
    args.insert(args.begin(), SimBinary());
    return args;
}

std::string SimBinary()
{
    return testing_support::BuildPath("sim/vortan-sim");
}

SimProcess::SimProcess(std::vector<std::string> args, std::chrono::milliseconds timeout)
    : child_(Command(std::move(args)), true)
{
    // One line per transport, printed together: they end where the output pauses, or with the child.
    for (auto wait = timeout; auto line = child_.ReadLine(wait); wait = std::chrono::milliseconds(100)) {
        if (line->rfind("tcp: ", 0) == 0)
            tcp_ = line->substr(5);
        if (line->rfind("pty: ", 0) == 0)
            pty_ = line->substr(5);
        lines_.push_back(std::move(*line));
    }
}

uint16_t SimProcess::TcpPort() const
{
    const size_t colon = tcp_.rfind(':');
    return colon == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(tcp_.substr(colon + 1)));
}

}  // namespace simtest
