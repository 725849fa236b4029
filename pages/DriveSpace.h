#pragma once

#include <cstdint>
#include <cstdio>

// What the drive page asks of a drive, kept free of the platform so that it can be tested
// anywhere. Free space is measured in 64 bits: a drive with 4 GiB or more free must not wrap
// around to a few bytes and be refused.

// Headroom a drive must offer beyond the archive's totalSize.
constexpr uint32_t SpaceMargin = 204800;

// The short size text: "%i bytes" below 1024, "%i K" below 1048576, "%i MEG" from there on, each
// number truncated. Sizes beyond 32 bits go on in MEG ("8192 MEG" for 8 GiB).
inline void FormatSizeText(uint64_t size, char* text, size_t capacity) {
    if (size < 1024)
        std::snprintf(text, capacity, "%u bytes", static_cast<unsigned>(size));
    else if (size < 1048576)
        std::snprintf(text, capacity, "%u K", static_cast<unsigned>(size >> 10));
    else
        std::snprintf(text, capacity, "%llu MEG", static_cast<unsigned long long>(size >> 20));
}

inline uint64_t RequiredSpace(uint32_t totalSize) {
    return uint64_t{totalSize} + SpaceMargin;
}

// A drive is preselected only with strictly more than the requirement...
inline bool QualifiesForPreselection(uint64_t freeSpace, uint32_t totalSize) {
    return freeSpace > RequiredSpace(totalSize);
}

// ...but accepted at OK with exactly the requirement.
inline bool HasRoom(uint64_t freeSpace, uint32_t totalSize) {
    return freeSpace >= RequiredSpace(totalSize);
}
