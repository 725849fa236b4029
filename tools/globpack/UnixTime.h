#pragma once

#include <cstdint>

// 100 ns intervals from 1601-01-01 to 1970-01-01 (both UTC).
constexpr int64_t UnixEpochAsFileTime = 116444736000000000LL;

// A POSIX time as a FILETIME; times before 1601 become 0.
inline uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
    constexpr int64_t kSecondsBefore1970 = UnixEpochAsFileTime / 10000000;
    if (seconds < -kSecondsBefore1970) return 0;
    if (seconds > (INT64_MAX / 10000000) - kSecondsBefore1970) return UINT64_MAX;
    const int64_t ticks = (seconds + kSecondsBefore1970) * 10000000 + nanoseconds / 100;
    return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}
