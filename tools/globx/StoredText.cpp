#include "StoredText.h"

#include <cstdio>

#include "CodePage.h"

std::string StoredTextToUtf8(const std::string& stored, int codePage, bool* exact) {
    std::string utf8;
    *exact = FromCodePage(stored, codePage, &utf8);
    if (*exact) return utf8;
    utf8.clear();
    for (const char byte : stored) {
        std::string one;
        utf8 += FromCodePage(std::string(1, byte), codePage, &one) ? one : "\xEF\xBF\xBD";
    }
    return utf8;
}

std::string HexBytes(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        text += hex[c >> 4];
        text += hex[c & 15];
    }
    return text;
}

std::string PrintableText(const std::string& utf8) {
    std::string text;
    text.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        unsigned code = 0;
        if (c < 0x20 || c == 0x7F) {
            code = c;
        } else if (c == 0xC2 && i + 1 < utf8.size() &&
                   static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            code = static_cast<unsigned char>(utf8[++i]);
        } else {
            text += static_cast<char>(c);
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", code);
        text += escape;
    }
    return text;
}
