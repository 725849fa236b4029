#include "DriveSpace.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string SizeText(uint64_t size) {
    char text[256];
    FormatSizeText(size, text, sizeof text);
    return text;
}

TEST(FormatSizeText, BoundariesOfTheThreeForms) {
    const struct {
        uint64_t size;
        const char* text;
    } cases[] = {
        {0, "0 bytes"},           {1023, "1023 bytes"},   {1024, "1 K"},
        {1535, "1 K"},            {1048575, "1023 K"},    {1048576, "1 MEG"},
        {4294967295u, "4095 MEG"},
        // Past 32 bits the count goes on instead of wrapping to a few bytes.
        {4294967296ull, "4096 MEG"}, {8ull << 30, "8192 MEG"}, {(1ull << 40) + 1023, "1048576 MEG"},
    };
    for (const auto& c : cases) EXPECT_EQ(SizeText(c.size), c.text) << c.size;
}

TEST(DriveSpace, PreselectionNeedsMoreThanTheRequirementWhileOkAcceptsItExactly) {
    const uint32_t total = 1000000;
    const uint64_t exactly = total + uint64_t{SpaceMargin};
    EXPECT_FALSE(QualifiesForPreselection(exactly, total));
    EXPECT_TRUE(HasRoom(exactly, total));
    EXPECT_TRUE(QualifiesForPreselection(exactly + 1, total));
    EXPECT_FALSE(HasRoom(exactly - 1, total));
    EXPECT_FALSE(HasRoom(0, 0));  // an unmeasurable drive is refused even for an empty archive
}

TEST(DriveSpace, LargeDrivesAndLargeArchivesAreComparedWithoutWrapping) {
    // 4 GiB + 100 bytes free: 32 bits would see 100 bytes and refuse it.
    EXPECT_TRUE(HasRoom((1ull << 32) + 100, 3000000));
    EXPECT_TRUE(QualifiesForPreselection((1ull << 32) + 100, 3000000));
    // totalSize near 4 GiB: 32 bits would wrap the requirement to a few hundred KB.
    const uint32_t huge = 0xFFFFFF00u;
    EXPECT_EQ(RequiredSpace(huge), 0xFFFFFF00ull + 204800);
    EXPECT_FALSE(HasRoom(1u << 20, huge));
    EXPECT_TRUE(HasRoom(RequiredSpace(huge), huge));
}

}  // namespace
