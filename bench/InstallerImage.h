#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteSink.h"
#include "SetupHeader.h"

// An installer-shaped archive assembled in memory and written into a directory: a fake stub,
// the unread 0xFF byte, the stream (header, records, the 0xFF 0xFF end mark) and the trailer in
// "setup.exe", and the rest of the stream in GLOB1.DAT, GLOB2.DAT, ... as the volume rule splits
// it. Coders write a member's bit stream through the ByteSink side, after its record.
class InstallerImage : public ByteSink {
public:
    explicit InstallerImage(const SetupHeader& header);

    void AddRecord(const char* name, uint32_t size, uint64_t creationTime, uint64_t lastAccessTime,
                   uint64_t lastWriteTime);
    bool Write(const uint8_t* data, size_t count) override;
    void AddEndMark();

    // Writes the volumes into directory (which must exist) behind a stub of stubSize bytes;
    // false with a message when a file could not be written.
    bool WriteVolumes(const std::string& directory, size_t stubSize, std::string& error);

    const std::vector<uint8_t>& Stream() const { return stream; }
    const std::string& FirstVolumeName() const { return firstVolumeName; }
    const std::string& BaseName() const { return baseName; }
    int VolumeCount() const { return volumeCount; }

private:
    std::vector<uint8_t> stream;
    std::string firstVolumeName;
    std::string baseName;
    int volumeCount = 0;
};

// A header with fixed texts and the given totalSize.
SetupHeader BenchHeader(uint32_t totalSize);
