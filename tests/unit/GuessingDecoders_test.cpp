// globx's decoders guessing ahead of ExtractAll without integrity data: on installers of every
// shape, and with wrong guesses planted, the run is the one-thread run, member for member, work
// is really taken from the threads, and their memory stays within their caps.
#include "GuessingDecoders.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "AheadRun.h"
#include "ArchiveCursor.h"
#include "MemberRecord.h"
#include "RecordScanner.h"
#include "VolumeHost.h"

namespace {

// Holds the run at its first member until the threads have taken up jobs jobs ahead.
class GatedObserver : public MemberObserver {
public:
    GatedObserver(MemberObserver& inner, const GuessingDecoders& decoders, uint32_t jobs)
        : inner(inner), decoders(decoders), jobs(jobs) {}
    void MemberStarted(const MemberRecord& record, const char* target) override {
        if (jobs) decoders.WaitUntilTakenUp(jobs);
        jobs = 0;
        inner.MemberStarted(record, target);
    }
    void MemberFinished(const MemberRecord& record, uint64_t length, MemberFailure failure) override {
        inner.MemberFinished(record, length, failure);
    }

private:
    MemberObserver& inner;
    const GuessingDecoders& decoders;
    uint32_t jobs;
};

struct Outcome : RunOutcome {
    GuessingDecoders::Counts counts;
};

struct Threads {
    unsigned count = 1;
    size_t cap = 0;
    size_t region = 0;
    uint32_t gate = 0;  // jobs to wait for before the first member
};

Outcome Extract(const TestArchive& archive, const InstallerFiles& files, const RunSetup& setup,
                const Threads& threads) {
    AheadRun ahead(archive, files, setup);
    std::unique_ptr<GuessingDecoders> decoders;
    std::unique_ptr<GatedObserver> gate;
    if (threads.count > 1) {
        decoders.reset(new GuessingDecoders({files.exePath, files.baseName, {}}, threads.count, threads.cap,
                                               threads.region));
        ahead.run.options.decodedAhead = decoders.get();
        gate.reset(new GatedObserver(ahead.run.observer, *decoders, threads.gate));
        ahead.run.options.observer = gate.get();
    }
    Outcome out;
    static_cast<RunOutcome&>(out) = ahead.Run();
    if (decoders) {
        out.peak = decoders->PeakQueuedBytes();
        out.counts = decoders->GetCounts();
    }
    return out;
}

std::vector<uint8_t> Text(size_t count, uint32_t seed) {
    static const char* const words[] = {"volume ", "member ", "archive ", "the ", "disk ", "\r\n"};
    std::vector<uint8_t> text;
    uint32_t x = seed;
    while (text.size() < count) {
        x = x * 1103515245 + 12345;
        for (const char* c = words[(x >> 16) % 6]; *c; ++c) text.push_back(static_cast<uint8_t>(*c));
    }
    text.resize(count);
    return text;
}

constexpr uint64_t Day = 864000000000ULL;

// Bytes 2 to 7 of a little-endian time and the first two of the next: what a record read two
// bytes late takes for a time.
uint64_t ShiftedTime(uint64_t time, uint8_t next0, uint8_t next1) {
    return time >> 16 | uint64_t(next0) << 48 | uint64_t(next1) << 56;
}

// Makes member a wrong guess in front of its own bit stream. Its record's size is 0x00010041, so
// read two bytes late ('A' and a NUL) it ends a record whose size is 1; the two lower bytes of its
// access and write times and the first two of its bit stream (found by trying the first two data
// bytes) are the upper bytes of plausible times; its creation time of 0 keeps the scanner from the
// true record. Decoding from two bytes into the bit stream is a guess that ExtractAll never asks
// for.
void PlantWrongGuess(TestMember& member, uint32_t seed) {
    const uint64_t base = FileTimeFromUnix(1200000000) & ~uint64_t(0xFFFF);
    member.creationTime = 0;
    member.lastAccessTime = base | 0x01C0;
    member.lastWriteTime = ((base + Day) & ~uint64_t(0xFFFF)) | 0x01C0;
    std::vector<uint8_t> data = Text(0x10041, seed);
    for (int b0 = 0; b0 < 256; ++b0) {
        for (int b1 = 0; b1 < 256; ++b1) {
            const std::vector<uint8_t> coded = Encode({uint8_t(b0), uint8_t(b1)});
            const uint64_t last = ShiftedTime(member.lastWriteTime, coded[0], coded[1]);
            if (last >= FileTimeFromUnix(0) && last < FileTimeFromUnix(7258118400)) {
                data[0] = uint8_t(b0);
                data[1] = uint8_t(b1);
                member.data = data;
                return;
            }
        }
    }
    ADD_FAILURE() << "no data makes a plausible time of the bit stream's first bytes";
}

TestArchive ManyMembers(size_t count, size_t size) {
    TestArchive archive;
    for (size_t i = 0; i < count; ++i) {
        const std::string name = (i % 4 == 0 ? "SUB\\" : "") + std::string(i % 5 ? "F" : "S") + std::to_string(i) + ".DAT";
        archive.Add(name, i % 3 ? RandomBytes(size * (i % 7 + 1) / 4, uint32_t(i)) : Text(size * (i % 5), uint32_t(i)));
    }
    SpreadTimes(archive);
    archive.endMark = true;
    return archive;
}

TestArchive WithWrongGuesses() {
    TestArchive archive = ManyMembers(30, 3000);
    for (size_t i = 4; i < archive.members.size(); i += 8) PlantWrongGuess(archive.members[i], uint32_t(i));
    return archive;
}

// The planted guesses are there: in front of such a member the scanner finds only the bit stream
// two bytes into its own.
TEST(GuessingDecoders, PlantedWrongGuessesAreFound) {
    const TestArchive archive = WithWrongGuesses();
    StreamLayout layout;
    const std::vector<uint8_t> stream = archive.Stream(&layout);
    TempDir media;
    const InstallerFiles files = WriteInstaller(media.Path(), stream);
    const MemberDecoders::Source source{files.exePath, files.baseName, {}};
    VolumeHost host;
    ArchiveCursor cursor(source, host);
    ASSERT_TRUE(cursor.Open());
    RecordScanner scanner(cursor);
    for (size_t i = 4; i < archive.members.size(); i += 8) {
        const auto& m = layout.members[i];
        EXPECT_EQ(scanner.Next(int64_t(m.record), int64_t(m.end)), int64_t(m.data + 2)) << "member " << i;
    }
}

TEST(GuessingDecoders, TheRunIsTheOneThreadRun) {
    const struct {
        const char* what;
        TestArchive archive;
    } archives[] = {{"many small members", ManyMembers(70, 400)},
                    {"large members over volumes", LargeMembers()},
                    {"wrong guesses planted", WithWrongGuesses()}};
    uint32_t failedGuesses = 0;
    for (const auto& a : archives) {
        StreamLayout layout;
        const std::vector<uint8_t> stream = a.archive.Stream(&layout);
        TempDir media;
        VolumeLayout volumes;
        // The first volume ends inside the first member; the others hold 1.4 MB each.
        volumes.stubSize = StubSizeForBoundaryAt(std::min<size_t>(stream.size() - 100, 400000));
        const InstallerFiles files = WriteInstaller(media.Path(), stream, volumes);
        for (const RunSetup& setup : RunSetups) {
            const Outcome alone = Extract(a.archive, files, setup, {});
            for (const unsigned threads : {2u, 4u}) {
                for (const size_t cap : {size_t(1) << 16, MemberDecoders::DefaultCapBytes}) {
                    for (const size_t region : {size_t(0), size_t(700)}) {
                        SCOPED_TRACE(std::string(a.what) + ", " + setup.what + ", " + std::to_string(threads) +
                                     " threads, cap " + std::to_string(cap) + ", region " + std::to_string(region));
                        const Outcome ahead = Extract(a.archive, files, setup, {threads, cap, region, 3});
                        ExpectSameRun(ahead, alone, threads, cap);
                        EXPECT_GT(ahead.taken, 0u) << "nothing was taken ahead";
                        failedGuesses += ahead.counts.failed;
                    }
                }
            }
        }
    }
    EXPECT_GT(failedGuesses, 0u) << "no wrong guess was ever decoded";
}

}  // namespace
