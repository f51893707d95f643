#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

using namespace app;

TEST(CommandLine, SwitchesAreExactAndCaseSensitive)
{
    struct Row { std::vector<std::string_view> args; CommandLineOptions options; };
    const std::vector<Row> rows = {
        {{}, {}},
        {{"-expert"}, {.expert = true}},
        {{"-Expert"}, {}},
        {{"-EXPERT"}, {}},
        {{"--expert"}, {}},
        {{"expert"}, {}},
        {{"-expert "}, {}},
        {{"/expert"}, {}},
        {{"-swap", "-calibr_factor"}, {.swap = true, .calibrFactor = true}},
        {{"-calibr_factor", "-swap"}, {.swap = true, .calibrFactor = true}},
        {{"-totalizer_rst", "junk", "-subset"}, {.totalizerReset = true, .subset = true}},
        {{"-subset", "-subset"}, {.subset = true}},
        {{"-expert", "-swap", "-totalizer_rst", "-calibr_factor", "-subset"},
         {true, true, true, true, true}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(parseCommandLine(r.args), r.options) << (r.args.empty() ? "" : r.args.front());
}

TEST(CommandLine, ArgvSkipsTheProgramName)
{
    const char* argv[] = {"-subset", "-expert", nullptr};
    EXPECT_EQ(parseCommandLine(2, argv), (CommandLineOptions{.expert = true}));
    EXPECT_EQ(parseCommandLine(1, argv), CommandLineOptions{});
}

TEST(CommandLine, StartupLayout)
{
    struct Row { CommandLineOptions options; int height; bool swap, totalizer, calibr, subsetGroup, subsetView;
                 int panel2, panel3; };
    const std::vector<Row> rows = {
        {{}, 550, false, false, false, false, true, 0, 660},
        {{.expert = true}, 550, false, false, false, false, true, 0, 660},
        {{.swap = true}, 766, true, false, false, false, true, 0, 660},
        {{.totalizerReset = true}, 766, false, true, false, false, true, 0, 660},
        {{.swap = true, .calibrFactor = true}, 766, true, false, true, false, true, 0, 660},
        {{.subset = true}, 766, false, false, false, true, false, 330, 330},
    };
    for (const Row& r : rows) {
        const StartupLayout l = startupLayout(r.options);
        EXPECT_EQ(l.width, 520);
        EXPECT_EQ(l.height, r.height);
        EXPECT_EQ(l.showSwapGroup, r.swap);
        EXPECT_EQ(l.showTotalizerResetGroup, r.totalizer);
        EXPECT_EQ(l.showCalibrFactorGroup, r.calibr);
        EXPECT_EQ(l.showSubsetGroup, r.subsetGroup);
        EXPECT_EQ(l.showSubsetViewButton, r.subsetView);
        EXPECT_EQ(l.statusPanel2Width, r.panel2);
        EXPECT_EQ(l.statusPanel3Width, r.panel3);
    }
}
