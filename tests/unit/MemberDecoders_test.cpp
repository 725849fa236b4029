// globx's decoders working ahead of ExtractAll: on intact installers of every shape the run is the
// one-thread run, member for member, and the threads' memory stays within their caps.
#include "MemberDecoders.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "AheadRun.h"
#include "MemberOutput.h"

namespace {

RunOutcome Extract(const TestArchive& archive, const InstallerFiles& files, const IntegrityTable& table,
                   const RunSetup& setup, unsigned threads, size_t cap) {
    AheadRun ahead(archive, files, setup);
    ahead.run.options.integrity = &table;
    std::unique_ptr<MemberDecoders> decoders;
    if (threads > 1) {
        decoders.reset(new MemberDecoders({files.exePath, files.baseName, {}}, table, threads, cap));
        ahead.run.options.decodedAhead = decoders.get();
    }
    RunOutcome out = ahead.Run();
    if (decoders) out.peak = decoders->PeakQueuedBytes();
    return out;
}

TestArchive ManySmallMembers() {
    TestArchive archive;
    for (int i = 0; i < 70; ++i) {
        const std::string name = (i % 4 == 0 ? "SUB\\" : "") + std::string(i % 5 ? "F" : "S") + std::to_string(i) + ".DAT";
        archive.Add(name, i % 3 ? RandomBytes(size_t(i) * 97, uint32_t(i)) : std::vector<uint8_t>(size_t(i) * 50, 'a'));
    }
    SpreadTimes(archive);
    archive.endMark = true;
    return archive;
}

TEST(MemberDecoders, TheRunIsTheOneThreadRun) {
    const struct {
        const char* what;
        TestArchive archive;
    } archives[] = {{"many small members", ManySmallMembers()}, {"large members over volumes", LargeMembers()}};
    for (const auto& a : archives) {
        const TestArchive& archive = a.archive;
        StreamLayout layout;
        const std::vector<uint8_t> stream = archive.Stream(&layout);
        const IntegrityTable table = IntegrityTableFor(archive, stream, layout);
        TempDir media;
        VolumeLayout volumes;
        // The first volume ends inside the first member; the others hold 1.4 MB each.
        volumes.stubSize = StubSizeForBoundaryAt(std::min<size_t>(stream.size() - 100, 400000));
        const InstallerFiles files = WriteInstaller(media.Path(), stream, volumes);
        for (const RunSetup& setup : RunSetups) {
            const RunOutcome alone = Extract(archive, files, table, setup, 1, 0);
            for (const unsigned threads : {2u, 4u}) {
                for (const size_t cap : {size_t(1) << 16, MemberDecoders::DefaultCapBytes}) {
                    SCOPED_TRACE(std::string(a.what) + ", " + setup.what + ", " + std::to_string(threads) +
                                 " threads, cap " + std::to_string(cap));
                    const RunOutcome ahead = Extract(archive, files, table, setup, threads, cap);
                    ExpectSameRun(ahead, alone, threads, cap);
                    EXPECT_EQ(ahead.taken, archive.members.size() - 1) << "not every member was decoded ahead";
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
