#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "PackPlatform.h"

// One regular file of the source tree and the member it becomes.
struct SourceFile {
    std::filesystem::path path;  // where it is read from
    std::string displayName;     // the path as messages show it (UTF-8)
    std::string relativeName;    // UTF-8, '\' between components
    std::string storedName;      // relativeName in the archive's code page
    SourceFacts facts;
};

// Messages for the user, each "<file>: <what went wrong>; <what to do>".
struct Diagnostics {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

// Lists the regular files below root, recursively and without following links. Links and
// special files (devices, FIFOs, sockets) are errors: the archive carries regular files only.
// A directory without any file below it is a warning: the installer cannot create it.
// rootDisplay is root as the user wrote it.
void ScanSourceTree(const std::filesystem::path& root, const std::string& rootDisplay,
                    std::vector<SourceFile>* files, Diagnostics* diagnostics);

struct MemberRules {
    int codePage = 1252;
    std::string defaultDir;       // in the code page; for the path length warning
    bool clampTimes = false;      // SOURCE_DATE_EPOCH was given
    uint64_t latestTime = 0;      // FILETIME every recorded time is clamped to
};

// Gives every file its stored name and checks it (Windows name rules, code page, case-only
// differences, sizes under 4 GiB each and in total); clamps the times; sorts the files by stored
// name bytes. Returns the total size.
uint64_t PrepareMembers(std::vector<SourceFile>* files, const MemberRules& rules,
                        const std::string& rootDisplay, Diagnostics* diagnostics);
