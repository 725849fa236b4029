#include "CodePage.h"

#include <gtest/gtest.h>

namespace {

TEST(CodePageTest, ParsesNumbersAndNames) {
    const struct {
        const char* text;
        int codePage;  // 0: refused
    } cases[] = {
        {"1252", 1252},        {"windows-1252", 1252}, {"Windows-1251", 1251}, {"cp437", 437},
        {"CP850", 850},        {"ibm852", 852},        {"1250", 1250},         {"", 0},
        {"cp", 0},             {"utf-8", 0},           {"65001", 0},  // not single-byte
        {"932", 0},            {"1252x", 0},           {"-1252", 0},           {"99999999", 0},
    };
    for (const auto& c : cases) {
        int codePage = 0;
        EXPECT_EQ(ParseCodePage(c.text, &codePage), c.codePage != 0) << c.text;
        if (c.codePage) {
            EXPECT_EQ(codePage, c.codePage) << c.text;
        }
    }
}

TEST(CodePageTest, ConvertsExactlyOrNotAtAll) {
    const struct {
        const char* utf8;
        int codePage;
        const char* bytes;  // nullptr: no exact mapping
        const char* why;
    } cases[] = {
        {"README.TXT", 1252, "README.TXT", "ASCII is the same everywhere"},
        {"caf\xC3\xA9", 1252, "caf\xE9", "e acute in Latin-1's place"},
        {"caf\xC3\xA9", 437, "caf\x82", "e acute in the OEM table"},
        {"\xE2\x82\xAC", 1252, "\x80", "the euro sign"},
        {"\xE2\x82\xAC", 437, nullptr, "no euro sign in 437"},
        {"\xD0\x96", 1251, "\xC6", "Cyrillic Zhe"},
        {"\xD0\x96", 1252, nullptr, "no Cyrillic in 1252"},
        {"\xC4\x8D", 1250, "\xE8", "c caron in Central European"},
        {"\xC4\x8D", 1252, nullptr, "a best-fit 'c' would be a different name"},
        {"\xC3\xBF", 1252, "\xFF", "y diaeresis is the byte 0xFF"},
        {"\xC3", 1252, nullptr, "UTF-8 cut in the middle of a character"},
        {"\xC0\xAF", 1252, nullptr, "overlong UTF-8"},
        {"\xE4\xB8\xAD", 1252, nullptr, "CJK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::string bytes = "unchanged";
        const bool converted = ToCodePage(c.utf8, c.codePage, &bytes);
        ASSERT_EQ(converted, c.bytes != nullptr);
        if (!converted) continue;
        EXPECT_EQ(bytes, c.bytes);
        std::string back;
        ASSERT_TRUE(FromCodePage(bytes, c.codePage, &back));
        EXPECT_EQ(back, c.utf8);
    }
}

TEST(CodePageTest, EveryAsciiAndUpperByteOf1252RoundTrips) {
    for (int b = 1; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;  // unassigned
        const std::string byte(1, static_cast<char>(b));
        std::string utf8;
        std::string back;
        ASSERT_TRUE(FromCodePage(byte, 1252, &utf8)) << b;
        ASSERT_TRUE(ToCodePage(utf8, 1252, &back)) << b;
        EXPECT_EQ(back, byte) << b;
    }
}

TEST(CodePageTest, EmptyTextConvertsToEmpty) {
    std::string out = "x";
    EXPECT_TRUE(ToCodePage("", 1252, &out));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(FromCodePage("", 437, &out));
    EXPECT_EQ(out, "");
}

TEST(CodePageTest, SupportedListNamesTheCommonPages) {
    const std::string list = SupportedCodePages();
    for (const char* page : {"437", "850", "1250", "1251", "1252"})
        EXPECT_NE(list.find(page), std::string::npos) << page;
}

}  // namespace
