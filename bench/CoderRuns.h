#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteSink.h"
#include "Host.h"
#include "InstallerImage.h"

// The runs that the benchmark times and the agreement checks compare: both coders, each way.

class CountingSink : public ByteSink {
public:
    bool Write(const uint8_t*, size_t count) override {
        bytes += count;
        return true;
    }
    uint64_t bytes = 0;
};

// Answers like an unattended run: no sound, Cancel at a disk prompt, Yes to quit, then stop.
class BenchHost : public Host {
public:
    void Beep() override {}
    bool AskForDisk(int, const char*) override { return false; }
    void ShowReadError() override {}
    bool ConfirmQuit() override { return true; }
    void RequestCancel() override { cancelled = true; }
    bool ShouldStop() override { return cancelled; }

    bool cancelled = false;
};

struct MemberInput {
    std::string name;
    const uint8_t* data;
    size_t size;
};

// Cuts bytes into members of memberSize bytes (the last one shorter), named prefix0.bin, ...
std::vector<MemberInput> SplitIntoMembers(const std::vector<uint8_t>& bytes, size_t memberSize,
                                          const std::string& prefix);

// Every member coded by the real encoder, behind its record, with the end mark after the last.
void EncodeIntoImage(const std::vector<MemberInput>& members, InstallerImage& image);

// The members' bit streams back to back, as each encoder hands them to sink.
bool EncodeWithCore(const std::vector<MemberInput>& members, ByteSink& sink);
bool EncodeWithBaseline(const std::vector<MemberInput>& members, ByteSink& sink);

struct ArchiveRun {
    uint32_t members = 0;
    uint64_t decodedBytes = 0;
    std::string error;  // empty when the run read the whole archive without a fault
};

// The core's reader as `globx test` drives it: VolumeStream, header, ExtractAll. With an
// installDir (ending in '/') the members are written there; without one they are only decoded.
ArchiveRun DecodeWithCore(const InstallerImage& image, const char* installDir);

// The baseline's own reader over the same files, the members' bytes going to output.
ArchiveRun DecodeWithBaseline(const InstallerImage& image, ByteSink& output);
