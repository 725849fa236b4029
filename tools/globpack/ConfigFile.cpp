#include "ConfigFile.h"

#include <cstdint>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsSpace(text[begin])) ++begin;
    while (end > begin && IsSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool IsKeyCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

void AppendUtf8(uint32_t code, std::string* out) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | code >> 6);
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out += static_cast<char>(0xE0 | code >> 12);
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | code >> 18);
        *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Reads one quoted string starting at text[*at] (a quote); leaves *at after the closing quote.
bool ReadString(const std::string& text, size_t* at, std::string* value, std::string* error) {
    const char quote = text[*at];
    value->clear();
    for (size_t i = *at + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == quote) {
            *at = i + 1;
            return true;
        }
        if (c != '\\' || quote == '\'') {
            *value += c;
            continue;
        }
        if (++i == text.size()) break;
        switch (text[i]) {
        case '\\': *value += '\\'; break;
        case '"': *value += '"'; break;
        case 'n': *value += '\n'; break;
        case 't': *value += '\t'; break;
        case 'r': *value += '\r'; break;
        case 'b': *value += '\b'; break;
        case 'f': *value += '\f'; break;
        case 'u':
        case 'U': {
            const size_t digits = text[i] == 'u' ? 4 : 8;
            uint32_t code = 0;
            for (size_t k = 1; k <= digits; ++k) {
                const char h = i + k < text.size() ? text[i + k] : '\0';
                const int v = h >= '0' && h <= '9'   ? h - '0'
                              : h >= 'a' && h <= 'f' ? h - 'a' + 10
                              : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                     : -1;
                if (v < 0) {
                    *error = std::string("\\") + text[i] + " needs " + std::to_string(digits) +
                             " hex digits";
                    return false;
                }
                code = code << 4 | static_cast<uint32_t>(v);
            }
            if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
                *error = "\\" + text.substr(i, digits + 1) + " is not a character";
                return false;
            }
            AppendUtf8(code, value);
            i += digits;
            break;
        }
        default:
            *error = std::string("\\") + text[i] +
                     " is not an escape; write \\\\ for a backslash, or put the value in single "
                     "quotes ('C:\\APP')";
            return false;
        }
    }
    *error = std::string("the string has no closing ") + quote + "; end it on the same line";
    return false;
}

// Only blanks or a comment may follow a value.
bool RestIsEmpty(const std::string& text, size_t at) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    return at == text.size() || text[at] == '#';
}

bool ReadValue(const std::string& text, ConfigEntry* entry, std::string* error) {
    if (text.empty()) {
        *error = "no value after '='; give one, or leave the line out";
        return false;
    }
    size_t at = 0;
    if (text[0] == '"' || text[0] == '\'') {
        std::string value;
        if (!ReadString(text, &at, &value, error)) return false;
        if (!RestIsEmpty(text, at)) {
            *error = "text after the closing quote; put the whole value in the quotes";
            return false;
        }
        entry->values.push_back(value);
        return true;
    }
    if (text[0] == '[') {
        entry->array = true;
        ++at;
        for (;;) {
            while (at < text.size() && IsSpace(text[at])) ++at;
            if (at < text.size() && text[at] == ']') break;
            if (at == text.size()) {
                *error = "the array has no closing ']'; write it on one line";
                return false;
            }
            if (text[at] != '"' && text[at] != '\'') {
                *error = "an array holds quoted strings only: [\"*.bak\", \"CVS\"]";
                return false;
            }
            std::string value;
            if (!ReadString(text, &at, &value, error)) return false;
            entry->values.push_back(value);
            while (at < text.size() && IsSpace(text[at])) ++at;
            if (at < text.size() && text[at] == ',') {
                ++at;
            } else if (at >= text.size()) {
                *error = "the array has no closing ']'; write it on one line";
                return false;
            } else if (text[at] != ']') {
                *error = "expected ',' or ']' after a string in the array";
                return false;
            }
        }
        if (!RestIsEmpty(text, at + 1)) {
            *error = "text after the closing ']'";
            return false;
        }
        return true;
    }
    entry->bare = true;
    entry->values.push_back(text);
    return true;
}

}  // namespace

bool ParseConfig(const std::string& text, std::vector<ConfigEntry>* entries, std::string* error) {
    int number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++number;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            const std::string section =
                Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            if (close == std::string::npos || !RestIsEmpty(line, close + 1)) {
                *error = where + "a section header is [name] alone on its line";
                return false;
            }
            if (section != "globpack") {
                *error = where + "unknown section [" + section +
                         "]; globpack reads [globpack] only (or keys before any section)";
                return false;
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            *error = where + "\"" + line + "\" is not a key = value line";
            return false;
        }
        ConfigEntry entry;
        entry.line = number;
        entry.key = Trim(line.substr(0, equals));
        if (entry.key.empty()) {
            *error = where + "no key before '='";
            return false;
        }
        for (char c : entry.key) {
            if (!IsKeyCharacter(c)) {
                *error = where + "\"" + entry.key +
                         "\" is not a key: keys are option names such as default-dir";
                return false;
            }
        }
        std::string what;
        if (!ReadValue(Trim(line.substr(equals + 1)), &entry, &what)) {
            *error = where + entry.key + ": " + what;
            return false;
        }
        entries->push_back(std::move(entry));
    }
    return true;
}
