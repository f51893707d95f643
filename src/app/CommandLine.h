#pragma once

// Command-line switches and the window layout they imply, as data.

#include <span>
#include <string>
#include <string_view>

namespace app {

struct CommandLineOptions {
    bool expert = false;         // "-expert"
    bool swap = false;           // "-swap"
    bool totalizerReset = false; // "-totalizer_rst"
    bool calibrFactor = false;   // "-calibr_factor"
    bool subset = false;         // "-subset"

    bool operator==(const CommandLineOptions&) const = default;
};

// Exact, case-sensitive matches; anything else is ignored. args excludes the program name.
CommandLineOptions parseCommandLine(std::span<const std::string_view> args);
CommandLineOptions parseCommandLine(int argc, const char* const* argv);

// Window size and what start-up shows, before the settings and the identification adapt it.
struct StartupLayout {
    int width = 520;
    int height = 550;
    bool showSwapGroup = false;        // GroupBox_swap, its three boxes on their first item
    bool showTotalizerResetGroup = false;  // GroupBox_auto_totalizer_reset
    bool showCalibrFactorGroup = false;    // GroupBox_calibr_factor
    bool showSubsetGroup = false;      // GroupSubset
    bool showSubsetViewButton = true;  // SubsetView
    int statusPanel2Width = 0;         // measuring state
    int statusPanel3Width = 660;       // last request's outcome

    bool operator==(const StartupLayout&) const = default;
};

StartupLayout startupLayout(const CommandLineOptions& options);

}  // namespace app
