#include "PackPlatform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstring>

namespace {

std::string ToUtf8(const wchar_t* text) {
    const int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 1) return std::string();
    std::string utf8(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], count, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(count - 1));
    return utf8;
}

std::string SystemMessage(DWORD code) {
    char text[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    if (length == 0) return "system error " + std::to_string(code);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    return message;
}

uint64_t ToUint64(const FILETIME& time) {
    return uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

}  // namespace

// argv holds the command line in the ANSI code page, which loses characters; the wide command
// line has them all.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

const bool PlatformKeepsCreationTime = true;

bool DefaultStubPath(std::filesystem::path* stub) {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    *stub = std::filesystem::path(self).parent_path() / "SETUP.EXE";
    return true;
}

bool ReadSourceFacts(const std::filesystem::path& path, SourceFacts* facts, std::string* error) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        *error = SystemMessage(GetLastError());
        return false;
    }
    facts->size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    facts->creationTime = ToUint64(data.ftCreationTime);
    facts->lastAccessTime = ToUint64(data.ftLastAccessTime);
    facts->lastWriteTime = ToUint64(data.ftLastWriteTime);
    return true;
}

bool IsLink(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The handle of a directory opens only with FILE_FLAG_BACKUP_SEMANTICS; opening follows every
// link and junction, and the system then names the final path.
bool ResolvePath(const std::filesystem::path& path, std::filesystem::path* resolved,
                 std::string* error) {
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                      FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = SystemMessage(GetLastError());
        return false;
    }
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, &name[0], static_cast<DWORD>(name.size()), 0);
    if (length >= name.size()) {
        name.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, &name[0], static_cast<DWORD>(name.size()), 0);
    }
    const DWORD failure = GetLastError();
    CloseHandle(handle);
    if (length == 0 || length >= name.size()) {
        *error = SystemMessage(failure);
        return false;
    }
    name.resize(length);
    *resolved = std::filesystem::path(name);
    return true;
}

// Windows has no way to read without touching the last-access time that every system honours
// (Wine, for one, ignores SetFileTime's "leave it" value), so the time read at the open is put
// back at the close, through the same handle.
bool SourceReader::Open(const std::filesystem::path& path, std::string* error) {
    Close();
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, share, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    restoreAccessTime = handle != INVALID_HANDLE_VALUE;
    if (!restoreAccessTime)
        handle = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = SystemMessage(GetLastError());
        return false;
    }
    FILETIME accessed;
    if (restoreAccessTime && GetFileTime(handle, nullptr, &accessed, nullptr))
        lastAccessTime = ToUint64(accessed);
    else
        restoreAccessTime = false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    file = fd < 0 ? nullptr : _fdopen(fd, "rb");
    if (!file) {
        *error = "cannot open a stream on the file";
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(handle);
        return false;
    }
    return true;
}

void SourceReader::Close() {
    if (!file) return;
    if (restoreAccessTime) {
        const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
        FILETIME accessed;
        accessed.dwLowDateTime = static_cast<DWORD>(lastAccessTime);
        accessed.dwHighDateTime = static_cast<DWORD>(lastAccessTime >> 32);
        SetFileTime(handle, nullptr, &accessed, nullptr);
    }
    std::fclose(file);
    file = nullptr;
    restoreAccessTime = false;
}
