#include "IntegrityTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Crc32.h"
#include "MemberRecord.h"

namespace {

TEST(Crc32, KnownValuesAndPiecewiseUpdates) {
    const struct {
        std::string text;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000},
        {"a", 0xE8B7BE43},
        {"123456789", 0xCBF43926},  // the check value of CRC-32
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Crc32(0, c.text.data(), c.text.size()), c.crc) << c.text;
        // Every split point, so that the eight-byte loop meets every alignment and tail.
        for (size_t split = 0; split <= c.text.size(); ++split) {
            const uint32_t head = Crc32(0, c.text.data(), split);
            EXPECT_EQ(Crc32(head, c.text.data() + split, c.text.size() - split), c.crc) << split;
        }
    }
}

IntegrityTable Sample(size_t count) {
    IntegrityTable table;
    table.headerCrc = 0xA1B2C3D4;
    for (size_t i = 0; i < count; ++i) {
        IntegrityEntry entry;
        entry.recordCrc = 0x11111111u * uint32_t(i + 1);
        entry.dataCrc = ~entry.recordCrc;
        entry.size = uint32_t(1000 * i);
        entry.recordOffset = 0x100000000ULL * i + 388;
        table.entries.push_back(entry);
    }
    return table;
}

TEST(IntegrityTable, RoundTripsAndRefusesWhatIsNoTable) {
    const IntegrityTable table = Sample(3);
    const std::vector<uint8_t> bytes = SerializeIntegrityTable(table);
    ASSERT_EQ(bytes.size(), IntegrityTableSize(3));
    IntegrityTable parsed;
    ASSERT_EQ(ParseIntegrityTable(bytes.data(), bytes.size(), &parsed), IntegrityParse::Valid);
    EXPECT_EQ(parsed.headerCrc, table.headerCrc);
    ASSERT_EQ(parsed.entries.size(), 3u);
    EXPECT_EQ(parsed.entries[2].recordOffset, table.entries[2].recordOffset);
    EXPECT_EQ(parsed.entries[1].dataCrc, table.entries[1].dataCrc);

    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        IntegrityParse expected;
    } cases[] = {
        {"the stub's placeholder", {'n', 'o', 'n', 'e'}, IntegrityParse::Absent},
        {"nothing", {}, IntegrityParse::Absent},
        {"another magic", [&] { auto b = bytes; b[0] = 'X'; return b; }(), IntegrityParse::Absent},
        {"cut by one byte", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), IntegrityParse::Malformed},
        {"one entry short", std::vector<uint8_t>(bytes.begin(), bytes.end() - IntegrityEntrySize),
         IntegrityParse::Malformed},
        {"a later version", [&] { auto b = bytes; b[4] = 2; return b; }(), IntegrityParse::Malformed},
        {"a flipped entry byte", [&] { auto b = bytes; b[30] ^= 4; return b; }(), IntegrityParse::Malformed},
        {"a huge count", [&] { auto b = bytes; b[11] = 0xFF; return b; }(), IntegrityParse::Malformed},
    };
    for (const auto& c : cases) {
        IntegrityTable out;
        EXPECT_EQ(ParseIntegrityTable(c.bytes.data(), c.bytes.size(), &out), c.expected) << c.what;
    }
}

TEST(IntegrityTable, RecordCrcCoversTheStoredRecord) {
    MemberRecord record = {};
    std::strcpy(record.name, "DIR\\FILE.TXT");
    record.nameLength = 12;
    record.size = 0x01020304;
    record.creationTime = 0x1112131415161718ULL;
    record.lastAccessTime = 0x2122232425262728ULL;
    record.lastWriteTime = 0x3132333435363738ULL;
    std::string stored = std::string("DIR\\FILE.TXT") + '\0' + "\x04\x03\x02\x01" +
                         "\x18\x17\x16\x15\x14\x13\x12\x11" + "\x28\x27\x26\x25\x24\x23\x22\x21" +
                         "\x38\x37\x36\x35\x34\x33\x32\x31";
    EXPECT_EQ(MemberRecordCrc(record), Crc32(0, stored.data(), stored.size()));
}

}  // namespace
