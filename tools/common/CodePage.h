#pragma once

#include <string>

// Conversion between UTF-8 and the installer's 8-bit code page. Only single-byte Windows code
// pages are offered: in a multi-byte one a trail byte could be '\', which the installer reads as
// a directory separator. Conversions are exact: a character without its own code in the target
// is an error, never a look-alike.

// Code pages by number (1252, 437, 850, 1250, 1251, ...) or name ("windows-1252", "cp437",
// "ibm850"), case-insensitive. False for anything else and for code pages this platform's
// converter does not know.
bool ParseCodePage(const std::string& text, int* codePage);

// The code pages ParseCodePage accepts by number, for help texts ("437, 737, ... 1258").
std::string SupportedCodePages();

// False when utf8 is not valid UTF-8 or holds a character the code page cannot represent.
bool ToCodePage(const std::string& utf8, int codePage, std::string* bytes);

// False when bytes holds a byte the code page leaves undefined.
bool FromCodePage(const std::string& bytes, int codePage, std::string* utf8);

// The platform's converter knows codePage (used by ParseCodePage).
bool CodePageAvailable(int codePage);
