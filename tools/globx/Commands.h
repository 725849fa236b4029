#pragma once

#include <string>
#include <vector>

#include "Extract.h"

// What every verb is given.
struct CommonOptions {
    std::string installer;
    std::vector<std::string> volumesDirs;  // searched for continuation volumes after the installer's own
    int codePage = 1252;     // the code page of the stored names and header texts
    bool quiet = false;
    bool verbose = false;
    unsigned threads = 0;    // threads that decode (test, extract); 0: one per core
};

// Each verb returns the exit status: 0 ok, 2 damaged or incomplete archive or a failed member.
int RunList(const CommonOptions& options, bool json);
int RunTest(const CommonOptions& options);
// patterns: extract only the members whose path matches one (PathPattern); none: every member.
int RunExtract(const CommonOptions& options, const std::string& directory, bool overwrite,
               const std::vector<std::string>& patterns);

// One stderr line for a member that did not come through ("globx: NAME: REASON"). A hostile
// archive can hold a failing member for every few bytes, so after a few dozen lines the rest are
// only counted; Finish reports how many were left out.
class FailureLines {
public:
    void Report(const std::string& printableName, MemberFailure failure);
    void Report(const std::string& printableName, const std::string& reason);
    void Finish() const;

private:
    static constexpr int MaxLines = 50;
    int count = 0;
};

// The member name for messages and tables: converted from the code page, control characters
// escaped.
std::string DisplayName(const char* storedName, int codePage);
