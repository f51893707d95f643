#pragma once

// tarnwick-cli config save / restore: a meter's subset pages as a JSON file and back.

#include "Transaction.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace cli {

struct ConfigOptions {
    std::string file;
    std::string channel;  // save: A, B, Y or Z; empty for every page
    bool dryRun = false;
    std::optional<std::uint32_t> protectionCode;
};

// Exit status: 0 done, 1 the meter failed or a row did not take, 2 a file or option refused
// before anything was written.
int RunConfigSave(Backend& backend, const ConfigOptions& o, std::ostream& out, std::ostream& err);
int RunConfigRestore(Backend& backend, const ConfigOptions& o, std::ostream& out, std::ostream& err);

}  // namespace cli
