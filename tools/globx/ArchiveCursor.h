#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "MemberDecoders.h"
#include "VolumeStream.h"

class VolumeHost;

// One thread's own reading of an installer's archive stream on file handles of its own, by
// stream offset (0 is the header's first byte, as ExtractAll counts). It goes forward by reading
// on; an offset behind it is reached by opening the volume set again and reading on from the
// start, so callers keep their offsets growing.
class ArchiveCursor {
public:
    // host must outlive the cursor; it is attached to every stream the cursor opens.
    ArchiveCursor(const MemberDecoders::Source& source, VolumeHost& host);
    ~ArchiveCursor();
    ArchiveCursor(const ArchiveCursor&) = delete;
    ArchiveCursor& operator=(const ArchiveCursor&) = delete;

    // Opens the volume set and positions on offset 0; false when that fails.
    bool Open();

    // Reads on to offset, starting over when it lies behind or the stream is no longer usable.
    // False when the data ends, a read fails or the host stops the stream before it.
    bool MoveTo(int64_t offset);

    // Up to count bytes from the current offset; fewer only where the data ends (or fails, or
    // is stopped).
    size_t Read(uint8_t* bytes, size_t count);

    int64_t Offset() const { return int64_t(stream->position) - start; }
    VolumeStream& Stream() { return *stream; }
    // False once the data ended, a read failed or the stream was stopped.
    bool Usable() const { return stream && !stream->AtVolumeEnd() && !stream->ReadFailed() && !stream->Stopped(); }

private:
    const MemberDecoders::Source& source;
    VolumeHost& host;
    std::unique_ptr<VolumeStream> stream;
    int64_t start = 0;  // the stream position of offset 0
};
