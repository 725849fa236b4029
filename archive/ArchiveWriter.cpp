#include "ArchiveWriter.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

namespace {

constexpr uint8_t kUnreadByte = UnreadByte;
// One past the last file offset of volume 0 that holds stream: the byte at offset x is read with
// position x + 5, and position VolumeSpan is the first byte of GLOB1.DAT.
constexpr int64_t kVolume0DataEnd = VolumeSpan - 5;
const uint8_t kEndMark[2] = {ArchiveEndMark, ArchiveEndMark};

void PutLittleEndian(uint8_t* bytes, uint64_t value, int count) {
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The stream library does not report why a write failed; errno usually still holds the cause.
std::string Reason(int savedErrno, const char* fallback) {
    return savedErrno ? std::strerror(savedErrno) : fallback;
}

std::string DisplayName(const std::filesystem::path& path) { return path.u8string(); }

}  // namespace

int64_t MaxStreamLength(int64_t stubSize) {
    // The stream byte at index i is read with position S + 5 + i, S = stubSize + 1.
    return int64_t(INT32_MAX) - 6 - stubSize;
}

ArchiveWriter::ArchiveWriter(std::filesystem::path outDir, std::string firstVolumeName)
    : outDir(std::move(outDir)), firstVolumeName(std::move(firstVolumeName)) {}

ArchiveWriter::~ArchiveWriter() {
    if (!committed) RemoveTemporaries();
}

std::filesystem::path ArchiveWriter::FinalPath(size_t volume) const {
    return outDir / (volume == 0 ? firstVolumeName : "GLOB" + std::to_string(volume) + ".DAT");
}

std::filesystem::path ArchiveWriter::TemporaryPath(size_t volume) const {
    std::filesystem::path path = FinalPath(volume);
    path += ".part";
    return path;
}

bool ArchiveWriter::Fail(const std::filesystem::path& path, const std::string& what,
                         const std::string& todo) {
    if (!failed) {
        failed = true;
        error = DisplayName(path) + ": " + what + "; " + todo;
    }
    RemoveTemporaries();
    return false;
}

bool ArchiveWriter::Begin(const uint8_t* stub, size_t size) {
    if (failed || stubSize >= 0) return false;
    if (size > static_cast<size_t>(MaxStubSize))
        return Fail(FinalPath(0),
                    "a stub of " + std::to_string(size) + " bytes leaves no room for the archive (" +
                        std::to_string(MaxStubSize) + " at most)",
                    "use a smaller installer stub");
    stubSize = static_cast<int64_t>(size);
    if (!OpenNextVolume()) return false;
    errno = 0;
    // The stub and the unread byte sit in front of the stream: they are not counted as stream.
    file.write(reinterpret_cast<const char*>(stub), static_cast<std::streamsize>(size));
    file.write(reinterpret_cast<const char*>(&kUnreadByte), 1);
    if (!file)
        return Fail(TemporaryPath(0), "cannot write (" + Reason(errno, "write failed") + ")",
                    "check the free space in the output directory");
    bytesWritten += size + 1;
    spaceInVolume = kVolume0DataEnd - (stubSize + 1);
    return true;
}

bool ArchiveWriter::OpenNextVolume() {
    const size_t volume = volumeNames.size();
    volumeNames.push_back(FinalPath(volume).filename().u8string());
    const std::filesystem::path path = TemporaryPath(volume);
    errno = 0;
    file.open(path, std::ios::binary | std::ios::out | std::ios::trunc);
    if (!file.is_open())
        return Fail(path, "cannot create (" + Reason(errno, "open failed") + ")",
                    "check that the output directory exists and is writable");
    ++createdVolumes;
    spaceInVolume = VolumeSpan;
    return true;
}

// Volume 0 is finished, trailer included, before the first continuation is begun, so at most one
// file is open at any time.
bool ArchiveWriter::CloseVolume() {
    const size_t volume = volumeNames.size() - 1;
    if (volume == 0) {
        uint8_t trailer[TrailerSize];
        PutLittleEndian(trailer, static_cast<uint64_t>(stubSize + 1), TrailerSize);
        file.write(reinterpret_cast<const char*>(trailer), TrailerSize);
        bytesWritten += TrailerSize;
    }
    errno = 0;
    file.close();
    if (!file)
        return Fail(TemporaryPath(volume), "cannot write (" + Reason(errno, "write failed") + ")",
                    "check the free space in the output directory");
    return true;
}

bool ArchiveWriter::PutRaw(const uint8_t* data, size_t count) {
    if (failed || committed || stubSize < 0) return false;
    if (static_cast<int64_t>(streamLength + count) > MaxStreamLength(stubSize))
        return Fail(FinalPath(0),
                    "the archive would pass the " + std::to_string(MaxStreamLength(stubSize)) +
                        " stream bytes the installer can address",
                    "pack fewer files");
    while (count > 0) {
        if (spaceInVolume == 0 && !(CloseVolume() && OpenNextVolume())) return false;
        const size_t part =
            count < static_cast<uint64_t>(spaceInVolume) ? count : static_cast<size_t>(spaceInVolume);
        errno = 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(part));
        if (!file)
            return Fail(TemporaryPath(volumeNames.size() - 1),
                        "cannot write (" + Reason(errno, "write failed") + ")",
                        "check the free space in the output directory");
        data += part;
        count -= part;
        spaceInVolume -= static_cast<int64_t>(part);
        streamLength += part;
        bytesWritten += part;
    }
    return true;
}

