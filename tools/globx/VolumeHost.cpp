#include "VolumeHost.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "FileSystem.h"
#include "InstallerProbe.h"
#include "VolumeStream.h"

namespace fs = std::filesystem;

namespace {

// The path of a regular file in directory named GLOB<volume>.DAT in any case; empty when none.
std::string FindVolume(const std::string& directory, int volume) {
    std::error_code ec;
    const fs::path dir = fs::u8path(directory.empty() ? "." : directory);
    std::vector<std::string> names;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().u8string();
        if (ContinuationNumber(name) == volume && it->is_regular_file(ec)) names.push_back(name);
    }
    if (names.empty()) return std::string();
    // Two names that differ only in case: the same one every run.
    std::sort(names.begin(), names.end());
    if (directory.empty()) return names[0];
    const char last = directory.back();
    return directory + (last == '/' || last == '\\' ? "" : "/") + names[0];
}

}  // namespace

bool VolumeHost::AskForDisk(int diskNumber, const char* volumeName) {
    // Disk 1 is the installer itself, named by the user: its name is never changed.
    if (stream && diskNumber > 1 && searchedFor != diskNumber) {
        searchedFor = diskNumber;
        const std::string base = stream->baseName;
        const size_t separator = base.find_last_of("/\\");
        std::vector<std::string> directories{
            separator == std::string::npos ? std::string() : base.substr(0, separator)};
        directories.insert(directories.end(), extraDirectories.begin(), extraDirectories.end());
        for (const std::string& directory : directories) {
            const std::string name = FindVolume(directory, diskNumber - 1);
            if (name.empty() || name == volumeName || name.size() >= sizeof stream->volumeName)
                continue;
            if (std::FILE* file = OpenFile(name.c_str(), "rb")) {
                std::fclose(file);
                // The stream's next attempt opens volumeName again, now the file found.
                std::memcpy(stream->volumeName, name.c_str(), name.size() + 1);
                return true;
            }
        }
    }
    return ConsoleHost::AskForDisk(diskNumber, volumeName);
}
