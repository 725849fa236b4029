#include "AheadRun.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "FileSystem.h"
#include "MemberRecord.h"

const std::vector<RunSetup> RunSetups = {
    {"test", false, false, false, false},
    {"extract", true, false, false, false},
    {"extract over existing files, keeping the newer", true, false, false, true},
    {"extract over existing files, overwriting", true, true, false, true},
    {"extract with a filter", true, false, true, false},
};

AheadRun::AheadRun(const TestArchive& archive, const InstallerFiles& files, const RunSetup& setup)
    : archive(archive) {
    run.files = files;
    run.options.writeFiles = setup.writeFiles;
    run.options.overwrite = setup.overwrite;
    if (setup.filter) run.options.filter = &filter;
    if (setup.existing) {
        for (size_t i = 0; i < archive.members.size(); i += 3) {
            const std::string path = run.OnDisk(archive.members[i].name);
            MakeDirectories(path.substr(0, path.find_last_of(PathSeparator)));
            WriteWholeFile(path, std::vector<uint8_t>(5, 'x'));
            // Every other one newer than the member: kept unless overwritten.
            const uint64_t time = archive.members[i].lastWriteTime + (i % 2 ? 10000000 : -10000000);
            SetFileTimes(path.c_str(), time, time, time);
        }
    }
}

RunOutcome AheadRun::Run() {
    RunOutcome out;
    EXPECT_TRUE(run.Run());
    out.summary = run.Summary();
    for (const auto& member : archive.members) {
        const std::string path = run.OnDisk(member.name);
        if (!FileExists(path)) continue;
        out.files[member.name] = ReadWholeFile(path);
        ReadLastWriteTime(path.c_str(), &out.times[member.name]);
    }
    out.taken = run.result.decodedAhead;
    return out;
}

void ExpectSameRun(const RunOutcome& ahead, const RunOutcome& alone, unsigned threads, size_t cap) {
    EXPECT_EQ(ahead.summary, alone.summary);
    EXPECT_TRUE(ahead.files == alone.files) << "the files differ";
    EXPECT_TRUE(ahead.times == alone.times) << "the times differ";
    EXPECT_LE(ahead.peak, threads * std::max(cap, size_t(1) << 16));
}

void SpreadTimes(TestArchive& archive) {
    uint64_t time = FileTimeFromUnix(1300000000);
    for (auto& member : archive.members) {
        member.creationTime = member.lastAccessTime = member.lastWriteTime = time;
        time += 864000000000ULL;
    }
}

TestArchive LargeMembers() {
    TestArchive archive;
    archive.Add("BIG1.BIN", RandomBytes(600000, 11));
    archive.Add("SMALL.TXT", "small\r\n");
    archive.Add("S2.BIN", RandomBytes(300000, 12));
    archive.Add("RUN.DAT", std::vector<uint8_t>(600000, 'r'));
    archive.Add("SUB\\BIG3.BIN", RandomBytes(400000, 13));
    archive.Add("LAST.TXT", "the end\r\n");
    SpreadTimes(archive);
    archive.endMark = true;
    return archive;
}
