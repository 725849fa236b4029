#include "ConsoleHost.h"

bool ConsoleHost::AskForDisk(int diskNumber, const char* volumeName) {
    if (missingDisk == 0) {
        missingDisk = diskNumber;
        missingVolumeName = volumeName ? volumeName : "";
    }
    return false;
}
