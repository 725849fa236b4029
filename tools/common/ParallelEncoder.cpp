#include "ParallelEncoder.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "ByteSink.h"
#include "HuffmanEncoder.h"
#include "Threads.h"

namespace {

// Input is coded this much at a time, so that a job handing over a large buffer at once still
// publishes its coded bytes, and blocks, piece by piece.
constexpr size_t kInputStep = 1 << 16;

// Members a worker may take ahead of the consumer, per thread: tiny members cost bookkeeping that
// the byte budget does not count.
constexpr size_t kMembersAheadPerThread = 64;

// ----- one thread: coded straight into the consumer -----

class DirectCoder : public MemberCoder, private ByteSink {
public:
    explicit DirectCoder(CodedOutput& output) : output(output), encoder(*this) {}

    // Runs member's job; false when the run ends here.
    bool Run(size_t m, const MemberJob& job) {
        member = m;
        begun = false;
        job(member, *this);
        if (refused) return false;
        if (begun && (!encoder.EndMember() || refused)) return false;
        return output.EndMember(member);
    }

    bool Begin() override {
        if (refused) return false;
        if (!output.BeginMember(member)) {
            refused = true;
            return false;
        }
        begun = true;
        encoder.BeginMember();
        return true;
    }

    bool Put(const uint8_t* data, size_t count) override {
        if (refused || !begun) return false;
        encoder.Put(data, count);
        output.Progress(member, count);
        return !refused;
    }

private:
    bool Write(const uint8_t* data, size_t count) override {
        if (!refused && !output.Write(member, data, count)) refused = true;
        return !refused;
    }

    CodedOutput& output;
    HuffmanEncoder encoder;
    size_t member = 0;
    bool begun = false;
    bool refused = false;
};

// ----- workers -----

struct Piece {
    std::vector<uint8_t> bytes;  // coded bytes, in order
    uint64_t inputBytes = 0;     // input coded since the previous piece
};

// A member taken by a worker and not yet finished by the consumer.
struct Slot {
    std::deque<Piece> pieces;
    size_t queued = 0;  // coded bytes in pieces
    bool begun = false;
    bool ended = false;   // the job has returned and every piece is in
    bool failed = false;  // the worker ran out of memory on it
};

// State shared by the workers and the consumer; every field under mutex.
class Pipeline {
public:
    Pipeline(const ParallelEncoding& settings, size_t memberCount, const MemberJob& job)
        : job(job),
          memberCount(memberCount),
          cap(std::max<size_t>(settings.bufferCap, 1)),
          budget(cap * settings.threads),
          membersAhead(kMembersAheadPerThread * settings.threads) {}

    void Work();
    bool Consume(CodedOutput& output, std::string* error);
    // Counts a worker about to start; Work uncounts it as it returns.
    void AddWorker() {
        MutexLock hold(mutex);
        ++running;
    }
    void DropWorker() {
        MutexLock hold(mutex);
        --running;
        changed.NotifyAll();
    }
    void Stop() {
        MutexLock hold(mutex);
        stop = true;
        changed.NotifyAll();
    }

private:
    friend class WorkerCoder;

    // Entry: mutex held. Whether the worker of member, holding slot, must wait for the consumer.
    bool MustWait(size_t member, const Slot& slot) const {
        if (member == head) return slot.queued > cap;
        return buffered > budget;
    }

    const MemberJob& job;
    const size_t memberCount;
    const size_t cap;
    const size_t budget;
    const size_t membersAhead;

    Mutex mutex;
    Condition changed;           // any field below changed
    std::deque<Slot> slots;      // members head to next - 1; a Slot keeps its address until popped
    size_t head = 0;             // the member the consumer is on
    size_t next = 0;             // the next member a worker takes
    size_t buffered = 0;         // coded bytes in all slots
    size_t running = 0;          // workers in Work
    bool stop = false;
};

// A worker's coder: its own model, coded bytes gathered into pieces for the consumer.
class WorkerCoder : public MemberCoder, private ByteSink {
public:
    explicit WorkerCoder(Pipeline& pipeline) : pipeline(pipeline), encoder(*this) {}

    void Start(size_t m, Slot* s) {
        member = m;
        slot = s;
        begun = false;
        gathered.clear();
    }

    bool Begin() override {
        encoder.BeginMember();
        MutexLock hold(pipeline.mutex);
        if (pipeline.stop) return false;
        begun = true;
        slot->begun = true;
        pipeline.changed.NotifyAll();
        return true;
    }

    bool Put(const uint8_t* data, size_t count) override {
        if (!begun) return false;
        while (count > 0) {
            const size_t step = std::min(count, kInputStep);
            encoder.Put(data, step);
            if (!Publish(step, false)) return false;
            data += step;
            count -= step;
        }
        return true;
    }

    // After the job has returned: the member's last bytes, then its end.
    void Finish() {
        if (begun) encoder.EndMember();
        Publish(0, true);
    }

