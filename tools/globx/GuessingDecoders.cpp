#include "GuessingDecoders.h"

#include <algorithm>
#include <map>

#include "AheadQueue.h"
#include "ArchiveCursor.h"
#include "HuffmanDecoder.h"
#include "MemberOutput.h"
#include "MemberRecord.h"
#include "RecordScanner.h"
#include "SetupHeader.h"
#include "Threads.h"

namespace {

// A bit stream a thread took up.
struct Job : AheadJob {
    int64_t offset = 0;  // the stream offset of its first byte
};

// A record's name is read no further than this in a chain: coded data that a wrong guess took
// for a record must not keep a thread reading.
constexpr int LongestChainedName = 4096;

}  // namespace

struct GuessingDecoders::Shared : AheadQueue {
    Source source;
    int64_t regionBytes = 0;

    // Guarded by mutex:
    std::map<int64_t, std::shared_ptr<Job>> jobs;  // taken up and not yet delivered, by offset
    int64_t asked = -1;                // the last offset ExtractAll asked for
    int64_t nextRegion = 0;            // the next region nobody took
    int64_t dataEnd = INT64_MAX;       // where a thread found the data to end
    std::vector<int64_t> lastTaken;    // the offset of the last job each thread took up
    Counts counts;

    // Entry: mutex held. A new job at offset for thread self, or null when ExtractAll has passed
    // it, it lies behind the thread's own jobs, or another job holds it already (*held).
    std::shared_ptr<Job> TakeUp(int64_t offset, unsigned self, bool* held) {
        *held = jobs.count(offset) != 0;
        if (*held || offset <= asked || offset <= lastTaken[self]) return nullptr;
        auto job = std::make_shared<Job>();
        job->offset = offset;
        job->owner = self;
        job->outcome.startOffset = uint64_t(offset);
        jobs[offset] = job;
        lastTaken[self] = offset;
        return job;
    }
};

