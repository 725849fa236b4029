#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ExtractRun.h"

// Runs of ExtractAll with decoders working ahead, compared with the one-thread run of the same
// installer (the MemberDecoders and GuessingDecoders tests).

// How a run extracts.
struct RunSetup {
    const char* what;
    bool writeFiles;
    bool overwrite;
    bool filter;    // members whose name starts with 'S' are passed over
    bool existing;  // files stand at some targets before the run, newer and older
};

// Test, extract, over existing files kept and overwritten, with a filter.
extern const std::vector<RunSetup> RunSetups;

// What a run left: what a user sees of it and what landed on disk.
struct RunOutcome {
    std::string summary;
    std::map<std::string, std::vector<uint8_t>> files;
    std::map<std::string, uint64_t> times;
    uint32_t taken = 0;  // members decoded ahead
    size_t peak = 0;     // the most bytes the decoders held at one time
};

// One run of archive's installer files under setup: the options are set and the existing files
// made on construction; the caller adds decoders, an integrity table or an observer to run.options
// before Run.
class AheadRun {
public:
    AheadRun(const TestArchive& archive, const InstallerFiles& files, const RunSetup& setup);
    RunOutcome Run();

    ExtractRun run;

private:
    class NoS : public MemberFilter {
    public:
        bool Selected(const MemberRecord& record) override { return record.name[0] != 'S'; }
    };

    const TestArchive& archive;
    NoS filter;
};

// The run with decoders ahead is the one-thread run, and threads threads with caps of cap held no
// more than their caps (or one output buffer each when that is more).
void ExpectSameRun(const RunOutcome& ahead, const RunOutcome& alone, unsigned threads, size_t cap);

// One creation, access and write time for each member, a day apart.
void SpreadTimes(TestArchive& archive);

// Members of several output buffers and of several caps, with volume boundaries inside them, and
// an end mark.
TestArchive LargeMembers();
