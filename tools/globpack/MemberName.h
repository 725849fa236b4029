#pragma once

#include <string>

// The rules a member name must pass so that the installer can create it on Windows. Names are
// checked one component at a time in UTF-8, as found on disk, and once more as stored bytes.

// Empty when component may be a Windows file or directory name; otherwise what is wrong with it
// ("holds the character '?', which Windows does not allow in names"). '\' is refused too: the
// installer reads it as a directory separator.
std::string ComponentProblem(const std::string& component);

// Empty when the stored bytes (code page, '\' separators) suit the archive: 1 to 255 bytes and no
// byte 0xFF after the first, which the installer would read as the archive's end.
std::string StoredNameProblem(const std::string& stored);

// UTF-8 text in upper case as Windows compares names: two names with equal keys are one file on
// a Windows file system. Covers the letters of the single-byte code pages (Latin, Greek,
// Cyrillic); other characters stay as they are.
std::string FoldCase(const std::string& utf8);
