#include "ArchiveWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "Extract.h"
#include "ExtractRun.h"
#include "FakeHost.h"
#include "HuffmanEncoder.h"
#include "TempDir.h"
#include "TestArchive.h"
#include "VolumeStream.h"
#include "WorkerState.h"

namespace {

constexpr size_t kSpan = VolumeSpan;

// Stream bytes volume 0 holds behind a stub of stubSize bytes.
size_t Volume0Room(size_t stubSize) { return kSpan - 6 - stubSize; }

uint32_t TrailerOf(const std::vector<uint8_t>& volume0) {
    const uint8_t* t = volume0.data() + volume0.size() - 4;
    return uint32_t(t[0]) | uint32_t(t[1]) << 8 | uint32_t(t[2]) << 16 | uint32_t(t[3]) << 24;
}

// Writes stream (raw, no header) behind a stub of stubSize bytes; Commit adds the end mark.
void WriteRaw(const std::string& dir, size_t stubSize, const std::vector<uint8_t>& stream) {
    ArchiveWriter writer(dir);
    const std::vector<uint8_t> stub(stubSize, 'S');
    ASSERT_TRUE(writer.Begin(stub.data(), stub.size())) << writer.Error();
    ASSERT_TRUE(writer.Write(stream.data(), stream.size())) << writer.Error();
    ASSERT_TRUE(writer.Commit()) << writer.Error();
}

struct LayoutCase {
    size_t stubSize;
    size_t streamBytes;  // before the end mark
    std::vector<size_t> fileSizes;  // SETUP.EXE, GLOB1.DAT, ...
    const char* why;
};

TEST(ArchiveWriterTest, VolumesHoldWhatTheReaderCountsOn) {
    const size_t stub = 0x600;
    const size_t room = Volume0Room(stub);
    const LayoutCase cases[] = {
        {stub, 1000, {stub + 1 + 1002 + 4}, "one volume: stub, 0xFF, stream, mark, trailer"},
        {stub, room - 2, {kSpan - 1}, "the mark fills volume 0 to its last data byte"},
        {stub, room - 1, {kSpan - 1, 1}, "the mark straddles the boundary"},
        {stub, room, {kSpan - 1, 2}, "stream ends on the boundary: the mark alone in GLOB1.DAT"},
        {stub, room + kSpan, {kSpan - 1, kSpan, 2}, "a full continuation, then the mark"},
        {stub, room + 10, {kSpan - 1, 12}, "continuation read from its first byte"},
        {0, 5, {1 + 7 + 4}, "an empty stub still has the 0xFF byte"},
        {size_t(MaxStubSize), 0, {kSpan - 1, 1}, "the largest stub leaves one byte in volume 0"},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.why);
        TempDir dir;
        std::vector<uint8_t> stream = RandomBytes(c.streamBytes, 7);
        WriteRaw(dir.Path(), c.stubSize, stream);

        std::vector<std::string> names = {"SETUP.EXE"};
        for (size_t k = 1; k < c.fileSizes.size(); ++k) names.push_back("GLOB" + std::to_string(k) + ".DAT");
        std::vector<std::string> expectedTree(names);
        std::sort(expectedTree.begin(), expectedTree.end());
        EXPECT_EQ(ListTree(dir.Path()), expectedTree);

        const std::vector<uint8_t> volume0 = ReadWholeFile(dir / "SETUP.EXE");
        ASSERT_EQ(volume0.size(), c.fileSizes[0]);
        EXPECT_EQ(TrailerOf(volume0), c.stubSize + 1);
        EXPECT_EQ(volume0[c.stubSize], 0xFF);
        EXPECT_EQ(std::vector<uint8_t>(volume0.begin(), volume0.begin() + c.stubSize),
                  std::vector<uint8_t>(c.stubSize, 'S'));

        // Reassembling the volumes as the reader would gives the stream and the end mark.
        std::vector<uint8_t> reassembled(volume0.begin() + c.stubSize + 1, volume0.end() - 4);
        for (size_t k = 1; k < names.size(); ++k) {
            const std::vector<uint8_t> volume = ReadWholeFile(dir / names[k]);
            EXPECT_EQ(volume.size(), c.fileSizes[k]) << names[k];
            reassembled.insert(reassembled.end(), volume.begin(), volume.end());
        }
        stream.push_back(0xFF);
        stream.push_back(0xFF);
        EXPECT_EQ(reassembled, stream);

        // The reader sees the same bytes, switching volumes by its position counter alone.
        FakeHost host;
        InstallerFiles files;
        files.exePath = dir / "SETUP.EXE";
        files.baseName = dir / "GLOB";
        std::unique_ptr<VolumeStream> reader = OpenInstaller(host, files);
        ASSERT_TRUE(reader);
        std::vector<uint8_t> read(stream.size());
        reader->ReadBytes(read.data(), static_cast<int32_t>(read.size()));
        EXPECT_EQ(read, stream);
        EXPECT_FALSE(reader->AtVolumeEnd());
        EXPECT_TRUE(host.calls.empty()) << host.Transcript();
    }
}

