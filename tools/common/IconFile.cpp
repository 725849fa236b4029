#include "IconFile.h"

namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kEntrySize = 16;
constexpr uint16_t kIconType = 1;  // 2 is a cursor file

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool ParseIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images,
                   std::string* error) {
    const uint8_t* b = file.data();
    if (file.size() < kHeaderSize || Get16(b) != 0 || Get16(b + 2) != kIconType) {
        *error = "not an icon file (.ico)";
        return false;
    }
    const uint16_t count = Get16(b + 4);
    if (count == 0 || kHeaderSize + kEntrySize * count > file.size()) {
        *error = count == 0 ? "an icon file without images"
                            : "damaged icon file: its directory overruns the file";
        return false;
    }
    images->clear();
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = b + kHeaderSize + kEntrySize * i;
        const uint32_t size = Get32(entry + 8);
        const uint32_t offset = Get32(entry + 12);
        if (size == 0 || offset > file.size() || size > file.size() - offset) {
            *error = "damaged icon file: image " + std::to_string(i + 1) + " of " +
                     std::to_string(count) + " lies outside the file";
            return false;
        }
        IconImage image;
        image.width = entry[0];
        image.height = entry[1];
        image.colorCount = entry[2];
        image.reserved = entry[3];
        image.planes = Get16(entry + 4);
        image.bitCount = Get16(entry + 6);
        image.data.assign(b + offset, b + offset + size);
        images->push_back(std::move(image));
    }
    return true;
}
