#include "RecordScanner.h"

#include <algorithm>
#include <cstring>

#include "ArchiveCursor.h"
#include "Extract.h"
#include "MemberRecord.h"
#include "SetupHeader.h"

namespace {

constexpr size_t LongestName = 255;
// Bytes a record takes in front of its bit stream at most: a name, its NUL and the fields.
constexpr int64_t LongestRecord = int64_t(LongestName) + 1 + MemberFieldsSize;
constexpr size_t Chunk = size_t(1) << 16;

// FILETIMEs of 1970-01-01 and 2200-01-01 (100 ns intervals since 1601-01-01).
constexpr uint64_t EarliestTime = 116444736000000000ULL;
constexpr uint64_t LatestTime = 189025920000000000ULL;

uint64_t ReadU64(const unsigned char* b) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | b[i];
    return value;
}

bool PlausibleTime(const unsigned char* b) {
    const uint64_t time = ReadU64(b);
    return time >= EarliestTime && time < LatestTime;
}

}  // namespace

bool IsPlausibleRecordEnd(const unsigned char* terminator, size_t before) {
    if (terminator[0] != NameTerminator) return false;
    const unsigned char* fields = terminator + 1;
    if (!PlausibleTime(fields + 4) || !PlausibleTime(fields + 12) || !PlausibleTime(fields + 20)) return false;
    // The longest run of name bytes in front of the NUL; any of its tails may be the name.
    size_t run = 0;
    const size_t most = std::min(before, LongestName);
    while (run < most && terminator[-1 - int64_t(run)] != NameTerminator &&
           terminator[-1 - int64_t(run)] != ArchiveEndMark)
        ++run;
    char name[LongestName + 1];
    for (size_t length = run; length > 0; --length) {
        std::memcpy(name, terminator - length, length);
        name[length] = '\0';
        if (IsSafeMemberName(name)) return true;
    }
    return false;
}

bool RecordScanner::Fill() {
    if (ended) return false;
    // Keep what a record ending in the bytes to come may reach back to.
    if (window.size() > size_t(LongestRecord)) {
        const size_t drop = window.size() - size_t(LongestRecord);
        window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(drop));
        windowStart += int64_t(drop);
    }
    const size_t old = window.size();
    window.resize(old + Chunk);
    const size_t got = cursor.Read(window.data() + old, Chunk);
    window.resize(old + got);
    bytesRead += got;
    if (got < Chunk) ended = true;
    return got > 0;
}

int64_t RecordScanner::Next(int64_t from, int64_t to) {
    // The first bit stream lies behind the header and a record of at least a one-byte name.
    from = std::max<int64_t>(from, SetupHeaderSize + 1 + 1 + MemberFieldsSize);
    if (from >= to) return -1;
    const int64_t need = from - LongestRecord;
    if (!positioned || need < windowStart || need > DataEnd()) {
        window.clear();
        windowStart = need;
        ended = !cursor.MoveTo(need);
        positioned = true;
    } else if (need > windowStart) {
        window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(need - windowStart));
        windowStart = need;
    }
    int64_t next = from;  // the first bit stream offset not yet looked at
    for (;;) {
        // A bit stream at d needs the record's bytes up to d - 1 in the window. The window may
        // end before from: then nothing is looked at until it reaches there.
        const int64_t last = std::min(to, DataEnd() + 1);
        for (int64_t terminator = next - 1 - MemberFieldsSize; terminator + 1 + MemberFieldsSize < last;) {
            const unsigned char* base = window.data();
            const unsigned char* at = base + (terminator - windowStart);
            const size_t span = static_cast<size_t>(last - 1 - MemberFieldsSize - terminator);
            const void* found = std::memchr(at, NameTerminator, span);
            if (!found) break;
            terminator = windowStart + (static_cast<const unsigned char*>(found) - base);
            if (IsPlausibleRecordEnd(static_cast<const unsigned char*>(found), size_t(terminator - windowStart)))
                return terminator + 1 + MemberFieldsSize;
            ++terminator;
        }
        next = std::max(next, last);
        if (next >= to) return -1;
        if (!Fill()) return -1;
    }
}
