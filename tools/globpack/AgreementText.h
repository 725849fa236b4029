#pragma once

#include <cstddef>
#include <string>

// The agreement text as the installer shows it, made from a text file in UTF-8 (the encoding of
// every other text globpack is given):
//   - a leading UTF-8 byte order mark is dropped;
//   - every line end, LF, CR LF or a lone CR, becomes CR LF, as the installer's text box needs;
//   - every character is written in codePage, exactly: one the code page cannot hold is refused,
//     never replaced by a look-alike.
// An empty text stays empty. False with *error set ("line N: what is wrong; what to do") for a
// NUL byte (it would end the text early), bytes that are not UTF-8, or a character the code page
// cannot hold; *bytes is unchanged then.
bool PrepareAgreementText(const std::string& utf8, int codePage, std::string* bytes,
                          std::string* error);

// The length of the longest prefix of text that is well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
size_t ValidUtf8Prefix(const std::string& text);
