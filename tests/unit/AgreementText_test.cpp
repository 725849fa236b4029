#include "AgreementText.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(AgreementTextTest, LineEndsBecomeCrLfAndCharactersTheCodePage) {
    const struct {
        const char* utf8;
        int codePage;
        const char* bytes;
        const char* why;
    } cases[] = {
        {"", 1252, "", "an empty text stays empty"},
        {"a\nb\n", 1252, "a\r\nb\r\n", "LF"},
        {"a\r\nb", 1252, "a\r\nb", "CR LF stays"},
        {"a\rb\r", 1252, "a\r\nb\r\n", "a lone CR"},
        {"a\r\r\nb", 1252, "a\r\n\r\nb", "CR CR LF is two line ends"},
        {"\n\n", 1252, "\r\n\r\n", "empty lines"},
        {"\xEF\xBB\xBFLicense", 1252, "License", "the byte order mark goes"},
        {"Caf\xC3\xA9 \xE2\x82\xAC\t1", 1252, "Caf\xE9 \x80\t1", "Latin-1 letters, euro, tab"},
        {"Caf\xC3\xA9", 850, "Caf\x82", "the same text in an OEM code page"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::string bytes = "unchanged", error;
        ASSERT_TRUE(PrepareAgreementText(c.utf8, c.codePage, &bytes, &error)) << error;
        EXPECT_EQ(bytes, c.bytes);
    }
}

TEST(AgreementTextTest, RefusalsNameTheLine) {
    const struct {
        std::string utf8;
        int codePage;
        const char* expected;
    } cases[] = {
        {std::string("one\ntwo\nth\0ree", 14), 1252, "line 3: a NUL byte"},
        {"one\r\n\xE9t\xE9", 1252, "line 2: bytes that are not UTF-8"},
        {"ok\n\xC3", 1252, "line 2: bytes that are not UTF-8"},
        {"a\nb\nc\n\xE2\x82\xAC uro", 437, "line 4: a character code page 437 cannot hold"},
        {"a\rb\r\xD0\x96", 1252, "line 3: a character code page 1252 cannot hold"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        std::string bytes = "unchanged", error;
        EXPECT_FALSE(PrepareAgreementText(c.utf8, c.codePage, &bytes, &error));
        EXPECT_EQ(error.compare(0, std::strlen(c.expected), c.expected), 0) << error;
        EXPECT_EQ(bytes, "unchanged");
    }
}

TEST(AgreementTextTest, Utf8ValidityIsStrict) {
    const struct {
        const char* text;
        size_t valid;
        const char* why;
    } cases[] = {
        {"abc", 3, "ASCII"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 9, "two, three and four bytes"},
        {"a\xC0\xAF", 1, "overlong slash"},
        {"a\xE0\x80\xAF", 1, "overlong in three bytes"},
        {"a\xED\xA0\x80", 1, "a surrogate"},
        {"a\xF4\x90\x80\x80", 1, "above U+10FFFF"},
        {"a\xE2\x82", 1, "cut short"},
        {"a\x80", 1, "a lone continuation byte"},
    };
    for (const auto& c : cases) EXPECT_EQ(ValidUtf8Prefix(c.text), c.valid) << c.why;
}

}  // namespace
