#include "PeImage.h"

#include <algorithm>
#include <cstring>

namespace {

// Offsets in the PE32 optional header.
constexpr size_t kSizeOfInitializedData = 8;
constexpr size_t kSectionAlignment = 32;
constexpr size_t kFileAlignment = 36;
constexpr size_t kSizeOfImage = 56;
constexpr size_t kCheckSum = 64;
constexpr size_t kNumberOfRvaAndSizes = 92;
constexpr size_t kDataDirectories = 96;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kCertificateDirectory = 4;

// Offsets in a section header.
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kVirtualSize = 8;
constexpr size_t kVirtualAddress = 12;
constexpr size_t kSizeOfRawData = 16;
constexpr size_t kPointerToRawData = 20;

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kMostSections = 96;  // the loader's own limit

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void Put32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

struct Section {
    std::string name;
    size_t header = 0;
    uint32_t virtualSize = 0;
    uint32_t rva = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
};

std::string SectionName(const uint8_t* header) {
    std::string name(reinterpret_cast<const char*>(header), 8);
    name.resize(std::strlen(name.c_str()));
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    return name;
}

bool Refuse(std::string* error, const std::string& what) {
    *error = what;
    return false;
}

}  // namespace

bool PeImage::Open(std::vector<uint8_t> input, std::string* error, bool readOnly) {
    bytes = std::move(input);
    resources.clear();
    const size_t size = bytes.size();
    const uint8_t* b = bytes.data();
    if (size < 0x40 || b[0] != 'M' || b[1] != 'Z')
        return Refuse(error, "not a Windows program (no MZ header)");
    const uint32_t pe = Get32(b + 0x3C);
    if (static_cast<uint64_t>(pe) + 24 > size || std::memcmp(b + pe, "PE\0\0", 4) != 0)
        return Refuse(error, "not a Windows program (no PE header)");
    const uint16_t sectionCount = Get16(b + pe + 6);
    const uint16_t optionalSize = Get16(b + pe + 20);
    optionalHeader = pe + 24;
    if (optionalHeader + optionalSize > size || optionalSize < kDataDirectories ||
        Get16(b + optionalHeader) != kPe32Magic)
        return Refuse(error, "not a 32-bit Windows program (no PE32 optional header)");
    const uint8_t* optional = b + optionalHeader;
    const uint32_t directoryCount = std::min<uint32_t>(Get32(optional + kNumberOfRvaAndSizes), 16);
    if (kDataDirectories + 8 * static_cast<size_t>(directoryCount) > optionalSize)
        return Refuse(error, "damaged: its data directories overrun the optional header");
    const auto directory = [&](uint32_t index, uint32_t* rva, uint32_t* length) {
        *rva = *length = 0;
        if (index >= directoryCount) return;
        *rva = Get32(optional + kDataDirectories + 8 * index);
        *length = Get32(optional + kDataDirectories + 8 * index + 4);
    };
    uint32_t certificateOffset = 0, certificateSize = 0;
    directory(kCertificateDirectory, &certificateOffset, &certificateSize);
    if (certificateSize != 0 && !readOnly)
        return Refuse(error, "is signed; an edit would break the signature: pass an unsigned stub");
    directory(kResourceDirectory, &resourceRva, &originalResourceSize);
    if (resourceRva == 0) return Refuse(error, "has no resources");

    fileAlignment = Get32(optional + kFileAlignment);
    sectionAlignment = Get32(optional + kSectionAlignment);
    if (!IsPowerOfTwo(fileAlignment) || fileAlignment > 0x10000 ||
        !IsPowerOfTwo(sectionAlignment) || sectionAlignment < fileAlignment)
        return Refuse(error, "damaged: FileAlignment " + std::to_string(fileAlignment) +
                                 " or SectionAlignment " + std::to_string(sectionAlignment) +
                                 " is not a power of two, or the second is the smaller");

    if (sectionCount == 0 || sectionCount > kMostSections)
        return Refuse(error, "damaged: " + std::to_string(sectionCount) + " sections");
    const size_t table = optionalHeader + optionalSize;
    if (table + kSectionHeaderSize * sectionCount > size)
        return Refuse(error, "damaged: the section table overruns the file");
    std::vector<Section> sections(sectionCount);
    for (size_t i = 0; i < sectionCount; ++i) {
        Section& s = sections[i];
        s.header = table + kSectionHeaderSize * i;
        s.name = SectionName(b + s.header);
        s.virtualSize = Get32(b + s.header + kVirtualSize);
        s.rva = Get32(b + s.header + kVirtualAddress);
        s.rawSize = Get32(b + s.header + kSizeOfRawData);
        s.rawOffset = Get32(b + s.header + kPointerToRawData);
        if (s.rawSize != 0 && static_cast<uint64_t>(s.rawOffset) + s.rawSize > size)
            return Refuse(error, "damaged: section " + s.name + " overruns the file");
    }

    const Section* last = &sections[0];
    for (const Section& s : sections)
        if (s.rva > last->rva) last = &s;
    for (const Section& s : sections)
        if (&s != last && s.rawSize != 0 &&
            static_cast<uint64_t>(s.rawOffset) + s.rawSize > last->rawOffset)
            return Refuse(error, "section " + s.name + " follows or overlaps " + last->name +
                                     " in the file; the resources must be the file's last section");
    const auto holdsRoot = [&](const Section& s) {
        return resourceRva >= s.rva && resourceRva - s.rva < std::max(s.virtualSize, s.rawSize);
    };
    if (!holdsRoot(*last)) {
        for (const Section& s : sections)
            if (holdsRoot(s))
                return Refuse(error, "its resources are in section " + s.name +
                                         ", not in the last section (" + last->name +
                                         "); link the stub with .rsrc last");
        return Refuse(error, "damaged: the resource directory lies in no section");
    }
    const uint64_t lastEnd = static_cast<uint64_t>(last->rawOffset) + last->rawSize;
    if (last->rawSize == 0) return Refuse(error, "its last section " + last->name + " is empty");
    if (lastEnd != size)
        return Refuse(error, std::to_string(size - lastEnd) + " bytes follow its last section " +
                                 last->name +
                                 " (an installer rather than a stub?); pass the bare "
                                 "stub");
    const uint32_t used = last->virtualSize != 0 ? last->virtualSize : last->rawSize;
    if (used > last->rawSize)
        return Refuse(error,
                      "its last section " + last->name + " is longer in memory than in the file");
    rootInSection = resourceRva - last->rva;
    if (rootInSection >= used)
        return Refuse(error, "damaged: the resource directory lies past its section's data");

    lastSectionHeader = last->header;
    lastSectionRva = last->rva;
    lastSectionOffset = last->rawOffset;
    lastSectionRawSize = last->rawSize;
    resources.assign(bytes.begin() + last->rawOffset + rootInSection,
                     bytes.begin() + last->rawOffset + used);
    spans.clear();
    for (const Section& s : sections) spans.push_back({s.rva, s.rawSize, s.rawOffset});
    edited = false;
    return true;
}

