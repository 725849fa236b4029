// globx's decoders working ahead of ExtractAll: on intact installers of every shape the run is the
// one-thread run, member for member, and the threads' memory stays within their caps.
#include "MemberDecoders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "ExtractRun.h"
#include "FileSystem.h"
#include "MemberOutput.h"
#include "TestArchive.h"

namespace {

class Filter : public MemberFilter {
public:
    bool Selected(const MemberRecord& record) override { return record.name[0] != 'S'; }
};

struct RunSetup {
    const char* what;
    bool writeFiles;
    bool overwrite;
    bool filter;
    bool existing;  // files stand at some targets before the run, newer and older
};

struct Outcome {
    std::string summary;
    std::map<std::string, std::vector<uint8_t>> files;
    std::map<std::string, uint64_t> times;
    uint32_t taken = 0;
    size_t peak = 0;
};

Outcome Extract(const TestArchive& archive, const InstallerFiles& files, const IntegrityTable& table,
                const RunSetup& setup, unsigned threads, size_t cap) {
    ExtractRun run;
    run.files = files;
    Filter filter;
    run.options.integrity = &table;
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
    std::unique_ptr<MemberDecoders> decoders;
    if (threads > 1) {
        decoders.reset(new MemberDecoders({files.exePath, files.baseName, {}}, table, threads, cap));
        run.options.decodedAhead = decoders.get();
    }
    Outcome out;
    EXPECT_TRUE(run.Run());
    out.summary = run.Summary();
    for (const auto& member : archive.members) {
        const std::string path = run.OnDisk(member.name);
        if (!FileExists(path)) continue;
        out.files[member.name] = ReadWholeFile(path);
        ReadLastWriteTime(path.c_str(), &out.times[member.name]);
    }
    out.taken = run.result.decodedAhead;
    if (decoders) out.peak = decoders->PeakQueuedBytes();
    return out;
}

TestArchive ManySmallMembers() {
    TestArchive archive;
    for (int i = 0; i < 70; ++i) {
        const std::string name = (i % 4 == 0 ? "SUB\\" : "") + std::string(i % 5 ? "F" : "S") + std::to_string(i) + ".DAT";
        archive.Add(name, i % 3 ? RandomBytes(size_t(i) * 97, uint32_t(i)) : std::vector<uint8_t>(size_t(i) * 50, 'a'));
    }
    return archive;
}

// Members of several output buffers and of several caps, with volume boundaries inside them.
TestArchive LargeMembers() {
    TestArchive archive;
    archive.Add("BIG1.BIN", RandomBytes(600000, 11));
    archive.Add("SMALL.TXT", "small\r\n");
    archive.Add("S2.BIN", RandomBytes(300000, 12));
    archive.Add("RUN.DAT", std::vector<uint8_t>(600000, 'r'));
    archive.Add("SUB\\BIG3.BIN", RandomBytes(400000, 13));
    archive.Add("LAST.TXT", "the end\r\n");
    return archive;
}

TEST(MemberDecoders, TheRunIsTheOneThreadRun) {
    const struct {
        const char* what;
        TestArchive archive;
    } archives[] = {{"many small members", ManySmallMembers()}, {"large members over volumes", LargeMembers()}};
    const RunSetup setups[] = {
        {"test", false, false, false, false},
        {"extract", true, false, false, false},
        {"extract over existing files, keeping the newer", true, false, false, true},
        {"extract over existing files, overwriting", true, true, false, true},
        {"extract with a filter", true, false, true, false},
    };
    for (const auto& a : archives) {
        StreamLayout layout;
        TestArchive archive = a.archive;
        uint64_t time = FileTimeFromUnix(1300000000);
        for (auto& member : archive.members) {
            member.creationTime = member.lastAccessTime = member.lastWriteTime = time;
            time += 864000000000ULL;
        }
        archive.endMark = true;
        const std::vector<uint8_t> stream = archive.Stream(&layout);
        const IntegrityTable table = IntegrityTableFor(archive, stream, layout);
        TempDir media;
        VolumeLayout volumes;
        // The first volume ends inside the first member; the others hold 1.4 MB each.
        volumes.stubSize = StubSizeForBoundaryAt(std::min<size_t>(stream.size() - 100, 400000));
        const InstallerFiles files = WriteInstaller(media.Path(), stream, volumes);
        for (const RunSetup& setup : setups) {
            const Outcome alone = Extract(archive, files, table, setup, 1, 0);
            for (const unsigned threads : {2u, 4u}) {
                for (const size_t cap : {size_t(1) << 16, MemberDecoders::DefaultCapBytes}) {
                    SCOPED_TRACE(std::string(a.what) + ", " + setup.what + ", " + std::to_string(threads) +
                                 " threads, cap " + std::to_string(cap));
                    const Outcome ahead = Extract(archive, files, table, setup, threads, cap);
                    EXPECT_EQ(ahead.summary, alone.summary);
                    EXPECT_TRUE(ahead.files == alone.files) << "the files differ";
                    EXPECT_TRUE(ahead.times == alone.times) << "the times differ";
                    EXPECT_EQ(ahead.taken, archive.members.size() - 1) << "not every member was decoded ahead";
                    // Each thread holds its cap, or one output buffer when that is more.
                    EXPECT_LE(ahead.peak, threads * std::max(cap, size_t(1) << 16));
                }
            }
        }
    }
}

// Members given up (ExtractAll decodes them itself, here because they never come) and a run
// that ends early leave no thread behind waiting.
TEST(MemberDecoders, GivenUpMembersAndAnEarlyEndLeaveNoThreadWaiting) {
    const TestArchive archive = LargeMembers();
    StreamLayout layout;
    const std::vector<uint8_t> stream = archive.Stream(&layout);
    const IntegrityTable table = IntegrityTableFor(archive, stream, layout);
    TempDir media;
    const InstallerFiles files = WriteInstaller(media.Path(), stream);
    for (const uint32_t first : {0u, 2u, 4u}) {
        SCOPED_TRACE("first delivery: member " + std::to_string(first));
        MemberDecoders decoders({files.exePath, files.baseName, {}}, table, 2, 1 << 16);
        FakeHost host;
        MemberOutput output(host);
        output.OpenDiscard();
        AheadOutcome outcome;
        ASSERT_TRUE(decoders.Deliver(first, output, &outcome));
        EXPECT_EQ(output.Length(), archive.members[first].data.size());
        EXPECT_EQ(outcome.endOffset, layout.members[first].end);
        // The destructor stops the thread working on the next members with its queue full.
    }
    MemberDecoders decoders({files.exePath, files.baseName, {}}, table, 2, 1 << 16);
    FakeHost host;
    MemberOutput output(host);
    output.OpenDiscard();
    AheadOutcome outcome;
    EXPECT_FALSE(decoders.Deliver(5, output, &outcome)) << "the last member is never decoded ahead";
}

}  // namespace
