#include "FakeHost.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool Next(std::deque<bool>& queue, bool fallback) {
    if (queue.empty()) return fallback;
    const bool answer = queue.front();
    queue.pop_front();
    return answer;
}

// The volume's file name without its directory, so transcripts do not depend on the temp path.
std::string FileNamePart(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

}  // namespace

void FakeHost::Beep() { calls.push_back("beep"); }

bool FakeHost::AskForDisk(int diskNumber, const char* volumeName) {
    calls.push_back("disk " + std::to_string(diskNumber) + " " + FileNamePart(volumeName));
    if (++prompts > maxPrompts + 100) {
        // The stream kept prompting although ShouldStop has said stop for a while.
        std::fputs("FakeHost: the disk prompt loop never stopped\n", stderr);
        std::abort();
    }
    if (onAskForDisk) onAskForDisk(diskNumber, volumeName);
    return Next(diskAnswers, defaultDiskAnswer);
}

void FakeHost::ShowReadError() { calls.push_back("read-error"); }

bool FakeHost::ConfirmQuit() {
    calls.push_back("quit");
    return Next(quitAnswers, defaultQuitAnswer);
}

void FakeHost::RequestCancel() {
    calls.push_back("cancel");
    ++cancelRequests;
}

bool FakeHost::ShouldStop() {
    ++stopChecks;
    if (onShouldStop) onShouldStop();
    if (stopNow) return true;
    if (stopAfterCancels > 0 && cancelRequests >= stopAfterCancels) return true;
    if (stopAfterChecks >= 0 && stopChecks > stopAfterChecks) return true;
    return prompts >= maxPrompts;
}

bool FakeHost::MakeDirectory(const char* path) {
    calls.push_back(std::string("mkdir ") + path);
    if (onMakeDirectory) onMakeDirectory(path);
    if (!createResults.empty()) return Next(createResults, false);
    return createForReal && Host::MakeDirectory(path);
}

std::string FakeHost::Transcript() const {
    std::string text;
    for (const auto& call : calls) text += call + "\n";
    return text;
}
