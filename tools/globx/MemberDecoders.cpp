#include "MemberDecoders.h"

#include <atomic>
#include <deque>

#include "ByteSink.h"
#include "HuffmanDecoder.h"
#include "MemberOutput.h"
#include "MemberRecord.h"
#include "Threads.h"
#include "VolumeHost.h"
#include "VolumeStream.h"

namespace {

// One member handed to a thread.
struct Job {
    uint32_t index = 0;
    unsigned owner = 0;                       // the thread decoding it
    std::deque<std::vector<uint8_t>> chunks;  // decoded and not yet taken
    bool finished = false;                    // the thread is done with it
    AheadOutcome outcome;
    std::atomic<bool> abandoned{false};       // nobody will take its bytes: stop decoding it
};

}  // namespace

struct MemberDecoders::Shared {
    Source source;
    const IntegrityTable* table = nullptr;
    size_t cap = 0;

    Mutex mutex;
    Condition changed;  // a chunk queued or taken, a job handed out or finished, a thread ended
    // Guarded by mutex:
    std::deque<std::shared_ptr<Job>> jobs;  // handed out and not yet delivered, by index
    uint32_t nextIndex = 0;                 // the next member to hand out
    uint32_t endIndex = 0;                  // members below it are decoded ahead
    std::vector<size_t> queued;             // decoded bytes each thread holds
    size_t totalQueued = 0;
    size_t peakQueued = 0;
    unsigned running = 0;  // threads that may still take a member
    std::atomic<bool> quit{false};

    // Entry: mutex held.
    void Release(Job& job) {
        for (const auto& chunk : job.chunks) {
            queued[job.owner] -= chunk.size();
            totalQueued -= chunk.size();
        }
        job.chunks.clear();
    }
    void Abandon(Job& job) {
        job.abandoned.store(true, std::memory_order_relaxed);
        Release(job);
    }
};

