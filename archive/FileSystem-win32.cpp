#include "FileSystem.h"

#include <windows.h>

namespace {

FILETIME ToFiletime(uint64_t value) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(value);
    t.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return t;
}

}  // namespace

std::FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

bool MakeDirectory(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }

bool ReadLastWriteTime(const char* path, uint64_t* lastWriteTime) {
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME written;
    const bool ok = GetFileTime(file, nullptr, nullptr, &written) != 0;
    CloseHandle(file);
    if (ok) *lastWriteTime = uint64_t(written.dwHighDateTime) << 32 | written.dwLowDateTime;
    return ok;
}

bool SetFileTimes(const char* path, uint64_t creationTime, uint64_t lastAccessTime,
                  uint64_t lastWriteTime) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const FILETIME created = ToFiletime(creationTime);
    const FILETIME accessed = ToFiletime(lastAccessTime);
    const FILETIME written = ToFiletime(lastWriteTime);
    const bool ok = SetFileTime(file, &created, &accessed, &written) != 0;
    CloseHandle(file);
    return ok;
}

int CompareFileTimes(uint64_t a, uint64_t b) {
    const FILETIME first = ToFiletime(a);
    const FILETIME second = ToFiletime(b);
    return static_cast<int>(CompareFileTime(&first, &second));
}

const char* NullDeviceName() { return "NUL"; }

void YieldThread() { SwitchToThread(); }
