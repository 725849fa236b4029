#include "JsonWriter.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct QuoteCase {
    std::string in;
    std::string out;
    const char* why;
};

TEST(JsonQuoted, EscapesAndRepairsWhatJsonAndUtf8CannotCarry) {
    const QuoteCase cases[] = {
        {"plain", "\"plain\"", "ASCII stays"},
        {"a\"b\\c", "\"a\\\"b\\\\c\"", "quote and backslash are escaped"},
        {"DIR\\FILE.TXT", "\"DIR\\\\FILE.TXT\"", "member separators survive"},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\"", "C0 controls and DEL"},
        {"\xc2\x85", "\"\\u0085\"", "a C1 control, well formed but never raw"},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\"", "well-formed UTF-8 passes through"},
        {"\xe9t\xe9", "\"\\ufffdt\\ufffd\"", "a stray Latin-1 byte is replaced"},
        {"\xc0\xaf", "\"\\ufffd\\ufffd\"", "an overlong encoding of '/' is not a slash"},
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\"", "a UTF-16 surrogate is not a character"},
        {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\"", "beyond U+10FFFF"},
        {"\xe2\x82", "\"\\ufffd\\ufffd\"", "a sequence cut short at the end"},
        {std::string("a\0b", 3), "\"a\\u0000b\"", "an embedded NUL"},
    };
    for (const QuoteCase& c : cases) EXPECT_EQ(JsonQuoted(c.in), c.out) << c.why;
}

TEST(JsonWriter, SeparatesKeysValuesAndItems) {
    std::ostringstream out;
    JsonWriter json(out);
    json.BeginObject();
    json.Key("totalSize");
    json.Number(18446744073709551615ULL);
    json.Key("members");
    json.BeginArray();
    json.BeginObject();
    json.Key("name");
    json.String("A");
    json.Key("ok");
    json.Bool(true);
    json.EndObject();
    json.Null();
    json.EndArray();
    json.EndObject();
    json.Finish();
    std::string compact;
    for (char c : out.str())
        if (c != ' ' && c != '\n') compact += c;
    EXPECT_EQ(compact, "{\"totalSize\":18446744073709551615,\"members\":[{\"name\":\"A\",\"ok\":true},null]}");
}

}  // namespace
