#include "Extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "ExtractRun.h"
#include "FileSystem.h"
#include "ModelCheck.h"
#include "TestArchive.h"
#include "VolumeStream.h"

namespace {

using Names = std::vector<std::string>;

// A small archive whose members cover the usual shapes: text, empty, a subdirectory, every byte
// value, and a run long enough to rebuild the tree.
TestArchive UsualArchive() {
    TestArchive archive;
    archive.Add("README.TXT", "Read me first.\r\n");
    archive.Add("EMPTY.DAT", "");
    archive.Add("BIN\\TOOL.EXE", RandomBytes(100000, 1));
    std::vector<uint8_t> all(512);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(255 - i);
    archive.Add("BIN\\DATA\\ALL.BIN", all);
    archive.Add("RUN.DAT", std::vector<uint8_t>(70000, 'z'));
    uint64_t time = FileTimeFromUnix(1000000000);  // 2001-09-09
    for (auto& member : archive.members) {
        member.creationTime = time;
        member.lastAccessTime = time + 20000000;
        member.lastWriteTime = time + 10000000;
        time += 864000000000ULL;  // a day apart
    }
    return archive;
}

Names InstalledTree(const TestArchive& archive) {
    Names tree;
    for (const auto& member : archive.members) {
        std::string name = member.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
            tree.push_back(name.substr(0, slash + 1));
        tree.push_back(name);
    }
    std::sort(tree.begin(), tree.end());
    tree.erase(std::unique(tree.begin(), tree.end()), tree.end());
    return tree;
}

void ExpectInstalled(const ExtractRun& run, const TestArchive& archive) {
    for (const auto& member : archive.members) {
        SCOPED_TRACE(member.name);
        const std::string path = run.OnDisk(member.name);
        ASSERT_TRUE(FileExists(path));
        EXPECT_TRUE(ReadWholeFile(path) == member.data) << "contents differ";
        uint64_t lastWrite = 0;
        EXPECT_TRUE(ReadLastWriteTime(path.c_str(), &lastWrite));
        EXPECT_EQ(lastWrite, member.lastWriteTime);
    }
    EXPECT_EQ(ListTree(run.install), InstalledTree(archive));
}

// Nothing may appear beside the install directory and the installer's own files.
void ExpectNothingOutside(const ExtractRun& run) {
    for (const auto& entry : ListTree(run.root.Path()))
        EXPECT_TRUE(entry.compare(0, 8, "install/") == 0 || entry.compare(0, 6, "media/") == 0)
            << entry << " was written outside the install directory";
}

TEST(ExtractAll, ExtractsEveryMemberWithAndWithoutTheEndMark) {
    for (bool endMark : {false, true}) {
        SCOPED_TRACE(endMark ? "with the end mark" : "without the end mark");
        TestArchive archive = UsualArchive();
        archive.endMark = endMark;
        ExtractRun run;
        run.Write(archive);
        ASSERT_TRUE(run.Run());

        EXPECT_TRUE(run.result.Ok());
        EXPECT_EQ(run.result.members, 5u);
        EXPECT_EQ(run.result.failures, 0u);
        EXPECT_EQ(run.result.sawEndMark, endMark);
        EXPECT_EQ(run.result.total, archive.TotalSize());
        EXPECT_EQ(run.result.decodedBytes, archive.TotalSize());
        EXPECT_EQ(run.state->progressFraction.Load(), 1.0);
        EXPECT_EQ(run.state->statusText.First(), '*');
        EXPECT_EQ(run.Prompts(), Names{}) << run.host.Transcript();
        ExpectInstalled(run, archive);
        ExpectNothingOutside(run);

        ASSERT_EQ(run.observer.seen.size(), 5u);
        for (size_t i = 0; i < 5; ++i) {
            const auto& seen = run.observer.seen[i];
            EXPECT_EQ(seen.name, archive.members[i].name);
            EXPECT_EQ(seen.size, archive.members[i].RecordedSize());
            EXPECT_TRUE(seen.finished);
            EXPECT_EQ(seen.failure, MemberFailure::None);
            EXPECT_EQ(seen.decodedLength, archive.members[i].data.size());
        }
    }
}

TEST(ExtractAll, StatusTextShowsTheTargetBeforeItsDirectoriesAreMade) {
    TestArchive archive;
    archive.Add("SUB\\DIR\\FILE.TXT", "x");
    ExtractRun run;
    run.Write(archive);
    std::string statusAtFirstMkdir;
    run.host.onMakeDirectory = [&](const char*) {
        if (statusAtFirstMkdir.empty()) statusAtFirstMkdir = run.Status();
    };
    ASSERT_TRUE(run.Run());
    auto normal = [](std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    };
    EXPECT_EQ(normal(statusAtFirstMkdir), normal(run.state->installDir + std::string("SUB\\DIR\\FILE.TXT")));
    EXPECT_TRUE(FileExists(run.OnDisk("SUB\\DIR\\FILE.TXT")));
    const std::string status = run.Status();
    EXPECT_EQ(status[0], '*');
    EXPECT_EQ(normal(status.substr(1)), normal(statusAtFirstMkdir.substr(1)))
        << "the end mark replaces only the first character";
}

TEST(ExtractAll, ADiskPromptInsideARecordShowsThatMembersPath) {
    TestArchive archive;
    archive.Add("FIRST.TXT", "first");
    archive.Add("SECOND.TXT", "second");
    StreamLayout layout;
    archive.Stream(&layout);
    VolumeLayout volumes;
    // The next volume begins inside the second member's size and times.
    volumes.stubSize = StubSizeForBoundaryAt(layout.members[1].fields + 10);
    ExtractRun run;
    run.Write(archive, volumes);
    ASSERT_EQ(run.files.volumes.size(), 2u);
    const std::string away = run.files.volumes[1] + ".away";
    std::filesystem::rename(run.files.volumes[1], away);
    std::string statusAtPrompt;
    run.host.onAskForDisk = [&](int, const char*) {
        statusAtPrompt = run.Status();
        std::filesystem::rename(away, run.files.volumes[1]);
    };
    run.host.diskAnswers = {true};
    ASSERT_TRUE(run.Run());
    EXPECT_TRUE(run.result.Ok());
    EXPECT_NE(statusAtPrompt.find("SECOND.TXT"), std::string::npos) << statusAtPrompt;
}

TEST(ExtractAll, ProgressFractionIsTheShareOfTotalSize) {
    const struct {
        uint32_t totalSize;  // 0: the sum of the sizes
        double fraction;
    } cases[] = {{0, 1.0}, {3 * 2000, 1.0 / 3.0}, {2000 / 2, 2.0}};
    for (const auto& c : cases) {
        TestArchive archive;
        archive.Add("A.DAT", RandomBytes(1500, 2));
        archive.Add("B.DAT", RandomBytes(500, 3));
        if (c.totalSize) {
            archive.keepTotalSize = true;
            archive.header.totalSize = c.totalSize;
        }
        ExtractRun run;
        run.Write(archive);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(run.state->progressFraction.Load(), c.fraction) << "totalSize " << c.totalSize;
    }
}

// Sizes are unsigned 32-bit: a running total past 2^31 is still a positive share. (A member
// that big cannot be decoded in a unit test, and one whose record says so but holds less is
// damage, so the share is checked where it is computed.)
TEST(ExtractAll, ProgressFractionPastTwoToThe31) {
    EXPECT_EQ(ProgressFraction(0x80000000u, 0xF0000000u), 2147483648.0 / 4026531840.0);
    EXPECT_EQ(ProgressFraction(0xFFFFFFFFu, 0xFFFFFFFFu), 1.0);
    EXPECT_EQ(ProgressFraction(5, 0), 1.0);
}

TEST(ExtractAll, EmptyArchiveOnlyMarksTheEnd) {
    for (bool endMark : {false, true}) {
        TestArchive archive;
        archive.endMark = endMark;
        ExtractRun run;
        run.Write(archive);
        ASSERT_TRUE(run.Run());
        EXPECT_TRUE(run.result.Ok());
        EXPECT_EQ(run.result.members, 0u);
        EXPECT_EQ(run.Status(), "*");
        EXPECT_EQ(ListTree(run.install), Names{});
    }
}

struct BoundaryCase {
    const char* where;
    size_t (*offset)(const StreamLayout&);
};

TEST(ExtractAll, VolumeBoundaryAnywhere) {
    const BoundaryCase cases[] = {
        {"inside the header", [](const StreamLayout&) -> size_t { return 100; }},
        {"at the first record", [](const StreamLayout& l) { return l.members[0].record; }},
        {"inside a name", [](const StreamLayout& l) { return l.members[1].record + 2; }},
        {"after a name's first byte", [](const StreamLayout& l) { return l.members[1].record + 1; }},
        {"inside the size", [](const StreamLayout& l) { return l.members[1].fields + 2; }},
        {"inside the times", [](const StreamLayout& l) { return l.members[1].fields + 15; }},
        {"at a bit stream", [](const StreamLayout& l) { return l.members[1].data; }},
        {"inside a bit stream",
         [](const StreamLayout& l) { return (l.members[1].data + l.members[1].end) / 2; }},
        {"at a bit stream's last byte", [](const StreamLayout& l) { return l.members[1].end - 1; }},
        {"at the last record", [](const StreamLayout& l) { return l.members[2].record; }},
        {"at the end mark", [](const StreamLayout& l) { return l.end; }},
        {"between the end mark's bytes", [](const StreamLayout& l) { return l.end + 1; }},
    };
    TestArchive archive;
    archive.Add("FIRST.TXT", "first");
    archive.Add("SECOND\\SKEWED.DAT", SkewedBytes(20000, 4));
    archive.Add("THIRD.TXT", "third");
    archive.endMark = true;
    StreamLayout layout;
    archive.Stream(&layout);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        VolumeLayout volumes;
        volumes.stubSize = StubSizeForBoundaryAt(c.offset(layout));
        ExtractRun run;
        run.Write(archive, volumes);
        ASSERT_EQ(run.files.volumes.size(), 2u);
        ASSERT_TRUE(run.Run());
        EXPECT_TRUE(run.result.Ok());
        EXPECT_TRUE(run.result.sawEndMark);
        EXPECT_EQ(run.result.members, 3u);
        EXPECT_EQ(run.Prompts(), Names{}) << run.host.Transcript();
        ExpectInstalled(run, archive);
    }
}

