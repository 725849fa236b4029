#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One image of an icon: the directory fields an icon file and an icon group resource share, and
// the image's bytes (a DIB without its file header, or a PNG), as both store them.
struct IconImage {
    uint8_t width = 0;       // 0 means 256
    uint8_t height = 0;      // 0 means 256
    uint8_t colorCount = 0;  // 0 for 256 colours or more
    uint8_t reserved = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    std::vector<uint8_t> data;
};

// The images of an .ico file in file order. False with *error set (what is wrong, without the
// file's name) for anything but an icon file of at least one image whose every image lies
// within the file; nothing is read outside file.
bool ParseIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images,
                   std::string* error);
