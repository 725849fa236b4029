#include "MemberDecoders.h"

#include <deque>

#include "AheadQueue.h"
#include "HuffmanDecoder.h"
#include "MemberOutput.h"
#include "MemberRecord.h"
#include "Threads.h"
#include "VolumeStream.h"

namespace {

// One member handed to a thread.
struct Job : AheadJob {
    uint32_t index = 0;
};

}  // namespace

struct MemberDecoders::Shared : AheadQueue {
    Source source;
    const IntegrityTable* table = nullptr;

    // Guarded by mutex:
    std::deque<std::shared_ptr<Job>> jobs;  // handed out and not yet delivered, by index
    uint32_t nextIndex = 0;                 // the next member to hand out
    uint32_t endIndex = 0;                  // members below it are decoded ahead
};

namespace {

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
        AheadSink sink(shared, job);
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
    AheadHost host;
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
    return shared->PeakQueuedBytes();
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
    const bool taken = s.Drain(*job, output);
    s.jobs.pop_front();
    if (taken) *outcome = job->outcome;
    s.mutex.Unlock();
    return taken && outcome->complete;
}