TEST(ExtractAll, DataEndingExactlyAtTheSpanAsksForTheNextDisk) {
    TestArchive archive;
    archive.Add("ONLY.TXT", "only member");
    const size_t length = archive.Stream().size();
    VolumeLayout volumes;
    volumes.stubSize = StubSizeForBoundaryAt(length);
    {
        ExtractRun run;
        run.Write(archive, volumes);
        ASSERT_EQ(run.files.volumes.size(), 1u);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(run.Prompts(), (Names{"beep", "disk 2 GLOB1.DAT", "quit", "cancel"}));
        EXPECT_TRUE(run.result.stopped);
        EXPECT_FALSE(run.result.Ok());
        EXPECT_EQ(ReadWholeFile(run.OnDisk("ONLY.TXT")), BytesOf("only member"));
    }
    {
        archive.endMark = true;  // the mark ends the archive before the span is reached
        volumes.stubSize = StubSizeForBoundaryAt(length + 2);
        ExtractRun run;
        run.Write(archive, volumes);
        ASSERT_EQ(run.files.volumes.size(), 1u);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(run.Prompts(), Names{});
        EXPECT_TRUE(run.result.Ok());
    }
}

TEST(ExtractAll, SeveralMegabytesOverSeveralVolumes) {
    TestArchive archive;
    archive.Add("BIG1.DAT", RandomBytes(2000000, 5));
    archive.Add("DIR\\BIG2.DAT", SkewedBytes(3000000, 6));
    archive.Add("SMALL.TXT", "small");
    ExtractRun run;
    run.Write(archive);
    ASSERT_GE(run.files.volumes.size(), 3u);
    ASSERT_TRUE(run.Run());
    EXPECT_TRUE(run.result.Ok());
    EXPECT_EQ(run.Prompts(), Names{}) << run.host.Transcript();
    ExpectInstalled(run, archive);
}

