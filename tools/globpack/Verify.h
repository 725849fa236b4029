#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "SetupHeader.h"
#include "SourceTree.h"

class TerminalProgress;

// Reads the installer in outDir back through the installer's own reader and decoder and compares
// the header, every record and every member's bytes with the source files, in order, and checks
// the end mark. False with *error set ("<file>: <what went wrong>; <what to do>") at the first
// difference.
bool VerifyInstaller(const std::filesystem::path& outDir, const SetupHeader& header,
                     const std::vector<SourceFile>& files, TerminalProgress& progress,
                     std::string* error);
