#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What an installer carries beside its archive to prove it intact: a resource of SETUP.EXE
// (type "INTEGRITY", id 106) that globpack fills in. The archive's own bytes are as they would be
// without it. Layout, all numbers little-endian:
//
//   0   4  magic "GLIT"
//   4   2  version, 1
//   6   2  entry size, 20
//   8   4  member count n
//  12   4  CRC-32 of the 388-byte header as stored
//  16   4  CRC-32 of the table: bytes 0 to 15, then 20 to the end
//  20  20n per member, in archive order:
//          0  4  CRC-32 of its record as stored: name, its 0x00, size and the three times
//          4  4  CRC-32 of its decoded bytes
//          8  4  its size
//         12  8  the stream offset of its record (the header's first byte is offset 0)
//
// A resource shorter than the fixed part, or one that does not begin with the magic, means the
// installer has no integrity data (globpack --no-integrity leaves the stub's placeholder).
constexpr uint16_t IntegrityResourceId = 106;
constexpr char IntegrityResourceType[] = "INTEGRITY";
constexpr size_t IntegrityFixedSize = 20;
constexpr size_t IntegrityEntrySize = 20;
constexpr uint16_t IntegrityVersion = 1;

struct IntegrityEntry {
    uint32_t recordCrc = 0;
    uint32_t dataCrc = 0;
    uint32_t size = 0;
    uint64_t recordOffset = 0;
};

struct IntegrityTable {
    uint32_t headerCrc = 0;
    std::vector<IntegrityEntry> entries;
};

enum class IntegrityParse {
    Absent,     // no integrity data: only the structure can be checked
    Valid,
    Malformed,  // it claims to be a table but is not a sound one: treated as damage
};

IntegrityParse ParseIntegrityTable(const uint8_t* bytes, size_t size, IntegrityTable* table);

struct MemberRecord;

// CRC-32 of a record as the archive stores it: name, its 0x00, size and the three times.
uint32_t MemberRecordCrc(const MemberRecord& record);

// The resource's bytes for table (its entries in archive order).
std::vector<uint8_t> SerializeIntegrityTable(const IntegrityTable& table);

// Size of the resource for count members.
constexpr size_t IntegrityTableSize(size_t count) { return IntegrityFixedSize + IntegrityEntrySize * count; }
