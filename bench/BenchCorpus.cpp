#include "BenchCorpus.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr size_t TextPerFileLimit = 256 * 1024;
constexpr size_t BinaryPerFileLimit = 512 * 1024;

// Regular files only: symbolic links would bring the same text twice.
std::vector<fs::path> SortedRegularFiles(const std::vector<fs::path>& candidates) {
    std::vector<fs::path> files;
    for (const fs::path& path : candidates) {
        std::error_code error;
        if (fs::symlink_status(path, error).type() == fs::file_type::regular) files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<fs::path> ListDirectory(const fs::path& directory) {
    std::vector<fs::path> entries;
    std::error_code error;
    fs::directory_iterator it(directory, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    return entries;
}

std::vector<uint8_t> ReadPrefix(const fs::path& path, size_t limit) {
    std::vector<uint8_t> bytes(limit);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(limit));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

bool IsElf(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 4 && bytes[0] == 0x7f && bytes[1] == 'E' && bytes[2] == 'L' &&
           bytes[3] == 'F';
}

// Fills size bytes from the files in order, repeating them when they run short.
std::vector<uint8_t> Gather(const std::vector<fs::path>& files, size_t size, size_t perFileLimit,
                            bool (*accept)(const std::vector<uint8_t>&)) {
    std::vector<uint8_t> bytes;
    bytes.reserve(size);
    for (const fs::path& path : files) {
        if (bytes.size() == size) break;
        std::vector<uint8_t> part = ReadPrefix(path, std::min(perFileLimit, size - bytes.size()));
        if (accept != nullptr && !accept(part)) continue;
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    if (bytes.empty()) return bytes;
    for (size_t i = 0; bytes.size() < size; ++i) bytes.push_back(bytes[i]);
    return bytes;
}

}  // namespace

Corpus TextCorpus(size_t size) {
    std::vector<fs::path> files = SortedRegularFiles(ListDirectory("/usr/share/common-licenses"));
    std::vector<fs::path> copyrights;
    for (const fs::path& package : ListDirectory("/usr/share/doc")) {
        copyrights.push_back(package / "copyright");
    }
    copyrights = SortedRegularFiles(copyrights);
    files.insert(files.end(), copyrights.begin(), copyrights.end());
    return {"text", Gather(files, size, TextPerFileLimit, nullptr)};
}

Corpus BinaryCorpus(size_t size) {
    const std::vector<fs::path> files = SortedRegularFiles(ListDirectory("/usr/bin"));
    return {"binary", Gather(files, size, BinaryPerFileLimit, IsElf)};
}

Corpus RandomCorpus(size_t size, uint64_t seed) {
    std::mt19937_64 generator(seed);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; i += 8) {
        uint64_t word = generator();
        for (size_t k = i; k < std::min(i + 8, size); ++k, word >>= 8) {
            bytes[k] = static_cast<uint8_t>(word);
        }
    }
    return {"random", std::move(bytes)};
}
