#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "ByteSink.h"
#include "Extract.h"
#include "Threads.h"
#include "VolumeHost.h"

class MemberOutput;

// The decoded-ahead bytes of globx -j: what MemberDecoders and GuessingDecoders share. A
// thread decodes a member into a job's queue of chunks; ExtractAll takes them with Drain.

// One member's bit stream a thread decodes. The decoders key jobs by what they know of it.
struct AheadJob {
    unsigned owner = 0;                       // the thread decoding it
    std::deque<std::vector<uint8_t>> chunks;  // decoded and not yet taken
    bool finished = false;                    // the thread is done with it
    AheadOutcome outcome;
    std::atomic<bool> abandoned{false};       // nobody will take its bytes: stop decoding it
};

// The state the threads and ExtractAll share. A thread holds at most cap decoded bytes (one
// chunk when that is more) and waits while they are not taken.
struct AheadQueue {
    size_t cap = 0;

    Mutex mutex;
    Condition changed;  // a chunk queued or taken, a job handed out, finished or passed over, a
                        // thread stalled or ended
    // Guarded by mutex:
    std::vector<size_t> queued;  // decoded bytes each thread holds
    size_t totalQueued = 0;
    size_t peakQueued = 0;
    unsigned running = 0;  // threads not yet ended
    unsigned stalled = 0;  // threads waiting for their bytes to be taken
    std::atomic<bool> quit{false};

    // Entry: mutex held. Throws away the job's chunks.
    void Release(AheadJob& job);
    // Entry: mutex held. Throws away the job's chunks and tells its thread to stop decoding it.
    void Abandon(AheadJob& job);

    // Entry: mutex not held. Queues chunk for job, waiting while its thread holds its cap. False
    // when the run ends or the job is given up first.
    bool Queue(AheadJob& job, std::vector<uint8_t> chunk);

    // Entry: mutex held, and held again on return. Moves job's chunks into output as they come
    // until its thread is done with it; the mutex is released while output writes. False when
    // output refuses a chunk: the job is then abandoned.
    bool Drain(AheadJob& job, MemberOutput& output);

    // Entry: mutex not held. The most decoded bytes held at one time.
    size_t PeakQueuedBytes();
};

// The console host of one of a thread's streams: it stops when the run ends or, while it
// decodes job, when that job is given up.
class AheadHost : public VolumeHost {
public:
    explicit AheadHost(const std::atomic<bool>& quit) : quit(quit) {}
    bool ShouldStop() override {
        return VolumeHost::ShouldStop() || quit.load(std::memory_order_relaxed) ||
               (job && job->abandoned.load(std::memory_order_relaxed));
    }
    const AheadJob* job = nullptr;

private:
    const std::atomic<bool>& quit;
};

// Where a thread's MemberOutput puts a job's decoded bytes: its queue, within the cap.
class AheadSink : public ByteSink {
public:
    AheadSink(AheadQueue& queue, AheadJob& job) : queue(queue), job(job) {}
    bool Write(const uint8_t* data, size_t count) override {
        return queue.Queue(job, std::vector<uint8_t>(data, data + count));
    }

private:
    AheadQueue& queue;
    AheadJob& job;
};
