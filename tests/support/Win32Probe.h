#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What the Win32 unit tests need to watch the installer's own code talk to the system, in this
// process and without changing that code.

// The built SETUP.EXE loaded as data, once: the pages' templates, strings and agreement text come
// from it, so a page made from it is the page the installer shows. Null when it is missing.
HMODULE StubModule();

// Points this program's import of dll!name at replacement while it lives, so that calls the
// code under test makes through it can be recorded. Original() is the function it replaced, null
// when the program does not import that name.
class ImportPatch {
public:
    ImportPatch(const char* dll, const char* name, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    void* Original() const { return original; }

private:
    void** slot;
    void* original = nullptr;
};

// One MessageBoxA call as the code under test made it.
struct BoxCall {
    DWORD thread;
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    bool ownerEnabled;  // IsWindowEnabled(owner) while the box was up (true without an owner)
};

// Replaces this program's imports of MessageBoxA and MessageBeep while it lives. Every box is
// recorded and then shown for real, so that its owner is disabled as usual, and is closed again
// at once with `answer` (IDOK, IDCANCEL, IDYES, IDNO) from a timer on the calling thread. Beeps
// are only counted. One at a time.
class BoxRecorder {
public:
    explicit BoxRecorder(int answer = IDOK);
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<BoxCall> Calls() const;
    int Beeps() const;
    void SetAnswer(int answer);
};

// One window created on a thread while a CreationLog watched it, with what its creator asked for.
struct Creation {
    HWND window;
    std::string className;  // as given; an atom reads "#<number>"
    std::string title;
    DWORD style;
    DWORD exStyle;
    int x, y, width, height;
    HWND parent;
    UINT_PTR menuOrId;
};

// Records every window created on the calling thread while it lives (a CBT hook).
class CreationLog {
public:
    CreationLog();
    ~CreationLog();
    CreationLog(const CreationLog&) = delete;
    CreationLog& operator=(const CreationLog&) = delete;

    std::vector<Creation> Of(const char* className) const;  // without regard to case
};

// Dispatches this thread's messages for about milliseconds.
void Pump(DWORD milliseconds);
