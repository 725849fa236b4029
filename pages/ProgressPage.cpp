#include "ProgressPage.h"

#include "Geometry.h"
#include "InstallState.h"
#include "InstallWorker.h"
#include "PageConvention.h"
#include "Pages.h"
#include "Texts.h"
#include "Win32Host.h"
#include "resource.h"

namespace {

constexpr UINT_PTR TickTimer = 1;
constexpr UINT TickMs = 1000;
constexpr SIZE_T WorkerStackSize = 0xFFFF;

// Nested quit questions: the question has no owner, so Cancel can be pressed again while one is
// up. The worker stays paused until every question asked has been answered.
int questionsOpen = 0;
bool ended = false;

// Marks the page ended before the worker is stopped: the stop dispatches messages, and no tick or
// Cancel that arrives meanwhile may act again. The dialog closes once the handler has returned.
void End(HWND page, INT_PTR result) {
    if (ended) return;
    ended = true;
    EnableWindow(GetDlgItem(page, IDCANCEL), FALSE);
    EndDialog(page, result);
}

// The worker writes nothing more after this, and a box it shows closes.
void StopWorker() {
    if (installState.workerThread) installHost.StopAndWait(installState.workerThread, WorkerStopTimeoutMs);
}

void OnInit(HWND page) {
    installState.activeWindow = page;
    installState.statusText.SetFirst('\0');
    ApplyPageConvention(page, true);
    ShowWindow(GetDlgItem(page, IDC_BAR_PLACEHOLDER), SW_HIDE);
    questionsOpen = 0;
    ended = false;
    SetTimer(page, TickTimer, TickMs, nullptr);
    DWORD threadId;
    installState.workerThread = CreateThread(nullptr, WorkerStackSize, InstallWorker, nullptr, 0, &threadId);
}

void OnTick(HWND page) {
    if (ended) return;
    // Without a worker nothing would ever end the page.
    if (installState.cancelRequested.load() || !installState.workerThread) {
        End(page, 0);
        StopWorker();
        return;
    }
    InvalidateRect(page, nullptr, FALSE);
    // While a question is up the answer decides: a Yes ends the page with 0 even when the
    // worker has finished, and after a No the next tick sees the end. The status line is kept
    // up to date meanwhile, as on every tick.
    if (installState.statusText.First() == '*') {
        if (questionsOpen == 0) End(page, 1);
        return;
    }
    char status[256];
    installState.statusText.Load(status);
    SetDlgItemTextA(page, IDC_STATUS_LINE, status);
}

void OnCancel(HWND page) {
    if (ended) return;
    if (questionsOpen++ == 0) installHost.Pause();
    const bool quit = ConfirmQuit();
    --questionsOpen;
    if (ended) return;  // a tick ended the page while the question was up
    if (quit) {
        End(page, 0);
        StopWorker();
    } else if (questionsOpen == 0) {
        installHost.Resume();
    }
}

void OnPaint(HWND page) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(page, &paint);
    const RECT frame = ControlClientRect(page, IDC_BAR_PLACEHOLDER);
    DrawSunkenFrame(dc, frame);

    const BarGeometry bar = ProgressBarGeometry({frame.left, frame.top, frame.right, frame.bottom},
                                                installState.progressFraction.Load());
    const RECT done = {bar.inner.left, bar.inner.top, bar.split, bar.inner.bottom};
    const RECT rest = {bar.split, bar.inner.top, bar.inner.right, bar.inner.bottom};
    FillRect(dc, &done, installState.barBrush);
    FillRect(dc, &rest, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    EndPaint(page, &paint);
}

}  // namespace

void DrawSunkenFrame(HDC dc, const RECT& rect) {
    const int l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
    SelectObject(dc, installState.whitePen);
    MoveToEx(dc, r, t, nullptr);
    LineTo(dc, r, b);
    LineTo(dc, l, b);
    SelectObject(dc, installState.grayPen);
    LineTo(dc, l, t);
    LineTo(dc, r, t);
    SelectObject(dc, installState.blackPen);
    MoveToEx(dc, l + 1, b - 1, nullptr);
    LineTo(dc, l + 1, t + 1);
    LineTo(dc, r - 1, t + 1);
}

INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInit(page);
        return TRUE;  // the focus goes to Cancel
    case WM_PAINT:
        OnPaint(page);
        return FALSE;
    case WM_TIMER:
        OnTick(page);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) OnCancel(page);
        return FALSE;
    }
    return FALSE;
}
