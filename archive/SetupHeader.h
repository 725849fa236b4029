#pragma once

#include <cstdint>

// The 388 bytes that open the archive stream. Each text is NUL-terminated within its 64 bytes;
// the bytes after the NUL are filler ('-') and never read. Nothing in it is validated.
struct SetupHeader {
    char programName[64];
    char caption[64];
    char subtitle[64];
    char defaultDir[64];
    char versionText[64];
    char exeName[64];
    uint32_t totalSize;  // sum of the members' sizes, little-endian on disk
};

constexpr int SetupHeaderSize = 388;
constexpr int HeaderFieldSize = 64;

// The six texts in stored order, for code that treats them alike.
constexpr int HeaderTextCount = 6;
extern const char* const HeaderTextNames[HeaderTextCount];
char* HeaderText(SetupHeader& header, int index);
const char* HeaderText(const SetupHeader& header, int index);

void ParseSetupHeader(const unsigned char* bytes, SetupHeader* header);
void SerializeSetupHeader(const SetupHeader& header, unsigned char* bytes);
