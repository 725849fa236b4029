#pragma once

#include <cstdint>
#include <cstdio>

// Where the trailer of volume 0 lies.
//
// An installer signed after packing (Authenticode) ends with a certificate table: the PE
// security directory (data directory 4) holds the table's file offset (not an RVA) and size, the
// table starts on a multiple of 8, and the signing tool has put the zero bytes the alignment
// needed, 0 to 7 of them, between the trailer and the table. The trailer is then taken from in
// front of the table when all of this holds:
//
// - volume 0 is a PE image ("MZ", e_lfanew at 0x3C pointing at "PE\0\0", optional header magic
//   0x10B or 0x20B) with at least five data directories;
// - the security directory's size is not 0, its offset is a multiple of 8, the table ends exactly
//   at the end of the file, and its first entry's length (dwLength) lies within it;
// - for the fewest padding bytes p (0 to 7) that gives a plausible trailer: the p bytes in front
//   of the table are zero, and the four bytes in front of them hold an offset S that lies behind
//   the image (its headers and every section's raw data end before S - 1) and not behind the
//   trailer itself, with the byte 0xFF at S - 1.
//
// In every other case (no PE image, no signature, a security directory that is malformed or
// points elsewhere than the end of the file, no plausible trailer) the trailer is the last four
// bytes, as in an unsigned installer: an unsigned installer is read exactly as before.
struct TrailerPlace {
    int64_t offset = -1;          // file offset of the trailer's first byte; -1: file too short
    int64_t certificateSize = 0;  // bytes of the certificate table behind it; 0: not signed
};

// fileSize is the length of file. The file's position is left anywhere.
TrailerPlace FindTrailer(std::FILE* file, int64_t fileSize);