TEST(ExtractAll, TrailerBytesAreNeverARecord) {
    // With S = 0xF601 the trailer reads 01 f6 00 00, with S = 0x4142 it reads "BA" 00 00: either
    // would pass for a name after the last member.
    for (size_t stub : {size_t{0xF600}, size_t{0x4141}}) {
        SCOPED_TRACE(stub);
        TestArchive archive;
        archive.Add("ONE.TXT", "one");
        archive.Add("TWO.TXT", "two");
        VolumeLayout volumes;
        volumes.stubSize = stub;
        ExtractRun run;
        run.Write(archive, volumes);
        ASSERT_TRUE(run.Run());
        EXPECT_TRUE(run.result.Ok());
        EXPECT_EQ(run.result.members, 2u);
        EXPECT_FALSE(run.result.sawEndMark);
        EXPECT_EQ(ListTree(run.install), (Names{"ONE.TXT", "TWO.TXT"}));
        ExpectNothingOutside(run);
    }
}

struct ExistingCase {
    int64_t existingMinusArchived;  // in FILETIME units
    bool overwrite;
    bool replaced;
    const char* why;
};

TEST(ExtractAll, ExistingFileRule) {
    const ExistingCase cases[] = {
        {-10000000, false, true, "an older file is overwritten"},
        {0, false, false, "a file as new is kept"},
        {3600LL * 10000000, false, false, "a newer file is kept"},
        {0, true, true, "overwrite replaces a file as new"},
        {3600LL * 10000000, true, true, "overwrite replaces a newer file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TestArchive archive;
        archive.Add("APP.EXE", "new contents");
        archive.Add("NEXT.TXT", "next");
        const TestMember& member = archive.members[0];
        ExtractRun run;
        run.options.overwrite = c.overwrite;
        run.Write(archive);
        const std::string path = run.OnDisk("APP.EXE");
        WriteWholeFile(path, "existing, longer contents");
        ASSERT_TRUE(SetFileTimes(path.c_str(), member.creationTime, member.lastAccessTime,
                                 member.lastWriteTime + c.existingMinusArchived));
        ASSERT_TRUE(run.Run());

        EXPECT_TRUE(run.result.Ok());
        EXPECT_EQ(ReadWholeFile(path),
                  BytesOf(c.replaced ? "new contents" : "existing, longer contents"));
        uint64_t lastWrite = 0;
        EXPECT_TRUE(ReadLastWriteTime(path.c_str(), &lastWrite));
        EXPECT_EQ(lastWrite, member.lastWriteTime) << "the archived time is set on a kept file too";
        EXPECT_EQ(ReadWholeFile(run.OnDisk("NEXT.TXT")), BytesOf("next"));
        EXPECT_EQ(run.state->progressFraction.Load(), 1.0) << "kept members count";
    }
}

TEST(ExtractAll, NameBytesAndTheEndOfTheLoop) {
    {
        SCOPED_TRACE("a first byte 0xff belongs to the name");
        TestArchive archive;
        archive.Add("\xFFNAME.TXT", "ff");
        archive.Add("NEXT.TXT", "next");
        ExtractRun run;
        run.Write(archive);
        ASSERT_TRUE(run.Run());
        EXPECT_TRUE(run.result.Ok());
        EXPECT_EQ(run.result.members, 2u);
        EXPECT_EQ(ReadWholeFile(run.OnDisk("\xFFNAME.TXT")), BytesOf("ff"));
        EXPECT_EQ(ReadWholeFile(run.OnDisk("NEXT.TXT")), BytesOf("next"));
    }
    {
        SCOPED_TRACE("a first byte 0x00 belongs to the name");
        TestArchive archive;
        archive.Add(std::string("\0ABC", 4), "zero");
        archive.Add("NEXT.TXT", "next");
        ExtractRun run;
        run.Write(archive);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(run.result.members, 2u);
        ASSERT_GE(run.observer.seen.size(), 1u);
        EXPECT_EQ(run.observer.seen[0].nameLength, 4);
        EXPECT_EQ(run.observer.seen[0].name, std::string("\0ABC", 4));
        EXPECT_EQ(ReadWholeFile(run.OnDisk("NEXT.TXT")), BytesOf("next"));
        EXPECT_FALSE(run.result.damaged);
        ExpectNothingOutside(run);
    }
    {
        SCOPED_TRACE("0xff after a name's first byte ends the archive; data behind it is damage");
        TestArchive archive;
        archive.Add("ONE.TXT", "one");
        TestArchive ignored;
        ignored.Add("NEVER.TXT", "never");
        StreamLayout layout;
        const auto stream = ignored.Stream(&layout);
        archive.trailingBytes = {'A', 0xFF};
        archive.trailingBytes.insert(archive.trailingBytes.end(), stream.begin() + layout.members[0].record,
                                     stream.end());
        ExtractRun run;
        run.Write(archive);
        ASSERT_TRUE(run.Run());
        EXPECT_FALSE(run.result.Ok());
        EXPECT_EQ(run.result.damage, Damage::DataAfterEnd);
        EXPECT_TRUE(run.result.sawEndMark);
        EXPECT_EQ(run.result.members, 1u);
        EXPECT_EQ(ListTree(run.install), Names{"ONE.TXT"});
    }
}

struct UnsafeCase {
    std::string name;
    MemberFailure failure;
};

TEST(ExtractAll, NamesThatWouldLeaveTheInstallDirectoryAreNotWritten) {
    const UnsafeCase cases[] = {
        {"..\\EVIL.TXT", MemberFailure::UnsafeName},
        {"SUB\\..\\..\\EVIL.TXT", MemberFailure::UnsafeName},
        {"..", MemberFailure::UnsafeName},
        {"../EVIL.TXT", MemberFailure::UnsafeName},
        {"C:EVIL.TXT", MemberFailure::UnsafeName},
        {"C:\\EVIL.TXT", MemberFailure::UnsafeName},
        {"\\EVIL.TXT", MemberFailure::UnsafeName},
        {"/EVIL.TXT", MemberFailure::UnsafeName},
        {"A:B", MemberFailure::UnsafeName},
        {std::string(300, 'N'), MemberFailure::PathTooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestArchive archive;
        archive.Add(c.name, RandomBytes(3000, 7));
        archive.Add("GOOD.TXT", "good");
        ExtractRun run;
        run.Write(archive);
        ASSERT_TRUE(run.Run());
        EXPECT_FALSE(run.result.Ok());
        EXPECT_FALSE(run.result.damaged);
        EXPECT_EQ(run.result.members, 2u);
        EXPECT_EQ(run.result.failures, 1u);
        EXPECT_EQ(run.result.firstFailure, c.failure);
        EXPECT_NE(run.result.firstFailedPath[0], '\0');
        EXPECT_EQ(ListTree(run.install), Names{"GOOD.TXT"});
        EXPECT_EQ(ReadWholeFile(run.OnDisk("GOOD.TXT")), BytesOf("good"));
        ExpectNothingOutside(run);
        ASSERT_EQ(run.observer.seen.size(), 2u);
        EXPECT_EQ(run.observer.seen[0].failure, c.failure);
        EXPECT_EQ(run.observer.seen[0].decodedLength, 3000u) << "decoded into nothing, in step";
    }
}

TEST(ExtractAll, TargetPathsUpTo255Characters) {
    for (bool fits : {true, false}) {
        SCOPED_TRACE(fits ? "255 characters" : "256 characters");
        ExtractRun run;
        const size_t room = 255 - std::strlen(run.state->installDir);
        const std::string name(fits ? room : room + 1, 'L');
        TestArchive archive;
        archive.Add(name, "long");
        archive.Add("GOOD.TXT", "good");
        run.Write(archive);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(run.result.Ok(), fits);
        EXPECT_EQ(run.result.firstFailure, fits ? MemberFailure::None : MemberFailure::PathTooLong);
        EXPECT_EQ(FileExists(run.OnDisk(name)), fits);
        EXPECT_EQ(ReadWholeFile(run.OnDisk("GOOD.TXT")), BytesOf("good"));
        EXPECT_EQ(run.Status().size(), std::strlen(run.state->installDir) + std::strlen("GOOD.TXT"));
        ExpectNothingOutside(run);
    }
}

TEST(ExtractAll, OutputThatCannotBeOpenedIsDecodedAwayAndRecorded) {
    TestArchive archive;
    archive.Add("BLOCK\\FILE.TXT", RandomBytes(5000, 8));
    archive.Add("AFTER.TXT", "after");
    ExtractRun run;
    run.Write(archive);
    WriteWholeFile(run.OnDisk("BLOCK"), "a file where a directory should be");
    ASSERT_TRUE(run.Run());
    EXPECT_FALSE(run.result.Ok());
    EXPECT_FALSE(run.result.damaged);
    EXPECT_EQ(run.result.failures, 1u);
    EXPECT_EQ(run.result.firstFailure, MemberFailure::NotDirectory);
    EXPECT_NE(std::string(run.result.firstFailedPath).find("FILE.TXT"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(run.OnDisk("AFTER.TXT")), BytesOf("after"));
    EXPECT_EQ(ReadWholeFile(run.OnDisk("BLOCK")), BytesOf("a file where a directory should be"));
    ASSERT_EQ(run.observer.seen.size(), 2u);
    EXPECT_EQ(run.observer.seen[0].failure, MemberFailure::NotDirectory);
    EXPECT_EQ(run.observer.seen[1].failure, MemberFailure::None);
}

struct TruncationCase {
    const char* where;
    size_t (*cut)(const StreamLayout&, size_t length);  // bytes cut from the end
    bool damaged;
};

TEST(ExtractAll, TruncatedArchives) {
    const TruncationCase cases[] = {
        {"inside the last bit stream",
         [](const StreamLayout& l, size_t n) { return n - (l.members[2].data + l.members[2].end) / 2; }, true},
        {"at the last bit stream's start", [](const StreamLayout& l, size_t n) { return n - l.members[2].data; }, true},
        {"inside the times", [](const StreamLayout& l, size_t n) { return n - l.members[2].fields - 10; }, true},
        {"inside the name", [](const StreamLayout& l, size_t n) { return n - l.members[2].record - 3; }, true},
        {"after the name's first byte", [](const StreamLayout& l, size_t n) { return n - l.members[2].record - 1; }, true},
        {"at a record boundary", [](const StreamLayout& l, size_t n) { return n - l.members[2].record; }, false},
    };
    TestArchive archive;
    archive.Add("ONE.TXT", "one");
    archive.Add("TWO.DAT", SkewedBytes(30000, 9));
    archive.Add("THREE.DAT", RandomBytes(40000, 10));
    StreamLayout layout;
    const size_t length = archive.Stream(&layout).size();
    for (bool multiVolume : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.where) + (multiVolume ? ", in GLOB1.DAT" : ", in volume 0"));
            VolumeLayout volumes;
            volumes.truncateLastVolume = c.cut(layout, length);
            if (multiVolume) volumes.stubSize = StubSizeForBoundaryAt(layout.members[1].data + 100);
            ExtractRun run;
            run.Write(archive, volumes);
            ASSERT_EQ(run.files.volumes.size(), multiVolume ? 2u : 1u);
            ASSERT_TRUE(run.Run());
            EXPECT_EQ(run.result.damaged, c.damaged);
            EXPECT_EQ(run.result.Ok(), !c.damaged);
            EXPECT_EQ(ReadWholeFile(run.OnDisk("ONE.TXT")), BytesOf("one"));
            EXPECT_TRUE(ReadWholeFile(run.OnDisk("TWO.DAT")) == archive.members[1].data);
            EXPECT_EQ(run.Prompts(), Names{}) << run.host.Transcript();
            EXPECT_EQ(run.Status()[0], '*');
            EXPECT_LE(run.result.decodedBytes, archive.TotalSize());
            if (FileExists(run.OnDisk("THREE.DAT"))) {
                EXPECT_LE(ReadWholeFile(run.OnDisk("THREE.DAT")).size(), 40000u);
            }
            if (c.cut(layout, length) <= length - layout.members[2].data) {
                EXPECT_GE(run.result.failures, 1u);
                EXPECT_EQ(run.result.firstFailure, MemberFailure::Damaged);
            }
        }
    }
}

