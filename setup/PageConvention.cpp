#include "PageConvention.h"

#include "Geometry.h"
#include "InstallState.h"
#include "Texts.h"

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

void CancelPage(HWND page) {
    if (ConfirmQuit()) EndDialog(page, 0);
}

RECT ControlClientRect(HWND page, int controlId) {
    RECT rect;
    GetWindowRect(GetDlgItem(page, controlId), &rect);
    POINT topLeft = {rect.left, rect.top};
    POINT bottomRight = {rect.right, rect.bottom};
    ScreenToClient(page, &topLeft);
    ScreenToClient(page, &bottomRight);
    return {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}
