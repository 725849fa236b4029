#pragma once

#include <string>

// The installer's texts (member names, header fields) are bytes in an 8-bit code page. These turn
// them into text a terminal or a JSON reader can take.

// The text in UTF-8. A byte the code page leaves undefined becomes U+FFFD and *exact is set to
// false; the result is valid UTF-8 either way.
std::string StoredTextToUtf8(const std::string& stored, int codePage, bool* exact);

// Two lower-case hex digits per byte: "41ff".
std::string HexBytes(const std::string& bytes);

// UTF-8 text safe to print on a terminal: control characters (C0, DEL and C1) are shown as
// "\xNN" escapes of their code, so a hostile name cannot move the cursor or change colours.
std::string PrintableText(const std::string& utf8);
