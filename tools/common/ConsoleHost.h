#pragma once

#include <string>

#include "Host.h"

// The Host of the command-line tools: nobody is asked anything. A disk prompt answers Cancel and
// the quit question Yes, so a missing volume or a read error stops the run at once; the host
// records what happened for the tool to report.
class ConsoleHost : public Host {
public:
    void Beep() override {}
    bool AskForDisk(int diskNumber, const char* volumeName) override;
    void ShowReadError() override { readError = true; }
    bool ConfirmQuit() override { return true; }
    void RequestCancel() override { cancelRequested = true; }
    bool ShouldStop() override { return cancelRequested; }

    // The first volume that could not be opened: its disk number (volume + 1) and file name;
    // 0 while every volume asked for opened.
    int MissingDisk() const { return missingDisk; }
    const std::string& MissingVolumeName() const { return missingVolumeName; }

    bool ReadErrorSeen() const { return readError; }
    bool CancelRequested() const { return cancelRequested; }

private:
    int missingDisk = 0;
    std::string missingVolumeName;
    bool readError = false;
    bool cancelRequested = false;
};
