#include "Commands.h"

#include <cstdio>

#include "StoredText.h"

void FailureLines::Report(const std::string& printableName, MemberFailure failure) {
    Report(printableName, DescribeFailure(failure));
}

void FailureLines::Report(const std::string& printableName, const std::string& reason) {
    if (count++ < MaxLines) std::fprintf(stderr, "globx: %s: %s\n", printableName.c_str(), reason.c_str());
}

void FailureLines::Finish() const {
    if (count > MaxLines)
        std::fprintf(stderr, "globx: %d more member problems not shown\n", count - MaxLines);
}

std::string DisplayName(const char* storedName, int codePage) {
    bool exact;
    return PrintableText(StoredTextToUtf8(storedName, codePage, &exact));
}
