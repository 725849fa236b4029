#include "InstallerImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "MemberRecord.h"
#include "VolumeStream.h"

namespace {

void AppendLittleEndian(std::vector<uint8_t>& bytes, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr && std::fclose(file) != 0) ok = false;
    if (!ok) error = path + ": cannot write the file; check the free space of its directory";
    return ok;
}

}  // namespace

SetupHeader BenchHeader(uint32_t totalSize) {
    SetupHeader header = {};
    std::strcpy(header.programName, "Coder Bench");
    std::strcpy(header.caption, "Coder Bench Setup");
    std::strcpy(header.subtitle, "Benchmark archive");
    std::strcpy(header.defaultDir, "C:\\BENCH");
    std::strcpy(header.versionText, "1.0");
    std::strcpy(header.exeName, "BENCH.EXE");
    header.totalSize = totalSize;
    return header;
}

InstallerImage::InstallerImage(const SetupHeader& header) {
    stream.resize(SetupHeaderSize);
    SerializeSetupHeader(header, stream.data());
}

void InstallerImage::AddRecord(const char* name, uint32_t size, uint64_t creationTime,
                               uint64_t lastAccessTime, uint64_t lastWriteTime) {
    stream.insert(stream.end(), name, name + std::strlen(name));
    stream.push_back(NameTerminator);
    AppendLittleEndian(stream, size, 4);
    AppendLittleEndian(stream, creationTime, 8);
    AppendLittleEndian(stream, lastAccessTime, 8);
    AppendLittleEndian(stream, lastWriteTime, 8);
}

bool InstallerImage::Write(const uint8_t* data, size_t count) {
    stream.insert(stream.end(), data, data + count);
    return true;
}

void InstallerImage::AddEndMark() {
    stream.push_back(ArchiveEndMark);
    stream.push_back(ArchiveEndMark);
}

bool InstallerImage::WriteVolumes(const std::string& directory, size_t stubSize,
                                  std::string& error) {
    // The byte at offset x of volume 0 is read with position x + 5, and the read at position
    // VolumeSpan already comes from volume 1: volume 0 holds data up to offset VolumeSpan - 6.
    const size_t volume0End = VolumeSpan - TrailerSize - 1;
    const size_t offset = stubSize + 1;
    if (stubSize < 2 || offset > volume0End) {
        error = "stub size " + std::to_string(stubSize) + " leaves no room for the archive";
        return false;
    }
    firstVolumeName = directory + "/setup.exe";
    baseName = directory + "/GLOB";

    std::vector<uint8_t> volume(stubSize);
    for (size_t i = 0; i < stubSize; ++i) volume[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    volume[0] = 'M';
    volume[1] = 'Z';
    volume.push_back(0xFF);
    const size_t inFirst = std::min(stream.size(), volume0End - offset);
    volume.insert(volume.end(), stream.begin(), stream.begin() + inFirst);
    AppendLittleEndian(volume, offset, TrailerSize);
    if (!WriteFile(firstVolumeName, volume, error)) return false;
    volumeCount = 1;

    for (size_t done = inFirst; done < stream.size(); done += VolumeSpan) {
        const size_t end = std::min(stream.size(), done + VolumeSpan);
        volume.assign(stream.begin() + done, stream.begin() + end);
        if (!WriteFile(baseName + std::to_string(volumeCount) + ".DAT", volume, error)) {
            return false;
        }
        ++volumeCount;
    }
    return true;
}
