#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Extract.h"
#include "FakeHost.h"
#include "TempDir.h"
#include "TestArchive.h"
#include "WorkerState.h"

// What a MemberObserver saw, one entry per member.
struct SeenMember {
    std::string name;  // the stored bytes, nameLength of them
    int nameLength = 0;
    uint32_t size = 0;
    std::string target;
    std::string statusAtStart;  // statusText when the member started
    bool finished = false;
    uint64_t decodedLength = 0;
    MemberFailure failure = MemberFailure::None;
};

class RecordingObserver : public MemberObserver {
public:
    explicit RecordingObserver(const WorkerState& state) : state(state) {}
    void MemberStarted(const MemberRecord& record, const char* target) override;
    void MemberFinished(const MemberRecord& record, uint64_t decodedLength,
                        MemberFailure failure) override;

    std::vector<SeenMember> seen;

private:
    const WorkerState& state;
};

// One install from a test archive: the installer's files go to <root>/media, the members to
// <root>/install, so that anything written beside the install directory shows.
class ExtractRun {
public:
    ExtractRun();

    void Write(const TestArchive& archive, const VolumeLayout& layout = {});
    // Opens the installer, reads the header and runs ExtractAll. False when the installer did
    // not open.
    bool Run();

    // Where a member named with '\' separators lands.
    std::string OnDisk(const std::string& memberName) const;
    // The host's calls other than directory creation.
    std::vector<std::string> Prompts() const;
    std::string Status() const;
    // Everything the run left beside the files, one fact a line: the result's fields, what the
    // observer saw of each member, the prompts and the final status, with the install directory
    // left out of paths. Two runs of the same files that differ in nothing a user sees give the
    // same text.
    std::string Summary() const;

    TempDir root;
    std::string media;
    std::string install;
    FakeHost host;
    std::unique_ptr<WorkerState> state = std::make_unique<WorkerState>();
    RecordingObserver observer{*state};
    ExtractOptions options;
    ExtractResult result;
    InstallerFiles files;
    SetupHeader header{};
};
