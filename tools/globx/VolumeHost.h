#pragma once

#include "ConsoleHost.h"

class VolumeStream;

// The console host of globx. Continuation volumes copied from FAT media often arrive with
// lower-case names (glob1.dat); when GLOB<k>.DAT cannot be opened and the lower-case name exists
// beside it, the stream is pointed at that file once before the volume counts as missing.
class VolumeHost : public ConsoleHost {
public:
    // The stream whose volume names are to be corrected; set before reading.
    void Attach(VolumeStream* stream) { this->stream = stream; }

    bool AskForDisk(int diskNumber, const char* volumeName) override;

private:
    VolumeStream* stream = nullptr;
    int lowerCaseTriedFor = 0;  // the disk whose lower-case name was offered last
};
