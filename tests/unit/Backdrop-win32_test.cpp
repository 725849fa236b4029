#include "Backdrop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "InstallState.h"
#include "Win32Probe.h"

namespace {

constexpr int CanvasWidth = 420, CanvasHeight = 80;
constexpr COLORREF Background = RGB(0, 0, 200);

// A bitmap of its own, filled with Background.
class Canvas {
public:
    Canvas() {
        const HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, CanvasWidth, CanvasHeight);
        ReleaseDC(nullptr, screen);
        previous = SelectObject(dc, bitmap);
        const RECT all = {0, 0, CanvasWidth, CanvasHeight};
        const HBRUSH brush = CreateSolidBrush(Background);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    }
    ~Canvas() {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }

    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
};

// The title as its design draws it, step by step: Arial, cell height 50, weight 400; the black
// shadow at (x + 5, y + 5) first, then the white text at (x, y).
void DrawReferenceTitle(HDC dc, int x, int y, const char* text) {
    const HFONT font = CreateFontA(50, 0, 0, 0, 400, FALSE, FALSE, FALSE, 0, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "Arial");
    const HGDIOBJ previous = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, x + 5, y + 5, text, static_cast<int>(std::strlen(text)));
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text)));
    SelectObject(dc, previous);
    DeleteObject(font);
}

TEST(DrawTitle, ShadowFirstThenWhiteTextInArial50AtTheTitlePosition) {
    const char* const text = "Vornhelm Atlas";
    Canvas drawn, reference;
    const HGDIOBJ fontBefore = GetCurrentObject(drawn.dc, OBJ_FONT);
    DrawTitle(drawn.dc, 20, 4, text);
    DrawReferenceTitle(reference.dc, 20, 4, text);

    int white = 0, black = 0, differing = 0;
    for (int y = 0; y < CanvasHeight; ++y) {
        for (int x = 0; x < CanvasWidth; ++x) {
            const COLORREF got = drawn.At(x, y);
            white += got == RGB(255, 255, 255);
            black += got == RGB(0, 0, 0);
            if (got != reference.At(x, y) && differing++ < 5)
                ADD_FAILURE() << "pixel (" << x << "," << y << ") is " << std::hex << got
                              << ", the reference has " << reference.At(x, y);
        }
    }
    EXPECT_EQ(differing, 0) << "pixels that differ from the reference title";
    EXPECT_GT(white, 200) << "the text was drawn";
    EXPECT_GT(black, 200) << "the shadow shows where the text does not cover it";

    EXPECT_EQ(GetCurrentObject(drawn.dc, OBJ_FONT), fontBefore) << "the previous font is selected back";
    EXPECT_EQ(GetBkMode(drawn.dc), TRANSPARENT);
    EXPECT_EQ(GetTextColor(drawn.dc), RGB(255, 255, 255));
}

TEST(DrawTitle, AnEmptyTextDrawsNothing) {
    Canvas drawn;
    DrawTitle(drawn.dc, 20, 4, "");
    for (int y = 0; y < CanvasHeight; ++y)
        for (int x = 0; x < CanvasWidth; ++x) ASSERT_EQ(drawn.At(x, y), Background) << x << "," << y;
}

class BackdropWindow : public ::testing::Test {
protected:
    void TearDown() override {
        if (window) DestroyWindow(window);
        Pump(50);  // drops the quit message that its destruction posts
    }
    HWND window = nullptr;
};

// The class, the window and the shared objects as their creation asked for them.
TEST_F(BackdropWindow, ClassWindowAndPaletteAsDesigned) {
    std::memset(installState.header.programName, 0, sizeof installState.header.programName);
    CreationLog log;
    window = CreateBackdropWindow(GetModuleHandleA(nullptr));
    ASSERT_NE(window, nullptr);

    WNDCLASSA windowClass = {};
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "Test", &windowClass));
    EXPECT_EQ(windowClass.style, UINT(CS_VREDRAW | CS_HREDRAW | CS_BYTEALIGNCLIENT | CS_BYTEALIGNWINDOW));
    EXPECT_EQ(windowClass.hbrBackground, GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(windowClass.hIcon, LoadIconA(nullptr, IDI_APPLICATION));
    EXPECT_EQ(windowClass.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, 0);
    EXPECT_EQ(windowClass.lpszMenuName, nullptr);

    const std::vector<Creation> created = log.Of("Test");
    ASSERT_EQ(created.size(), 1u);
    const Creation& c = created[0];
    EXPECT_EQ(c.window, window);
    EXPECT_EQ(c.title, "Test");
    EXPECT_EQ(c.style, DWORD(WS_POPUP | WS_MAXIMIZE));
    EXPECT_EQ(c.exStyle, 0u);
    EXPECT_EQ(c.x, 0);
    EXPECT_EQ(c.y, 0);
    EXPECT_EQ(c.width, 320);
    EXPECT_EQ(c.height, 200);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(IsZoomed(window)) << "created maximized";

    WORD entries = 0;
    ASSERT_EQ(GetObjectA(installState.palette, sizeof entries, &entries), int(sizeof entries));
    EXPECT_EQ(entries, 254) << "254 entries, not 256";
    PALETTEENTRY palette[256] = {};
    ASSERT_EQ(GetPaletteEntries(installState.palette, 0, 256, palette), 254u);
    for (int i = 0; i < 254; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(palette[i].peRed, 0);
        EXPECT_EQ(palette[i].peGreen, 0);
        EXPECT_EQ(palette[i].peBlue, i);
        EXPECT_EQ(palette[i].peFlags, 0);
    }

    LOGBRUSH bar = {};
    ASSERT_TRUE(GetObjectA(installState.barBrush, sizeof bar, &bar));
    EXPECT_EQ(bar.lbStyle, UINT(BS_SOLID));
    EXPECT_EQ(bar.lbColor, RGB(0, 0, 128));
    EXPECT_EQ(installState.blackPen, GetStockObject(BLACK_PEN));
    EXPECT_EQ(installState.whitePen, GetStockObject(WHITE_PEN));
    LOGPEN gray = {};
    ASSERT_TRUE(GetObjectA(installState.grayPen, sizeof gray, &gray));
    EXPECT_EQ(gray.lopnStyle, UINT(PS_SOLID));
    EXPECT_EQ(gray.lopnWidth.x, 1);
    EXPECT_EQ(gray.lopnColor, RGB(128, 128, 128));
}

}  // namespace