namespace {

using Shared = GuessingDecoders::Shared;

uint32_t ReadU32(const unsigned char* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// One thread: a stream to scan with and one to decode with, each read only forward as far as
// its jobs allow.
class Worker {
public:
    Worker(Shared& shared, unsigned self)
        : shared(shared), self(self), scanHost(shared.quit), decodeHost(shared.quit),
          scanCursor(shared.source, scanHost), decodeCursor(shared.source, decodeHost), scanner(scanCursor) {}

    void Run() {
        if (!scanCursor.Open() || !decodeCursor.Open()) return;
        int64_t from = 0;  // the next bit stream offset to scan from
        int64_t regionEnd = 0;
        while (!shared.quit) {
            if (!NextRange(from, regionEnd)) return;
            const int64_t found = scanner.Next(from, regionEnd);
            if (found < 0) {
                if (scanner.DataEnded()) {
                    MutexLock lock(shared.mutex);
                    shared.dataEnd = std::min(shared.dataEnd, scanner.DataEnd());
                }
                regionEnd = 0;
                continue;
            }
            from = found + 1;
            bool held = false;
            std::shared_ptr<Job> job;
            {
                MutexLock lock(shared.mutex);
                job = shared.TakeUp(found, self, &held);
                if (job) ++shared.counts.guesses;
            }
            // Taken up by another thread: its chain covers what follows.
            if (held) regionEnd = 0;
            while (job && !shared.quit) {
                const int64_t at = job->offset;
                job = Decode(*job, &held);
                if (!job && !held) from = std::max(from, at + 1);
                if (held) regionEnd = 0;
            }
        }
    }

private:
    // Moves from to the next offset worth scanning, taking a new region when the current one is
    // done. False when no region is left.
    bool NextRange(int64_t& from, int64_t& regionEnd) {
        MutexLock lock(shared.mutex);
        from = std::max({from, shared.asked + 1, shared.lastTaken[self] + 1});
        while (from >= regionEnd) {
            const int64_t start = SetupHeaderSize + shared.nextRegion * shared.regionBytes;
            if (start >= shared.dataEnd) return false;
            ++shared.nextRegion;
            regionEnd = start + shared.regionBytes;
            from = std::max({start, shared.asked + 1, shared.lastTaken[self] + 1});
        }
        return true;
    }

    // Decodes job and finishes it. When it completed to its record's size and the next record
    // follows, returns the job taken up for the next bit stream; null otherwise, *held telling
    // whether another job holds that bit stream already.
    std::shared_ptr<Job> Decode(Job& job, bool* held) {
        *held = false;
        decodeHost.job = &job;
        bool complete = false;
        int64_t end = 0;
        int64_t next = -1;
        uint32_t size = 0;
        if (FieldsRead(job.offset, &size)) {
            MemberOutput output(decodeHost);
            AheadSink sink(shared, job);
            output.OpenSink(&sink);
            output.SetLimit(size);
            VolumeStream& stream = decodeCursor.Stream();
            const DecodeStatus status = DecodeMember(*model, stream, output);
            stream.AlignToByte();
            complete = status == DecodeStatus::Complete && !output.Overflowed() && output.Length() == size &&
                       output.Finish();
            output.Abandon();
            if (complete) {
                end = decodeCursor.Offset();
                next = ReadRecord();
            }
        }
        decodeHost.job = nullptr;
        MutexLock lock(shared.mutex);
        job.outcome.complete = complete;
        job.outcome.endOffset = uint64_t(end);
        job.finished = true;
        if (!complete) ++shared.counts.failed;
        std::shared_ptr<Job> following;
        if (next >= 0) {
            following = shared.TakeUp(next, self, held);
            if (following) ++shared.counts.chained;
        }
        shared.changed.NotifyAll();
        return following;
    }

    // Positions the decode stream on the bit stream at offset, its record's size in *size; a
    // chain's stream stands there already, with the size read.
    bool FieldsRead(int64_t offset, uint32_t* size) {
        if (offset == chainedOffset && decodeCursor.Offset() == offset && decodeCursor.Usable()) {
            *size = chainedSize;
            return true;
        }
        unsigned char fields[MemberFieldsSize];
        if (!decodeCursor.MoveTo(offset - MemberFieldsSize) ||
            decodeCursor.Read(fields, MemberFieldsSize) != MemberFieldsSize)
            return false;
        *size = ReadU32(fields);
        return true;
    }

    // Reads the record at the decode stream's offset; the offset of its bit stream, or -1 at the
    // end of the archive or the data.
    int64_t ReadRecord() {
        VolumeStream& stream = decodeCursor.Stream();
        if (stream.ReadByte() < 0) return -1;  // the first byte belongs to the name, whatever it is
        for (int length = 1;; ++length) {
            const int b = stream.ReadByte();
            if (b < 0 || b == ArchiveEndMark || length > LongestChainedName) return -1;
            if (b == NameTerminator) break;
        }
        unsigned char fields[MemberFieldsSize];
        if (decodeCursor.Read(fields, MemberFieldsSize) != MemberFieldsSize) return -1;
        chainedOffset = decodeCursor.Offset();
        chainedSize = ReadU32(fields);
        return chainedOffset;
    }

    Shared& shared;
    const unsigned self;
    AheadHost scanHost;
    AheadHost decodeHost;
    ArchiveCursor scanCursor;
    ArchiveCursor decodeCursor;
    RecordScanner scanner;
    int64_t chainedOffset = -1;  // the bit stream whose record ReadRecord read last
    uint32_t chainedSize = 0;
    const std::unique_ptr<HuffmanModel> model{new HuffmanModel()};
};

}  // namespace

GuessingDecoders::GuessingDecoders(const Source& source, unsigned count, size_t capBytes,
                                         size_t regionBytes)
    : shared(new Shared) {
    if (count < 1) count = 1;
    shared->source = source;
    shared->cap = capBytes;
    shared->regionBytes = int64_t(regionBytes ? regionBytes : std::max<size_t>(capBytes / 4, 1024));
    shared->queued.assign(count, 0);
    shared->lastTaken.assign(count, -1);
    shared->running = count;
    for (unsigned i = 0; i < count; ++i)
        threads.emplace_back(new Thread([this, i] {
            {
                Worker worker(*shared, i);
                worker.Run();
            }
            MutexLock lock(shared->mutex);
            --shared->running;
            shared->changed.NotifyAll();
        }));
}

GuessingDecoders::~GuessingDecoders() {
    {
        MutexLock lock(shared->mutex);
        shared->quit = true;
        for (const auto& job : shared->jobs) shared->Abandon(*job.second);
        shared->jobs.clear();
        shared->changed.NotifyAll();
    }
    threads.clear();  // joins
}

size_t GuessingDecoders::PeakQueuedBytes() const {
    return shared->PeakQueuedBytes();
}

GuessingDecoders::Counts GuessingDecoders::GetCounts() const {
    MutexLock lock(shared->mutex);
    return shared->counts;
}

void GuessingDecoders::WaitUntilTakenUp(uint32_t jobs) const {
    MutexLock lock(shared->mutex);
    while (shared->running > shared->stalled && shared->counts.guesses + shared->counts.chained < jobs)
        shared->changed.Wait(shared->mutex);
}

bool GuessingDecoders::DeliverAt(uint64_t dataOffset, MemberOutput& output, AheadOutcome* outcome) {
    Shared& s = *shared;
    if (dataOffset > uint64_t(INT64_MAX)) return false;
    const int64_t offset = int64_t(dataOffset);
    s.mutex.Lock();
    if (offset > s.asked) s.asked = offset;
    // Bit streams passed over are given up: wrong guesses, and members decoded here.
    while (!s.jobs.empty() && s.jobs.begin()->first < offset) {
        s.Abandon(*s.jobs.begin()->second);
        s.jobs.erase(s.jobs.begin());
    }
    s.changed.NotifyAll();
    const auto found = s.jobs.find(offset);
    if (found == s.jobs.end()) {
        s.mutex.Unlock();
        return false;
    }
    const std::shared_ptr<Job> job = found->second;
    const bool taken = s.Drain(*job, output);
    s.jobs.erase(offset);
    if (taken) {
        *outcome = job->outcome;
        if (outcome->complete) ++s.counts.delivered;
    }
    s.mutex.Unlock();
    return taken && outcome->complete;
}
