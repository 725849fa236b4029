#include "DrivePage.h"

#include <cstring>

#include "DriveSpace.h"
#include "InstallState.h"
#include "PageConvention.h"
#include "Pages.h"
#include "Texts.h"
#include "resource.h"

char* FormatSize(uint64_t size) {
    FormatSizeText(size, installState.sizeText, sizeof installState.sizeText);
    return installState.sizeText;
}

uint64_t DriveFreeSpace(char letter) {
    char root[8];
    wsprintfA(root, "%c:\\", letter);
    ULARGE_INTEGER available;
    ULARGE_INTEGER total;
    if (!GetDiskFreeSpaceExA(root, &available, &total, nullptr)) return 0;
    return available.QuadPart;
}

namespace {

void FillDriveList(HWND page) {
    const HWND list = GetDlgItem(page, IDC_DRIVE_LIST);
    const uint32_t totalSize = installState.header.totalSize;
    int position = 1;  // the next entry's, counted from 1
    int preselected = 0;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        char root[8];
        wsprintfA(root, "%c:\\", letter);
        const UINT type = GetDriveTypeA(root);
        char label[12] = {};
        GetVolumeInformationA(root, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0);
        label[sizeof label - 1] = '\0';
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_CDROM) continue;

        const uint64_t freeSpace = DriveFreeSpace(letter);
        char entry[64];
        wsprintfA(entry, "%c:\t%s\t%s", letter, label, FormatSize(freeSpace));
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
        if (preselected == 0 && QualifiesForPreselection(freeSpace, totalSize)) preselected = position;
        ++position;
    }
    // With no drive qualifying this asks for entry -1, which selects none.
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(preselected - 1), 0);
}

void OnInit(HWND page) {
    ApplyPageConvention(page, true);
    SetDlgItemTextA(page, IDC_PROGRAM_NAME, installState.header.programName);
    SetDlgItemTextA(page, IDC_SUBTITLE, installState.header.subtitle);
    char note[256];
    wsprintfA(note, LoadText(IDS_SPACE_NEEDED), FormatSize(installState.header.totalSize));
    SetDlgItemTextA(page, IDC_SPACE_NOTE, note);
    FillDriveList(page);
}

// The chosen drive is measured afresh at every OK.
void OnOk(HWND page) {
    const HWND list = GetDlgItem(page, IDC_DRIVE_LIST);
    const LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
    char entry[64] = {};
    if (selected != LB_ERR && SendMessageA(list, LB_GETTEXTLEN, selected, 0) < LRESULT{sizeof entry})
        SendMessageA(list, LB_GETTEXT, selected, reinterpret_cast<LPARAM>(entry));
    const char letter = entry[0];
    if (letter == '\0' || !HasRoom(DriveFreeSpace(letter), installState.header.totalSize)) {
        MessageBoxA(page, LoadText(IDS_NOT_ENOUGH_SPACE), installState.header.caption, MB_OK);
        return;
    }
    installState.installDir[0] = letter;
    EndDialog(page, 1);
}

}  // namespace

INT_PTR CALLBACK DrivePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInit(page);
        return TRUE;  // the focus goes to the first tab stop, OK
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
