#include "Extract.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "ExtractRun.h"
#include "FileSystem.h"

namespace {

struct Times {
    uint64_t creation, lastAccess, lastWrite;
};

uint64_t Value(const FILETIME& time) { return uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime; }

// Read through the system, not the file layer under test; the contents are never read, so that
// no access time moves.
Times TimesOf(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    FILETIME creation = {}, access = {}, write = {};
    EXPECT_TRUE(GetFileTime(file, &creation, &access, &write));
    CloseHandle(file);
    return {Value(creation), Value(access), Value(write)};
}

// Whether this file system keeps a creation time that is set (Windows does; Wine on a POSIX file
// system may not).
bool KeepsCreationTime(const std::string& directory) {
    const std::string path = directory + "\\creation-probe";
    WriteWholeFile(path, "x");
    const uint64_t wanted = FileTimeFromUnix(700000000);
    SetFileTimes(path.c_str(), wanted, FileTimeFromUnix(800000000), FileTimeFromUnix(900000000));
    const bool kept = TimesOf(path).creation == wanted;
    DeleteFileA(path.c_str());
    return kept;
}

// Three different times, none in order with another, so that any two swapped show.
void GiveDistinctTimes(TestMember& member, int64_t day) {
    member.creationTime = FileTimeFromUnix(1000000000 + day * 86400);
    member.lastAccessTime = FileTimeFromUnix(1200000000 + day * 86400);
    member.lastWriteTime = FileTimeFromUnix(1100000000 + day * 86400);
}

void ExpectTimes(const std::string& path, const TestMember& member, bool creationKept) {
    const Times got = TimesOf(path);
    if (creationKept) {
        EXPECT_EQ(got.creation, member.creationTime) << "creation time";
    }
    EXPECT_EQ(got.lastAccess, member.lastAccessTime) << "last-access time";
    EXPECT_EQ(got.lastWrite, member.lastWriteTime) << "last-write time";
}

TEST(ExtractAllWin32, WrittenAndKeptFilesGetAllThreeArchivedTimes) {
    TestArchive archive;
    archive.Add("WRITTEN.TXT", "written");
    archive.Add("SUB\\DEEP.BIN", std::vector<uint8_t>(70000, 7));
    archive.Add("KEPT.TXT", "archived copy");
    for (size_t i = 0; i < archive.members.size(); ++i) GiveDistinctTimes(archive.members[i], int64_t(i));
    ExtractRun run;
    run.Write(archive);
    const bool creationKept = KeepsCreationTime(run.install);
    if (!creationKept) std::printf("note: this file system keeps no creation time; it is not compared\n");

    // A newer file of the third member's name stays, yet takes the archived times.
    const std::string kept = run.OnDisk("KEPT.TXT");
    WriteWholeFile(kept, "the user's newer copy");
    const TestMember& keptMember = archive.members[2];
    ASSERT_TRUE(SetFileTimes(kept.c_str(), keptMember.creationTime, keptMember.lastAccessTime,
                             keptMember.lastWriteTime + 3600 * uint64_t(10000000)));
    ASSERT_TRUE(run.Run());
    ASSERT_TRUE(run.result.Ok());

    for (const TestMember& member : archive.members) {
        SCOPED_TRACE(member.name);
        ExpectTimes(run.OnDisk(member.name), member, creationKept);
    }
    EXPECT_EQ(ReadWholeFile(kept), BytesOf("the user's newer copy"));
}

}  // namespace
