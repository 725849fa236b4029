#include "Extract.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
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

// A full disk, as far as this process can tell: writing a file past limit bytes fails (EFBIG)
// while the limit is in force.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit lowered = previous;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit previous;
    void (*previousHandler)(int);
};

// Entries of a directory whose names start with "~GLOB": temporary files left behind.
std::vector<std::string> TemporaryFiles(const std::string& directory) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        if (entry.path().filename().string().rfind("~GLOB", 0) == 0) found.push_back(entry.path());
    return found;
}

TEST(ExtractAllPosix, FullDiskKeepsTheOldFileCreatesNothingMoreAndARerunCompletes) {
    const struct {
        size_t failingSize;
        rlim_t limit;
        const char* why;
    } cases[] = {
        {300000, 100000, "a write within the member fails"},
        {2047, 1000, "the member fits one buffer: only its last write, at the end, fails"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TestArchive archive;
        archive.Add("A.TXT", "first, small");
        archive.Add("DIR\\FAILS.DAT", RandomBytes(c.failingSize, 3));
        archive.Add("Z.TXT", "after the full disk");
        for (auto& member : archive.members) member.lastWriteTime = FileTimeFromUnix(1300000000);
        ExtractRun run;
        run.Write(archive);
        const std::string old = run.OnDisk("DIR\\FAILS.DAT");
        std::filesystem::create_directories(run.install + "/DIR");
        WriteWholeFile(old, "the user's older version");
        const timespec oldTimes[2] = {{1200000000, 0}, {1200000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, old.c_str(), oldTimes, 0), 0);
        {
            const FileSizeLimit limit(c.limit);
            ASSERT_TRUE(run.Run());
        }
        EXPECT_FALSE(run.result.Ok());
        EXPECT_TRUE(run.result.writeFailed);
        EXPECT_EQ(run.result.firstFailure, MemberFailure::DiskFull);
        ASSERT_EQ(run.observer.seen.size(), 2u) << "nothing is read after the failed write";
        EXPECT_EQ(run.observer.seen[1].failure, MemberFailure::DiskFull);
        EXPECT_EQ(ReadWholeFile(run.OnDisk("A.TXT")), archive.members[0].data);
        EXPECT_EQ(ReadWholeFile(old), BytesOf("the user's older version"));
        struct stat info;
        ASSERT_EQ(stat(old.c_str(), &info), 0);
        EXPECT_EQ(info.st_mtim.tv_sec, 1200000000);
        EXPECT_FALSE(FileExists(run.OnDisk("Z.TXT")));
        EXPECT_EQ(TemporaryFiles(run.install), std::vector<std::string>{});

        // The rerun once space is free: every member, complete, with its times.
        ExtractRun rerun;
        rerun.Write(archive);
        std::strcpy(rerun.state->installDir, (run.install + "/").c_str());
        ASSERT_TRUE(rerun.Run());
        EXPECT_TRUE(rerun.result.Ok()) << DescribeFailure(rerun.result.firstFailure);
        for (const auto& member : archive.members) {
            EXPECT_EQ(ReadWholeFile(run.OnDisk(member.name)), member.data) << member.name;
            ASSERT_EQ(stat(run.OnDisk(member.name).c_str(), &info), 0);
            EXPECT_EQ(FileTimeOf(info.st_mtim), member.lastWriteTime) << member.name;
        }
    }
}

TEST(ExtractAllPosix, StopOrDamageInsideAMemberLeavesTheExistingFileAsItWas) {
    for (const bool damage : {false, true}) {
        SCOPED_TRACE(damage ? "damaged" : "stopped");
        TestArchive archive;
        archive.Add("KEEP\\ME.DAT", RandomBytes(400000, 5));
        archive.members[0].lastWriteTime = FileTimeFromUnix(1300000000);
        VolumeLayout layout;
        StreamLayout parts;
        archive.Stream(&parts);
        if (damage) layout.truncateLastVolume = (parts.members[0].end - parts.members[0].data) / 2;
        ExtractRun run;
        run.Write(archive, layout);
        const std::string path = run.OnDisk("KEEP\\ME.DAT");
        std::filesystem::create_directories(run.install + "/KEEP");
        WriteWholeFile(path, "older");
        const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        if (!damage) run.host.stopAfterChecks = 3;  // within the member, after some output
        ASSERT_TRUE(run.Run());
        EXPECT_FALSE(run.result.Ok());
        EXPECT_EQ(run.result.damaged, damage);
        EXPECT_EQ(run.result.stopped, !damage);
        EXPECT_EQ(ReadWholeFile(path), BytesOf("older"));
        EXPECT_EQ(TemporaryFiles(run.install), std::vector<std::string>{});
    }
}

TEST(ExtractAllPosix, NothingIsWrittenThroughALinkedDirectory) {
    TestArchive archive;
    archive.Add("SUB\\ESCAPE.TXT", "must stay inside");
    archive.Add("SUB\\DEEP\\ESCAPE.TXT", "this too");
    archive.Add("LINK.TXT", "not through a link at the file's own place");
    archive.Add("OK.TXT", "fine");
    ExtractRun run;
    run.Write(archive);
    const std::string outside = run.root.Path() + "/outside";
    std::filesystem::create_directories(outside);
    std::filesystem::create_directories(run.install);
    std::filesystem::create_directory_symlink("../outside", run.install + "/SUB");
    std::filesystem::create_symlink("../outside/link-target", run.install + "/LINK.TXT");
    ASSERT_TRUE(run.Run());
    EXPECT_FALSE(run.result.Ok());
    EXPECT_EQ(run.result.failures, 3u);
    ASSERT_EQ(run.observer.seen.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(run.observer.seen[i].failure, MemberFailure::ThroughLink);
    EXPECT_EQ(run.observer.seen[3].failure, MemberFailure::None);
    EXPECT_EQ(ListTree(outside), std::vector<std::string>{}) << "written through the link";
    EXPECT_EQ(std::string(run.result.failureDetail), run.install + "/LINK.TXT");
}

TEST(ExtractAllPosix, WhyAMemberCouldNotBeCreated) {
    TestArchive archive;
    archive.Add("ADIR", "a directory stands here");
    archive.Add("AFILE\\X.TXT", "a file stands where the directory goes");
    archive.Add("LOCKED\\X.TXT", "no permission");
    ExtractRun run;
    run.Write(archive);
    std::filesystem::create_directories(run.install + "/ADIR");
    WriteWholeFile(run.install + "/AFILE", "file");
    std::filesystem::create_directories(run.install + "/LOCKED");
    std::filesystem::permissions(run.install + "/LOCKED", std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_exec);
    ASSERT_TRUE(run.Run());
    std::filesystem::permissions(run.install + "/LOCKED", std::filesystem::perms::owner_all);
    ASSERT_EQ(run.observer.seen.size(), 3u);
    EXPECT_EQ(run.observer.seen[0].failure, MemberFailure::IsDirectory);
    EXPECT_EQ(run.observer.seen[1].failure, MemberFailure::NotDirectory);
    // Root writes through missing permissions.
    if (geteuid() != 0) {
        EXPECT_EQ(run.observer.seen[2].failure, MemberFailure::AccessDenied);
    }
    EXPECT_EQ(ReadWholeFile(run.install + "/AFILE"), BytesOf("file"));
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