TEST(ArchiveWriterTest, StubWithoutRoomForTheStreamIsRefused) {
    TempDir dir;
    ArchiveWriter writer(dir.Path());
    const std::vector<uint8_t> stub(size_t(MaxStubSize) + 1, 'S');
    EXPECT_FALSE(writer.Begin(stub.data(), stub.size()));
    EXPECT_NE(writer.Error().find("SETUP.EXE"), std::string::npos) << writer.Error();
    EXPECT_FALSE(writer.Commit());
    EXPECT_TRUE(ListTree(dir.Path()).empty());
}

TEST(ArchiveWriterTest, LastStreamByteStaysBelowThePositionLimit) {
    // The byte at stream index i is read with position S + 5 + i, a signed 32-bit counter.
    for (int64_t stub : {int64_t(0), int64_t(0x600), MaxStubSize}) {
        const int64_t lastPosition = (stub + 1) + 5 + (MaxStreamLength(stub) - 1);
        EXPECT_EQ(lastPosition, int64_t(INT32_MAX) - 1) << stub;
    }
}

TEST(ArchiveWriterTest, NameWithEndMarkAfterItsFirstByteIsRefused) {
    TempDir dir;
    ArchiveWriter writer(dir.Path());
    const uint8_t stub[2] = {'M', 'Z'};
    ASSERT_TRUE(writer.Begin(stub, sizeof stub));
    MemberRecord record = {};
    std::strcpy(record.name, "\xFF" "first byte may be anything");
    EXPECT_TRUE(writer.WriteMemberRecord(record)) << writer.Error();
    std::strcpy(record.name, "a\xFF");
    EXPECT_FALSE(writer.WriteMemberRecord(record));
    EXPECT_NE(writer.Error().find("0xFF"), std::string::npos) << writer.Error();
    EXPECT_TRUE(ListTree(dir.Path()).empty()) << "a failure removes what was written";
}

