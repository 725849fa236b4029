#include "ParallelEncoder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteSink.h"
#include "HuffmanEncoder.h"

namespace {

// Random bytes (coded at about 8 bits each) or English-like text (much shorter), from a seed.
std::vector<uint8_t> MakeBytes(size_t size, uint32_t seed, bool text) {
    static const char kWords[] = "the map of every desk holds a river, a road and a town ";
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = text ? static_cast<uint8_t>(kWords[(state >> 24) % (sizeof kWords - 1)])
                        : static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// Empty members, one-byte ones, text, random bytes larger than any cap below, many small ones.
std::vector<std::vector<uint8_t>> MixedMembers() {
    std::vector<std::vector<uint8_t>> members;
    members.push_back({});
    members.push_back(MakeBytes(1, 1, false));
    members.push_back(MakeBytes(100000, 2, true));
    members.push_back(MakeBytes(300000, 3, false));
    for (uint32_t i = 0; i < 20; ++i) members.push_back(MakeBytes(i * 37, 10 + i, i % 2 == 0));
    members.push_back({});
    members.push_back(MakeBytes(1 << 20, 4, true));
    return members;
}

// Every member coded alone, the streams back to back: what any thread count must give.
std::vector<uint8_t> CodedOneByOne(const std::vector<std::vector<uint8_t>>& members) {
    VectorSink sink;
    for (const std::vector<uint8_t>& member : members) EncodeMember(member.data(), member.size(), sink);
    return sink.bytes;
}

// Records what the consumer is handed and checks the order of the calls as they come.
class RecordingOutput : public CodedOutput {
public:
    explicit RecordingOutput(size_t memberCount) : progress(memberCount, 0) {}

    bool BeginMember(size_t member) override {
        EXPECT_FALSE(open) << "member " << member << " began inside member " << current;
        EXPECT_TRUE(events.empty() || member > current) << "member " << member << " out of order";
        current = member;
        open = true;
        events += "B" + std::to_string(member) + " ";
        return true;
    }
    bool Write(size_t member, const uint8_t* data, size_t count) override {
        EXPECT_TRUE(open && member == current) << "bytes of member " << member << " out of place";
        bytes.insert(bytes.end(), data, data + count);
        written += count;
        return refuseWriteAfter == 0 || written < refuseWriteAfter;
    }
    void Progress(size_t member, uint64_t inputBytes) override {
        EXPECT_TRUE(open && member == current) << "progress of member " << member << " out of place";
        progress[member] += inputBytes;
    }
    bool EndMember(size_t member) override {
        EXPECT_TRUE(!open || member == current) << "member " << member << " ended inside " << current;
        EXPECT_TRUE(events.empty() || member >= current) << "member " << member << " out of order";
        current = member;
        open = false;
        events += "E" + std::to_string(member) + " ";
        return member != refuseEnd;
    }

    std::vector<uint8_t> bytes;
    std::vector<uint64_t> progress;  // input bytes reported, per member
    std::string events;              // "B0 E0 B1 E1 ..."
    size_t refuseEnd = SIZE_MAX;     // EndMember of this member returns false
    size_t refuseWriteAfter = 0;     // Write returns false once this many bytes came (0: never)
    size_t written = 0;
    size_t current = 0;
    bool open = false;
};

// Hands each member over in pieces of step bytes (0: all at once), counting what Put accepted.
struct Feeder {
    explicit Feeder(const std::vector<std::vector<uint8_t>>& members)
        : members(members), accepted(new std::atomic<uint64_t>[members.size()]) {
        for (size_t i = 0; i < members.size(); ++i) accepted[i] = 0;
    }

    MemberJob Job() {
        return [this](size_t member, MemberCoder& coder) {
            if (member == neverBegins || !coder.Begin()) return;
            const std::vector<uint8_t>& bytes = members[member];
            const size_t piece = step ? step : bytes.size();
            for (size_t at = 0; at < bytes.size(); at += piece) {
                const size_t count = std::min(piece, bytes.size() - at);
                if (!coder.Put(bytes.data() + at, count)) return;
                accepted[member] += count;
                acceptedInAll += count;
            }
        };
    }

    const std::vector<std::vector<uint8_t>>& members;
    std::unique_ptr<std::atomic<uint64_t>[]> accepted;
    std::atomic<uint64_t> acceptedInAll{0};
    size_t step = 5000;
    size_t neverBegins = SIZE_MAX;  // this member's job returns without beginning (its file failed)
};

std::string EventsFor(size_t count, size_t neverBegins = SIZE_MAX) {
    std::string events;
    for (size_t i = 0; i < count; ++i) {
        if (i != neverBegins) events += "B" + std::to_string(i) + " ";
        events += "E" + std::to_string(i) + " ";
    }
    return events;
}

struct OrderCase {
    unsigned threads;
    size_t bufferCap;
    size_t step;  // input handed over at a time; 0: each member at once
};

const OrderCase kOrderCases[] = {
    {1, 4 << 20, 5000},  // no worker: the plain loop
    {2, 4 << 20, 5000},
    {3, 1024, 5000},     // caps far below a member: workers wait on the writer all the time
    {8, 64 << 10, 0},    // more threads than busy members; a whole member in one Put
    {8, 1, 65536},
};

TEST(ParallelEncoder, SameBytesInMemberOrderForAnyThreadCount) {
    const std::vector<std::vector<uint8_t>> members = MixedMembers();
    const std::vector<uint8_t> expected = CodedOneByOne(members);
    for (const OrderCase& c : kOrderCases) {
        SCOPED_TRACE("threads " + std::to_string(c.threads) + ", cap " + std::to_string(c.bufferCap));
        Feeder feeder(members);
        feeder.step = c.step;
        RecordingOutput output(members.size());
        std::string error;
        ASSERT_TRUE(RunParallelEncoding({c.threads, c.bufferCap}, members.size(), feeder.Job(), output,
                                        &error));
        EXPECT_EQ(error, "");
        EXPECT_EQ(output.events, EventsFor(members.size()));
        EXPECT_TRUE(output.bytes == expected) << "coded bytes differ from members coded one by one";
        for (size_t i = 0; i < members.size(); ++i)
            EXPECT_EQ(output.progress[i], members[i].size()) << "progress of member " << i;
    }
}

TEST(ParallelEncoder, AMemberThatNeverBeganEndsWithoutBytes) {
    std::vector<std::vector<uint8_t>> members = MixedMembers();
    for (unsigned threads : {1u, 4u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        Feeder feeder(members);
        feeder.neverBegins = 3;
        RecordingOutput output(members.size());
        std::string error;
        ASSERT_TRUE(RunParallelEncoding({threads, 64 << 10}, members.size(), feeder.Job(), output, &error));
        EXPECT_EQ(output.events, EventsFor(members.size(), 3));
        std::vector<std::vector<uint8_t>> without = members;
        without.erase(without.begin() + 3);
        EXPECT_TRUE(output.bytes == CodedOneByOne(without));
        EXPECT_EQ(output.progress[3], 0u);
    }
}

// A member after the refused one is large and the caps small: its worker must be waiting on the
// writer, and must give up when the run ends rather than code the rest of it.
TEST(ParallelEncoder, FirstRefusalInMemberOrderEndsTheRun) {
    std::vector<std::vector<uint8_t>> members;
    for (uint32_t i = 0; i < 5; ++i) members.push_back(MakeBytes(20000, i, i % 2 == 0));
    members.push_back(MakeBytes(8 << 20, 9, false));
    members.push_back(MakeBytes(1000, 10, true));
    for (unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        Feeder feeder(members);
        RecordingOutput output(members.size());
        output.refuseEnd = 2;
        std::string error;
        EXPECT_FALSE(RunParallelEncoding({threads, 64 << 10}, members.size(), feeder.Job(), output, &error));
        EXPECT_EQ(error, "") << "a refusal by the consumer is the consumer's to explain";
        EXPECT_EQ(output.events, "B0 E0 B1 E1 B2 E2 ");
        EXPECT_LT(feeder.accepted[5], members[5].size()) << "a member after the refusal was coded whole";
    }
}

TEST(ParallelEncoder, RefusedWriteStopsTheMemberBeingCoded) {
    std::vector<std::vector<uint8_t>> members;
    members.push_back(MakeBytes(1000, 1, true));
    members.push_back(MakeBytes(8 << 20, 2, false));
    members.push_back(MakeBytes(1000, 3, true));
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        Feeder feeder(members);
        feeder.step = 65536;
        RecordingOutput output(members.size());
        output.refuseWriteAfter = 200000;
        std::string error;
        EXPECT_FALSE(RunParallelEncoding({threads, 256 << 10}, members.size(), feeder.Job(), output, &error));
        EXPECT_EQ(output.events, "B0 E0 B1 ");
        EXPECT_LT(feeder.accepted[1], members[1].size()) << "the member went on after its bytes were refused";
    }
}

// The writer stalls on its first bytes. The workers must come to rest with about (threads + 1)
// caps of coded bytes in hand, not code on into memory. Random bytes code to about their size,
// so the input taken in stands for the coded bytes held.
TEST(ParallelEncoder, WorkersWaitForAStalledWriterInsteadOfBuffering) {
    constexpr unsigned kThreads = 3;
    constexpr size_t kCap = 64 << 10;
    std::vector<std::vector<uint8_t>> members;
    for (uint32_t i = 0; i < 12; ++i) members.push_back(MakeBytes(1 << 20, 20 + i, false));
    Feeder feeder(members);
    feeder.step = 65536;

    class StallingOutput : public RecordingOutput {
    public:
        StallingOutput(size_t count, Feeder& feeder) : RecordingOutput(count), feeder(feeder) {}
        bool Write(size_t member, const uint8_t* data, size_t count) override {
            if (!stalled) {
                stalled = true;
                // Until the workers have taken nothing more for a while (3 s at most).
                uint64_t last = feeder.acceptedInAll, same = 0;
                for (int i = 0; i < 300 && same < 5; ++i) {
                    usleep(10000);
                    const uint64_t now = feeder.acceptedInAll;
                    same = now == last ? same + 1 : 0;
                    last = now;
                }
                heldAtStall = last;
            }
            return RecordingOutput::Write(member, data, count);
        }
        Feeder& feeder;
        bool stalled = false;
        uint64_t heldAtStall = 0;
    } output(members.size(), feeder);

    std::string error;
    ASSERT_TRUE(RunParallelEncoding({kThreads, kCap}, members.size(), feeder.Job(), output, &error));
    EXPECT_TRUE(output.bytes == CodedOneByOne(members));
    // (threads + 1) caps, and per thread a piece over its cap, the coder's buffer and one step.
    const uint64_t bound = (kThreads + 1) * kCap + kThreads * 3 * (64 << 10);
    EXPECT_LE(output.heldAtStall, bound) << "of " << 12 * (1 << 20) << " bytes in all";
}

}  // namespace
