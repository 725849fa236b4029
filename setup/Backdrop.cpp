#include "Backdrop.h"

#include <cstdlib>
#include <cstring>

#include "Geometry.h"
#include "InstallState.h"
#include "Progman.h"

namespace {

constexpr char ClassName[] = "Test";
constexpr int PaletteEntries = 254;  // blue 0 to 253; not 256

void CreatePalette() {
    // LOGPALETTE holds one entry of its own.
    const size_t size = sizeof(LOGPALETTE) + (PaletteEntries - 1) * sizeof(PALETTEENTRY);
    LOGPALETTE* const description = static_cast<LOGPALETTE*>(std::calloc(1, size));
    if (!description) return;
    description->palVersion = 0x300;
    description->palNumEntries = PaletteEntries;
    for (int i = 0; i < PaletteEntries; ++i)
        description->palPalEntry[i] = {0, 0, static_cast<BYTE>(i), 0};
    installState.palette = CreatePalette(description);
    std::free(description);
}

void OnCreate(HWND window) {
    // First: the initiate names this window as the client.
    installState.backdropWindow = window;
    InitiateProgmanConversation();
    installState.cancelRequested.store(0);
    CreatePens();
    installState.barBrush = CreateSolidBrush(RGB(0, 0, 128));
    CreatePalette();
}

void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window, &paint);
    SelectPalette(dc, installState.palette, FALSE);
    RealizePalette(dc);

    const int height = installState.clientRect.bottom;
    const int width = installState.clientRect.right;
    const int band = BandHeight(height);
    for (int k = 0; k * band < height; ++k) {
        const RECT rect = {0, BandTop(k, band), width, BandBottom(k, band)};
        const HBRUSH brush = CreateSolidBrush(RGB(0, 0, BandBlue(k)));
        FillRect(dc, &rect, brush);
        DeleteObject(brush);
    }
    DrawTitle(dc, TitleX, TitleY, installState.header.programName);
    // The palette stays selected; nothing is restored.
    EndPaint(window, &paint);
}

}  // namespace

void CreatePens() {
    installState.blackPen = static_cast<HPEN>(GetStockObject(BLACK_PEN));
    installState.grayPen = CreatePen(PS_SOLID, 1, RGB(128, 128, 128));
    installState.whitePen = static_cast<HPEN>(GetStockObject(WHITE_PEN));
}

void DrawTitle(HDC dc, int x, int y, const char* text) {
    const HFONT font = CreateFontA(TitleCellHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_DONTCARE, "Arial");
    const HGDIOBJ previous = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    // The header field is 64 bytes and need not hold a terminator.
    const int length = static_cast<int>(strnlen(text, sizeof installState.header.programName));
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, x + ShadowOffset, y + ShadowOffset, text, length);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, x, y, text, length);
    SelectObject(dc, previous);
    DeleteObject(font);
}

LRESULT CALLBACK BackdropWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        break;
    case WM_SIZE:
        GetClientRect(window, &installState.clientRect);
        break;
    case WM_PAINT:
        OnPaint(window);
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        break;
    case WM_DDE_ACK:
        HandleDdeAck(wParam, lParam);
        break;
    }
    // Every message, handled or not, also takes the default path, whose result is returned.
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateBackdropWindow(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_BYTEALIGNCLIENT | CS_BYTEALIGNWINDOW;
    windowClass.lpfnWndProc = BackdropWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = ClassName;
    RegisterClassA(&windowClass);

    const HWND window = CreateWindowExA(0, ClassName, "Test", WS_POPUP | WS_MAXIMIZE, 0, 0, 320, 200,
                                        GetDesktopWindow(), nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOW);
    return window;
}