bool ArchiveWriter::Write(const uint8_t* data, size_t count) { return PutRaw(data, count); }

bool ArchiveWriter::WriteHeader(const SetupHeader& header) {
    uint8_t bytes[SetupHeaderSize];
    SerializeSetupHeader(header, bytes);
    return PutRaw(bytes, sizeof bytes);
}

bool ArchiveWriter::WriteMemberRecord(const MemberRecord& record) {
    const size_t length = strnlen(record.name, sizeof record.name);
    if (length == 0 || length == sizeof record.name || record.nameTooLong)
        return Fail(FinalPath(0), "member name of " + std::to_string(length) + " bytes",
                    "names must have 1 to 255 bytes");
    if (std::memchr(record.name + 1, ArchiveEndMark, length - 1))
        return Fail(FinalPath(0), "a member name holds the byte 0xFF after its first byte",
                    "rename the file");
    uint8_t fields[MemberFieldsSize];
    PutLittleEndian(fields, record.size, 4);
    PutLittleEndian(fields + 4, record.creationTime, 8);
    PutLittleEndian(fields + 12, record.lastAccessTime, 8);
    PutLittleEndian(fields + 20, record.lastWriteTime, 8);
    const uint8_t terminator = NameTerminator;
    return PutRaw(reinterpret_cast<const uint8_t*>(record.name), length) &&
           PutRaw(&terminator, 1) && PutRaw(fields, sizeof fields);
}

bool ArchiveWriter::Commit() {
    if (failed || committed || stubSize < 0) return false;
    // The reader needs no end mark, but without one it reads the trailer (or a missing next
    // volume) as a further record.
    if (!PutRaw(kEndMark, sizeof kEndMark) || !CloseVolume() || !WriteReplacementStub() ||
        !RenameIntoPlace())
        return false;
    committed = true;
    RemoveStaleVolumes();
    return true;
}

bool ArchiveWriter::WriteReplacementStub() {
    if (replacementStub.empty()) return true;
    if (static_cast<int64_t>(replacementStub.size()) != stubSize)
        return Fail(FinalPath(0), "the stub changed size while it was packed", "report this as a bug");
    std::fstream volume0(TemporaryPath(0), std::ios::in | std::ios::out | std::ios::binary);
    volume0.seekp(0);
    volume0.write(reinterpret_cast<const char*>(replacementStub.data()),
                  static_cast<std::streamsize>(replacementStub.size()));
    volume0.close();
    if (!volume0) return Fail(FinalPath(0), "cannot write the stub's integrity data", "check the disk and run again");
    return true;
}

// Continuations first, volume 0 last: the file a user starts is replaced only when all its
// volumes are in place.
bool ArchiveWriter::RenameIntoPlace() {
    const size_t count = volumeNames.size();
    for (size_t i = 0; i < count; ++i) {
        const size_t volume = (i + 1) % count;
        std::error_code ec;
        std::filesystem::rename(TemporaryPath(volume), FinalPath(volume), ec);
        if (!ec) continue;
        const bool mixed = i > 0;
        Fail(FinalPath(volume), "cannot rename into place (" + ec.message() + ")",
             mixed ? "the installer there was partly replaced and has been removed; make the "
                     "directory writable and run again"
                   : "make the directory writable and run again");
        if (mixed) {
            for (size_t j = 0; j < i; ++j) std::filesystem::remove(FinalPath((j + 1) % count), ec);
            std::filesystem::remove(FinalPath(0), ec);
        }
        return false;
    }
    return true;
}

void ArchiveWriter::RemoveStaleVolumes() {
    for (size_t volume = volumeNames.size();; ++volume) {
        const std::filesystem::path path = FinalPath(volume);
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(path, ec);
        if (ec || (status.type() != std::filesystem::file_type::regular &&
                   status.type() != std::filesystem::file_type::symlink))
            return;
        if (std::filesystem::remove(path, ec)) {
            staleNotes.push_back(DisplayName(path) +
                                 ": removed, left over from an earlier, larger installer");
        } else {
            staleNotes.push_back(DisplayName(path) + ": left over from an earlier installer and "
                                 "cannot be removed (" + ec.message() + "); delete it");
            return;
        }
    }
}

void ArchiveWriter::RemoveTemporaries() {
    if (file.is_open()) file.close();
    // Only files this writer created: whatever stood in the way of a failed open is not ours.
    for (size_t volume = 0; volume < createdVolumes; ++volume) {
        std::error_code ec;
        std::filesystem::remove(TemporaryPath(volume), ec);
    }
}

void ArchiveWriter::Abandon() {
    if (committed) return;
    if (!failed) {
        failed = true;
        error = DisplayName(FinalPath(0)) + ": abandoned; nothing was written";
    }
    RemoveTemporaries();
}
