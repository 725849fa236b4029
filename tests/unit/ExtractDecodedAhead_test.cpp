// ExtractAll with members decoded ahead (ExtractOptions::decodedAhead): what it takes must be what
// it would have decoded, and whatever else a provider offers changes nothing of the run.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "Extract.h"
#include "ExtractRun.h"
#include "MemberOutput.h"
#include "TestArchive.h"

namespace {

TestArchive AheadArchive() {
    TestArchive archive;
    archive.Add("README.TXT", "Read me first.\r\n");
    archive.Add("EMPTY.DAT", "");
    archive.Add("BIN\\TOOL.EXE", RandomBytes(150000, 3));  // more than one output buffer
    archive.Add("RUN.DAT", std::vector<uint8_t>(70000, 'z'));
    archive.Add("LAST.TXT", "the last member\r\n");
    uint64_t time = FileTimeFromUnix(1200000000);
    for (auto& member : archive.members) {
        member.creationTime = member.lastAccessTime = member.lastWriteTime = time;
        time += 864000000000ULL;
    }
    archive.endMark = true;
    return archive;
}

// What a provider offers for one member: the true bytes and outcome, changed by lie.
struct Offer {
    std::vector<uint8_t> bytes;
    AheadOutcome outcome;
    bool delivered = true;
};

class ScriptedAhead : public DecodedAhead {
public:
    ScriptedAhead(const TestArchive& archive, const StreamLayout& layout, std::function<void(uint32_t, Offer&)> lie)
        : archive(archive), layout(layout), lie(std::move(lie)) {}

    bool Deliver(uint32_t index, MemberOutput& output, AheadOutcome* outcome) override {
        calls.push_back(index);
        Offer offer;
        offer.bytes = archive.members[index].data;
        offer.outcome.complete = true;
        offer.outcome.endOffset = layout.members[index].end;
        if (lie) lie(index, offer);
        if (!offer.delivered) return false;
        if (!output.Write(offer.bytes.data(), offer.bytes.size())) return false;
        *outcome = offer.outcome;
        return offer.outcome.complete;
    }

    // By offset (no integrity data): the member whose bit stream starts there, told as by index.
    bool DeliverAt(uint64_t dataOffset, MemberOutput& output, AheadOutcome* outcome) override {
        offsets.push_back(dataOffset);
        for (uint32_t index = 0; index < layout.members.size(); ++index) {
            if (layout.members[index].data != dataOffset) continue;
            Offer offer;
            offer.bytes = archive.members[index].data;
            offer.outcome.complete = true;
            offer.outcome.startOffset = dataOffset;
            offer.outcome.endOffset = layout.members[index].end;
            if (lie) lie(index, offer);
            if (!offer.delivered) return false;
            if (!output.Write(offer.bytes.data(), offer.bytes.size())) return false;
            *outcome = offer.outcome;
            return offer.outcome.complete;
        }
        return false;
    }

