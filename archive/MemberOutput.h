#pragma once

#include <cstdint>
#include <cstdio>

class Host;

// Where a member's decoded bytes go: a file opened "wb", or nowhere. Bytes are buffered; a failed
// write is remembered and the rest of the member is dropped, so decoding still consumes the
// member's whole bit stream and the archive stays in step.
class MemberOutput {
public:
    explicit MemberOutput(Host& host) : host(host) {}
    ~MemberOutput() { Close(); }
    MemberOutput(const MemberOutput&) = delete;
    MemberOutput& operator=(const MemberOutput&) = delete;

    // Opens path for binary writing, creating or truncating it. False when it cannot be opened.
    bool Open(const char* path);

    // Counts bytes without writing them anywhere.
    void OpenDiscard();

    // False when the host asked to stop; the byte is taken either way.
    bool Put(uint8_t byte) {
        *cursor++ = byte;
        if (cursor == bufferEnd) return Flush();
        return true;
    }

    // Flushes and closes; false when any write failed. Safe to call twice.
    bool Close();

    bool WriteFailed() const { return writeFailed; }
    uint64_t Length() const { return flushed + static_cast<uint64_t>(cursor - buffer); }

private:
    bool Flush();

    static constexpr int BufferSize = 1 << 16;

    Host& host;
    std::FILE* file = nullptr;
    bool writeFailed = false;
    uint64_t flushed = 0;
    unsigned char* cursor = buffer;
    unsigned char* bufferEnd = buffer + BufferSize;
    unsigned char buffer[BufferSize];
};