namespace {

// The console host of one thread: it stops when the run ends or its member is given up.
class DecoderHost : public VolumeHost {
public:
    explicit DecoderHost(const std::atomic<bool>& quit) : quit(quit) {}
    bool ShouldStop() override {
        return VolumeHost::ShouldStop() || quit.load(std::memory_order_relaxed) ||
               (job && job->abandoned.load(std::memory_order_relaxed));
    }
    const Job* job = nullptr;

private:
    const std::atomic<bool>& quit;
};

// Queues a job's decoded bytes, waiting while its thread holds its cap.
class JobSink : public ByteSink {
public:
    JobSink(MemberDecoders::Shared& shared, Job& job) : shared(shared), job(job) {}
    bool Write(const uint8_t* data, size_t count) override {
        std::vector<uint8_t> chunk(data, data + count);
        MutexLock lock(shared.mutex);
        size_t& held = shared.queued[job.owner];
        while (held > 0 && held + count > shared.cap && !shared.quit && !job.abandoned)
            shared.changed.Wait(shared.mutex);
        if (shared.quit || job.abandoned) return false;
        held += count;
        shared.totalQueued += count;
        if (shared.totalQueued > shared.peakQueued) shared.peakQueued = shared.totalQueued;
        job.chunks.push_back(std::move(chunk));
        shared.changed.NotifyAll();
        return true;
    }

private:
    MemberDecoders::Shared& shared;
    Job& job;
};

uint32_t ReadU32(const unsigned char* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// One thread's reading of the archive. Records are only ever ahead of it: it reads on to them.
class MemberReader {
public:
    explicit MemberReader(MemberDecoders::Shared& shared) : shared(shared), host(shared.quit) {
        host.SearchAlso(shared.source.volumesDirs);
    }

    // Opens the volume set and positions on the archive; false when that fails.
    bool Open() {
        stream.reset(new VolumeStream(host));
        host.Attach(stream.get());
        if (!stream->OpenVolumeSet(shared.source.baseName.c_str(), shared.source.installer.c_str()) ||
            !stream->PositionAtArchive())
            return false;
        start = stream->position;  // the next byte is stream offset 0
        return true;
    }

    // Decodes job's member into its chunks and sets its outcome. False when this stream can read
    // no further member.
    bool Decode(Job& job) {
        host.job = &job;
        const int64_t record = start + int64_t(shared.table->entries[job.index].recordOffset);
        if (record > INT32_MAX) return true;
        // Behind us only after a member that read past its neighbour's record (damage), or with a
        // table whose offsets do not grow; ExtractAll finds out which. Read afresh.
        if (record < stream->position && !Open()) return false;
        if (ReadTo(record) && ReadRecordFields()) DecodeInto(job);
        // Given up by ExtractAll: the stop is ours, not the archive's; read afresh.
        if (stream->Stopped() && !host.CancelRequested() && !shared.quit) return Open();
        return !stream->AtVolumeEnd() && !stream->ReadFailed() && !stream->Stopped();
    }

private:
    void DecodeInto(Job& job) {
        MemberOutput output(host);
        JobSink sink(shared, job);
        output.OpenSink(&sink);
        output.SetLimit(size);
        const DecodeStatus status = DecodeMember(*model, *stream, output);
        stream->AlignToByte();
        if (status == DecodeStatus::Complete && !output.Overflowed() && output.Finish()) {
            job.outcome.complete = true;
            job.outcome.endOffset = uint64_t(int64_t(stream->position) - start);
        }
        output.Abandon();
    }

    bool ReadTo(int64_t position) {
        while (stream->position < position) {
            size_t count = stream->Contiguous();
            if (count == 0) {
                if (stream->ReadByte() < 0) return false;
                continue;
            }
            if (int64_t(count) > position - stream->position)
                count = static_cast<size_t>(position - stream->position);
            stream->Skip(count);
        }
        return true;
    }

    // The name (its first byte may be anything, then up to 0x00) and the fields; false when the
    // record is no record or the data ends in it.
    bool ReadRecordFields() {
        if (stream->ReadByte() < 0) return false;
        for (;;) {
            const int b = stream->ReadByte();
            if (b < 0 || b == ArchiveEndMark) return false;
            if (b == NameTerminator) break;
        }
        unsigned char fields[MemberFieldsSize];
        stream->ReadBytes(fields, MemberFieldsSize);
        size = ReadU32(fields);
        return !stream->AtVolumeEnd();
    }

    MemberDecoders::Shared& shared;
    DecoderHost host;
    std::unique_ptr<VolumeStream> stream;
    const std::unique_ptr<HuffmanModel> model{new HuffmanModel()};
    int64_t start = 0;
    uint32_t size = 0;
};

void RunThread(MemberDecoders::Shared& shared, unsigned self) {
    MemberReader reader(shared);
    bool usable = reader.Open();
    for (;;) {
        std::shared_ptr<Job> job;
        {
            MutexLock lock(shared.mutex);
            if (!usable || shared.quit || shared.nextIndex >= shared.endIndex) {
                --shared.running;
                shared.changed.NotifyAll();
                return;
            }
            job = std::make_shared<Job>();
            job->index = shared.nextIndex++;
            job->owner = self;
            shared.jobs.push_back(job);
        }
        usable = reader.Decode(*job);
        MutexLock lock(shared.mutex);
        job->finished = true;
        shared.changed.NotifyAll();
    }
}

}  // namespace

MemberDecoders::MemberDecoders(const Source& source, const IntegrityTable& table, unsigned count,
                               size_t capBytes)
    : shared(new Shared) {
    if (count < 1) count = 1;
    shared->source = source;
    shared->table = &table;
    shared->cap = capBytes;
    // The last member is always decoded by ExtractAll.
    shared->endIndex = table.entries.empty() ? 0 : static_cast<uint32_t>(table.entries.size() - 1);
    shared->queued.assign(count, 0);
    shared->running = count;
    for (unsigned i = 0; i < count; ++i)
        threads.emplace_back(new Thread([this, i] { RunThread(*shared, i); }));
}

MemberDecoders::~MemberDecoders() {
    {
        MutexLock lock(shared->mutex);
        shared->quit = true;
        for (const auto& job : shared->jobs) shared->Abandon(*job);
        shared->jobs.clear();
        shared->changed.NotifyAll();
    }
    threads.clear();  // joins
}

size_t MemberDecoders::PeakQueuedBytes() const {
    MutexLock lock(shared->mutex);
    return shared->peakQueued;
}

bool MemberDecoders::Deliver(uint32_t index, MemberOutput& output, AheadOutcome* outcome) {
    Shared& s = *shared;
    s.mutex.Lock();
    // Members passed over are given up, those handed out and those not.
    if (s.nextIndex < index) s.nextIndex = index;
    for (;;) {
        while (!s.jobs.empty() && s.jobs.front()->index < index) {
            s.Abandon(*s.jobs.front());
            s.jobs.pop_front();
            s.changed.NotifyAll();
        }
        // Wait until the member is handed out, unless no thread will take it.
        if (!s.jobs.empty() || index >= s.endIndex || s.nextIndex > index || s.running == 0) break;
        s.changed.Wait(s.mutex);
    }
    if (s.jobs.empty() || s.jobs.front()->index != index) {
        s.mutex.Unlock();
        return false;
    }
    const std::shared_ptr<Job> job = s.jobs.front();
    for (;;) {
        while (job->chunks.empty() && !job->finished) s.changed.Wait(s.mutex);
        if (job->chunks.empty()) break;
        std::vector<uint8_t> chunk = std::move(job->chunks.front());
        job->chunks.pop_front();
        s.queued[job->owner] -= chunk.size();
        s.totalQueued -= chunk.size();
        s.changed.NotifyAll();
        s.mutex.Unlock();
        const bool taken = output.Write(chunk.data(), chunk.size());
        s.mutex.Lock();
        if (!taken) {
            s.Abandon(*job);
            s.jobs.pop_front();
            s.changed.NotifyAll();
            s.mutex.Unlock();
            return false;
        }
    }
    *outcome = job->outcome;
    s.jobs.pop_front();
    s.mutex.Unlock();
    return outcome->complete;
}