    std::vector<uint32_t> calls;
    std::vector<uint64_t> offsets;

private:
    const TestArchive& archive;
    const StreamLayout& layout;
    std::function<void(uint32_t, Offer&)> lie;
};

struct Outcome {
    std::string summary;
    std::map<std::string, std::vector<uint8_t>> files;
    uint32_t taken = 0;
    std::vector<uint32_t> calls;
    std::vector<uint64_t> offsets;
};

Outcome Extract(const TestArchive& archive, bool writeFiles, std::function<void(uint32_t, Offer&)> lie,
            bool ahead = true, bool integrity = true) {
    StreamLayout layout;
    const std::vector<uint8_t> stream = archive.Stream(&layout);
    const IntegrityTable table = IntegrityTableFor(archive, stream, layout);
    ScriptedAhead provider(archive, layout, std::move(lie));
    ExtractRun run;
    run.Write(archive);
    if (integrity) run.options.integrity = &table;
    run.options.writeFiles = writeFiles;
    if (ahead) run.options.decodedAhead = &provider;
    EXPECT_TRUE(run.Run());
    Outcome out;
    out.summary = run.Summary();
    for (const auto& member : archive.members)
        if (FileExists(run.OnDisk(member.name))) out.files[member.name] = ReadWholeFile(run.OnDisk(member.name));
    out.taken = run.result.decodedAhead;
    out.calls = provider.calls;
    out.offsets = provider.offsets;
    return out;
}

TEST(ExtractDecodedAhead, TakesEveryCleanMemberButTheLast) {
    const TestArchive archive = AheadArchive();
    for (const bool write : {false, true}) {
        SCOPED_TRACE(write ? "extract" : "test");
        const Outcome alone = Extract(archive, write, nullptr, false);
        const Outcome ahead = Extract(archive, write, nullptr);
        EXPECT_EQ(ahead.summary, alone.summary);
        EXPECT_TRUE(ahead.files == alone.files);
        EXPECT_EQ(ahead.taken, 4u);
        EXPECT_EQ(ahead.calls, (std::vector<uint32_t>{0, 1, 2, 3}));
    }
}

// A provider that lies about member 2 (the one over several output buffers) or 1 (the empty one)
// is found out before the stream moves: the member is decoded here and the run is the one
// without a provider, files, messages and verdict alike.
TEST(ExtractDecodedAhead, ALyingProviderChangesNothing) {
    const TestArchive archive = AheadArchive();
    const struct {
        const char* what;
        uint32_t member;
        std::function<void(Offer&)> lie;
    } cases[] = {
        {"a byte changed", 2, [](Offer& o) { o.bytes[77777] ^= 1; }},
        {"the last byte changed", 2, [](Offer& o) { o.bytes.back() ^= 0x80; }},
        {"one byte short", 2, [](Offer& o) { o.bytes.pop_back(); }},
        {"one byte more", 2, [](Offer& o) { o.bytes.push_back('x'); }},
        {"bytes for an empty member", 1, [](Offer& o) { o.bytes = {'a'}; }},
        {"nothing for a long member", 2, [](Offer& o) { o.bytes.clear(); }},
        {"its end one byte late", 2, [](Offer& o) { o.outcome.endOffset += 1; }},
        {"its end one byte early", 2, [](Offer& o) { o.outcome.endOffset -= 1; }},
        {"its end at its own record", 2, [](Offer& o) { o.outcome.endOffset = 0; }},
        {"the bytes, but incomplete", 2, [](Offer& o) { o.outcome.complete = false; }},
        {"nothing delivered", 2, [](Offer& o) { o.delivered = false; }},
    };
    for (const bool write : {false, true}) {
        const Outcome alone = Extract(archive, write, nullptr, false);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(write ? "extract: " : "test: ") + c.what);
            const Outcome lied = Extract(archive, write, [&](uint32_t index, Offer& offer) {
                if (index == c.member) c.lie(offer);
            });
            EXPECT_EQ(lied.summary, alone.summary);
            EXPECT_TRUE(lied.files == alone.files) << "the files differ";
            EXPECT_EQ(lied.taken, 3u) << "the other members are still taken";
        }
    }
}

