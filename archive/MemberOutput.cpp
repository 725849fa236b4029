#include "MemberOutput.h"

#include "FileSystem.h"
#include "Host.h"

bool MemberOutput::Open(const char* path) {
    Close();
    writeFailed = false;
    flushed = 0;
    cursor = buffer;
    file = OpenFile(path, "wb");
    return file != nullptr;
}

void MemberOutput::OpenDiscard() {
    Close();
    writeFailed = false;
    flushed = 0;
    cursor = buffer;
}

bool MemberOutput::Flush() {
    const size_t count = static_cast<size_t>(cursor - buffer);
    if (file && !writeFailed && std::fwrite(buffer, 1, count, file) != count) writeFailed = true;
    flushed += count;
    cursor = buffer;
    return !host.ShouldStop();
}

bool MemberOutput::Close() {
    if (cursor != buffer) {
        const size_t count = static_cast<size_t>(cursor - buffer);
        if (file && !writeFailed && std::fwrite(buffer, 1, count, file) != count) writeFailed = true;
        flushed += count;
        cursor = buffer;
    }
    if (file) {
        if (std::fclose(file) != 0) writeFailed = true;
        file = nullptr;
    }
    return !writeFailed;
}
