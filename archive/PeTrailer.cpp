#include "PeTrailer.h"

#include "VolumeStream.h"

namespace {

constexpr int64_t kNewHeaderPointer = 0x3C;  // e_lfanew
constexpr int64_t kFileHeaderSize = 24;      // "PE\0\0" and the COFF file header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
// Offsets in the optional header: they differ between PE32 and PE32+ only from the data
// directories on.
constexpr int64_t kSizeOfHeaders = 60;
constexpr int64_t kDirectoriesPe32 = 96;
constexpr int64_t kDirectoriesPe32Plus = 112;
constexpr uint32_t kSecurityDirectory = 4;
constexpr int64_t kSectionHeaderSize = 40;
constexpr uint32_t kMostSections = 96;  // the loader's own limit
constexpr int kMostPadding = 7;

bool ReadAt(std::FILE* file, int64_t offset, void* bytes, size_t count) {
    return offset >= 0 && offset <= INT32_MAX &&
           std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
           std::fread(bytes, 1, count, file) == count;
}

uint32_t Get32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The certificate table (offset and size) and where the image's headers and sections end; false
// when the file is not a PE image with a security directory that ends the file.
bool ReadSignature(std::FILE* file, int64_t fileSize, int64_t* table, int64_t* tableSize,
                   int64_t* imageEnd) {
    unsigned char dos[kNewHeaderPointer + 4];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const int64_t pe = Get32(dos + kNewHeaderPointer);
    unsigned char header[kFileHeaderSize];
    if (!ReadAt(file, pe, header, sizeof header) || header[0] != 'P' || header[1] != 'E' ||
        header[2] != 0 || header[3] != 0)
        return false;
    const uint32_t sectionCount = Get16(header + 6);
    const int64_t optionalSize = Get16(header + 20);
    const int64_t optional = pe + kFileHeaderSize;

    unsigned char magic[2];
    if (!ReadAt(file, optional, magic, sizeof magic)) return false;
    int64_t directories;
    if (Get16(magic) == kPe32Magic)
        directories = kDirectoriesPe32;
    else if (Get16(magic) == kPe32PlusMagic)
        directories = kDirectoriesPe32Plus;
    else
        return false;
    unsigned char count[4], entry[8], headersSize[4];
    const int64_t entryOffset = directories + 8 * kSecurityDirectory;
    if (entryOffset + 8 > optionalSize || !ReadAt(file, optional + directories - 4, count, 4) ||
        Get32(count) <= kSecurityDirectory || !ReadAt(file, optional + entryOffset, entry, 8) ||
        !ReadAt(file, optional + kSizeOfHeaders, headersSize, 4))
        return false;
    *table = Get32(entry);
    *tableSize = Get32(entry + 4);
    unsigned char firstLength[4];
    if (*tableSize < 8 || *table % 8 != 0 || *table + *tableSize != fileSize ||
        !ReadAt(file, *table, firstLength, 4) || Get32(firstLength) < 8 ||
        Get32(firstLength) > *tableSize)
        return false;

    if (sectionCount > kMostSections) return false;
    *imageEnd = Get32(headersSize);
    for (uint32_t i = 0; i < sectionCount; ++i) {
        unsigned char section[kSectionHeaderSize];
        if (!ReadAt(file, optional + optionalSize + kSectionHeaderSize * i, section, sizeof section))
            return false;
        const int64_t rawSize = Get32(section + 16);
        const int64_t end = Get32(section + 20) + rawSize;
        if (rawSize != 0 && end > *imageEnd) *imageEnd = end;
    }
    return true;
}

}  // namespace

TrailerPlace FindTrailer(std::FILE* file, int64_t fileSize) {
    TrailerPlace place;
    if (fileSize < TrailerSize) return place;
    place.offset = fileSize - TrailerSize;
    int64_t table = 0, tableSize = 0, imageEnd = 0;
    if (!ReadSignature(file, fileSize, &table, &tableSize, &imageEnd)) return place;

    unsigned char tail[TrailerSize + kMostPadding];
    const int64_t tailStart = table - static_cast<int64_t>(sizeof tail);
    if (!ReadAt(file, tailStart, tail, sizeof tail)) return place;
    for (int padding = 0; padding <= kMostPadding; ++padding) {
        if (padding > 0 && tail[sizeof tail - padding] != 0) break;  // padding is zeros
        const int64_t trailer = table - padding - TrailerSize;
        const int64_t s = Get32(tail + (trailer - tailStart));
        unsigned char unread = 0;
        if (s - 1 >= imageEnd && s <= trailer && ReadAt(file, s - 1, &unread, 1) &&
            unread == UnreadByte) {
            place.offset = trailer;
            place.certificateSize = tableSize;
            return place;
        }
    }
    return place;
}
