#include "Extract.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "ExtractRun.h"
#include "HuffmanDecoder.h"
#include "MemberOutput.h"
#include "VolumeStream.h"

namespace {

// FILETIME of a struct timespec, computed here rather than by the file layer under test.
uint64_t FileTimeOf(const timespec& time) {
    return FileTimeFromUnix(time.tv_sec, static_cast<uint32_t>(time.tv_nsec));
}

TEST(ExtractAllPosix, ArchivedTimesLandToTheHundredNanoseconds) {
    TestArchive archive;
    archive.Add("A.TXT", "a");
    archive.Add("DIR\\B.TXT", "b");
    archive.members[0].lastWriteTime = FileTimeFromUnix(1234567890, 123456700);
    archive.members[0].lastAccessTime = FileTimeFromUnix(1300000000, 999999900);
    archive.members[1].lastWriteTime = FileTimeFromUnix(86400);  // 1970-01-02
    archive.members[1].lastAccessTime = FileTimeFromUnix(4102444800);  // 2100-01-01
    ExtractRun run;
    run.Write(archive);
    ASSERT_TRUE(run.Run());
    ASSERT_TRUE(run.result.Ok());
    for (const auto& member : archive.members) {
        SCOPED_TRACE(member.name);
        struct stat info;
        ASSERT_EQ(stat(run.OnDisk(member.name).c_str(), &info), 0);
        EXPECT_EQ(FileTimeOf(info.st_mtim), member.lastWriteTime);
        EXPECT_EQ(FileTimeOf(info.st_atim), member.lastAccessTime);
    }
}

TEST(ExtractAllPosix, FileNewerByLessThanASecondIsKept) {
    TestArchive archive;
    archive.Add("A.TXT", "archived");
    archive.members[0].lastWriteTime = FileTimeFromUnix(1234567890, 500000000);
    ExtractRun run;
    run.Write(archive);
    const std::string path = run.OnDisk("A.TXT");
    WriteWholeFile(path, "existing");
    const timespec times[2] = {{1234567890, 0}, {1234567890, 500000100}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(ReadWholeFile(path), BytesOf("existing"));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(FileTimeOf(info.st_mtim), archive.members[0].lastWriteTime);
}

TEST(ExtractAllPosix, FullDiskIsRecordedAndTheStreamStaysInStep) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    const auto big = RandomBytes(300000, 1);
    auto stream = Encode(big);
    const auto next = Encode(BytesOf("next member"));
    stream.insert(stream.end(), next.begin(), next.end());
    FakeHost host;
    const auto files = WriteInstaller(dir.Path(), stream);
    auto input = OpenInstaller(host, files);
    ASSERT_TRUE(input);
    auto model = std::make_unique<HuffmanModel>();

    auto full = std::make_unique<MemberOutput>(host);
    ASSERT_TRUE(full->Open("/dev/full"));
    EXPECT_EQ(DecodeMember(*model, *input, *full), DecodeStatus::Complete);
    EXPECT_TRUE(full->WriteFailed());
    EXPECT_FALSE(full->Close());
    input->AlignToByte();

    const std::string path = dir / "next";
    auto output = std::make_unique<MemberOutput>(host);
    ASSERT_TRUE(output->Open(path.c_str()));
    EXPECT_EQ(DecodeMember(*model, *input, *output), DecodeStatus::Complete);
    EXPECT_TRUE(output->Close());
    EXPECT_EQ(ReadWholeFile(path), BytesOf("next member"));
}

TEST(ExtractAllPosix, ShortMemberOnAFullDiskFailsAtClose) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    FakeHost host;
    auto full = std::make_unique<MemberOutput>(host);
    ASSERT_TRUE(full->Open("/dev/full"));
    for (uint8_t c : BytesOf("short")) full->Put(c);
    EXPECT_FALSE(full->Close());
    EXPECT_TRUE(full->WriteFailed());
}

TEST(ExtractAllPosix, FullDiskDuringExtractionIsRecorded) {
    struct stat device;
    if (stat("/dev/full", &device) != 0 || !S_ISCHR(device.st_mode) || access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    TestArchive archive;
    archive.Add("full", RandomBytes(200000, 3));
    archive.Add("..\\more", "after the full disk");
    ExtractRun run;
    run.Write(archive);
    // The only target that can name the device: installDir "/dev/" and the member "full". The
    // second member is refused by its name, so nothing is created in /dev.
    std::strcpy(run.state->installDir, "/dev/");
    run.host.createForReal = false;
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.result.members, 2u);
    EXPECT_EQ(run.result.firstFailure, MemberFailure::WriteFailed);
    EXPECT_FALSE(run.result.damaged);
    ASSERT_EQ(run.observer.seen.size(), 2u);
    EXPECT_EQ(run.observer.seen[0].failure, MemberFailure::WriteFailed);
    EXPECT_EQ(run.observer.seen[1].failure, MemberFailure::UnsafeName);
    EXPECT_EQ(run.observer.seen[0].decodedLength, 200000u);
    EXPECT_EQ(run.observer.seen[1].decodedLength, std::strlen("after the full disk"))
        << "the stream stayed in step";
}

TEST(ExtractAllPosix, UnreadableVolumeShowsTheReadErrorOnce) {
    TestArchive archive;
    archive.Add("SPLIT.DAT", RandomBytes(20000, 2));
    archive.Add("AFTER.TXT", "after");
    StreamLayout layout;
    archive.Stream(&layout);
    VolumeLayout volumes;
    volumes.stubSize = StubSizeForBoundaryAt(layout.members[0].data + 5000);
    ExtractRun run;
    run.Write(archive, volumes);
    ASSERT_EQ(run.files.volumes.size(), 2u);
    // A directory opens for reading on Linux, and every read from it fails.
    std::filesystem::remove(run.files.volumes[1]);
    std::filesystem::create_directory(run.files.volumes[1]);
    run.host.stopAfterCancels = 0;
    ASSERT_TRUE(run.Run());
    EXPECT_TRUE(run.result.readError);
    EXPECT_FALSE(run.result.Ok());
    EXPECT_EQ(run.Prompts(), (std::vector<std::string>{"read-error", "cancel"}));
    EXPECT_FALSE(FileExists(run.OnDisk("AFTER.TXT")));
}

TEST(ExtractAllPosix, NamesAreUsedAsStoredBytes) {
    TestArchive archive;
    archive.Add("caf\xE9.txt", "latin-1 bytes");
    ExtractRun run;
    run.Write(archive);
    ASSERT_TRUE(run.Run());
    EXPECT_TRUE(run.result.Ok());
    EXPECT_EQ(ReadWholeFile(run.install + "/caf\xE9.txt"), BytesOf("latin-1 bytes"));
}

}  // namespace
