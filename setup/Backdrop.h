#pragma once

#include <windows.h>

// The installer's full-screen backdrop: a borderless popup of class "Test", created maximized, that
// paints a vertical gradient of blue bands with programName in large white letters over a black
// shadow. Its creation stores backdropWindow, opens the Program Manager conversation, clears
// cancelRequested and creates the shared pens, the bar brush and the palette, none of which is
// ever deleted. It is the DDE client window: WM_DDE_ACK goes to the registration code.
HWND CreateBackdropWindow(HINSTANCE instance);

LRESULT CALLBACK BackdropWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// text with its top-left corner at (x, y) in white Arial 50, over a black copy 5 pixels further
// right and down. Leaves the background mode transparent and the text colour white.
void DrawTitle(HDC dc, int x, int y, const char* text);

void CreatePens();
