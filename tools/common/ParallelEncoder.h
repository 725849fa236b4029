#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Codes members on worker threads, each worker with a model of its own, and hands the coded
// bytes to one consumer strictly in member order, so the output is the same for any number of
// threads. Every member starts from a fresh model and ends byte-aligned, which is what lets
// members be coded apart and joined.
//
// Memory stays flat in the size of the input: a worker whose coded bytes wait unconsumed blocks
// once the bytes buffered by all workers pass threads x BufferCap, except the worker of the member
// the consumer is on, which blocks only once that member alone holds BufferCap. So at most about
// (threads + 1) x BufferCap coded bytes are held, whatever the archive's size.
//
// With one thread no worker is started: each member is coded on the caller's thread straight into
// the consumer, as a plain loop would.

// The producer's side of one member, given to the job: the job reads its input and passes it
// through Put. Returns of false mean that the run is ending (the consumer refused, or another
// failure came first): the job then returns at once.
class MemberCoder {
public:
    virtual ~MemberCoder() = default;
    // The member's input is ready: starts its coding from a fresh model. A job that fails before
    // calling Begin (its file does not open) returns without it, and no coded byte is produced.
    virtual bool Begin() = 0;
    // Codes count bytes; they count as count bytes of input in the consumer's progress.
    virtual bool Put(const uint8_t* data, size_t count) = 0;
};

// The consumer: called on the caller's thread only, member after member, in order. For each
// member: BeginMember (only when the job called Begin), then Write and Progress as its coded bytes
// and its input arrive, then EndMember once the job has returned (whether or not it began). A
// false return ends the run: no later call is made and RunParallelEncoding returns false.
class CodedOutput {
public:
    virtual ~CodedOutput() = default;
    virtual bool BeginMember(size_t member) = 0;
    virtual bool Write(size_t member, const uint8_t* data, size_t count) = 0;
    virtual void Progress(size_t member, uint64_t inputBytes) = 0;
    virtual bool EndMember(size_t member) = 0;
};

// Runs on a worker (or, with one thread, on the caller's thread): produces member through coder.
// It must not throw. Jobs of different members run at the same time: a job touches only what
// belongs to its member, and whatever it records for the consumer is visible to the consumer
// from that member's EndMember on.
using MemberJob = std::function<void(size_t member, MemberCoder& coder)>;

struct ParallelEncoding {
    unsigned threads = 1;        // workers; 1 codes on the caller's thread without any worker
    size_t bufferCap = 4 << 20;  // coded bytes a worker may hold ahead of the consumer
};

// Codes members 0 to memberCount - 1 with job and hands them to output in order. True when every
// member went through; false when output refused one (its own state says why) or when a worker
// could not get memory (*error says so). Every worker has ended when it returns.
bool RunParallelEncoding(const ParallelEncoding& settings, size_t memberCount, const MemberJob& job,
                         CodedOutput& output, std::string* error);
