#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Host.h"

// A Host with scripted answers that records every question and request in order, as
// "beep", "disk 2 GLOB1.DAT", "quit", "read-error", "cancel" and "mkdir <path>".
class FakeHost : public Host {
public:
    void Beep() override;
    bool AskForDisk(int diskNumber, const char* volumeName) override;
    void ShowReadError() override;
    bool ConfirmQuit() override;
    void RequestCancel() override;
    bool ShouldStop() override;
    bool MakeDirectory(const char* path) override;

    // Answers taken in order; the default once a queue is empty.
    std::deque<bool> diskAnswers;  // true: OK
    bool defaultDiskAnswer = false;
    std::deque<bool> quitAnswers;  // true: Yes
    bool defaultQuitAnswer = true;
    // Runs before a disk prompt is answered, e.g. to put the missing volume in place.
    std::function<void(int diskNumber, const char* volumeName)> onAskForDisk;

    // Results for MakeDirectory in order; once empty, the real directory is made, or, when
    // createForReal is false, the attempt fails.
    std::deque<bool> createResults;
    bool createForReal = true;
    std::function<void(const char* path)> onMakeDirectory;

    // ShouldStop turns true for good once stopAfterCancels cancels were requested (0: never),
    // after stopAfterChecks calls (when not negative), when stopNow is set, or once maxPrompts
    // disk prompts were shown, so that a prompt loop cannot hang a test.
    int stopAfterCancels = 1;
    long stopAfterChecks = -1;
    bool stopNow = false;
    int maxPrompts = 20;
    // Runs at every check, before it is answered: where the worker would wait while paused.
    std::function<void()> onShouldStop;

    std::vector<std::string> calls;
    int cancelRequests = 0;
    int prompts = 0;
    long stopChecks = 0;

    // The calls recorded so far, one per line, for assertion messages.
    std::string Transcript() const;
};
