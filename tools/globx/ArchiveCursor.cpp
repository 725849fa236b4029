#include "ArchiveCursor.h"

#include <cstring>

#include "VolumeHost.h"

ArchiveCursor::ArchiveCursor(const MemberDecoders::Source& source, VolumeHost& host)
    : source(source), host(host) {
    host.SearchAlso(source.volumesDirs);
}

ArchiveCursor::~ArchiveCursor() = default;

bool ArchiveCursor::Open() {
    stream.reset(new VolumeStream(host));
    host.Attach(stream.get());
    if (!stream->OpenVolumeSet(source.baseName.c_str(), source.installer.c_str()) || !stream->PositionAtArchive())
        return false;
    start = stream->position;
    return true;
}

bool ArchiveCursor::MoveTo(int64_t offset) {
    if (!Usable() || offset < Offset()) {
        if (!Open()) return false;
    }
    if (start + offset > INT32_MAX) return false;
    const int64_t position = start + offset;
    while (stream->position < position) {
        size_t count = stream->Contiguous();
        if (count == 0) {
            if (stream->ReadByte() < 0) return false;
            continue;
        }
        if (int64_t(count) > position - stream->position) count = static_cast<size_t>(position - stream->position);
        stream->Skip(count);
    }
    return Usable();
}

size_t ArchiveCursor::Read(uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        size_t available = stream->Contiguous();
        if (available == 0) {
            const int b = stream->ReadByte();
            if (b < 0) break;
            bytes[done++] = static_cast<uint8_t>(b);
            continue;
        }
        if (available > count - done) available = count - done;
        std::memcpy(bytes + done, stream->Peek(), available);
        stream->Skip(available);
        done += available;
    }
    return done;
}
