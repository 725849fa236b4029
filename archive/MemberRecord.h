#pragma once

#include <cstdint>

// One archived file as the record before its bit stream describes it.
struct MemberRecord {
    char name[256];         // the stored bytes, NUL-terminated; longer names are cut (nameTooLong)
    int nameLength;         // bytes stored before the terminator, even when cut
    bool nameTooLong;
    uint32_t size;          // the decoded length the packer recorded; only the progress uses it
    uint64_t creationTime;
    uint64_t lastAccessTime;
    uint64_t lastWriteTime;
};

// Bytes of a record after its name: size and three FILETIMEs.
constexpr int MemberFieldsSize = 4 + 3 * 8;

// Stored member names end with 0x00; 0xFF in any place but the first ends the archive.
constexpr unsigned char NameTerminator = 0x00;
constexpr unsigned char ArchiveEndMark = 0xFF;