TEST(ExtractAll, EscapesNoCoderSendsAreDamage) {
    const struct {
        std::vector<uint8_t> stream;
        const char* why;
    } cases[] = {
        {FromHex("b0 8c 20 00 00 00"), "an Escape names a byte already in the tree"},
        {EscapeIntoAFullTree(), "an Escape arrives when every byte value is in the tree"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TestArchive archive;
        archive.Add("FIRST.TXT", "first");
        archive.Add("BAD.DAT", "");
        archive.members.back().stream = c.stream;
        archive.Add("LAST.TXT", "last");
        ExtractRun run;
        run.Write(archive);
        ASSERT_TRUE(run.Run());
        EXPECT_TRUE(run.result.damaged);
        EXPECT_FALSE(run.result.Ok());
        EXPECT_EQ(run.result.firstFailure, MemberFailure::Damaged);
        EXPECT_EQ(ReadWholeFile(run.OnDisk("FIRST.TXT")), BytesOf("first"));
        if (FileExists(run.OnDisk("BAD.DAT"))) {
            EXPECT_LE(ReadWholeFile(run.OnDisk("BAD.DAT")).size(), 8 * c.stream.size());
        }
        ExpectNothingOutside(run);
    }
}

TEST(ExtractAll, ListingWritesNothing) {
    TestArchive archive = UsualArchive();
    ExtractRun run;
    run.options.writeFiles = false;
    run.Write(archive);
    ASSERT_TRUE(run.Run());
    EXPECT_TRUE(run.result.Ok());
    EXPECT_EQ(run.result.members, 5u);
    EXPECT_EQ(run.result.decodedBytes, archive.TotalSize());
    EXPECT_EQ(ListTree(run.install), Names{});
    EXPECT_EQ(run.host.calls, Names{}) << "no directories either";
    ASSERT_EQ(run.observer.seen.size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(run.observer.seen[i].decodedLength, archive.members[i].data.size());
}

TEST(ExtractAll, StopRequestEndsTheRun) {
    TestArchive archive;
    archive.Add("BIG.DAT", RandomBytes(600000, 11));
    archive.Add("AFTER.TXT", "after");
    ExtractRun run;
    run.Write(archive);
    run.host.stopAfterChecks = 3;
    ASSERT_TRUE(run.Run());
    EXPECT_TRUE(run.result.stopped);
    EXPECT_FALSE(run.result.Ok());
    EXPECT_FALSE(FileExists(run.OnDisk("AFTER.TXT")));
    EXPECT_LT(run.result.decodedBytes, 600000u);
    EXPECT_EQ(run.Status()[0], '*');
}

// The worker is paused and stopped at its checks. Members small enough to need no check of their
// own still meet one before each: nothing of a member (its text, its directories and file, its
// fraction) happens before the check that precedes it has been passed.
TEST(ExtractAll, EveryMemberWaitsForACheckBeforeAnythingOfItHappens) {
    constexpr int Count = 12;
    TestArchive archive;
    for (int i = 0; i < Count; ++i) archive.Add("D" + std::to_string(i) + "\\F.TXT", "tiny " + std::to_string(i));
    // The fraction the page sees once the first i members are done.
    auto fractionAfter = [&](int i) {
        uint32_t done = 0;
        for (int j = 0; j < i; ++j) done += archive.members[j].RecordedSize();
        return double(done) / double(archive.TotalSize());
    };
    struct Seen {
        std::string status;
        size_t entries;
        double fraction;
    };
    std::vector<Seen> checks;
    ExtractRun run;
    run.Write(archive);
    run.host.onShouldStop = [&] {
        checks.push_back({run.Status(), ListTree(run.install).size(), run.state->progressFraction.Load()});
    };
    ASSERT_TRUE(run.Run());
    ASSERT_TRUE(run.result.Ok());
    // Before member i: i members (a directory and a file each) done, member i - 1's path shown.
    for (int i = 0; i < Count; ++i) {
        SCOPED_TRACE("before member " + std::to_string(i));
        const std::string shown = i == 0 ? "" : run.state->installDir + archive.members[i - 1].name;
        const bool found = std::any_of(checks.begin(), checks.end(), [&](const Seen& seen) {
            std::string status = seen.status;
            std::replace(status.begin(), status.end(), '/', '\\');
            std::string expected = shown;
            std::replace(expected.begin(), expected.end(), '/', '\\');
            return status == expected && seen.entries == size_t(2 * i) &&
                   seen.fraction == fractionAfter(i);
        });
        EXPECT_TRUE(found) << "no check between member " << i - 1 << " and member " << i;
    }

    // A stop at the check before member k: nothing of member k or later.
    for (const int k : {0, 5, Count - 1}) {
        SCOPED_TRACE("stopped before member " + std::to_string(k));
        ExtractRun stopped;
        stopped.Write(archive);
        stopped.host.onShouldStop = [&] {
            if (ListTree(stopped.install).size() == size_t(2 * k)) stopped.host.stopNow = true;
        };
        ASSERT_TRUE(stopped.Run());
        EXPECT_TRUE(stopped.result.stopped);
        EXPECT_EQ(ListTree(stopped.install).size(), size_t(2 * k));
        EXPECT_EQ(stopped.observer.seen.size(), size_t(k)) << "a member was started after the stop";
        EXPECT_EQ(stopped.state->progressFraction.Load(), fractionAfter(k));
    }
}

TEST(ExtractAll, MissingVolumeCancelledStopsTheRun) {
    TestArchive archive;
    archive.Add("SPLIT.DAT", RandomBytes(20000, 12));
    StreamLayout layout;
    archive.Stream(&layout);
    VolumeLayout volumes;
    volumes.stubSize = StubSizeForBoundaryAt(layout.members[0].data + 5000);
    ExtractRun run;
    run.Write(archive, volumes);
    ASSERT_EQ(run.files.volumes.size(), 2u);
    std::filesystem::remove(run.files.volumes[1]);
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.Prompts(), (Names{"beep", "disk 2 GLOB1.DAT", "quit", "cancel"}));
    EXPECT_TRUE(run.result.stopped);
    EXPECT_FALSE(run.result.Ok());
}

TEST(IsSafeMemberName, Table) {
    const struct {
        const char* name;
        bool safe;
    } cases[] = {
        {"README.TXT", true},
        {"BIN\\TOOL.EXE", true},
        {"A..B", true},
        {".PROFILE", true},
        {"CAF\xC9.TXT", true},
        {"\xFFNAME", true},
        {"..", false},
        {"...", false},
        {"..\\X", false},
        {"A\\..\\B", false},
        {"A\\.\\B", false},
        {"../X", false},
        {"C:X", false},
        {"C:\\X", false},
        {"A:B", false},
        {"\\X", false},
        {"/X", false},
        {"A\x01" "B", false},
        {"A\tB", false},
        {"BIN\\TOOL>EXE", false},  // a flipped bit of "TOOL.EXE": Windows cannot create it
        {"A<B", false},
        {"A\"B", false},
        {"A|B", false},
        {"A?B", false},
        {"DIR*\\B", false},
        {"CON", false},
        {"nul", false},
        {"COM1", false},
        {"LPT1", false},
        {"AUX", false},
        {"PRN", false},
        {"SUB\\CON", false},
        {"SUB\\", false},  // names a directory, no file
        {"SUB/", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsSafeMemberName(c.name), c.safe) << c.name;
}

TEST(DescribeFailure, EveryFailureHasText) {
    for (auto failure : {MemberFailure::UnsafeName, MemberFailure::PathTooLong, MemberFailure::CannotOpen,
                         MemberFailure::WriteFailed, MemberFailure::Damaged}) {
        const char* text = DescribeFailure(failure);
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::strlen(text), 0u);
    }
}

}  // namespace
