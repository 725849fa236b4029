#pragma once

#include <cstddef>
#include <cstring>

// The directory page's text handling, kept free of the platform so that it can be tested
// anywhere. Texts are NUL-terminated and live in 256-byte buffers.

// The proposal: defaultDir with its first character replaced by the chosen drive letter, so
// C:\APPS\TOOL becomes D:\APPS\TOOL on drive D. An empty default gives the bare letter.
inline void ProposeInstallDir(char driveLetter, const char* defaultDir, char (&installDir)[256]) {
    const size_t length = strnlen(defaultDir, 255);
    std::memcpy(installDir, defaultDir, length);
    installDir[length] = '\0';
    installDir[0] = driveLetter;
    if (length == 0) installDir[1] = '\0';
}

// directory, a backslash unless it already ends with one, and name, into path. False, with path
// empty, when that does not fit capacity bytes: the caller refuses such a directory.
inline bool BuildProbePath(const char* directory, const char* name, char* path, size_t capacity) {
    const size_t length = std::strlen(directory);
    const bool separator = length == 0 || directory[length - 1] != '\\';
    const size_t needed = length + (separator ? 1 : 0) + std::strlen(name) + 1;
    if (needed > capacity) {
        if (capacity > 0) path[0] = '\0';
        return false;
    }
    std::memcpy(path, directory, length);
    size_t at = length;
    if (separator) path[at++] = '\\';
    std::memcpy(path + at, name, std::strlen(name) + 1);
    return true;
}
