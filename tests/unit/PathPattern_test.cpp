#include "PathPattern.h"

#include <gtest/gtest.h>

namespace {

struct MatchCase {
    const char* pattern;
    const char* path;
    bool matches;
    const char* why;
};

const MatchCase kCases[] = {
    {"README.TXT", "README.TXT", true, "a plain name matches itself"},
    {"readme.txt", "README.TXT", true, "ASCII letters match either case"},
    {"README.TXT", "DOCS\\README.TXT", true, "a name without separator matches at any depth"},
    {"*.bak", "a\\b\\c.bak", true, "a wildcard name at any depth"},
    {"*.bak", "a.bak\\keep.txt", true, "a matched directory takes what is below it"},
    {"*.bak", "a.bakx", false, "'*' does not reach past the pattern's end"},
    {"?.txt", "ab.txt", false, "'?' is exactly one character"},
    {"?.txt", "a.txt", true, "'?' is one character"},
    {"DATA/*.MAP", "DATA\\EUROPE.MAP", true, "'/' in the pattern matches '\\' in the path"},
    {"DATA\\*.MAP", "DATA/EUROPE.MAP", true, "'\\' in the pattern matches '/' in the path"},
    {"DATA/*.MAP", "OLD\\DATA\\EUROPE.MAP", false, "a pattern with a separator is anchored"},
    {"DATA/*", "DATA\\SUB\\X.MAP", true, "'*' takes the directory SUB, and so all below"},
    {"DATA*", "DATA\\X", true, "a directory name matched by a wildcard"},
    {"D*A/X", "DA\\Y\\X", false, "'*' never crosses a separator"},
    {"**/X.MAP", "X.MAP", true, "'**' may stand for no directory at all"},
    {"**/X.MAP", "A\\B\\X.MAP", true, "'**' stands for any number of directories"},
    {"A/**/X.MAP", "A\\X.MAP", true, "'**' in the middle, zero directories"},
    {"A/**/X.MAP", "B\\A\\X.MAP", false, "'**' in the middle is still anchored at the top"},
    {"/TOP.TXT", "SUB\\TOP.TXT", false, "a leading separator anchors a single name"},
    {"/TOP.TXT", "TOP.TXT", true, "a leading separator anchors at the top"},
    {"DOCS/", "DOCS\\A.TXT", true, "a trailing separator matches a directory"},
    {"DOCS/", "DOCS", false, "a trailing separator leaves a file of that name alone"},
    {"DOCS/", "X\\DOCS\\A.TXT", true, "a directory name alone matches at any depth"},
    {"A/B", "A\\BC", false, "components match whole"},
    {"", "A", false, "an empty pattern matches nothing"},
    {"*", "ANY\\THING", true, "'*' alone matches every member"},
    {"*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac",
     false, "many stars over a long name end quickly"},
};

TEST(PathPattern, Table) {
    for (const MatchCase& c : kCases)
        EXPECT_EQ(PathPattern(c.pattern).Matches(c.path), c.matches)
            << c.pattern << " on " << c.path << ": " << c.why;
}

}  // namespace
