#include "VolumeStream.h"

#include <climits>
#include <cstring>

#include "FileSystem.h"
#include "Host.h"
#include "PeTrailer.h"
#include "Text.h"

VolumeStream::VolumeStream(Host& host) : host(host) { ResetBuffer(); }

VolumeStream::~VolumeStream() { CloseVolume(); }

void VolumeStream::ResetBuffer() { cursor = bufferEnd = fastEnd = buffer; }

void VolumeStream::MakeVolumeName() {
    if (volume == 0)
        CopyText(volumeName, sizeof volumeName, firstVolumeName);
    else
        std::snprintf(volumeName, sizeof volumeName, "%.240s%i.DAT", baseName, static_cast<int>(volume));
}

bool VolumeStream::OpenCurrentVolume() {
    file = OpenFile(volumeName, "rb");
    if (!file && volume > 0 && secondBaseName[0] != '\0') {
        // Not in the current directory: beside the installer, under the same name.
        char second[256];
        std::snprintf(second, sizeof second, "%.240s%i.DAT", secondBaseName, static_cast<int>(volume));
        file = OpenFile(second, "rb");
        if (file) CopyText(volumeName, sizeof volumeName, second);
    }
    if (!file) return false;
    endIndicator = false;
    dataLeftInFile = INT64_MAX;  // volume 0 learns its end from the trailer
    return true;
}

bool VolumeStream::OpenVolumeSet(const char* base, const char* first) {
    mask = 0x80;
    rack = 0;
    CopyText(baseName, sizeof baseName, base);
    CopyText(firstVolumeName, sizeof firstVolumeName, first);
    MakeVolumeName();
    position = 0;
    CloseVolume();
    readError = stopped = false;
    while (!OpenCurrentVolume()) {
        host.Beep();
        if (!host.AskForDisk(1, volumeName)) return false;
    }
    return true;
}

bool VolumeStream::PositionAtArchive() {
    if (!file || volume != 0) return false;
    if (std::fseek(file, 0, SEEK_END) != 0) return false;
    const long size = std::ftell(file);
    // In front of a signature's certificate table, if there is one; else the last four bytes.
    const long trailerAt = static_cast<long>(FindTrailer(file, size).offset);
    unsigned char trailer[TrailerSize];
    if (size < TrailerSize || std::fseek(file, trailerAt, SEEK_SET) != 0 ||
        std::fread(trailer, 1, TrailerSize, file) != TrailerSize)
        return false;
    const int32_t s = static_cast<int32_t>(uint32_t(trailer[0]) | uint32_t(trailer[1]) << 8 |
                                           uint32_t(trailer[2]) << 16 | uint32_t(trailer[3]) << 24);
    unsigned char unread = 0;
    if (s < 1 || s > trailerAt || std::fseek(file, s - 1, SEEK_SET) != 0 ||
        std::fread(&unread, 1, 1, file) != 1 || unread != UnreadByte)
        return false;
    archiveOffset = s;
    position = s + 4;
    // The trailer is not data: reading volume 0 ends in front of it.
    dataLeftInFile = trailerAt - s;
    endIndicator = false;
    ResetBuffer();
    return true;
}

void VolumeStream::SetSecondBaseName(const char* base) { CopyText(secondBaseName, sizeof secondBaseName, base); }

bool VolumeStream::MoreDataInVolume() {
    if (!file || endIndicator) return false;
    if (int64_t(position) + 1 >= (int64_t(volume) + 1) * VolumeSpan) return false;
    return cursor != bufferEnd || Refill();
}

void VolumeStream::SelectVolume() {
    const int32_t v = position / VolumeSpan;
    if (v == volume) return;
    CloseVolume();
    volume = v;
    MakeVolumeName();
    if (OpenCurrentVolume()) return;
    for (;;) {
        if (host.ShouldStop()) {
            stopped = true;
            return;
        }
        if (OpenCurrentVolume()) return;
        host.Beep();
        if (!host.AskForDisk(volume + 1, volumeName) && host.ConfirmQuit()) host.RequestCancel();
    }
}

bool VolumeStream::Refill() {
    if (host.ShouldStop()) {
        stopped = true;
        return false;
    }
    const size_t want = dataLeftInFile < BufferSize ? static_cast<size_t>(dataLeftInFile) : BufferSize;
    const size_t got = want ? std::fread(buffer, 1, want, file) : 0;
    dataLeftInFile -= static_cast<int64_t>(got);
    cursor = fastEnd = buffer;
    bufferEnd = buffer + got;
    if (got) return true;
    if (std::ferror(file) && !readError) {
        // Shown once: reading ends here, so nothing would come of asking again.
        readError = true;
        host.ShowReadError();
        host.RequestCancel();
    }
    return false;
}

void VolumeStream::SetFastEnd() {
    const int64_t boundary = (int64_t(volume) + 1) * VolumeSpan;
    int64_t left = boundary - 1 - position;
    if (left > INT32_MAX - int64_t(position)) left = INT32_MAX - int64_t(position);
    if (left > bufferEnd - cursor) left = bufferEnd - cursor;
    fastEnd = cursor + (left > 0 ? left : 0);
}

int VolumeStream::ReadByteSlow() {
    if (position == INT32_MAX) {
        endIndicator = true;
        return -1;
    }
    ++position;
    SelectVolume();
    if (!file || stopped || (cursor == bufferEnd && !Refill())) {
        endIndicator = true;
        return -1;
    }
    const int byte = *cursor++;
    SetFastEnd();
    return byte;
}

void VolumeStream::ReadBytes(void* destination, int32_t count) {
    auto* bytes = static_cast<unsigned char*>(destination);
    for (int32_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(ReadByte());
}

uint32_t VolumeStream::ReadBits(int count) {
    uint32_t result = 0;
    for (uint32_t m = uint32_t(1) << (count - 1); m != 0; m >>= 1) {
        if (mask == 0x80) rack = ReadByte();
        if (rack & mask) result |= m;
        mask = static_cast<uint8_t>(mask >> 1 ? mask >> 1 : 0x80);
    }
    return result;
}

void VolumeStream::CloseVolume() {
    if (file) std::fclose(file);
    file = nullptr;
    ResetBuffer();
}
