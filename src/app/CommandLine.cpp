#include "CommandLine.h"

#include <vector>

namespace app {

namespace {

constexpr int ServiceHeight = 766;    // room for the service groups
constexpr int SubsetPanelWidth = 330; // status panel 2 takes this from panel 3

}  // namespace

CommandLineOptions parseCommandLine(std::span<const std::string_view> args)
{
    CommandLineOptions o;
    for (std::string_view a : args) {
        if (a == "-expert")
            o.expert = true;
        else if (a == "-swap")
            o.swap = true;
        else if (a == "-totalizer_rst")
            o.totalizerReset = true;
        else if (a == "-calibr_factor")
            o.calibrFactor = true;
        else if (a == "-subset")
            o.subset = true;
    }
    return o;
}

CommandLineOptions parseCommandLine(int argc, const char* const* argv)
{
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i) {
        if (argv[i])
            args.emplace_back(argv[i]);
    }
    return parseCommandLine(args);
}

StartupLayout startupLayout(const CommandLineOptions& o)
{
    StartupLayout l;
    if (o.swap) {
        l.height = ServiceHeight;
        l.showSwapGroup = true;
    }
    if (o.totalizerReset) {
        l.height = ServiceHeight;
        l.showTotalizerResetGroup = true;
    }
    if (o.calibrFactor) {
        l.height = ServiceHeight;
        l.showCalibrFactorGroup = true;
    }
    if (o.subset) {
        l.height = ServiceHeight;
        l.showSubsetGroup = true;
        l.showSubsetViewButton = false;
        l.statusPanel2Width = SubsetPanelWidth;
        l.statusPanel3Width -= SubsetPanelWidth;
    }
    return l;
}

}  // namespace app
