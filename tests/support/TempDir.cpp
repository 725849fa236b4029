#include "TempDir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

const char PathSeparator = static_cast<char>(fs::path::preferred_separator);

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const fs::path base = fs::temp_directory_path();
    std::mt19937 random(static_cast<uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            base / ("gst" + std::to_string(random() % 1000000) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory under " + base.string());
}

TempDir::~TempDir() {
    std::error_code error;
    fs::remove_all(fs::path(path), error);
}

std::string TempDir::operator/(const std::string& name) const { return JoinPath(path, name); }

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == PathSeparator) return directory + name;
    return directory + PathSeparator + name;
}

// <cstdio> rather than std::filesystem: names are the installer's 8-bit texts, which the
// platform's C library takes as they are.
std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw std::runtime_error("cannot read " + path);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) throw std::runtime_error("cannot read " + path);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot write " + path);
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    WriteWholeFile(path, BytesOf(text));
}

bool FileExists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    // A directory opens for reading on some systems; only a file reads without an error.
    char byte;
    const bool isFile = std::fread(&byte, 1, 1, file) == 1 || !std::ferror(file);
    std::fclose(file);
    return isFile;
}

bool DirectoryExists(const std::string& path) {
    std::error_code error;
    return fs::is_directory(fs::path(path), error);
}

void MakeDirectories(const std::string& path) { fs::create_directories(fs::path(path)); }

std::vector<std::string> ListTree(const std::string& root) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(root))) {
        std::string relative = entry.path().lexically_relative(root).generic_string();
        if (entry.is_directory()) relative += '/';
        entries.push_back(relative);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<uint8_t> BytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : hex) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    return bytes;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

std::vector<uint8_t> SkewedBytes(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::geometric_distribution<int> rank(0.3);
    std::vector<uint8_t> bytes(count);
    for (auto& byte : bytes) byte = static_cast<uint8_t>('a' + std::min(rank(random), 60));
    return bytes;
}
