#include "ProgressPage.h"

#include <gtest/gtest.h>

#include "Backdrop.h"
#include "InstallState.h"

namespace {

// The frame drawn into a bitmap of its own, pixel by pixel.
class FrameCanvas : public ::testing::Test {
protected:
    static constexpr COLORREF Background = RGB(10, 20, 30);
    static constexpr COLORREF White = RGB(255, 255, 255);
    static constexpr COLORREF Gray = RGB(128, 128, 128);
    static constexpr COLORREF Black = RGB(0, 0, 0);

    void SetUp() override {
        CreatePens();
        const HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, 64, 32);
        ReleaseDC(nullptr, screen);
        previous = SelectObject(dc, bitmap);
        const RECT all = {0, 0, 64, 32};
        const HBRUSH brush = CreateSolidBrush(Background);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    }
    void TearDown() override {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }

    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
};

TEST_F(FrameCanvas, WhiteOnTheExclusiveEdgesGrayOnTheOthersBlackInsideTheGray) {
    const int l = 10, t = 5, r = 50, b = 20;
    DrawSunkenFrame(dc, RECT{l, t, r, b});

    for (int y = t; y <= b; ++y) EXPECT_EQ(At(r, y), White) << "right edge, row " << y;
    for (int x = l + 1; x <= r; ++x) EXPECT_EQ(At(x, b), White) << "bottom edge, column " << x;
    for (int y = t; y < b; ++y) EXPECT_EQ(At(l, y), Gray) << "left edge, row " << y;
    EXPECT_EQ(At(l, b), Gray) << "the gray path starts where the white one ended";
    for (int x = l; x < r; ++x) EXPECT_EQ(At(x, t), Gray) << "top edge, column " << x;
    for (int y = t + 2; y < b; ++y) EXPECT_EQ(At(l + 1, y), Black) << "inner left, row " << y;
    for (int x = l + 1; x < r - 1; ++x) EXPECT_EQ(At(x, t + 1), Black) << "inner top, column " << x;

    // Lines leave out their end points: the black ones stop short of R - 1 and of B - 1's row end.
    EXPECT_EQ(At(r - 1, t + 1), Background);
    EXPECT_EQ(At(l + 2, t + 2), Background);
    EXPECT_EQ(At(r - 1, b - 1), Background);
    EXPECT_EQ(At(r + 1, b + 1), Background) << "nothing beyond the white edges";
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), static_cast<HGDIOBJ>(installState.blackPen));
}

}  // namespace
