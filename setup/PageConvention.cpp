#include "PageConvention.h"

#include "Geometry.h"
#include "InstallState.h"

void ApplyPageConvention(HWND page, bool setTitle) {
    installState.activeWindow = page;
    RECT window;
    GetWindowRect(page, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    MoveWindow(page, CentredOrigin(installState.clientRect.right, width),
               CentredOrigin(installState.clientRect.bottom, height), width, height, FALSE);
    if (setTitle) SetWindowTextA(page, installState.header.caption);
}
