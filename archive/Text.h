#pragma once

#include <cstddef>
#include <cstring>

// Copies source into a buffer of size bytes, cut to size - 1 characters, always terminated.
inline void CopyText(char* destination, size_t size, const char* source) {
    const size_t length = strnlen(source, size - 1);
    std::memcpy(destination, source, length);
    destination[length] = '\0';
}
