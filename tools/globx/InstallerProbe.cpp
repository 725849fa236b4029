#include "InstallerProbe.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "FileSystem.h"
#include "PeTrailer.h"
#include "SetupHeader.h"

namespace fs = std::filesystem;

namespace {

uint32_t U32(const std::vector<unsigned char>& b, size_t at) {
    if (at + 4 > b.size()) return 0;
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

uint32_t U16(const std::vector<unsigned char>& b, size_t at) {
    if (at + 2 > b.size()) return 0;
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8;
}

// The end of the last section's raw data, from the PE headers in head; 0 when head holds no PE
// image (a DOS program, or headers outside the bytes read).
uint32_t ImageEnd(const std::vector<unsigned char>& head) {
    const uint32_t pe = U32(head, 0x3C);
    if (pe < 0x40 || pe + 24 > head.size() || head[pe] != 'P' || head[pe + 1] != 'E' ||
        head[pe + 2] != 0 || head[pe + 3] != 0)
        return 0;
    const uint32_t sections = U16(head, pe + 6);
    const size_t table = size_t(pe) + 24 + U16(head, pe + 20);
    if (sections == 0 || table + size_t(sections) * 40 > head.size()) return 0;
    uint64_t end = 0;
    for (uint32_t i = 0; i < sections; ++i) {
        const size_t section = table + size_t(i) * 40;
        const uint64_t rawSize = U32(head, section + 16);
        const uint64_t rawOffset = U32(head, section + 20);
        if (rawSize) end = std::max(end, rawOffset + rawSize);
    }
    return end > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(end);
}

}  // namespace

int ContinuationNumber(const std::string& fileName) {
    if (fileName.size() < 9) return 0;
    std::string upper = fileName;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (upper.compare(0, 4, "GLOB") != 0 || upper.compare(upper.size() - 4, 4, ".DAT") != 0)
        return 0;
    const std::string digits = upper.substr(4, upper.size() - 8);
    if (digits.empty() || digits.size() > 5 || digits[0] == '0') return 0;
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + (c - '0');
    }
    return number;
}

bool HeaderTextsAreText(const unsigned char* header) {
    for (int field = 0; field < HeaderTextCount; ++field) {
        const unsigned char* text = header + field * HeaderFieldSize;
        bool ended = false;
        for (int i = 0; i < HeaderFieldSize && !ended; ++i) ended = text[i] == 0;
        if (!ended) return false;
    }
    return true;
}

InputProbe ProbeInstaller(const std::string& path) {
    InputProbe probe;
    const fs::path file = fs::u8path(path);
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (fs::is_directory(status)) {
        probe.kind = InputKind::Directory;
        return probe;
    }
    const uintmax_t size = fs::file_size(file, ec);
    std::ifstream input(file, std::ios::binary);
    if (ec || !input) return probe;  // the open says why
    std::vector<unsigned char> head(4096);
    input.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(input.gcount()));
    const bool mz = head.size() >= 2 && head[0] == 'M' && head[1] == 'Z';
    probe.imageEnd = mz ? ImageEnd(head) : 0;
    // A continuation volume holds archive data from its first byte, which may well be "MZ"
    // (a member that is a program): its name tells, unless it is a whole PE image.
    const int continuation = ContinuationNumber(file.filename().u8string());
    if (continuation && probe.imageEnd == 0) {
        probe.kind = InputKind::ContinuationVolume;
        probe.continuationDisk = continuation + 1;
        return probe;
    }
    if (!mz) {
        probe.kind = InputKind::NotInstaller;
        return probe;
    }
    probe.kind = InputKind::Installer;
    if (probe.imageEnd == 0) return probe;  // an "MZ" file of another kind: the header decides
    if (size <= probe.imageEnd) {
        probe.kind = InputKind::StubOnly;
        return probe;
    }
    // The last four bytes, or, in a signed installer, the four in front of its certificate table.
    int64_t trailerAt = static_cast<int64_t>(size) - 4;
    if (std::FILE* opened = OpenFile(file.u8string().c_str(), "rb")) {
        trailerAt = FindTrailer(opened, static_cast<int64_t>(size)).offset;
        std::fclose(opened);
    }
    unsigned char trailer[4] = {};
    input.clear();
    if (trailerAt >= 0) input.seekg(static_cast<std::streamoff>(trailerAt));
    input.read(reinterpret_cast<char*>(trailer), 4);
    if (trailerAt < int64_t(probe.imageEnd) + 1 || input.gcount() != 4) {
        probe.kind = InputKind::BadTrailer;
        return probe;
    }
    probe.trailer = uint32_t(trailer[0]) | uint32_t(trailer[1]) << 8 | uint32_t(trailer[2]) << 16 |
                    uint32_t(trailer[3]) << 24;
    // The image, one byte 0xFF, then the stream: the trailer points one past the image.
    if (probe.trailer != probe.imageEnd + 1) {
        probe.kind = InputKind::BadTrailer;
        return probe;
    }
    probe.peChecked = true;
    return probe;
}

std::string DescribeProbe(const InputProbe& probe) {
    switch (probe.kind) {
    case InputKind::Installer:
    case InputKind::Unreadable: return std::string();
    case InputKind::Directory: return "is a directory; name the installer's SETUP.EXE";
    case InputKind::NotInstaller: return "not an installer";
    case InputKind::ContinuationVolume:
        return "is a continuation volume (disk " + std::to_string(probe.continuationDisk) +
               "): run globx on the SETUP.EXE of its set";
    case InputKind::StubOnly:
        return "no archive: this is an installer stub without its archive (or another Windows "
               "program)";
    case InputKind::BadTrailer:
        return "not an installer, or a damaged one: its trailer points at offset " +
               std::to_string(probe.trailer) + ", not just past its program (" +
               std::to_string(probe.imageEnd + 1) + ")";
    }
    return std::string();
}
