#include "ConfigFile.h"

#include <gtest/gtest.h>

namespace {

struct GoodCase {
    const char* text;
    const char* key;
    std::vector<std::string> values;
    const char* why;
};

const GoodCase kGood[] = {
    {"name = \"Vornhelm Atlas\"\n", "name", {"Vornhelm Atlas"}, "a TOML string with a space"},
    {"name = Vornhelm Atlas  \n", "name", {"Vornhelm Atlas"}, "an INI value: spaces kept, trailing dropped"},
    {"default-dir = 'C:\\ATLAS'\n", "default-dir", {"C:\\ATLAS"}, "a literal string: no escapes"},
    {"default-dir = \"C:\\\\ATLAS\"\n", "default-dir", {"C:\\ATLAS"}, "an escaped backslash"},
    {"default-dir = C:\\ATLAS\r\n", "default-dir", {"C:\\ATLAS"}, "an INI value, CR LF line end"},
    {"[globpack]\nname = x\n", "name", {"x"}, "the [globpack] section"},
    {"[ globpack ]\nname = x\n", "name", {"x"}, "blanks inside the brackets"},
    {"# c\n; c\n\nname = x\n", "name", {"x"}, "comments and blank lines"},
    {"name = \"x\" # note\n", "name", {"x"}, "a comment after a quoted value"},
    {"exclude = [\"*.bak\", 'CVS',]\n", "exclude", {"*.bak", "CVS"}, "an array, trailing comma"},
    {"exclude = []\n", "exclude", {}, "an empty array"},
    {"name = \"\\u00e9t\\u00E9\"\n", "name", {"\xc3\xa9t\xc3\xa9"}, "\\u escapes become UTF-8"},
    {"verify = true", "verify", {"true"}, "no line end on the last line"},
};

TEST(ParseConfig, AcceptedLines) {
    for (const GoodCase& c : kGood) {
        std::vector<ConfigEntry> entries;
        std::string error;
        ASSERT_TRUE(ParseConfig(c.text, &entries, &error)) << c.why << ": " << error;
        ASSERT_EQ(entries.size(), 1u) << c.why;
        EXPECT_EQ(entries[0].key, c.key) << c.why;
        EXPECT_EQ(entries[0].values, c.values) << c.why;
    }
}

struct BadCase {
    const char* text;
    const char* error;  // the start of the message
    const char* why;
};

const BadCase kBad[] = {
    {"name = x\njust words\n", "line 2: \"just words\" is not a key = value line", "no '='"},
    {"[options]\n", "line 1: unknown section [options]", "another section"},
    {"name = x\n[globpack\n", "line 2: a section header", "an unclosed section"},
    {" = x\n", "line 1: no key", "an empty key"},
    {"name =\n", "line 1: name: no value", "an empty value"},
    {"na me = x\n", "line 1: \"na me\" is not a key", "a blank in the key"},
    {"name = \"Atlas\n", "line 1: name: the string has no closing \"", "an unterminated string"},
    {"name = 'Atlas\n", "line 1: name: the string has no closing '", "an unterminated literal"},
    {"name = \"At\" las\n", "line 1: name: text after the closing quote", "text after a string"},
    {"dir = \"C:\\APP\"\n", "line 1: dir: \\A is not an escape", "a Windows path in double quotes"},
    {"name = \"\\u12\"\n", "line 1: name: \\u needs 4 hex digits", "a short \\u escape"},
    {"name = \"\\ud800\"\n", "line 1: name: \\ud800 is not a character", "a surrogate"},
    {"exclude = [\"a\"\n", "line 1: exclude: the array has no closing ']'", "an array over lines"},
    {"exclude = [a]\n", "line 1: exclude: an array holds quoted strings only", "a bare array item"},
    {"exclude = [\"a\" \"b\"]\n", "line 1: exclude: expected ','", "a missing comma"},
};

TEST(ParseConfig, RefusedLinesNameTheirLine) {
    for (const BadCase& c : kBad) {
        std::vector<ConfigEntry> entries;
        std::string error;
        EXPECT_FALSE(ParseConfig(c.text, &entries, &error)) << c.why;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.why << ": " << error;
    }
}

TEST(ParseConfig, EntriesKeepTheirOrderAndLines) {
    std::vector<ConfigEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseConfig("# x\nname = a\n\nexclude = b\nexclude = c\n", &entries, &error));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].line, 2);
    EXPECT_EQ(entries[2].line, 5);
    EXPECT_TRUE(entries[1].bare);
    EXPECT_EQ(entries[2].values[0], "c");
}

}  // namespace
