#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Extract.h"
#include "MemberDecoders.h"

class Thread;

// Decodes members ahead of ExtractAll when the installer carries no integrity data (globx -j).
// Nothing says where a record starts before the member in front of it is decoded, so the
// threads guess, and only ExtractAll's own reading confirms a guess:
//
// - The stream behind the header is cut into regions of regionBytes. A thread takes the next
//   region nobody took (skipping those ExtractAll has passed) and scans it for plausible record
//   ends (RecordScanner). From the bit stream behind one it decodes a member into a job, as
//   ExtractAll would: fresh model, the record's size as the limit.
// - A member that decoded completely (EndOfStream read from data) to exactly its record's size
//   ends where the next record starts: the thread reads that record and decodes on, member after
//   member (a chain), until it reaches a bit stream another job holds already (whose thread goes
//   on from there), the end of the archive or a member that fails. A failed or abandoned guess
//   sends the thread back to scanning, from the byte after it.
// - Jobs are keyed by the stream offset of their bit stream. ExtractAll asks by that offset
//   (DeliverAt), for increasing offsets; jobs before it are given up. A bit stream decoded from a
//   byte boundary with a fresh model gives the same bytes and end whoever decodes it, so a job
//   that was asked for is what ExtractAll would decode, and a wrong guess is simply never asked
//   for: it costs time, never a byte. ExtractAll does not wait for a bit stream no job holds yet;
//   it decodes that member itself.
//
// Memory stays flat in the archive's size: a thread holds at most capBytes of decoded bytes
// (one output buffer when that is more) and waits while they are not taken, so a member larger
// than the cap streams through once it is asked for. A thread takes up a bit stream only behind
// all the jobs it still holds, so the job ExtractAll waits for never waits behind bytes of its
// own thread that ExtractAll takes later. Nothing is printed: ExtractAll meets every problem
// itself, in order.
class GuessingDecoders : public DecodedAhead {
public:
    using Source = MemberDecoders::Source;

    // Starts threads threads (at least 1). regionBytes 0: a quarter of capBytes (at least 1 KiB).
    GuessingDecoders(const Source& source, unsigned threads,
                        size_t capBytes = MemberDecoders::DefaultCapBytes, size_t regionBytes = 0);
    // Stops the threads, throwing away what nobody took, and joins them.
    ~GuessingDecoders() override;
    GuessingDecoders(const GuessingDecoders&) = delete;
    GuessingDecoders& operator=(const GuessingDecoders&) = delete;

    // By index nothing is offered: without integrity data indexes tell no offsets.
    bool Deliver(uint32_t, MemberOutput&, AheadOutcome*) override { return false; }
    bool DeliverAt(uint64_t dataOffset, MemberOutput& output, AheadOutcome* outcome) override;

    // The most decoded bytes held in the queues at one time (for tests of the bound).
    size_t PeakQueuedBytes() const;

    // What the threads did, for tests and the benchmark.
    struct Counts {
        uint32_t guesses = 0;     // bit streams taken up from a scanned record
        uint32_t chained = 0;     // bit streams taken up at the end of a member a thread decoded
        uint32_t failed = 0;      // jobs whose decoding did not complete to the record's size
        uint32_t delivered = 0;   // jobs handed to ExtractAll complete
    };
    Counts GetCounts() const;
    // Waits until the threads have taken up jobs bit streams (guessed or chained), or every
    // thread has ended or waits for its bytes to be taken; for tests that need work done ahead
    // before the run asks.
    void WaitUntilTakenUp(uint32_t jobs) const;

    struct Shared;

private:
    std::unique_ptr<Shared> shared;
    std::vector<std::unique_ptr<Thread>> threads;
};
