#include "Win32Probe.h"

#include <cstring>

namespace {

// The import address table slot through which this program calls dll!name, or null.
void** ImportSlot(const char* dll, const char* name) {
    auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* const dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    const auto* const nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

void* Patch(void** slot, void* replacement) {
    DWORD old;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    void* const previous = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return previous;
}

using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using MessageBeepFunction = BOOL(WINAPI*)(UINT);

struct BoxState {
    CRITICAL_SECTION lock;
    std::vector<BoxCall> calls;
    int beeps = 0;
    volatile LONG answer = IDOK;
    void** boxSlot = nullptr;
    void** beepSlot = nullptr;
    MessageBoxFunction realBox = nullptr;
    MessageBeepFunction realBeep = nullptr;
};
BoxState* boxState = nullptr;

thread_local size_t pendingCall = 0;

struct BoxSearch {
    std::string text;
    HWND found = nullptr;
};

// The box is a visible dialog of the calling thread whose message text (static 0xFFFF) is the
// one asked for: a page on the same thread has an unnamed static of its own.
BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
    auto* const search = reinterpret_cast<BoxSearch*>(parameter);
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    const HWND message = GetDlgItem(window, 0xFFFF);
    if (std::strcmp(name, "#32770") != 0 || !IsWindowVisible(window) || !message) return TRUE;
    std::vector<char> text(search->text.size() + 2, '\0');
    GetWindowTextA(message, text.data(), static_cast<int>(text.size()));
    if (search->text != text.data()) return TRUE;
    search->found = window;
    return FALSE;
}

void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
    BoxSearch search;
    EnterCriticalSection(&boxState->lock);
    search.text = boxState->calls[pendingCall].text;
    LeaveCriticalSection(&boxState->lock);
    EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return;
    KillTimer(nullptr, timer);
    EnterCriticalSection(&boxState->lock);
    BoxCall& call = boxState->calls[pendingCall];
    call.ownerEnabled = call.owner ? IsWindowEnabled(call.owner) != FALSE : true;
    LeaveCriticalSection(&boxState->lock);
    PostMessageA(search.found, WM_COMMAND, static_cast<WPARAM>(boxState->answer), 0);
}

int WINAPI RecordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    EnterCriticalSection(&boxState->lock);
    pendingCall = boxState->calls.size();
    boxState->calls.push_back({GetCurrentThreadId(), owner, text ? text : "", caption ? caption : "",
                               type, true});
    LeaveCriticalSection(&boxState->lock);
    SetTimer(nullptr, 0, 20, AnswerBox);
    return boxState->realBox(owner, text, caption, type);
}

BOOL WINAPI CountingMessageBeep(UINT) {
    InterlockedIncrement(reinterpret_cast<volatile LONG*>(&boxState->beeps));
    return TRUE;
}

struct CreationState {
    HHOOK hook = nullptr;
    std::vector<Creation> windows;
};
CreationState* creationState = nullptr;

std::string NameOrAtom(LPCSTR name) {
    if (!name) return "";
    if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<UINT_PTR>(name));
    return name;
}

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* const create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        creationState->windows.push_back({reinterpret_cast<HWND>(wParam), NameOrAtom(create->lpszClass),
                                          NameOrAtom(create->lpszName), static_cast<DWORD>(create->style),
                                          create->dwExStyle, create->x, create->y, create->cx, create->cy,
                                          create->hwndParent, reinterpret_cast<UINT_PTR>(create->hMenu)});
    }
    return CallNextHookEx(creationState->hook, code, wParam, lParam);
}

}  // namespace

ImportPatch::ImportPatch(const char* dll, const char* name, void* replacement)
    : slot(ImportSlot(dll, name)) {
    if (slot) original = Patch(slot, replacement);
}

ImportPatch::~ImportPatch() {
    if (slot) Patch(slot, original);
}

HMODULE StubModule() {
    static const HMODULE stub = LoadLibraryExA(GLOB_TEST_STUB_FILE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return stub;
}

BoxRecorder::BoxRecorder(int answer) {
    boxState = new BoxState;
    InitializeCriticalSection(&boxState->lock);
    boxState->answer = answer;
    boxState->boxSlot = ImportSlot("user32.dll", "MessageBoxA");
    boxState->beepSlot = ImportSlot("user32.dll", "MessageBeep");
    if (boxState->boxSlot)
        boxState->realBox = reinterpret_cast<MessageBoxFunction>(
            Patch(boxState->boxSlot, reinterpret_cast<void*>(&RecordingMessageBox)));
    if (boxState->beepSlot)
        boxState->realBeep = reinterpret_cast<MessageBeepFunction>(
            Patch(boxState->beepSlot, reinterpret_cast<void*>(&CountingMessageBeep)));
}

BoxRecorder::~BoxRecorder() {
    if (boxState->boxSlot) Patch(boxState->boxSlot, reinterpret_cast<void*>(boxState->realBox));
    if (boxState->beepSlot) Patch(boxState->beepSlot, reinterpret_cast<void*>(boxState->realBeep));
    DeleteCriticalSection(&boxState->lock);
    delete boxState;
    boxState = nullptr;
}

std::vector<BoxCall> BoxRecorder::Calls() const {
    EnterCriticalSection(&boxState->lock);
    std::vector<BoxCall> calls = boxState->calls;
    LeaveCriticalSection(&boxState->lock);
    return calls;
}

int BoxRecorder::Beeps() const { return boxState->beeps; }

void BoxRecorder::SetAnswer(int answer) { boxState->answer = answer; }

CreationLog::CreationLog() {
    creationState = new CreationState;
    creationState->hook = SetWindowsHookExA(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
}

CreationLog::~CreationLog() {
    UnhookWindowsHookEx(creationState->hook);
    delete creationState;
    creationState = nullptr;
}

std::vector<Creation> CreationLog::Of(const char* className) const {
    std::vector<Creation> found;
    for (const Creation& c : creationState->windows)
        if (lstrcmpiA(c.className.c_str(), className) == 0) found.push_back(c);
    return found;
}

void Pump(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}
