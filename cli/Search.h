#pragma once

// tarnwick-cli search: the window's device search from a terminal, one line per device found.

#include "SearchWalk.h"

#include <ostream>

namespace cli {

struct SearchOptions {
    search::TSearchChoice choice;
    bool quick = false;
    bool echo = false;
    bool json = false;
};

// Runs the search to its end; 0 when a device was found, 1 when none, 2 when a port could not be
// opened (the reason on `err`).
int RunSearch(const SearchOptions& o, std::ostream& out, std::ostream& err);

}  // namespace cli
