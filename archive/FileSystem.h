#pragma once

#include <cstddef>
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

// Why a file could not be created or replaced.
enum class FileError {
    None,
    Exists,        // the name is taken
    IsDirectory,   // a directory stands at the path
    AccessDenied,  // no permission, or a read-only file or directory
    NotDirectory,  // a component of the directory part is a file, or it is missing
    Link,          // a symbolic link (or junction) stands at the path
    NoSpace,       // the disk is full
    Other,
};

// What stands at a path. A final symbolic link is reported as Link, never followed.
enum class PathKind { Missing, File, Directory, Link, Other };
PathKind QueryPath(const char* path);

// A file opened for writing with the platform's own calls, so that every failed write, the final
// one included, is seen. NoFile when none is open.
using FileHandle = intptr_t;
constexpr FileHandle NoFile = -1;

// Creates path as a new, empty file, exclusively and never through a link.
FileHandle CreateNewFile(const char* path, FileError* error);

// Writes all count bytes; false when any could not be written.
bool WriteToFile(FileHandle file, const void* bytes, size_t count, FileError* error);

// Closes the file; false when the close reports that data could not be written.
bool CloseOutputFile(FileHandle file, FileError* error);

// Gives the file at from the name to, replacing a file that stands there. Where the system
// cannot replace in one step, the old file is deleted first.
bool MoveOverFile(const char* from, const char* to, FileError* error);

// Deletes a file (never a directory); false when it could not be deleted.
bool RemoveFile(const char* path);

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
