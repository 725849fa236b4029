#include <cinttypes>
#include <cstdio>
#include <string>

#include "Commands.h"
#include "InstallerReader.h"
#include "TerminalProgress.h"

namespace {

class TestObserver : public MemberObserver {
public:
    TestObserver(const CommonOptions& options, const ConsoleHost& host, TerminalProgress& progress,
                 uint32_t totalSize)
        : options(options), host(host), progress(progress), totalSize(totalSize) {}

    void MemberStarted(const MemberRecord& record, const char*) override {
        lastName = DisplayName(record.name, options.codePage);
        progress.Update(sizes, totalSize, lastName);
    }

    void MemberFinished(const MemberRecord& record, uint64_t decodedLength,
                        MemberFailure failure) override {
        lastName = DisplayName(record.name, options.codePage);
        sizes += record.size;
        decoded += decodedLength;
        ++count;
        // Damage is reported once for the whole archive, with this member's name.
        if (failure == MemberFailure::Damaged) {
            damagedName = lastName;
            return;
        }
        // A missing volume or a read error cuts the member short; that is reported once, as such.
        if (failure != MemberFailure::None) {
            ++problems;
            progress.Clear();
            failures.Report(lastName, failure);
        } else if (decodedLength != record.size && !host.CancelRequested()) {
            ++problems;
            progress.Clear();
            failures.Report(lastName, "decodes to " + std::to_string(decodedLength) +
                                          " bytes but its record says " + std::to_string(record.size));
        } else if (options.verbose) {
            progress.Clear();
            std::printf("ok  %s\n", lastName.c_str());
            std::fflush(stdout);
        }
    }

    const CommonOptions& options;
    const ConsoleHost& host;
    TerminalProgress& progress;
    uint32_t totalSize;
    uint64_t sizes = 0;
    uint64_t decoded = 0;
    uint64_t count = 0;
    uint64_t problems = 0;
    std::string lastName;
    std::string damagedName;  // the member the data ended in
    FailureLines failures;
};

}  // namespace

int RunTest(const CommonOptions& options) {
    InstallerReader reader;
    if (const int status = reader.Open(options.installer, options.volumesDirs)) return status;
    const uint32_t totalSize = reader.state.header.totalSize;

    TerminalProgress progress(!options.quiet);
    TestObserver observer(options, reader.Host(), progress, totalSize);
    ExtractOptions extract;
    extract.writeFiles = false;
    extract.observer = &observer;
    const ExtractResult result = reader.Run(extract);
    progress.Clear();
    std::fflush(stdout);
    observer.failures.Finish();

    int status = reader.ReportArchiveProblems(result, observer.damagedName);
    if (status == 0 && observer.sizes != totalSize) {
        std::fprintf(stderr,
                     "globx: %s: the header's totalSize is %" PRIu32
                     " but the members' sizes add up to %" PRIu64 ": the installer was altered\n",
                     options.installer.c_str(), totalSize, observer.sizes);
        status = 2;
    }
    if (observer.problems != 0) status = 2;
    if (!options.quiet) {
        std::printf("%s: %" PRIu64 " members, %" PRIu64 " bytes decoded\n",
                    status == 0 ? "OK" : "FAILED", observer.count, observer.decoded);
    }
    return status;
}
