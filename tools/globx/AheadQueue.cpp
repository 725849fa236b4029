#include "AheadQueue.h"

#include "MemberOutput.h"

void AheadQueue::Release(AheadJob& job) {
    for (const auto& chunk : job.chunks) {
        queued[job.owner] -= chunk.size();
        totalQueued -= chunk.size();
    }
    job.chunks.clear();
}

void AheadQueue::Abandon(AheadJob& job) {
    job.abandoned.store(true, std::memory_order_relaxed);
    Release(job);
}

bool AheadQueue::Queue(AheadJob& job, std::vector<uint8_t> chunk) {
    const size_t count = chunk.size();
    MutexLock lock(mutex);
    size_t& held = queued[job.owner];
    bool waited = false;
    while (held > 0 && held + count > cap && !quit && !job.abandoned) {
        if (!waited) {
            waited = true;
            ++stalled;
            changed.NotifyAll();
        }
        changed.Wait(mutex);
    }
    if (waited) --stalled;
    if (quit || job.abandoned) return false;
    held += count;
    totalQueued += count;
    if (totalQueued > peakQueued) peakQueued = totalQueued;
    job.chunks.push_back(std::move(chunk));
    changed.NotifyAll();
    return true;
}

bool AheadQueue::Drain(AheadJob& job, MemberOutput& output) {
    for (;;) {
        while (job.chunks.empty() && !job.finished) changed.Wait(mutex);
        if (job.chunks.empty()) return true;
        std::vector<uint8_t> chunk = std::move(job.chunks.front());
        job.chunks.pop_front();
        queued[job.owner] -= chunk.size();
        totalQueued -= chunk.size();
        changed.NotifyAll();
        mutex.Unlock();
        const bool taken = output.Write(chunk.data(), chunk.size());
        mutex.Lock();
        if (!taken) {
            Abandon(job);
            changed.NotifyAll();
            return false;
        }
    }
}

size_t AheadQueue::PeakQueuedBytes() {
    MutexLock lock(mutex);
    return peakQueued;
}
