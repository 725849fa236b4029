#include "MemberOutput.h"

#include <cstdio>
#include <cstring>

#include "ByteSink.h"
#include "Crc32.h"
#include "Host.h"
#include "Text.h"

namespace {

// The longest path the platform's file calls take (Windows' MAX_PATH less its terminator).
constexpr size_t LongestPath = 259;
constexpr unsigned TemporaryNames = 1000;

}  // namespace

void MemberOutput::Reset() {
    error = FileError::None;
    overflowed = false;
    limit = UINT64_MAX;
    flushed = 0;
    crc = 0;
    cursor = buffer;
    SetBufferEnd();
}

void MemberOutput::SetBufferEnd() {
    // The byte after the limit ends the buffer, so that Flush sees it before anything is written.
    const uint64_t room = limit - flushed;
    bufferEnd = buffer + (room >= BufferSize ? BufferSize : static_cast<int>(room) + 1);
}

bool MemberOutput::Open(const char* path, FileError* openError) {
    Abandon();
    Reset();
    CopyText(target, sizeof target, path);
    // "~GLOB<n>.TMP" in the target's directory: on the same volume, so the rename cannot copy,
    // and a name no member of ours can be given while it exists (the creation is exclusive).
    size_t directory = std::strlen(target);
    while (directory > 0 && target[directory - 1] != '\\' && target[directory - 1] != '/') --directory;
    FileError why = FileError::Other;
    for (unsigned n = 0; n < TemporaryNames; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "~GLOB%u.TMP", n);
        if (directory + std::strlen(name) > LongestPath) break;
        std::memcpy(temporary, target, directory);
        std::strcpy(temporary + directory, name);
        file = CreateNewFile(temporary, &why);
        if (file != NoFile) return true;
        if (why != FileError::Exists) break;
    }
    temporary[0] = '\0';
    if (openError) *openError = why;
    return false;
}

uint32_t MemberOutput::Crc() const { return Crc32(crc, buffer, static_cast<size_t>(cursor - buffer)); }

void MemberOutput::OpenDiscard() {
    Abandon();
    Reset();
}

void MemberOutput::OpenSink(ByteSink* to) {
    Abandon();
    Reset();
    sink = to;
}

bool MemberOutput::Write(const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const size_t room = static_cast<size_t>(bufferEnd - cursor);
        const size_t n = room < count ? room : count;
        std::memcpy(cursor, bytes, n);
        cursor += n;
        bytes += n;
        count -= n;
        if (cursor == bufferEnd && !Flush()) return false;
    }
    return true;
}

void MemberOutput::SetLimit(uint64_t value) {
    limit = value;
    SetBufferEnd();
}

void MemberOutput::Emit(size_t count) {
    if (error != FileError::None) return;
    if (file != NoFile) WriteToFile(file, buffer, count, &error);
    else if (sink && !sink->Write(buffer, count)) error = FileError::Other;
}

bool MemberOutput::Flush() {
    const size_t count = static_cast<size_t>(cursor - buffer);
    if (flushed + count > limit) {
        overflowed = true;
        cursor = buffer + (limit - flushed);  // the extra byte is not taken
        return false;
    }
    Emit(count);
    crc = Crc32(crc, buffer, count);
    flushed += count;
    cursor = buffer;
    SetBufferEnd();
    return !host.ShouldStop();
}

bool MemberOutput::Finish() {
    const size_t count = static_cast<size_t>(cursor - buffer);
    if (count) Emit(count);
    crc = Crc32(crc, buffer, count);
    flushed += count;
    cursor = buffer;
    if (file != NoFile) {
        FileError closeError = FileError::None;
        if (!CloseOutputFile(file, &closeError) && error == FileError::None) error = closeError;
        file = NoFile;
    }
    return error == FileError::None;
}

bool MemberOutput::Commit(uint64_t creationTime, uint64_t lastAccessTime, uint64_t lastWriteTime) {
    if (temporary[0] == '\0' || file != NoFile || error != FileError::None) {
        Abandon();
        return false;
    }
    if (!SetFileTimes(temporary, creationTime, lastAccessTime, lastWriteTime)) {
        error = FileError::Other;
        Abandon();
        return false;
    }
    if (!MoveOverFile(temporary, target, &error)) {
        if (error == FileError::None) error = FileError::Other;
        Abandon();
        return false;
    }
    temporary[0] = '\0';
    return true;
}

void MemberOutput::Abandon() {
    sink = nullptr;
    if (file != NoFile) {
        CloseOutputFile(file, nullptr);
        file = NoFile;
    }
    if (temporary[0] != '\0') {
        RemoveFile(temporary);
        temporary[0] = '\0';
    }
}
