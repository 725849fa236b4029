#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"
#include "FileSystem.h"
#include "InstallerReader.h"
#include "PathPattern.h"
#include "StoredText.h"
#include "TargetNames.h"
#include "TerminalProgress.h"
#include "Threads.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p. The file layer reads '\' as a separator on every platform, so both split here.
// Returns 0, or the errno of the last failed attempt (-1 when the platform left none).
int MakeDirectories(const std::string& path) {
    int error = 0;
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i])) continue;
        if (IsSeparator(path[i - 1]) || path[i - 1] == ':') continue;  // "//", a root, "C:"
        errno = 0;
        if (!MakeDirectory(path.substr(0, i).c_str())) error = errno;
    }
    return IsDirectory(path) ? 0 : (error ? error : -1);
}

// The members named on the command line: a member is selected when its name, converted from
// the code page, matches any pattern. Remembers which patterns matched nothing.
class PatternFilter : public MemberFilter {
public:
    PatternFilter(const std::vector<std::string>& patterns, int codePage) : codePage(codePage) {
        for (const std::string& pattern : patterns) this->patterns.emplace_back(pattern);
        used.assign(patterns.size(), false);
    }

    bool Selected(const MemberRecord& record) override {
        bool exact;
        const std::string name = StoredTextToUtf8(record.name, codePage, &exact);
        bool selected = false;
        for (size_t i = 0; i < patterns.size(); ++i) {
            if (patterns[i].Matches(name)) used[i] = selected = true;
        }
        return selected;
    }

    std::vector<std::string> Unused() const {
        std::vector<std::string> unused;
        for (size_t i = 0; i < patterns.size(); ++i)
            if (!used[i]) unused.push_back(patterns[i].Text());
        return unused;
    }

private:
    std::vector<PathPattern> patterns;
    std::vector<bool> used;
    int codePage;
};

class ExtractObserver : public MemberObserver {
public:
    ExtractObserver(const CommonOptions& options, bool overwrite, TerminalProgress& progress,
                    uint32_t totalSize, MemberFilter* filter)
        : options(options), overwrite(overwrite), progress(progress), totalSize(totalSize),
          filter(filter) {}

    void MemberStarted(const MemberRecord& record, const char* target) override {
        lastName = DisplayName(record.name, options.codePage);
        progress.Update(sizes, totalSize, lastName);
        // The core asks the filter after this call; asking first gives the same answer.
        selected = !filter || filter->Selected(record);
        // The same test the core makes right after this call, to tell kept files apart. Only for
        // names the core will write: the target of any other may lie outside the directory.
        uint64_t existing = 0;
        willKeep = selected && !overwrite && IsSafeMemberName(record.name) &&
                   ReadLastWriteTime(target, &existing) &&
                   CompareFileTimes(existing, record.lastWriteTime) >= 0;
    }

    void MemberFinished(const MemberRecord& record, uint64_t, MemberFailure failure) override {
        lastName = DisplayName(record.name, options.codePage);
        sizes += record.size;
        if (failure == MemberFailure::Damaged) return;  // reported for the whole archive
        if (!selected) return;
        ++count;
        if (failure == MemberFailure::ThroughLink && result && result->failureDetail[0]) {
            progress.Clear();
            failures.Report(lastName, std::string(result->failureDetail) +
                                          " is a symbolic link; nothing is written through it");
        } else if (failure != MemberFailure::None) {
            progress.Clear();
            failures.Report(lastName, failure);
        } else {
            if (willKeep) ++kept;
            if (options.verbose) {
                progress.Clear();
                std::printf(willKeep ? "kept       %s (the existing file is as new or newer)\n"
                                     : "extracted  %s\n",
                            lastName.c_str());
                std::fflush(stdout);
            }
        }
        willKeep = false;
    }

    const CommonOptions& options;
    bool overwrite;
    TerminalProgress& progress;
    uint32_t totalSize;
    MemberFilter* filter;
    bool selected = true;
    uint64_t sizes = 0;
    uint64_t count = 0;
    uint64_t kept = 0;
    bool willKeep = false;
    std::string lastName;
    const ExtractResult* result = nullptr;  // the run's, for the details of a failure
    FailureLines failures;
};

}  // namespace

int RunExtract(const CommonOptions& options, const std::string& directory, bool overwrite,
               const std::vector<std::string>& patterns) {
    if (directory.empty()) {
        std::fprintf(stderr, "globx: -d: the target directory is empty: name one, e.g. -d .\n");
        return 1;
    }
    std::string installDir = directory;
    if (!IsSeparator(installDir.back())) installDir += TargetSeparator();
    // installDir and at least a one-character name must fit the core's 255-character paths.
    if (installDir.size() > 254) {
        std::fprintf(stderr, "globx: %s: directory path too long (at most 253 bytes): use a shorter -d\n",
                     directory.c_str());
        return 1;
    }

    InstallerReader reader;
    if (const int status = reader.Open(options.installer, options.volumesDirs)) return status;
    if (const int error = MakeDirectories(directory)) {
        std::fprintf(stderr, "globx: %s: cannot create the directory (%s): choose another -d\n",
                     directory.c_str(), error > 0 ? std::strerror(error) : "not a directory");
        return 2;
    }
    std::memcpy(reader.state.installDir, installDir.c_str(), installDir.size() + 1);

    const std::unique_ptr<NameMapper> mapper = MakeTargetNameMapper(options.codePage);
    TerminalProgress progress(!options.quiet);
    PatternFilter filter(patterns, options.codePage);
    MemberFilter* const chosen = patterns.empty() ? nullptr : &filter;
    ExtractObserver observer(options, overwrite, progress, reader.state.header.totalSize, chosen);
    ExtractOptions extract;
    extract.filter = chosen;
    extract.nameMapper = mapper.get();
    extract.overwrite = overwrite;
    extract.observer = &observer;
    ExtractResult result;
    observer.result = &result;
    reader.Run(extract, result, options.threads ? options.threads : CoreCount());
    progress.Clear();
    std::fflush(stdout);
    observer.failures.Finish();

    int status = reader.ReportArchiveProblems(result, options.codePage);
    // Only a complete run shows that a pattern matched nothing.
    if (status == 0 && chosen) {
        for (const std::string& pattern : filter.Unused()) {
            std::fprintf(stderr, "globx: %s: no member matches; globx list shows their names\n",
                         pattern.c_str());
            status = 1;
        }
    }
    if (!options.quiet) {
        std::printf("%" PRIu64 " members (%" PRIu64 " kept), %" PRIu64 " bytes decoded, %" PRIu32
                    " failures\n",
                    observer.count, observer.kept, result.decodedBytes, result.failures);
    }
    return status;
}
