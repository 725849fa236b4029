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

namespace {

bool Failed(FileError* error) {
    if (!error) return false;
    switch (GetLastError()) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: *error = FileError::Exists; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION: *error = FileError::AccessDenied; break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DIRECTORY: *error = FileError::NotDirectory; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: *error = FileError::NoSpace; break;
    default: *error = FileError::Other; break;
    }
    return false;
}

}  // namespace

PathKind QueryPath(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::Other;
    return PathKind::File;
}

FileHandle CreateNewFile(const char* path, FileError* error) {
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Failed(error);
        return NoFile;
    }
    return reinterpret_cast<FileHandle>(file);
}

bool WriteToFile(FileHandle file, const void* bytes, size_t count, FileError* error) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
        DWORD written = 0;
        const DWORD chunk = count > 0x10000000 ? 0x10000000 : static_cast<DWORD>(count);
        if (!::WriteFile(reinterpret_cast<HANDLE>(file), p, chunk, &written, nullptr)) return Failed(error);
        if (written == 0) {
            if (error) *error = FileError::NoSpace;
            return false;
        }
        p += written;
        count -= written;
    }
    return true;
}

bool CloseOutputFile(FileHandle file, FileError* error) {
    return CloseHandle(reinterpret_cast<HANDLE>(file)) != 0 || Failed(error);
}

bool MoveOverFile(const char* from, const char* to, FileError* error) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
    // Systems without MoveFileEx: the old file goes first, then the new one takes its name.
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return Failed(error);
    if (QueryPath(to) == PathKind::File && !DeleteFileA(to)) return Failed(error);
    return MoveFileA(from, to) != 0 || Failed(error);
}

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

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
