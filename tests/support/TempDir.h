#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes. Paths are in the platform's form, separated by PathSeparator.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // Path, the separator, then name.
    std::string operator/(const std::string& name) const;

private:
    std::string path;
};

extern const char PathSeparator;

std::string JoinPath(const std::string& directory, const std::string& name);

std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteWholeFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
void MakeDirectories(const std::string& path);

// Every file and directory below root, relative to it, '/'-separated and sorted; directories end
// with '/'.
std::vector<std::string> ListTree(const std::string& root);

std::vector<uint8_t> BytesOf(const std::string& text);
std::vector<uint8_t> FromHex(const std::string& hex);  // "b0 8c 48"
std::string ToHex(const std::vector<uint8_t>& bytes);

// Deterministic test data: uniform bytes, or bytes drawn from a small skewed alphabet.
std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);
std::vector<uint8_t> SkewedBytes(size_t count, uint32_t seed);

// FILETIME for a POSIX time.
constexpr uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds = 0) {
    return static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL + nanoseconds / 100;
}
