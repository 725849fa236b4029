#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// Writes one JSON document as it goes, two spaces of indent per level, nothing kept but the
// nesting. Strings are taken as UTF-8: a byte that does not belong to a well-formed sequence is
// written as \ufffd, so the output is valid JSON and valid UTF-8 whatever the input holds.
// Control characters (C0, DEL and C1) are written as \u escapes, never raw.
//
// The caller keeps the structure right: Key only inside an object, one value after each key.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out(out) {}

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }

    void Key(const std::string& key);
    void String(const std::string& utf8);
    void Number(uint64_t value);
    void Bool(bool value);
    void Null();

    // Ends the document with a newline.
    void Finish() { out << '\n'; }

private:
    void Open(char bracket);
    void Close(char bracket);
    void BeforeValue();
    void WriteQuoted(const std::string& text);

    std::ostream& out;
    std::vector<bool> hasItems;  // one entry per open object or array
    bool afterKey = false;
};

// The JSON text of a string, quotes included (for tests and one-off values).
std::string JsonQuoted(const std::string& utf8);
