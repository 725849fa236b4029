#pragma once

#include <cstdint>
#include <cstdio>

// The thin layer over the operating system's files. FileSystem-posix.cpp and
// FileSystem-win32.cpp implement it; the build picks one.
//
// Paths are the installer's 8-bit texts. Member names use '\' between components; the POSIX
// layer reads both '\' and '/' as separators. File times are FILETIME values: 100 ns intervals
// since 1 January 1601 UTC.

// fopen with the platform's path rules.
std::FILE* OpenFile(const char* path, const char* mode);

// Creates one directory with default attributes; false when it exists already or cannot be made.
bool MakeDirectory(const char* path);

// Opens an existing file for reading, without sharing, and reads its last-write time.
bool ReadLastWriteTime(const char* path, uint64_t* lastWriteTime);

// Opens an existing file for reading and writing and sets its three times. POSIX has no
// settable creation time: there the creation time is ignored.
bool SetFileTimes(const char* path, uint64_t creationTime, uint64_t lastAccessTime,
                  uint64_t lastWriteTime);

// -1, 0 or 1 as a is earlier than, equal to or later than b.
int CompareFileTimes(uint64_t a, uint64_t b);

// The device that swallows every byte written to it ("NUL", "/dev/null").
const char* NullDeviceName();

// Gives the processor to another thread for a moment.
void YieldThread();
