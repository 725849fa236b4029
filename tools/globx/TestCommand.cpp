#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "Commands.h"
#include "InstallerReader.h"
#include "TargetNames.h"
#include "TerminalProgress.h"
#include "Threads.h"

namespace {

class TestObserver : public MemberObserver {
public:
    TestObserver(const CommonOptions& options, TerminalProgress& progress, uint32_t totalSize)
        : options(options), progress(progress), totalSize(totalSize) {}

    void MemberStarted(const MemberRecord& record, const char*) override {
        progress.Update(sizes, totalSize, DisplayName(record.name, options.codePage));
    }

    void MemberFinished(const MemberRecord& record, uint64_t decodedLength,
                        MemberFailure failure) override {
        const std::string name = DisplayName(record.name, options.codePage);
        sizes += record.size;
        decoded += decodedLength;
        ++count;
        // Damage is reported once for the whole archive, with this member's name.
        if (failure == MemberFailure::Damaged) return;
        if (failure != MemberFailure::None) {
            progress.Clear();
            failures.Report(name, failure);
        } else if (options.verbose) {
            progress.Clear();
            std::printf("ok  %s\n", name.c_str());
            std::fflush(stdout);
        }
    }

    const CommonOptions& options;
    TerminalProgress& progress;
    uint32_t totalSize;
    uint64_t sizes = 0;
    uint64_t decoded = 0;
    uint64_t count = 0;
    FailureLines failures;
};

}  // namespace

int RunTest(const CommonOptions& options) {
    InstallerReader reader;
    if (const int status = reader.Open(options.installer, options.volumesDirs)) return status;

    // Names are converted as extract converts them: a name this system cannot create fails the
    // test as it would fail the extraction.
    const std::unique_ptr<NameMapper> mapper = MakeTargetNameMapper(options.codePage);
    TerminalProgress progress(!options.quiet);
    TestObserver observer(options, progress, reader.state.header.totalSize);
    ExtractOptions extract;
    extract.nameMapper = mapper.get();
    extract.writeFiles = false;
    extract.observer = &observer;
    ExtractResult result;
    reader.Run(extract, result, options.threads ? options.threads : CoreCount());
    progress.Clear();
    std::fflush(stdout);
    observer.failures.Finish();

    const int status = reader.ReportArchiveProblems(result, options.codePage);
    if (!options.quiet) {
        const bool checked = reader.Integrity() == IntegrityParse::Valid;
        // A failed run says nothing of the members' CRCs: the lines above say what failed.
        std::printf("%s: %" PRIu64 " members, %" PRIu64 " bytes decoded%s\n",
                    status == 0 ? "OK" : "FAILED", observer.count, observer.decoded,
                    status != 0 ? ""
                    : checked   ? ", every member's CRC-32 matches"
                                : "; built without integrity data, so only the structure was checked");
    }
    return status;
}
