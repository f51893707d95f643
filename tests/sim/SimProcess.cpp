#include "SimProcess.h"

namespace simtest {

SimProcess::SimProcess(std::vector<std::string> args)
    : child_((args.insert(args.begin(), testing_support::BuildPath("sim/vortan-sim")), args), true)
{
    // One line per transport, printed together: they end where the output pauses, or with the child.
    using std::chrono::milliseconds;
    for (milliseconds wait(10000); auto line = child_.ReadLine(wait); wait = milliseconds(100)) {
        if (line->starts_with("tcp: "))
            tcpPort_ = static_cast<uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
        if (line->starts_with("pty: "))
            pty_ = line->substr(5);
        lines_.push_back(std::move(*line));
    }
}

}  // namespace simtest