// A packed archive read back by the installer's own loop, with the volume boundary moved into
// the header, into a record and into a bit stream.
TEST(ArchiveWriterTest, ExtractAllReadsBackWhatWasWritten) {
    struct Member {
        std::string name;
        std::vector<uint8_t> data;
    };
    const std::vector<Member> members = {
        {"README.TXT", BytesOf("Read me first.\r\n")},
        {"EMPTY.DAT", {}},
        {"DATA\\MAPS\\WORLD.MAP", SkewedBytes(200000, 3)},
        {"PROGRAM.EXE", RandomBytes(60000, 4)},
    };
    // Stream offsets: the header is bytes 0..387, the first record starts at 388.
    const size_t boundaries[] = {100, 390, 388 + 11 + 28 + 5, 388 + 11 + 28 + 17 + 10 + 28 + 1000};
    for (size_t boundary : boundaries) {
        SCOPED_TRACE("volume boundary at stream offset " + std::to_string(boundary));
        const size_t stubSize = StubSizeForBoundaryAt(boundary);
        ExtractRun run;
        {
            ArchiveWriter writer(run.media);
            HuffmanEncoder encoder(writer);
            const std::vector<uint8_t> stub(stubSize, 'S');
            ASSERT_TRUE(writer.Begin(stub.data(), stub.size()));
            SetupHeader header = {};
            std::strcpy(header.programName, "Atlas");
            std::strcpy(header.defaultDir, "C:\\ATLAS");
            for (const Member& m : members) header.totalSize += uint32_t(m.data.size());
            ASSERT_TRUE(writer.WriteHeader(header));
            uint64_t time = 130000000000000000ULL;
            for (const Member& m : members) {
                MemberRecord record = {};
                std::strcpy(record.name, m.name.c_str());
                record.size = uint32_t(m.data.size());
                record.creationTime = time++;
                record.lastAccessTime = time++;
                record.lastWriteTime = time++;
                ASSERT_TRUE(writer.WriteMemberRecord(record));
                encoder.BeginMember();
                encoder.Put(m.data.data(), m.data.size());
                ASSERT_TRUE(encoder.EndMember());
            }
            ASSERT_TRUE(writer.Commit()) << writer.Error();
            ASSERT_GE(writer.VolumeNames().size(), 2u);
        }
        run.files.exePath = JoinPath(run.media, "SETUP.EXE");
        run.files.baseName = JoinPath(run.media, "GLOB");
        ASSERT_TRUE(run.Run());
        EXPECT_TRUE(run.result.Ok());
        EXPECT_TRUE(run.result.sawEndMark);
        EXPECT_EQ(run.header.totalSize, run.result.total);
        EXPECT_STREQ(run.header.programName, "Atlas");
        ASSERT_EQ(run.observer.seen.size(), members.size());
        for (size_t i = 0; i < members.size(); ++i) {
            EXPECT_EQ(run.observer.seen[i].name, members[i].name);
            EXPECT_EQ(ReadWholeFile(run.OnDisk(members[i].name)), members[i].data) << members[i].name;
        }
        EXPECT_TRUE(run.Prompts().empty()) << run.host.Transcript();
    }
}

TEST(ArchiveWriterTest, AbandonedRunLeavesThePreviousInstallerAsItWas) {
    TempDir dir;
    WriteWholeFile(dir / "SETUP.EXE", std::string("previous installer"));
    WriteWholeFile(dir / "GLOB1.DAT", std::string("previous volume"));
    {
        ArchiveWriter writer(dir.Path());
        const std::vector<uint8_t> stub(0x600, 'S');
        ASSERT_TRUE(writer.Begin(stub.data(), stub.size()));
        const std::vector<uint8_t> data = RandomBytes(2 * kSpan, 1);
        ASSERT_TRUE(writer.Write(data.data(), data.size()));
        // Destroyed without Commit, as when packing fails half-way.
    }
    EXPECT_EQ(ListTree(dir.Path()), (std::vector<std::string>{"GLOB1.DAT", "SETUP.EXE"}));
    EXPECT_EQ(ReadWholeFile(dir / "SETUP.EXE"), BytesOf("previous installer"));
}

TEST(ArchiveWriterTest, VolumeThatCannotBeCreatedFailsWithItsNameAndCleansUp) {
    TempDir dir;
    MakeDirectories(dir / "GLOB1.DAT.part");  // stands where the second volume is created
    WriteWholeFile(dir / "SETUP.EXE", std::string("previous installer"));
    ArchiveWriter writer(dir.Path());
    const std::vector<uint8_t> stub(0x600, 'S');
    ASSERT_TRUE(writer.Begin(stub.data(), stub.size()));
    const std::vector<uint8_t> data = RandomBytes(kSpan, 2);
    EXPECT_FALSE(writer.Write(data.data(), data.size()));
    EXPECT_TRUE(writer.Failed());
    EXPECT_NE(writer.Error().find("GLOB1.DAT.part"), std::string::npos) << writer.Error();
    EXPECT_FALSE(writer.Write(data.data(), 1)) << "every later call fails";
    EXPECT_FALSE(writer.Commit());
    EXPECT_EQ(ListTree(dir.Path()), (std::vector<std::string>{"GLOB1.DAT.part/", "SETUP.EXE"}));
    EXPECT_EQ(ReadWholeFile(dir / "SETUP.EXE"), BytesOf("previous installer"));
}

