// The scan for record ends that globx's threads decode from without integrity data: every real
// record of an archive is found, in order and across volumes, and bytes that break one rule of
// the filter are not.
#include "RecordScanner.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ArchiveCursor.h"
#include "MemberRecord.h"
#include "TempDir.h"
#include "TestArchive.h"
#include "VolumeHost.h"

namespace {

void PutU64(std::vector<uint8_t>& bytes, uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// before, the name, the NUL and the fields; the NUL's index in *terminator.
std::vector<uint8_t> Record(const std::string& before, const std::string& name, uint64_t creation,
                            uint64_t access, uint64_t write, size_t* terminator) {
    std::vector<uint8_t> bytes(before.begin(), before.end());
    bytes.insert(bytes.end(), name.begin(), name.end());
    *terminator = bytes.size();
    bytes.push_back(0);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(0x12 + i));  // any size
    PutU64(bytes, creation);
    PutU64(bytes, access);
    PutU64(bytes, write);
    return bytes;
}

constexpr uint64_t In2000 = FileTimeFromUnix(946684800);
constexpr uint64_t First1970 = FileTimeFromUnix(0);
constexpr uint64_t First2200 = FileTimeFromUnix(7258118400);

TEST(RecordScanner, ThePlausibilityFilter) {
    const struct {
        const char* what;
        std::string before, name;
        uint64_t creation, access, write;
        bool plausible;
    } cases[] = {
        {"a record as globpack writes it", "\x9c\x01", "BIN\\TOOL.EXE", In2000, In2000, In2000, true},
        {"the first and the last second in range", "", "A", First1970, First2200 - 1, In2000, true},
        {"a creation time before 1970", "", "A.TXT", First1970 - 1, In2000, In2000, false},
        {"an access time from 2200", "", "A.TXT", In2000, First2200, In2000, false},
        {"a write time of 0", "", "A.TXT", In2000, In2000, 0, false},
        {"a time with its top bit set", "", "A.TXT", In2000, In2000, In2000 | uint64_t(1) << 63, false},
        {"no name: a NUL in front", std::string(1, '\0'), "", In2000, In2000, In2000, false},
        {"no name: the end mark in front", "\xff", "", In2000, In2000, In2000, false},
        {"no name: nothing in front", "", "", In2000, In2000, In2000, false},
        {"a name ending with a separator", "", "DIR\\", In2000, In2000, In2000, false},
        {"a name ending with a character no Windows name holds", "", "A*", In2000, In2000, In2000, false},
        {"a name ending with a control character", "", "A\x01", In2000, In2000, In2000, false},
        {"a name of dots", "", "..", In2000, In2000, In2000, false},
        // The true name may start after a coded byte that looks like a name's: any tail counts.
        {"an unsafe run whose tail is a name", "", "..\\README", In2000, In2000, In2000, true},
        {"a single dot", std::string(1, '\0'), ".", In2000, In2000, In2000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        size_t terminator = 0;
        const std::vector<uint8_t> bytes = Record(c.before, c.name, c.creation, c.access, c.write, &terminator);
        EXPECT_EQ(IsPlausibleRecordEnd(bytes.data() + terminator, terminator), c.plausible);
    }
    // Only the bytes said to be there are looked at: a name needs at least one.
    size_t terminator = 0;
    const std::vector<uint8_t> bytes = Record("", "README.TXT", In2000, In2000, In2000, &terminator);
    EXPECT_TRUE(IsPlausibleRecordEnd(bytes.data() + terminator, 1));
    EXPECT_FALSE(IsPlausibleRecordEnd(bytes.data() + terminator, 0));
}

class ScanRun {
public:
    explicit ScanRun(const InstallerFiles& files)
        : source{files.exePath, files.baseName, {}}, cursor(source, host), scanner(cursor) {
        EXPECT_TRUE(cursor.Open());
    }
    MemberDecoders::Source source;
    VolumeHost host;
    ArchiveCursor cursor;
    RecordScanner scanner;
};

TestArchive ScanArchive() {
    TestArchive archive;
    archive.Add("README.TXT", "Read me first.\r\n");
    archive.Add("EMPTY.DAT", "");
    archive.Add("BIN\\TOOL.EXE", RandomBytes(300000, 5));
    archive.Add("RUN.DAT", std::vector<uint8_t>(90000, 'z'));
    archive.Add("A", RandomBytes(70000, 6));
    archive.Add("LAST.TXT", "the last member\r\n");
    archive.endMark = true;
    return archive;
}

// Every bit stream of the archive, one after another, wherever the volume boundary falls; the
// range's end is exclusive, and past the last member the data ends.
TEST(RecordScanner, FindsEveryRecordInOrderOverVolumes) {
    const TestArchive archive = ScanArchive();
    StreamLayout layout;
    const std::vector<uint8_t> stream = archive.Stream(&layout);
    const auto& m = layout.members;
    for (const size_t boundary : {m[2].data + 1000, m[4].data - 3, m[4].fields + 2}) {
        SCOPED_TRACE("GLOB1.DAT starts at stream byte " + std::to_string(boundary));
        TempDir media;
        VolumeLayout volumes;
        volumes.stubSize = StubSizeForBoundaryAt(boundary);
        const InstallerFiles files = WriteInstaller(media.Path(), stream, volumes);
        ScanRun run(files);
        int64_t from = 0;
        for (const auto& member : m) {
            EXPECT_EQ(run.scanner.Next(from, INT64_MAX), int64_t(member.data));
            from = int64_t(member.data) + 1;
        }
        EXPECT_EQ(run.scanner.Next(from, INT64_MAX), -1);
        EXPECT_TRUE(run.scanner.DataEnded());
        EXPECT_EQ(run.scanner.DataEnd(), int64_t(stream.size()));
        // Behind the window: read afresh.
        EXPECT_EQ(run.scanner.Next(int64_t(m[1].data), INT64_MAX), int64_t(m[1].data));
        EXPECT_FALSE(run.scanner.DataEnded());
        // From the start again, in ranges that end before and at a bit stream.
        ScanRun again(files);
        EXPECT_EQ(again.scanner.Next(0, int64_t(m[0].data)), -1);
        EXPECT_FALSE(again.scanner.DataEnded());
        EXPECT_EQ(again.scanner.Next(int64_t(m[0].data), int64_t(m[0].data) + 1), int64_t(m[0].data));
        EXPECT_EQ(again.scanner.Next(int64_t(m[3].data) - 5, int64_t(m[3].data) + 10), int64_t(m[3].data));
        EXPECT_EQ(again.scanner.Next(int64_t(m[3].data) + 1, int64_t(m[4].data)), -1);
        EXPECT_FALSE(again.scanner.DataEnded());
    }
}

// A range that starts a little past what the scanner read last: a record between the two is
// not found, and nothing before the window is read.
TEST(RecordScanner, ARangeBeyondTheWindowFindsNothingBeforeIt) {
    const TestArchive archive = ScanArchive();
    StreamLayout layout;
    const std::vector<uint8_t> stream = archive.Stream(&layout);
    const auto& m = layout.members;
    TempDir media;
    const InstallerFiles files = WriteInstaller(media.Path(), stream);
    ScanRun run(files);
    // The first range reads one 64 KiB chunk from 284 bytes before it, ending 100 bytes before
    // member 3's bit stream.
    const int64_t first = int64_t(m[3].data) - 100 - 65536 + 284;
    EXPECT_EQ(run.scanner.Next(first, first + 1), -1);
    EXPECT_EQ(run.scanner.DataEnd(), int64_t(m[3].data) - 100);
    EXPECT_EQ(run.scanner.Next(int64_t(m[3].data) + 170, INT64_MAX), int64_t(m[4].data));
}

}  // namespace
