#include "Geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct CentreCase {
    int extent, size, origin;
    const char* why;
};

TEST(Geometry, CentredOriginTruncatesEachHalfTowardZero) {
    const CentreCase kCases[] = {
        {640, 300, 170, "even halves"},
        {641, 301, 170, "each half chopped by itself: 320 - 150"},
        {640, 301, 170, "an odd size loses its half pixel: 320 - 150"},
        {641, 300, 170, "an odd extent loses its half pixel: 320 - 150"},
        {300, 641, -170, "a window larger than the area starts left of it"},
        {0, 301, -150, "no area yet: a negative size half still truncates toward zero"},
        {-5, 0, -2, "-5 / 2 is -2, not the floor -3"},
        {0, 0, 0, "nothing to centre"},
    };
    for (const CentreCase& c : kCases)
        EXPECT_EQ(CentredOrigin(c.extent, c.size), c.origin) << c.why;
}

struct BandCase {
    int clientHeight, bandHeight, bandCount, lastBlue;
    const char* why;
};

TEST(Geometry, BandsCoverTheHeightWithAtMost255Shades) {
    const BandCase kCases[] = {
        {480, 2, 240, 16, "a 480-row screen: 240 bands of 2"},
        {509, 2, 255, 1, "the tallest height with bands of 2"},
        {510, 3, 170, 86, "510 / 255 + 1 is 3"},
        {254, 1, 254, 2, "below 255 rows one band per row, down to 256 - H"},
        {1, 1, 1, 255, "one row, the brightest band alone"},
        {255, 2, 128, 128, "255 rows: bands of 2, the last half clipped"},
        {1024, 5, 205, 51, "a tall screen"},
    };
    for (const BandCase& c : kCases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(BandHeight(c.clientHeight), c.bandHeight);
        EXPECT_EQ(BandCount(c.clientHeight), c.bandCount);
        EXPECT_EQ(BandBlue(c.bandCount - 1), c.lastBlue);
        // The last band starts inside the area; one more would start at or past its bottom.
        EXPECT_LT(BandTop(c.bandCount - 1, c.bandHeight), c.clientHeight);
        EXPECT_GE(BandBottom(c.bandCount - 1, c.bandHeight), c.clientHeight);
        EXPECT_GE(BandTop(c.bandCount, c.bandHeight), c.clientHeight);
    }
}

TEST(Geometry, NoBandsWithoutHeight) {
    for (int height : {0, -1, -600}) EXPECT_EQ(BandCount(height), 0) << height;
}

TEST(Geometry, EveryHeightUpToAScreenKeepsTheBandsWithinOneShadeRange) {
    for (int height = 1; height <= 4096; ++height) {
        const int count = BandCount(height);
        ASSERT_GE(count, 1) << height;
        ASSERT_LE(count, 255) << height;
        ASSERT_GE(BandBlue(count - 1), 1) << height;
        ASSERT_EQ(BandBottom(0, BandHeight(height)), BandTop(1, BandHeight(height))) << height;
    }
}

struct BarCase {
    Box placeholder;
    double fraction;
    int doneWidth, split;
    const char* why;
};

TEST(Geometry, ProgressBarSplitIsChoppedNotRounded) {
    // Placeholder 10..305 wide: inner 13..303, 290 pixels.
    const Box kWide = {10, 20, 305, 40};
    const double kInfinity = std::numeric_limits<double>::infinity();
    const BarCase kCases[] = {
        {kWide, 0.0, 0, 13, "nothing done: all light gray"},
        {kWide, 1.0, 290, 303, "all done: the whole inner width"},
        {kWide, 0.999, 289, 302, "289.71 chopped to 289"},
        {kWide, 0.5, 145, 158, "half"},
        {kWide, 0.0017, 0, 13, "under one pixel shows nothing"},
        {kWide, 1.5, 290, 303, "a fraction beyond 1 stays inside the frame"},
        {kWide, -0.25, 0, 13, "a negative fraction draws no bar"},
        {kWide, kInfinity, 290, 303, "totalSize 0 with members: inf"},
        {kWide, std::nan(""), 0, 13, "totalSize 0 without members: 0 / 0"},
        {{5, 5, 9, 9}, 1.0, 0, 8, "a placeholder too narrow for an inner area"},
    };
    for (const BarCase& c : kCases) {
        SCOPED_TRACE(c.why);
        const BarGeometry bar = ProgressBarGeometry(c.placeholder, c.fraction);
        EXPECT_EQ(bar.doneWidth, c.doneWidth);
        EXPECT_EQ(bar.split, c.split);
    }
}

TEST(Geometry, ProgressBarInnerIsInsetThreeLeftAndTopButTwoRightAndBottom) {
    const BarGeometry bar = ProgressBarGeometry({18, 37, 314, 55}, 0.25);
    EXPECT_EQ(bar.inner.left, 21);
    EXPECT_EQ(bar.inner.top, 40);
    EXPECT_EQ(bar.inner.right, 312);
    EXPECT_EQ(bar.inner.bottom, 53);
    EXPECT_EQ(bar.doneWidth, 72);  // 291 * 0.25 = 72.75
    EXPECT_EQ(bar.split, 93);
}

}  // namespace