// Damage in the archive itself: the provider offers the intact bytes, yet the damaged record or
// size is read here and judged as without it.
TEST(ExtractDecodedAhead, DamageInTheRecordsIsJudgedAsWithoutIt) {
    TestArchive archive = AheadArchive();
    const struct {
        const char* what;
        std::function<void(TestArchive&)> damage;
    } cases[] = {
        {"a size one too small", [](TestArchive& a) { a.members[2].size = 149999; }},
        {"a size one too large", [](TestArchive& a) { a.members[0].size = 17; }},
        {"a time no file can carry", [](TestArchive& a) { a.members[1].lastWriteTime |= uint64_t(1) << 63; }},
        {"an unsafe name", [](TestArchive& a) { a.members[2].name = "..\\TOOL.EXE"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestArchive damaged = archive;
        c.damage(damaged);
        for (const bool write : {false, true}) {
            const Outcome alone = Extract(damaged, write, nullptr, false);
            const Outcome ahead = Extract(damaged, write, [&](uint32_t index, Offer& offer) {
                offer.bytes = archive.members[index].data;  // what the record does not say
            });
            EXPECT_EQ(ahead.summary, alone.summary);
            EXPECT_TRUE(ahead.files == alone.files);
        }
    }
}

// Without integrity data every member is asked for by the offset of its bit stream, the last
// one too (what was decoded to its end from exactly there is what decoding here would give);
// nothing is asked by index.
TEST(ExtractDecodedAhead, WithoutIntegrityDataMembersAreTakenByOffset) {
    const TestArchive archive = AheadArchive();
    StreamLayout layout;
    archive.Stream(&layout);
    std::vector<uint64_t> offsets;
    for (const auto& member : layout.members) offsets.push_back(member.data);
    for (const bool write : {false, true}) {
        SCOPED_TRACE(write ? "extract" : "test");
        const Outcome alone = Extract(archive, write, nullptr, false, false);
        const Outcome ahead = Extract(archive, write, nullptr, true, false);
        EXPECT_EQ(ahead.summary, alone.summary);
        EXPECT_TRUE(ahead.files == alone.files);
        EXPECT_EQ(ahead.taken, 5u);
        EXPECT_EQ(ahead.calls, std::vector<uint32_t>{});
        EXPECT_EQ(ahead.offsets, offsets);
    }
}

// A provider that offers what was not decoded from the member's own bit stream, or not to its
// end, is found out before the stream moves (wrong guesses of globx's threads are of this kind):
// the member is decoded here and the run is the one without a provider.
TEST(ExtractDecodedAhead, WithoutIntegrityDataALyingProviderChangesNothing) {
    const TestArchive archive = AheadArchive();
    StreamLayout layout;
    archive.Stream(&layout);
    const auto& m = layout.members;
    const struct {
        const char* what;
        uint32_t member;
        std::function<void(Offer&)> lie;
    } cases[] = {
        {"the next member's bytes, decoded from its own offset", 2,
         [&](Offer& o) {
             o.bytes = archive.members[3].data;
             o.outcome.startOffset = m[3].data;
             o.outcome.endOffset = m[3].end;
         }},
        {"decoded from one byte later", 2, [](Offer& o) { o.outcome.startOffset += 1; }},
        {"decoded from one byte earlier", 3, [](Offer& o) { o.outcome.startOffset -= 1; }},
        {"one byte short", 2, [](Offer& o) { o.bytes.pop_back(); }},
        {"one byte more", 2, [](Offer& o) { o.bytes.push_back('x'); }},
        {"bytes for an empty member", 1, [](Offer& o) { o.bytes = {'a'}; }},
        {"nothing for a long member", 2, [](Offer& o) { o.bytes.clear(); }},
        {"its end at its own start", 2, [](Offer& o) { o.outcome.endOffset = o.outcome.startOffset; }},
        {"its end too early for one bit a byte", 3,
         [](Offer& o) { o.outcome.endOffset = o.outcome.startOffset + o.bytes.size() / 8; }},
        {"its end at 0", 2, [](Offer& o) { o.outcome.endOffset = 0; }},
        {"its end beyond any stream", 2, [](Offer& o) { o.outcome.endOffset = uint64_t(1) << 40; }},
        {"the bytes, but incomplete", 2, [](Offer& o) { o.outcome.complete = false; }},
        {"nothing delivered", 2, [](Offer& o) { o.delivered = false; }},
        {"the last member incomplete", 4, [](Offer& o) { o.outcome.complete = false; }},
    };
    for (const bool write : {false, true}) {
        const Outcome alone = Extract(archive, write, nullptr, false, false);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(write ? "extract: " : "test: ") + c.what);
            const Outcome lied = Extract(
                archive, write,
                [&](uint32_t index, Offer& offer) {
                    if (index == c.member) c.lie(offer);
                },
                true, false);
            EXPECT_EQ(lied.summary, alone.summary);
            EXPECT_TRUE(lied.files == alone.files) << "the files differ";
            EXPECT_EQ(lied.taken, 4u) << "the other members are still taken";
        }
    }
}

}  // namespace
