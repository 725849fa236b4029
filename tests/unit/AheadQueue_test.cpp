// The queue of decoded-ahead bytes both globx -j decoders share: what ExtractAll takes, what a
// refusal throws away, and a thread held at its cap.
#include "AheadQueue.h"

#include <gtest/gtest.h>

#include <memory>

#include "FakeHost.h"
#include "MemberOutput.h"

namespace {

void StartQueue(AheadQueue& queue, size_t cap) {
    queue.cap = cap;
    queue.queued.assign(2, 0);
}

TEST(AheadQueue, DrainTakesTheChunksOrThrowsThemAwayOnRefusal) {
    const struct {
        const char* what;
        std::vector<size_t> chunks;
        uint64_t limit;  // what the output takes
        bool taken;
        uint64_t length;  // bytes in the output afterwards
    } cases[] = {
        {"every chunk taken", {100, 200, 50}, UINT64_MAX, true, 350},
        {"no chunk: the outcome alone", {}, UINT64_MAX, true, 0},
        {"refused in the second chunk: the third is thrown away", {100, 200, 50}, 150, false, 150},
        {"refused in the first chunk", {100}, 10, false, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AheadQueue queue;
        StartQueue(queue, 1 << 20);
        AheadJob job;
        job.owner = 1;
        for (size_t size : c.chunks) ASSERT_TRUE(queue.Queue(job, std::vector<uint8_t>(size, 'x')));
        job.finished = true;
        FakeHost host;
        MemberOutput output(host);
        output.OpenDiscard();
        output.SetLimit(c.limit);
        queue.mutex.Lock();
        EXPECT_EQ(queue.Drain(job, output), c.taken);
        EXPECT_EQ(job.abandoned.load(), !c.taken);
        EXPECT_TRUE(job.chunks.empty());
        EXPECT_EQ(queue.queued[1], 0u) << "bytes still counted to the thread";
        EXPECT_EQ(queue.totalQueued, 0u);
        queue.mutex.Unlock();
        EXPECT_EQ(output.Length(), c.length);
    }
}

// A thread over a cap of 100: it queues 150 bytes (one chunk always goes), then 50 more,
// *second telling whether those were queued, and finishes the job.
std::unique_ptr<Thread> DecodeOverTheCap(AheadQueue& queue, AheadJob& job, bool* second) {
    StartQueue(queue, 100);
    return std::unique_ptr<Thread>(new Thread([&queue, &job, second] {
        queue.Queue(job, std::vector<uint8_t>(150, 'a'));
        *second = queue.Queue(job, std::vector<uint8_t>(50, 'b'));
        MutexLock lock(queue.mutex);
        job.finished = true;
        queue.changed.NotifyAll();
    }));
}

// Entry: mutex held. Until the thread waits at its cap, or has queued both chunks past it.
void WaitUntilStalled(AheadQueue& queue, AheadJob& job) {
    while (queue.stalled == 0 && job.chunks.size() < 2 && !job.finished) queue.changed.Wait(queue.mutex);
}

// The 50 bytes wait until ExtractAll has taken the 150, so no more than 150 are ever held.
TEST(AheadQueue, AThreadAtItsCapWaitsUntilItsBytesAreTaken) {
    AheadQueue queue;
    AheadJob job;
    bool second = false;
    const std::unique_ptr<Thread> decoder = DecodeOverTheCap(queue, job, &second);
    FakeHost host;
    MemberOutput output(host);
    output.OpenDiscard();
    queue.mutex.Lock();
    WaitUntilStalled(queue, job);
    EXPECT_TRUE(queue.Drain(job, output));
    queue.mutex.Unlock();
    decoder->Join();
    EXPECT_TRUE(second);
    EXPECT_EQ(output.Length(), 200u);
    EXPECT_EQ(queue.PeakQueuedBytes(), 150u);
    EXPECT_EQ(queue.stalled, 0u);
}

// A thread waiting at its cap is let go, its bytes refused, when the run ends or its job is given
// up.
TEST(AheadQueue, AWaitingThreadIsLetGoByTheEndOrTheJobGivenUp) {
    for (const bool quit : {true, false}) {
        SCOPED_TRACE(quit ? "the run ends" : "the job is given up");
        AheadQueue queue;
        AheadJob job;
        bool second = true;
        const std::unique_ptr<Thread> decoder = DecodeOverTheCap(queue, job, &second);
        {
            MutexLock lock(queue.mutex);
            WaitUntilStalled(queue, job);
            if (quit)
                queue.quit = true;
            else
                queue.Abandon(job);
            queue.changed.NotifyAll();
        }
        decoder->Join();
        EXPECT_FALSE(second);
        EXPECT_EQ(queue.stalled, 0u);
        EXPECT_EQ(queue.totalQueued, quit ? 150u : 0u);
    }
}

}  // namespace
