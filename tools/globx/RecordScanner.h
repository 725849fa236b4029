#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ArchiveCursor;

// Finds places in an archive stream where a record may end and a member's bit stream begin,
// without decoding what lies before them. A record is a name, its NUL, a 4-byte size and three
// 8-byte FILETIMEs; coded data that happens to look like one is told apart only by decoding from
// there, so this is a filter, and a conservative one:
//
// - the three times each lie from 1970-01-01 up to (not including) 2200-01-01, where the times of
//   packed files lie but for odd ones (a file dated before 1970), and where coded data rarely
//   reaches: eight random bytes pass as one time about once in 250, as all three about once in
//   16 million (behind a NUL, itself one byte in 256);
// - some name of 1 to 255 bytes ends right before the NUL, holding no 0x00 or 0xFF, that
//   IsSafeMemberName accepts (which names may be ambiguous: a coded byte before the true name
//   can look like part of it; the bit stream behind them is the same either way);
// - the size is not judged: any is possible.
//
// A record that fails the filter (a time from before 1970, a damaged field) is only never found
// by scanning: ExtractAll decodes its member itself.

// The NUL at terminator, before it `before` readable bytes (at most 255 are looked at), behind it
// MemberFieldsSize readable bytes: true when they may be a record's end.
bool IsPlausibleRecordEnd(const unsigned char* terminator, size_t before);

// Scans the stream a cursor reads, forward. Offsets are stream offsets, as ArchiveCursor counts.
class RecordScanner {
public:
    explicit RecordScanner(ArchiveCursor& cursor) : cursor(cursor) {}

    // The offset of the first bit stream in [from, to) that a plausible record ends in front of
    // (the record wholly after the header), or -1 when there is none there or the data ends
    // first (then DataEnded()).
    int64_t Next(int64_t from, int64_t to);

    // The data ended (or failed, or was stopped) at DataEnd() during the last Next.
    bool DataEnded() const { return ended; }
    int64_t DataEnd() const { return windowStart + int64_t(window.size()); }

    // Bytes read from the stream so far, for the benchmark's figures.
    uint64_t BytesRead() const { return bytesRead; }

private:
    bool Fill();

    ArchiveCursor& cursor;
    std::vector<uint8_t> window;  // stream bytes from windowStart; the cursor stands after them
    int64_t windowStart = 0;
    bool positioned = false;
    bool ended = false;
    uint64_t bytesRead = 0;
};
