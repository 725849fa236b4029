#include "IntegrityTable.h"

#include <cstring>

#include "Crc32.h"
#include "MemberRecord.h"

namespace {

constexpr char Magic[4] = {'G', 'L', 'I', 'T'};
constexpr size_t TableCrcOffset = 16;

uint32_t Get32(const uint8_t* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

void Put32(uint8_t* b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t TableCrc(const uint8_t* bytes, size_t size) {
    const uint32_t head = Crc32(0, bytes, TableCrcOffset);
    return Crc32(head, bytes + IntegrityFixedSize, size - IntegrityFixedSize);
}

}  // namespace

IntegrityParse ParseIntegrityTable(const uint8_t* bytes, size_t size, IntegrityTable* table) {
    if (size < IntegrityFixedSize || std::memcmp(bytes, Magic, sizeof Magic) != 0)
        return IntegrityParse::Absent;
    const uint16_t version = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
    const uint16_t entrySize = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
    const uint32_t count = Get32(bytes + 8);
    // Size first: a count that does not fit the resource is never used to allocate.
    if (version != IntegrityVersion || entrySize != IntegrityEntrySize ||
        (size - IntegrityFixedSize) / IntegrityEntrySize != count ||
        (size - IntegrityFixedSize) % IntegrityEntrySize != 0 ||
        Get32(bytes + TableCrcOffset) != TableCrc(bytes, size))
        return IntegrityParse::Malformed;
    table->headerCrc = Get32(bytes + 12);
    table->entries.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = bytes + IntegrityFixedSize + size_t(i) * IntegrityEntrySize;
        IntegrityEntry& entry = table->entries[i];
        entry.recordCrc = Get32(e);
        entry.dataCrc = Get32(e + 4);
        entry.size = Get32(e + 8);
        entry.recordOffset = uint64_t(Get32(e + 12)) | uint64_t(Get32(e + 16)) << 32;
    }
    return IntegrityParse::Valid;
}

uint32_t MemberRecordCrc(const MemberRecord& record) {
    uint8_t bytes[1 + MemberFieldsSize] = {NameTerminator};
    Put32(bytes + 1, record.size);
    const uint64_t times[3] = {record.creationTime, record.lastAccessTime, record.lastWriteTime};
    for (int i = 0; i < 3; ++i) {
        Put32(bytes + 5 + 8 * i, static_cast<uint32_t>(times[i]));
        Put32(bytes + 9 + 8 * i, static_cast<uint32_t>(times[i] >> 32));
    }
    const uint32_t crc = Crc32(0, record.name, static_cast<size_t>(record.nameLength));
    return Crc32(crc, bytes, sizeof bytes);
}

std::vector<uint8_t> SerializeIntegrityTable(const IntegrityTable& table) {
    std::vector<uint8_t> bytes(IntegrityTableSize(table.entries.size()));
    std::memcpy(bytes.data(), Magic, sizeof Magic);
    bytes[4] = static_cast<uint8_t>(IntegrityVersion);
    bytes[5] = static_cast<uint8_t>(IntegrityVersion >> 8);
    bytes[6] = static_cast<uint8_t>(IntegrityEntrySize);
    bytes[7] = 0;
    Put32(&bytes[8], static_cast<uint32_t>(table.entries.size()));
    Put32(&bytes[12], table.headerCrc);
    for (size_t i = 0; i < table.entries.size(); ++i) {
        uint8_t* e = &bytes[IntegrityFixedSize + i * IntegrityEntrySize];
        const IntegrityEntry& entry = table.entries[i];
        Put32(e, entry.recordCrc);
        Put32(e + 4, entry.dataCrc);
        Put32(e + 8, entry.size);
        Put32(e + 12, static_cast<uint32_t>(entry.recordOffset));
        Put32(e + 16, static_cast<uint32_t>(entry.recordOffset >> 32));
    }
    Put32(&bytes[TableCrcOffset], TableCrc(bytes.data(), bytes.size()));
    return bytes;
}
