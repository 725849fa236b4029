#include "MemberName.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const char* const kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                    "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                    "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};

std::string AsciiUpper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Windows takes "con.txt" and "con .txt" for the device as well: the part before the first dot,
// without trailing blanks, decides.
bool IsDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    base = AsciiUpper(base);
    for (const char* device : kDeviceNames)
        if (base == device) return true;
    return false;
}

uint32_t UpperCodePoint(uint32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c < 0x80) return c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c == 0x130 || c == 0x131) return c;  // Turkish dotted and dotless i pair with ASCII
    // Latin Extended-A pairs: upper case on even code points, then on odd ones from U+0139.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~1u;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    if (c == 0x1A1 || c == 0x1B0) return c - 1;  // Vietnamese o and u with horn
    if (c == 0x192) return 0x191;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3C2) return 0x3A3;  // final sigma
    if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if (c >= 0x490 && c <= 0x4BF) return c & ~1u;
    return c;
}

void AppendUtf8(std::string* text, uint32_t c) {
    if (c < 0x80) {
        *text += static_cast<char>(c);
    } else if (c < 0x800) {
        *text += static_cast<char>(0xC0 | c >> 6);
        *text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *text += static_cast<char>(0xE0 | c >> 12);
        *text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *text += static_cast<char>(0xF0 | c >> 18);
        *text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string ComponentProblem(const std::string& component) {
    if (component.empty()) return "has an empty name";
    for (unsigned char c : component) {
        if (c == '\\') return "holds '\\', which the installer reads as a directory separator";
        if (c < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", c);
            return std::string("holds the control character ") + hex +
                   ", which Windows does not allow in names";
        }
        if (std::strchr("<>:\"/|?*", c))
            return std::string("holds the character '") + static_cast<char>(c) +
                   "', which Windows does not allow in names";
    }
    if (IsDeviceName(component))
        return "is named like the Windows device " +
               AsciiUpper(component.substr(0, component.find_first_of(". "))) +
               ", which cannot be a file";
    if (component.back() == '.') return "ends with a dot, which Windows drops from names";
    if (component.back() == ' ') return "ends with a space, which Windows drops from names";
    return std::string();
}

std::string StoredNameProblem(const std::string& stored) {
    if (stored.empty()) return "has an empty name";
    if (stored.size() > 255)
        return "has a name of " + std::to_string(stored.size()) +
               " bytes; the installer holds 255 at most";
    if (stored.find('\xFF', 1) != std::string::npos)
        return "holds a character stored as the byte 0xFF, which the installer reads as the "
               "archive's end";
    return std::string();
}

// Bytes that are not valid UTF-8 are kept as they are; the code page conversion refuses them.
std::string FoldCase(const std::string& utf8) {
    std::string folded;
    folded.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                           : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > utf8.size()) {
            folded += utf8[i++];
            continue;
        }
        uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = true;
        for (int k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) valid = false;
            c = c << 6 | (next & 0x3F);
        }
        if (!valid) {
            folded += utf8[i++];
            continue;
        }
        AppendUtf8(&folded, UpperCodePoint(c));
        i += static_cast<size_t>(length);
    }
    return folded;
}
