#include "JsonWriter.h"

#include <sstream>

namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the byte there does not start
// one. Overlong forms, surrogates and values past U+10FFFF are not well-formed.
size_t SequenceLength(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

void JsonWriter::Open(char bracket) {
    BeforeValue();
    out << bracket;
    hasItems.push_back(false);
}

void JsonWriter::Close(char bracket) {
    const bool items = !hasItems.empty() && hasItems.back();
    if (!hasItems.empty()) hasItems.pop_back();
    if (items) out << '\n' << std::string(2 * hasItems.size(), ' ');
    out << bracket;
}

void JsonWriter::BeforeValue() {
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (hasItems.empty()) return;
    if (hasItems.back()) out << ',';
    hasItems.back() = true;
    out << '\n' << std::string(2 * hasItems.size(), ' ');
}

void JsonWriter::Key(const std::string& key) {
    BeforeValue();
    WriteQuoted(key);
    out << ": ";
    afterKey = true;
}

void JsonWriter::String(const std::string& utf8) {
    BeforeValue();
    WriteQuoted(utf8);
}

void JsonWriter::Number(uint64_t value) {
    BeforeValue();
    out << value;
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    out << (value ? "true" : "false");
}

void JsonWriter::Null() {
    BeforeValue();
    out << "null";
}

void JsonWriter::WriteQuoted(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    out << '"';
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = SequenceLength(text, i);
        if (length == 0) {
            out << "\\ufffd";
            ++i;
            continue;
        }
        if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // C1 controls are valid JSON as they are, but a terminal would act on them.
            const auto code = static_cast<unsigned char>(text[i + 1]);
            out << "\\u00" << hex[code >> 4] << hex[code & 15];
            i += 2;
            continue;
        }
        if (length > 1) {
            out.write(text.data() + i, static_cast<std::streamsize>(length));
            i += length;
            continue;
        }
        switch (c) {
        case '"': out << "\\\""; break;
        case '\\': out << "\\\\"; break;
        case '\n': out << "\\n"; break;
        case '\r': out << "\\r"; break;
        case '\t': out << "\\t"; break;
        case '\b': out << "\\b"; break;
        case '\f': out << "\\f"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out << "\\u00" << hex[c >> 4] << hex[c & 15];
            } else {
                out << static_cast<char>(c);
            }
        }
        ++i;
    }
    out << '"';
}

std::string JsonQuoted(const std::string& utf8) {
    std::ostringstream text;
    JsonWriter writer(text);
    writer.String(utf8);
    return text.str();
}
