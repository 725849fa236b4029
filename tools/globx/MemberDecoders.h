#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Extract.h"
#include "IntegrityTable.h"

class Thread;

// Decodes members ahead of ExtractAll on threads of their own (globx -j). Every member but the
// last is handed, in archive order, to the next free thread, which reads the archive on its own
// file handles: it reads on to the record's offset in the integrity data, reads the record and
// decodes its bit stream into a queue of chunks. ExtractAll takes the chunks through Deliver,
// member after member, and judges them itself (DecodedAhead).
//
// Memory stays flat in the archive's size: a thread holds at most capBytes of decoded bytes
// (more than one chunk only while it is under the cap) and waits while they are not taken, so a
// member larger than the cap streams through. A thread whose reading fails (a missing volume, a
// read error, the end of the data) stops taking members; what it left is decoded by ExtractAll.
// Nothing is printed: every problem shows again, in order, when ExtractAll meets it.
class MemberDecoders : public DecodedAhead {
public:
    struct Source {
        std::string installer;                 // volume 0
        std::string baseName;                  // as VolumeStream::OpenVolumeSet takes it
        std::vector<std::string> volumesDirs;  // searched for volumes as globx --volumes
    };

    static constexpr size_t DefaultCapBytes = size_t(4) << 20;

    // Starts threads threads (at least 1) over table, which must outlive this object.
    MemberDecoders(const Source& source, const IntegrityTable& table, unsigned threads,
                   size_t capBytes = DefaultCapBytes);
    // Stops the threads, throwing away what they decoded and nobody took, and joins them.
    ~MemberDecoders() override;
    MemberDecoders(const MemberDecoders&) = delete;
    MemberDecoders& operator=(const MemberDecoders&) = delete;

    bool Deliver(uint32_t index, MemberOutput& output, AheadOutcome* outcome) override;

    // The most decoded bytes held in the queues at one time (for tests of the bound).
    size_t PeakQueuedBytes() const;

    struct Shared;

private:
    std::unique_ptr<Shared> shared;
    std::vector<std::unique_ptr<Thread>> threads;
};
