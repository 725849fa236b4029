#include "Texts.h"

#include <windows.h>

#include <cstdio>

#include "InstallState.h"
#include "resource.h"

char* LoadText(int id) {
    char* const text = installState.textBuffer;
    if (LoadStringA(installState.instance, static_cast<UINT>(id), text, sizeof installState.textBuffer) <= 0)
        text[0] = '\0';
    return text;
}

bool ConfirmQuit() {
    // String 1 is loaded here rather than through LoadText: the worker asks this question while
    // the progress page may be asking it too, and textBuffer belongs to the main thread.
    char format[256];
    if (LoadStringA(installState.instance, IDS_QUIT_QUESTION, format, sizeof format) <= 0)
        format[0] = '\0';
    // snprintf, not wsprintfA, since the latter knows no buffer size; both treat %s alike.
    char question[256];
    std::snprintf(question, sizeof question, format, installState.header.programName);
    return MessageBoxA(nullptr, question, installState.header.caption, MB_YESNO) == IDYES;
}
