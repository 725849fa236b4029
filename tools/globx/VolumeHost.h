#pragma once

#include <string>
#include <vector>

#include "ConsoleHost.h"

class VolumeStream;

// The console host of globx. Continuation volumes copied from FAT media or other systems often
// arrive with names in another case (glob1.dat, Glob1.Dat), or in a directory of their own.
// When GLOB<k>.DAT cannot be opened, a file of that name in any case is looked for beside the
// installer and then in each directory given to SearchAlso; the stream is pointed at the first
// found, once per disk, before the volume counts as missing.
class VolumeHost : public ConsoleHost {
public:
    // The stream whose volume names are to be corrected; set before reading.
    void Attach(VolumeStream* stream) { this->stream = stream; }
    // Directories searched after the installer's own (globx --volumes).
    void SearchAlso(const std::vector<std::string>& directories) { extraDirectories = directories; }

    bool AskForDisk(int diskNumber, const char* volumeName) override;

private:
    VolumeStream* stream = nullptr;
    std::vector<std::string> extraDirectories;
    int searchedFor = 0;  // the disk whose search was made last
};
