#include "CodePage.h"

#include <windows.h>

#include <climits>

namespace {

bool ToWide(const std::string& text, UINT codePage, std::wstring* wide) {
    wide->clear();
    if (text.empty()) return true;
    if (text.size() > INT_MAX / 2) return false;
    const int length = static_cast<int>(text.size());
    const int count =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (count <= 0) return false;
    wide->resize(static_cast<size_t>(count));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, &(*wide)[0],
                               count) == count;
}

// usedDefault is only meaningful (and only allowed) for code pages other than UTF-8.
bool FromWide(const std::wstring& wide, UINT codePage, std::string* text) {
    text->clear();
    if (wide.empty()) return true;
    const int length = static_cast<int>(wide.size());
    const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultPointer = codePage == CP_UTF8 ? nullptr : &usedDefault;
    const int count = WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, nullptr,
                                          usedDefaultPointer);
    if (count <= 0 || usedDefault) return false;
    text->resize(static_cast<size_t>(count));
    return WideCharToMultiByte(codePage, flags, wide.data(), length, &(*text)[0], count, nullptr,
                               usedDefaultPointer) == count &&
           !usedDefault;
}

// Windows maps the bytes a code page leaves undefined to the C1 controls U+0080 to U+009F; iconv
// refuses them. Refusing them here too keeps both builds to one answer.
bool HasC1Control(const std::wstring& wide) {
    for (wchar_t c : wide)
        if (c >= 0x80 && c <= 0x9F) return true;
    return false;
}

}  // namespace

bool CodePageAvailable(int codePage) { return IsValidCodePage(static_cast<UINT>(codePage)) != 0; }

bool ToCodePage(const std::string& utf8, int codePage, std::string* bytes) {
    std::wstring wide;
    return ToWide(utf8, CP_UTF8, &wide) && !HasC1Control(wide) &&
           FromWide(wide, static_cast<UINT>(codePage), bytes);
}

bool FromCodePage(const std::string& bytes, int codePage, std::string* utf8) {
    std::wstring wide;
    return ToWide(bytes, static_cast<UINT>(codePage), &wide) && !HasC1Control(wide) &&
           FromWide(wide, CP_UTF8, utf8);
}
