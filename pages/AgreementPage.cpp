#include <vector>

#include "InstallState.h"
#include "PageConvention.h"
#include "Pages.h"
#include "resource.h"

namespace {

// The style of the text box: child, visible, border, vertical scroll bar, multiline, automatic
// vertical scrolling, read-only. No tab stop and no horizontal scrolling, so long lines wrap.
constexpr DWORD TextBoxStyle = 0x50A00844;
static_assert(TextBoxStyle == (WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE |
                               ES_AUTOVSCROLL | ES_READONLY),
              "the text box style");

HWND CreateTextBox(HWND page) {
    const RECT rect = ControlClientRect(page, IDC_TEXT_PLACEHOLDER);
    // No font is set: the box keeps the edit control's own rather than the dialog's.
    return CreateWindowExA(0, "edit", "", TextBoxStyle, rect.left, rect.top, rect.right - rect.left,
                           rect.bottom - rect.top, page, nullptr, installState.instance, nullptr);
}

// The text is exactly the resource's bytes, as many as its size says; it carries no terminator.
// A missing resource leaves the box empty.
void ShowAgreementText(HWND textBox) {
    const HRSRC resource = FindResourceA(installState.instance, MAKEINTRESOURCEA(IDR_AGREEMENT_TEXT), "txt");
    if (!resource) return;
    const HGLOBAL loaded = LoadResource(installState.instance, resource);
    const char* const bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes) return;
    const DWORD size = SizeofResource(installState.instance, resource);
    std::vector<char> text(bytes, bytes + size);
    text.push_back('\0');
    SetWindowTextA(textBox, text.data());
}

}  // namespace

INT_PTR CALLBACK AgreementPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyPageConvention(page, false);  // keeps "License Agreement"
        ShowAgreementText(CreateTextBox(page));
        return TRUE;  // the focus goes to the first tab stop, Agree
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(page, 1);
            return TRUE;
        case IDCANCEL:
            CancelPage(page);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
