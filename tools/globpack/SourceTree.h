#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "PackPlatform.h"
#include "PathPattern.h"

// One regular file of the source tree and the member it becomes.
struct SourceFile {
    std::filesystem::path path;  // where it is read from
    std::string displayName;     // the path as messages show it (UTF-8)
    std::string relativeName;    // UTF-8, '\' between components
    std::string storedName;      // relativeName in the archive's code page
    SourceFacts facts;           // as recorded in the archive (times made reproducible, capped)
    SourceFacts seen;            // as found on disk before packing, to tell a change while read
};

// Messages for the user, each "<file>: <what went wrong>; <what to do>".
struct Diagnostics {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

struct ScanOptions {
    bool followLinks = false;            // --follow-symlinks
    std::vector<PathPattern> excludes;   // matched against the member path ('\' separators)
};

// Lists the regular files below root, recursively; root may also be a single regular file,
// which becomes one member named by its file name. A link (on Windows any reparse point, a
// junction too) is an error unless options.followLinks: then its target is packed under the
// link's name, and a link to a directory that holds the link (a loop) or to nothing is an error.
// Special files (devices, FIFOs, sockets) are errors: the archive carries regular files only.
// Entries whose member path matches an exclude pattern are left out, directories whole, before
// any other check. A directory without any file below it is a warning: the installer cannot
// create it. rootDisplay is root as the user wrote it. Returns the number of entries excluded.
size_t ScanSourceTree(const std::filesystem::path& root, const std::string& rootDisplay,
                      const ScanOptions& options, std::vector<SourceFile>* files,
                      Diagnostics* diagnostics);

struct MemberRules {
    int codePage = 1252;
    std::string defaultDir;       // in the code page; for the path length warning
    bool clampTimes = false;      // SOURCE_DATE_EPOCH was given
    uint64_t latestTime = 0;      // FILETIME every recorded time is clamped to
    bool keepAccessTimes = false; // --keep-access-times
};

// Gives every file its stored name and checks it (Windows name rules, code page, case-only
// differences, sizes under 4 GiB each and in total); sorts the files by stored name bytes.
// The recorded times are reproducible: reading a file moves its last-access time, so that is
// recorded as the last-write time, and so is the creation time where the platform has none of
// its own (PlatformKeepsCreationTime); rules.keepAccessTimes records both as found. Every time
// is then capped at rules.latestTime when clampTimes. Returns the total size.
uint64_t PrepareMembers(std::vector<SourceFile>* files, const MemberRules& rules,
                        const std::string& rootDisplay, Diagnostics* diagnostics);
