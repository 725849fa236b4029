#include "SetupHeader.h"

#include <cstring>

const char* const HeaderTextNames[HeaderTextCount] = {
    "programName", "caption", "subtitle", "defaultDir", "versionText", "exeName",
};

char* HeaderText(SetupHeader& header, int index) {
    char* const texts[HeaderTextCount] = {header.programName, header.caption,     header.subtitle,
                                          header.defaultDir,  header.versionText, header.exeName};
    return texts[index];
}

const char* HeaderText(const SetupHeader& header, int index) {
    return HeaderText(const_cast<SetupHeader&>(header), index);
}

void ParseSetupHeader(const unsigned char* bytes, SetupHeader* header) {
    for (int i = 0; i < HeaderTextCount; ++i) {
        char* text = HeaderText(*header, i);
        std::memcpy(text, bytes + i * HeaderFieldSize, HeaderFieldSize);
        // A field without its NUL would run into the next one; the last byte is filler anyway.
        text[HeaderFieldSize - 1] = '\0';
    }
    const unsigned char* size = bytes + HeaderTextCount * HeaderFieldSize;
    header->totalSize = uint32_t(size[0]) | uint32_t(size[1]) << 8 | uint32_t(size[2]) << 16 |
                        uint32_t(size[3]) << 24;
}

void SerializeSetupHeader(const SetupHeader& header, unsigned char* bytes) {
    for (int i = 0; i < HeaderTextCount; ++i) {
        const char* text = HeaderText(header, i);
        unsigned char* field = bytes + i * HeaderFieldSize;
        const size_t length = strnlen(text, HeaderFieldSize - 1);
        std::memcpy(field, text, length);
        field[length] = '\0';
        std::memset(field + length + 1, '-', HeaderFieldSize - length - 1);
    }
    unsigned char* size = bytes + HeaderTextCount * HeaderFieldSize;
    for (int i = 0; i < 4; ++i) size[i] = static_cast<unsigned char>(header.totalSize >> (8 * i));
}
