#include "AgreementText.h"

#include <algorithm>

#include "CodePage.h"

namespace {

std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            out += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

size_t LineOf(const std::string& text, size_t offset) {
    return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

}  // namespace

size_t ValidUtf8Prefix(const std::string& text) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    size_t i = 0;
    while (i < text.size()) {
        const unsigned lead = byte(i);
        size_t length = 1;
        unsigned low = 0x80, high = 0xBF;  // the range of the second byte
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            return i;
        }
        if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return i;
        for (size_t k = 2; k < length; ++k)
            if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return i;
        i += length;
    }
    return i;
}

bool PrepareAgreementText(const std::string& utf8, int codePage, std::string* bytes,
                          std::string* error) {
    const std::string text = utf8.compare(0, 3, "\xEF\xBB\xBF") == 0 ? utf8.substr(3) : utf8;
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        *error = "line " + std::to_string(LineOf(text, nul)) +
                 ": a NUL byte, which would end the text there; remove it (is this a text file?)";
        return false;
    }
    const size_t valid = ValidUtf8Prefix(text);
    if (valid != text.size()) {
        *error = "line " + std::to_string(LineOf(text, valid)) +
                 ": bytes that are not UTF-8; save the file as UTF-8";
        return false;
    }
    const std::string lines = WithCrLf(text);
    std::string converted;
    if (ToCodePage(lines, codePage, &converted)) {
        *bytes = std::move(converted);
        return true;
    }
    // Only the error path goes line by line, to name the first line that does not convert.
    size_t line = 1;
    for (size_t start = 0; start < lines.size(); ++line) {
        size_t end = lines.find("\r\n", start);
        if (end == std::string::npos) end = lines.size();
        if (!ToCodePage(lines.substr(start, end - start), codePage, &converted)) break;
        start = end + 2;
    }
    *error = "line " + std::to_string(line) + ": a character code page " +
             std::to_string(codePage) + " cannot hold; change the text or the --code-page";
    return false;
}
