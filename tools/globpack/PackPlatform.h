#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// What globpack asks of the operating system beyond the standard library. PackPlatform-posix.cpp
// and PackPlatform-win32.cpp implement it.

// The command line as UTF-8 texts, argv[0] included.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// SETUP.EXE in the directory of the running globpack; false when that directory cannot be found.
bool DefaultStubPath(std::filesystem::path* stub);

// A regular file's size and times as FILETIMEs (100 ns since 1601-01-01 UTC). creationTime is the
// file's birth time where the file system keeps one, else its last-write time. changeTime is the
// POSIX status change time (any write or rename moves it; 0 where the platform has none): with
// size and lastWriteTime it tells whether the file changed while it was read.
struct SourceFacts {
    uint64_t size = 0;
    uint64_t creationTime = 0;
    uint64_t lastAccessTime = 0;
    uint64_t lastWriteTime = 0;
    uint64_t changeTime = 0;
};

// True where a file's creation time is its own and can be given back by the installer
// (Windows). On POSIX the birth time is when this copy of the file was made, which a checkout
// or a copy changes, so it is not recorded by default.
extern const bool PlatformKeepsCreationTime;

// False with *error set (the system's reason) when the file cannot be examined.
bool ReadSourceFacts(const std::filesystem::path& path, SourceFacts* facts, std::string* error);

// True when path is itself a symbolic link, or on Windows any reparse point (a symbolic link or a
// junction): such entries are followed only on request, alike on every platform.
bool IsLink(const std::filesystem::path& path);

// The path with every link and junction on it resolved, for telling whether a followed link
// leads back into a directory being scanned; false with *error set when it leads nowhere.
// (std::filesystem::canonical resolves no junction on Windows.)
bool ResolvePath(const std::filesystem::path& path, std::filesystem::path* resolved,
                 std::string* error);

// A source file open for reading. Reading leaves the file's last-access time as it was where the
// system allows that (POSIX: O_NOATIME, for the file's owner; Windows: the time is put back on
// Close), so that a second run records the same times.
class SourceReader {
public:
    SourceReader() = default;
    ~SourceReader() { Close(); }
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // False with *error set (the system's reason) when the file cannot be opened.
    bool Open(const std::filesystem::path& path, std::string* error);
    // Up to size bytes; 0 at the end of the file or after a read error (Failed() tells which).
    size_t Read(uint8_t* buffer, size_t size) { return std::fread(buffer, 1, size, file); }
    bool Failed() const { return std::ferror(file) != 0; }
    void Close();

private:
    std::FILE* file = nullptr;
    uint64_t lastAccessTime = 0;  // put back by Close where restoreAccessTime
    bool restoreAccessTime = false;
};
