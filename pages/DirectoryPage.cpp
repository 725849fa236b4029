#include "DirectoryPage.h"

#include <windows.h>

#include "CreatePathDirectories.h"
#include "DirectoryText.h"
#include "InstallState.h"
#include "PageConvention.h"
#include "Pages.h"
#include "Texts.h"
#include "Win32Host.h"
#include "resource.h"

bool TestWritable(const char* directory) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[8] = "TEST";
        if (attempt > 0) wsprintfA(name, "TEST%i", attempt);
        char probe[256];
        if (!BuildProbePath(directory, name, probe, sizeof probe)) return false;
        const HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            DeleteFileA(probe);
            return true;
        }
        // A name that is taken, by a file or a directory, moves the probe on to the next name;
        // any other failure means the directory cannot be written.
        if (GetFileAttributesA(probe) == INVALID_FILE_ATTRIBUTES) return false;
    }
    return false;
}

namespace {

void OnInit(HWND page) {
    ApplyPageConvention(page, true);
    ProposeInstallDir(installState.installDir[0], installState.header.defaultDir, installState.installDir);
    const HWND edit = GetDlgItem(page, IDC_INSTALL_DIR);
    SetWindowTextA(edit, installState.installDir);
    SetFocus(edit);
}

void OnOk(HWND page) {
    // At most 255 characters; a longer text is cut.
    GetDlgItemTextA(page, IDC_INSTALL_DIR, installState.installDir, sizeof installState.installDir);
    CreatePathDirectories(installState.installDir, installHost);
    if (TestWritable(installState.installDir)) {
        EndDialog(page, 1);
        return;
    }
    MessageBoxA(page, LoadText(IDS_CANNOT_CREATE_DIR), installState.header.caption, MB_OK);
}

}  // namespace

INT_PTR CALLBACK DirectoryPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInit(page);
        return FALSE;  // the page has set the focus itself, on the edit control
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOk(page);
            return TRUE;
        case IDCANCEL:
            CancelPage(page);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
