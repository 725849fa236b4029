#include "Win32Host.h"

#include "InstallState.h"
#include "Texts.h"

namespace {

// A prompt answers Cancel and a question No; the worker then sees the stop at its next check.
BOOL CALLBACK DismissBox(HWND window, LPARAM) {
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(window, WM_COMMAND, IDNO, 0);
    return TRUE;
}

}  // namespace

Win32Host::Win32Host()
    : running(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      stopping(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

Win32Host::~Win32Host() {
    CloseHandle(running);
    CloseHandle(stopping);
}

void Win32Host::Beep() { MessageBeep(MB_ICONEXCLAMATION); }

bool Win32Host::AskForDisk(int diskNumber, const char*) {
    if (stopRequested.load()) return false;
    workerThreadId.store(GetCurrentThreadId());
    char text[64];
    wsprintfA(text, "Please insert disk number %i", diskNumber);
    return MessageBoxA(installState.activeWindow, text, "Disk Needed", MB_OKCANCEL) == IDOK;
}

void Win32Host::ShowReadError() {
    if (stopRequested.load()) return;
    workerThreadId.store(GetCurrentThreadId());
    MessageBoxA(installState.activeWindow,
                "An error has occured while trying to read the install disk.  This disk may be defective.",
                "Disk Error", MB_OK);
}

bool Win32Host::ConfirmQuit() {
    // A stopped worker asks nothing more.
    if (stopRequested.load()) return false;
    workerThreadId.store(GetCurrentThreadId());
    return ::ConfirmQuit();
}

void Win32Host::RequestCancel() { installState.cancelRequested.store(1); }

bool Win32Host::ShouldStop() {
    if (WaitForSingleObject(running, 0) != WAIT_OBJECT_0 && !stopRequested.load()) {
        parked.store(true);
        const HANDLE either[2] = {stopping, running};
        WaitForMultipleObjects(2, either, FALSE, INFINITE);
        parked.store(false);
    }
    return stopRequested.load();
}

void Win32Host::Pause() { ResetEvent(running); }

void Win32Host::Resume() { SetEvent(running); }

void Win32Host::CloseWorkerBoxes() const {
    const DWORD thread = workerThreadId.load();
    if (thread == 0) return;
    EnumThreadWindows(thread, DismissBox, 0);
}

bool Win32Host::StopAndWait(HANDLE workerThread, DWORD timeoutMs) {
    stopRequested.store(true);
    SetEvent(stopping);
    const DWORD start = GetTickCount();
    for (;;) {
        CloseWorkerBoxes();
        const DWORD waited = GetTickCount() - start;
        if (waited >= timeoutMs) return WaitForSingleObject(workerThread, 0) == WAIT_OBJECT_0;
        const DWORD slice = timeoutMs - waited < 50 ? timeoutMs - waited : 50;
        const DWORD result = MsgWaitForMultipleObjects(1, &workerThread, FALSE, slice, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) return true;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

Win32Host installHost;
