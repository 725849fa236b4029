#include "VolumeHost.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "FileSystem.h"
#include "VolumeStream.h"

bool VolumeHost::AskForDisk(int diskNumber, const char* volumeName) {
    // Disk 1 is the installer itself, named by the user: its name is never changed.
    if (stream && diskNumber > 1 && lowerCaseTriedFor != diskNumber) {
        lowerCaseTriedFor = diskNumber;
        std::string name = volumeName;
        const size_t fileStart = name.find_last_of("/\\") + 1;  // 0 when there is no directory
        for (size_t i = fileStart; i < name.size(); ++i) {
            if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
        }
        if (name != volumeName && name.size() < sizeof stream->volumeName) {
            if (std::FILE* file = OpenFile(name.c_str(), "rb")) {
                std::fclose(file);
                // The stream's next attempt opens volumeName again, now the lower-case file.
                std::memcpy(stream->volumeName, name.c_str(), name.size() + 1);
                return true;
            }
        }
    }
    return ConsoleHost::AskForDisk(diskNumber, volumeName);
}