TEST(ArchiveWriterTest, RenameFailureKeepsThePreviousInstaller) {
    TempDir dir;
    WriteWholeFile(dir / "SETUP.EXE", std::string("previous installer"));
    MakeDirectories(JoinPath(dir / "GLOB1.DAT", "occupied"));  // a rename cannot replace it
    ArchiveWriter writer(dir.Path());
    const std::vector<uint8_t> stub(0x600, 'S');
    ASSERT_TRUE(writer.Begin(stub.data(), stub.size()));
    const std::vector<uint8_t> data = RandomBytes(kSpan, 3);
    ASSERT_TRUE(writer.Write(data.data(), data.size()));
    EXPECT_FALSE(writer.Commit());
    EXPECT_NE(writer.Error().find("GLOB1.DAT"), std::string::npos) << writer.Error();
    EXPECT_EQ(ListTree(dir.Path()),
              (std::vector<std::string>{"GLOB1.DAT/", "GLOB1.DAT/occupied/", "SETUP.EXE"}));
    EXPECT_EQ(ReadWholeFile(dir / "SETUP.EXE"), BytesOf("previous installer"));
}

TEST(ArchiveWriterTest, StaleVolumesOfALargerInstallerAreRemoved) {
    TempDir dir;
    for (const char* name : {"SETUP.EXE", "GLOB1.DAT", "GLOB2.DAT", "GLOB3.DAT", "GLOB5.DAT"})
        WriteWholeFile(dir / name, std::string("old"));
    ArchiveWriter writer(dir.Path());
    const std::vector<uint8_t> stub(0x600, 'S');
    ASSERT_TRUE(writer.Begin(stub.data(), stub.size()));
    const std::vector<uint8_t> data = RandomBytes(Volume0Room(0x600) + 10, 5);
    ASSERT_TRUE(writer.Write(data.data(), data.size()));
    ASSERT_TRUE(writer.Commit()) << writer.Error();

    EXPECT_EQ(writer.VolumeNames(), (std::vector<std::string>{"SETUP.EXE", "GLOB1.DAT"}));
    // GLOB5.DAT lies beyond a gap: no installer could reach it, and it is not ours to judge.
    EXPECT_EQ(ListTree(dir.Path()),
              (std::vector<std::string>{"GLOB1.DAT", "GLOB5.DAT", "SETUP.EXE"}));
    ASSERT_EQ(writer.StaleVolumeNotes().size(), 2u);
    EXPECT_NE(writer.StaleVolumeNotes()[0].find("GLOB2.DAT"), std::string::npos);
    EXPECT_NE(writer.StaleVolumeNotes()[1].find("GLOB3.DAT"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(dir / "GLOB1.DAT").size(), 12u);
}

TEST(ArchiveWriterTest, CountsWhatItWrote) {
    TempDir dir;
    ArchiveWriter writer(dir.Path());
    const std::vector<uint8_t> stub(100, 'S');
    ASSERT_TRUE(writer.Begin(stub.data(), stub.size()));
    SetupHeader header = {};
    ASSERT_TRUE(writer.WriteHeader(header));
    ASSERT_TRUE(writer.Commit());
    EXPECT_EQ(writer.StreamLength(), uint64_t(SetupHeaderSize + 2));
    EXPECT_EQ(writer.BytesWritten(), uint64_t(100 + 1 + SetupHeaderSize + 2 + 4));
    EXPECT_EQ(ReadWholeFile(dir / "SETUP.EXE").size(), writer.BytesWritten());
}

}  // namespace
