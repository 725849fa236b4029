#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A 32-bit Windows program (PE32) held in memory, opened so that its resources can be rewritten:
// the resource directory lies in the image's last section, by address and by file offset, and
// that section ends the file. Growing the resources then moves nothing else.
//
// The bytes may come from anywhere: Open checks every header field it relies on against the
// buffer, and the resource accessors check every offset they are given, so no input makes this
// class read or write outside its buffers.
//
// Offsets named "resource offsets" count from the resource directory's root, as the offsets
// inside the resource tree do; an RVA is the root's RVA plus such an offset.
class PeImage {
public:
    // False with *error set (what is wrong, without the file's name) when bytes is not such a
    // program: no MZ or PE header, not PE32, headers or sections outside the file, no resource
    // directory, resources not in the last section, bytes after the last section (an installer
    // rather than its stub), or a signature that an edit would break.
    // readOnly accepts a signed program, for reading its resources only.
    bool Open(std::vector<uint8_t> bytes, std::string* error, bool readOnly = false);

    // The resource bytes from the root to the end of the section's used part (its VirtualSize),
    // appended bytes included.
    const std::vector<uint8_t>& Resources() const { return resources; }
    uint32_t ResourceRva() const { return resourceRva; }

    // A pointer to size bytes at resource offset offset, or nullptr when they are not all there.
    const uint8_t* ResourceAt(uint32_t offset, uint32_t size) const;
    bool ReadResource32(uint32_t offset, uint32_t* value) const;
    bool ReadResource16(uint32_t offset, uint16_t* value) const;
    // False, changing nothing, when the four bytes are not all there.
    bool WriteResource32(uint32_t offset, uint32_t value);

    // The size bytes at an RVA in any section, or nullptr when they are not all in the file.
    const uint8_t* ImageAt(uint32_t rva, uint32_t size) const;

    // Appends bytes behind the resources, first padding with zeros to a multiple of 8, and sets
    // *offset to their resource offset. False, changing nothing, when the resources would grow
    // past MaxResourceSize.
    bool AppendResource(const uint8_t* data, size_t size, uint32_t* offset);
    static constexpr uint32_t MaxResourceSize = 64u << 20;

    // The program with its appended resources: the last section's VirtualSize and SizeOfRawData
    // (padded with zeros to FileAlignment), SizeOfImage, SizeOfInitializedData, the resource
    // directory's size and the checksum updated. Without appends: the bytes given to Open.
    std::vector<uint8_t> Build() const;

private:
    struct SectionSpan {
        uint32_t rva, rawSize, rawOffset;
    };

    std::vector<uint8_t> bytes;
    std::vector<SectionSpan> spans;
    std::vector<uint8_t> resources;
    size_t optionalHeader = 0;    // file offset of the optional header
    size_t lastSectionHeader = 0; // file offset of the last section's header
    uint32_t lastSectionRva = 0;
    uint32_t lastSectionOffset = 0; // file offset of the last section's data
    uint32_t lastSectionRawSize = 0;
    uint32_t rootInSection = 0;   // the resource root's offset within the last section
    uint32_t resourceRva = 0;
    uint32_t originalResourceSize = 0;
    uint32_t fileAlignment = 0;
    uint32_t sectionAlignment = 0;
    bool edited = false;
};

// The PE checksum of an image: the sum of its little-endian 16-bit words (an odd last byte padded
// with zero), each carry folded back into the low 16 bits, the checksum field at checksumOffset
// taken as zero; plus the image's length.
uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksumOffset);
