#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ByteSink.h"
#include "IntegrityTable.h"
#include "SetupHeader.h"

class Host;
class VolumeStream;

// Builds installer files from code, independently of the packer: a stub, the byte 0xFF, the
// stream (header and members), the trailer, and the stream's continuation in GLOB<k>.DAT files.

// A member as the archive stores it.
struct TestMember {
    std::string name;  // the stored bytes without the terminator; may hold any byte
    std::vector<uint8_t> data;
    uint64_t creationTime = 0;
    uint64_t lastAccessTime = 0;
    uint64_t lastWriteTime = 0;
    std::optional<uint32_t> size;                // recorded size; data.size() when absent
    std::optional<std::vector<uint8_t>> stream;  // bit stream used as it is, in place of coding data

    uint32_t RecordedSize() const { return size ? *size : static_cast<uint32_t>(data.size()); }
};

// Offsets in the stream (0 is the header's first byte) of the parts of each record.
struct StreamLayout {
    struct Member {
        size_t record;  // first byte of the name
        size_t fields;  // first byte of size
        size_t data;    // first byte of the bit stream
        size_t end;     // one past the bit stream
    };
    std::vector<Member> members;
    size_t end = 0;  // where the end mark starts, or the stream's length without one
};

class TestArchive {
public:
    TestArchive();

    static constexpr uint64_t DefaultCreationTime = 125911584000000000ULL;    // 2000-01-01
    static constexpr uint64_t DefaultLastAccessTime = 128000000000000000ULL;
    static constexpr uint64_t DefaultLastWriteTime = 127000000000000000ULL;

    TestMember& Add(const std::string& name, const std::vector<uint8_t>& data);
    TestMember& Add(const std::string& name, const std::string& text);

    // Sum of the members' recorded sizes, 32-bit as the header holds it.
    uint32_t TotalSize() const;

    // The stream: header (totalSize = TotalSize() unless keepTotalSize), the records, then
    // trailingBytes and the end mark 0xFF 0xFF when asked for.
    std::vector<uint8_t> Stream(StreamLayout* layout = nullptr) const;

    SetupHeader header;
    bool keepTotalSize = false;
    std::vector<TestMember> members;
    std::vector<uint8_t> trailingBytes;
    bool endMark = false;
};

// Volume 0 holds stream bytes up to this file offset (exclusive), then the trailer.
constexpr size_t Volume0DataLimit = 1457659;

struct VolumeLayout {
    size_t stubSize = 0x600;      // S = stubSize + 1
    size_t volume0Padding = 0;    // bytes between volume 0's share of the stream and the trailer
    size_t truncateLastVolume = 0;  // stream bytes cut from the end of the last file
    std::string exeName = "SETUP.EXE";
    std::string baseName = "GLOB";
};

// The stub size that makes stream byte streamOffset the first byte of GLOB1.DAT.
size_t StubSizeForBoundaryAt(size_t streamOffset);

struct InstallerFiles {
    std::string exePath;
    std::string baseName;  // directory and base name, as OpenVolumeSet takes it
    int32_t offset = 0;    // S
    std::vector<std::string> volumes;  // the executable, GLOB1.DAT, ...
};

InstallerFiles WriteInstaller(const std::string& directory, const std::vector<uint8_t>& stream,
                              const VolumeLayout& layout = {});

// The path of continuation volume k.
std::string VolumePath(const InstallerFiles& files, int k);

// Opens and positions a stream on the installer; null when either step fails.
std::unique_ptr<VolumeStream> OpenInstaller(Host& host, const InstallerFiles& files);

// Reads and parses the 388-byte header as the installer does.
void ReadHeader(VolumeStream& stream, SetupHeader* header);

// One member's bit stream as the encoder codes it.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& data);

// The integrity data globpack would store for stream, archive.Stream(&layout).
IntegrityTable IntegrityTableFor(const TestArchive& archive, const std::vector<uint8_t>& stream,
                                 const StreamLayout& layout);