const uint8_t* PeImage::ResourceAt(uint32_t offset, uint32_t size) const {
    if (offset > resources.size() || size > resources.size() - offset) return nullptr;
    return resources.data() + offset;
}

bool PeImage::ReadResource32(uint32_t offset, uint32_t* value) const {
    const uint8_t* p = ResourceAt(offset, 4);
    if (p) *value = Get32(p);
    return p != nullptr;
}

bool PeImage::ReadResource16(uint32_t offset, uint16_t* value) const {
    const uint8_t* p = ResourceAt(offset, 2);
    if (p) *value = Get16(p);
    return p != nullptr;
}

bool PeImage::WriteResource32(uint32_t offset, uint32_t value) {
    if (!ResourceAt(offset, 4)) return false;
    Put32(resources.data() + offset, value);
    edited = true;  // a changed tree needs a new checksum all the same
    return true;
}

const uint8_t* PeImage::ImageAt(uint32_t rva, uint32_t size) const {
    // Resource data almost always lies in the resources themselves, appended bytes included.
    if (rva >= resourceRva) {
        if (const uint8_t* p = ResourceAt(rva - resourceRva, size)) return p;
    }
    for (const SectionSpan& s : spans) {
        if (rva < s.rva || rva - s.rva > s.rawSize || size > s.rawSize - (rva - s.rva)) continue;
        return bytes.data() + s.rawOffset + (rva - s.rva);
    }
    return nullptr;
}

bool PeImage::AppendResource(const uint8_t* data, size_t size, uint32_t* offset) {
    const uint64_t start = AlignUp(resources.size(), 8);
    if (start + size > MaxResourceSize) return false;
    resources.resize(static_cast<size_t>(start), 0);
    resources.insert(resources.end(), data, data + size);
    *offset = static_cast<uint32_t>(start);
    edited = true;
    return true;
}

std::vector<uint8_t> PeImage::Build() const {
    if (!edited) return bytes;
    const uint32_t used = rootInSection + static_cast<uint32_t>(resources.size());
    const uint32_t rawSize = static_cast<uint32_t>(AlignUp(used, fileAlignment));
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + lastSectionOffset + rootInSection);
    out.insert(out.end(), resources.begin(), resources.end());
    out.resize(lastSectionOffset + static_cast<size_t>(rawSize), 0);

    uint8_t* section = out.data() + lastSectionHeader;
    Put32(section + kVirtualSize, used);
    Put32(section + kSizeOfRawData, rawSize);
    uint8_t* optional = out.data() + optionalHeader;
    const uint32_t imageEnd = static_cast<uint32_t>(
        AlignUp(lastSectionRva + static_cast<uint64_t>(rawSize), sectionAlignment));
    Put32(optional + kSizeOfImage, std::max(Get32(optional + kSizeOfImage), imageEnd));
    Put32(optional + kSizeOfInitializedData,
          Get32(optional + kSizeOfInitializedData) + (rawSize - lastSectionRawSize));
    Put32(optional + kDataDirectories + 8 * kResourceDirectory + 4,
          static_cast<uint32_t>(resources.size()));
    Put32(optional + kCheckSum, PeChecksum(out.data(), out.size(), optionalHeader + kCheckSum));
    return out;
}

uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksumOffset) {
    // The field's bytes read as zero wherever they lie; a PE header may start at an odd offset.
    const auto byte = [&](size_t i) -> uint32_t {
        return i >= size || i - checksumOffset < 4 ? 0 : data[i];
    };
    uint64_t sum = 0;
    for (size_t i = 0; i < size; i += 2) {
        sum += byte(i) | byte(i + 1) << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + size);
}
