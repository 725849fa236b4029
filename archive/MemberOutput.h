#pragma once

#include <cstdint>

#include "FileSystem.h"

class ByteSink;
class Host;

// Where a member's decoded bytes go: a new temporary file in the target's directory, or nowhere.
// The target itself is touched only by Commit, once the member is complete, has its times and is
// known to be intact; Abandon (or destruction) removes the temporary file and leaves whatever
// stood at the target as it was. Bytes are buffered; the first failed write is remembered and
// the rest of the member is dropped, so decoding still consumes the member's whole bit stream
// and the archive stays in step.
class MemberOutput {
public:
    explicit MemberOutput(Host& host) : host(host) {}
    ~MemberOutput() { Abandon(); }
    MemberOutput(const MemberOutput&) = delete;
    MemberOutput& operator=(const MemberOutput&) = delete;

    // Starts a member that is to replace target. False when its temporary file cannot be
    // created; *error says why.
    bool Open(const char* target, FileError* error);

    // Counts bytes without writing them anywhere.
    void OpenDiscard();

    // Hands the bytes to sink as they are flushed, in order, instead of to a file (a decoder
    // working ahead of the run). A sink that refuses a write counts as a failed write.
    void OpenSink(ByteSink* sink);

    // The member holds at most limit bytes: the byte after them is not taken, Put returns false
    // and Overflowed() is true. Set after Open; no limit until then.
    void SetLimit(uint64_t limit);

    // False when the host asked to stop or the limit was passed; the byte is taken otherwise.
    bool Put(uint8_t byte) {
        *cursor++ = byte;
        if (cursor == bufferEnd) return Flush();
        return true;
    }

    // As count calls of Put, stopping at the first that returns false.
    bool Write(const uint8_t* bytes, size_t count);

    // Writes what is buffered and closes the temporary file; false when any write failed.
    bool Finish();

    // Gives the finished temporary file the three times, then the target's name, replacing what
    // stands there. False when either fails; the temporary file is gone then.
    bool Commit(uint64_t creationTime, uint64_t lastAccessTime, uint64_t lastWriteTime);

    // Closes and removes the temporary file, if there is one. Safe to call at any time.
    void Abandon();

    bool WriteFailed() const { return error != FileError::None; }
    FileError Error() const { return error; }
    bool Overflowed() const { return overflowed; }
    // CRC-32 of the bytes taken so far.
    uint32_t Crc() const;
    uint64_t Length() const { return flushed + static_cast<uint64_t>(cursor - buffer); }
    // The temporary file's path while one exists, else empty.
    const char* TemporaryPath() const { return temporary; }

private:
    bool Flush();
    void Emit(size_t count);  // the buffer's first count bytes to the file or the sink
    void Reset();
    void SetBufferEnd();

    static constexpr int BufferSize = 1 << 16;

    Host& host;
    FileHandle file = NoFile;
    ByteSink* sink = nullptr;
    FileError error = FileError::None;
    bool overflowed = false;
    uint64_t limit = UINT64_MAX;
    uint64_t flushed = 0;
    uint32_t crc = 0;  // of the flushed bytes
    char target[256] = {};
    char temporary[272] = {};  // the target's directory and a 12-character name
    unsigned char* cursor = buffer;
    unsigned char* bufferEnd = buffer + BufferSize;
    unsigned char buffer[BufferSize];
};