    void Fail() {
        gathered.clear();
        MutexLock hold(pipeline.mutex);
        slot->failed = true;
        slot->ended = true;
        pipeline.changed.NotifyAll();
    }

private:
    bool Write(const uint8_t* data, size_t count) override {
        gathered.insert(gathered.end(), data, data + count);
        return true;
    }

    // Hands the bytes gathered so far to the consumer, then waits while the buffers are full.
    bool Publish(uint64_t inputBytes, bool end) {
        MutexLock hold(pipeline.mutex);
        if (!gathered.empty() || inputBytes > 0) {
            pipeline.buffered += gathered.size();
            slot->queued += gathered.size();
            slot->pieces.push_back(Piece{std::move(gathered), inputBytes});
            gathered = std::vector<uint8_t>();
        }
        if (end) slot->ended = true;
        pipeline.changed.NotifyAll();
        while (!end && !pipeline.stop && pipeline.MustWait(member, *slot))
            pipeline.changed.Wait(pipeline.mutex);
        return !pipeline.stop;
    }

    Pipeline& pipeline;
    HuffmanEncoder encoder;
    size_t member = 0;
    Slot* slot = nullptr;
    bool begun = false;
    std::vector<uint8_t> gathered;
};

void Pipeline::Work() {
    struct Leaving {
        Pipeline& pipeline;
        ~Leaving() { pipeline.DropWorker(); }
    } leaving{*this};
    std::unique_ptr<WorkerCoder> coder;
    try {
        coder.reset(new WorkerCoder(*this));
    } catch (const std::bad_alloc&) {
        return;  // the other workers carry on; without any, the consumer gives up
    }
    for (;;) {
        size_t member;
        Slot* slot;
        {
            MutexLock hold(mutex);
            // The consumer's own member is always taken at once: that keeps the run moving.
            while (!stop && next < memberCount && next != head &&
                   (buffered > budget || next - head >= membersAhead))
                changed.Wait(mutex);
            if (stop || next == memberCount) return;
            member = next++;
            try {
                slots.emplace_back();
            } catch (const std::bad_alloc&) {
                --next;
                return;
            }
            slot = &slots.back();
        }
        coder->Start(member, slot);
        try {
            job(member, *coder);
            coder->Finish();
        } catch (const std::bad_alloc&) {
            coder->Fail();
        }
    }
}

bool Pipeline::Consume(CodedOutput& output, std::string* error) {
    for (size_t member = 0; member < memberCount; ++member) {
        bool begun = false;
        for (;;) {
            std::deque<Piece> taken;
            bool nowBegun, ended, failed;
            {
                MutexLock hold(mutex);
                for (;;) {
                    if (!slots.empty()) {
                        const Slot& s = slots.front();
                        if (s.begun != begun || !s.pieces.empty() || s.ended) break;
                    } else if (running == 0) {
                        // Every worker has left without taking this member: none could get
                        // memory to start with.
                        *error = "out of memory while coding; run again with fewer --threads";
                        return false;
                    }
                    changed.Wait(mutex);
                }
                Slot& s = slots.front();
                taken.swap(s.pieces);
                buffered -= s.queued;
                s.queued = 0;
                nowBegun = s.begun;
                ended = s.ended;
                failed = s.failed;
                changed.NotifyAll();
            }
            if (failed) {
                *error = "out of memory while coding; run again with fewer --threads";
                return false;
            }
            if (nowBegun && !begun) {
                begun = true;
                if (!output.BeginMember(member)) return false;
            }
            for (const Piece& piece : taken) {
                if (!piece.bytes.empty() && !output.Write(member, piece.bytes.data(), piece.bytes.size()))
                    return false;
                if (piece.inputBytes > 0) output.Progress(member, piece.inputBytes);
            }
            if (ended) break;
        }
        if (!output.EndMember(member)) return false;
        MutexLock hold(mutex);
        slots.pop_front();
        ++head;
        changed.NotifyAll();
    }
    return true;
}

}  // namespace

bool RunParallelEncoding(const ParallelEncoding& settings, size_t memberCount, const MemberJob& job,
                         CodedOutput& output, std::string* error) {
    if (settings.threads > 1 && memberCount > 0) {
        Pipeline pipeline(settings, memberCount, job);
        // No more workers than members: a worker without a member would only wait.
        const size_t workerCount = std::min<size_t>(settings.threads, memberCount);
        std::vector<std::unique_ptr<Thread>> workers;
        workers.reserve(workerCount);
        for (size_t i = 0; i < workerCount; ++i) {
            pipeline.AddWorker();
            try {
                workers.emplace_back(new Thread([&pipeline] { pipeline.Work(); }));
            } catch (...) {
                // The system gave no more threads: run with those it gave.
                pipeline.DropWorker();
                break;
            }
        }
        if (!workers.empty()) {
            const bool ok = pipeline.Consume(output, error);
            pipeline.Stop();
            workers.clear();  // joins every worker, before pipeline goes
            return ok;
        }
    }
    DirectCoder coder(output);
    for (size_t member = 0; member < memberCount; ++member) {
        if (!coder.Run(member, job)) return false;
    }
    return true;
}
