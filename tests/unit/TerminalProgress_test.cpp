#include "TerminalProgress.h"

#include <gtest/gtest.h>

namespace {

TEST(TerminalProgressTest, DrawsBarPercentAndLabel) {
    const struct {
        uint64_t done, total;
        const char* label;
        int width;
        const char* line;
    } cases[] = {
        {0, 100, "a", 79, "[                              ]   0% a"},
        {50, 100, "a", 79, "[###############               ]  50% a"},
        {100, 100, "", 79, "[##############################] 100% "},
        {150, 100, "", 79, "[##############################] 100% "},  // never past the end
        {0, 0, "", 79, "[##############################] 100% "},      // nothing to do is done
        {1, 3, "x", 79, "[#########                     ]  33% x"},
        {100, 100, "DATA/MAPS/WORLD.MAP", 45, "[##############################] 100% ....MAP"},
        {100, 100, "abcdef", 10, "[#########"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatProgressLine(c.done, c.total, c.label, c.width), c.line)
            << c.done << "/" << c.total << " " << c.label;
}

TEST(TerminalProgressTest, CutLabelNeverStartsInsideAUtf8Character) {
    // 38 columns of bar and percentage leave 6: "..." and three bytes of the label, of which
    // the first is the second half of a character.
    const std::string label = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    const std::string line = FormatProgressLine(0, 1, label, 38 + 6);
    EXPECT_EQ(line.substr(38), "...\xC3\xA9");
}

TEST(TerminalProgressTest, IsSilentWhenNotWanted) {
    TerminalProgress progress(false);
    EXPECT_FALSE(progress.Shown());
    progress.Update(1, 2, "x");  // must not write anything or crash
    progress.Clear();
}

}  // namespace
