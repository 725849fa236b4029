#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "SetupHeader.h"
#include "SourceTree.h"

class TerminalProgress;

struct PackResult {
    uint64_t bytesIn = 0;
    uint64_t streamLength = 0;   // header, records, bit streams and end mark
    uint64_t bytesWritten = 0;   // all volume files, stub and trailer included
    std::vector<std::string> volumes;  // file names: SETUP.EXE, GLOB1.DAT, ...
    std::vector<std::string> notes;    // stale volumes found in the output directory
};

// Called after each member with its coded length.
using MemberPacked = std::function<void(const SourceFile&, uint64_t codedBytes)>;

// Empty when file's size, last-write and change time are still those it was scanned with (its
// seen facts); otherwise what moved. A file rewritten in place at the same size shows here.
std::string SourceChange(const SourceFile& file);

// Writes SETUP.EXE (stub and archive) and its continuation volumes into outDir. On failure
// returns false with *error set ("<file>: <what went wrong>; <what to do>") and leaves nothing of
// the run behind; an installer already in outDir stays as it was. A source file that changed
// while it was read (SourceChange, or a length other than its size) is such a failure. With
// integrity, stub has room for the integrity data of files.size() members (CustomizeStub),
// which is filled in before the installer takes its final names.
//
// Members are read and coded on threads workers (RunParallelEncoding; 1: on this thread alone)
// and written in their order, so the installer is the same for any count. Progress and
// memberPacked are called on this thread, in member order; when several members fail, the error
// is that of the first in member order, as a run on one thread would report it.
bool PackInstaller(const std::vector<SourceFile>& files, const SetupHeader& header,
                   const std::vector<uint8_t>& stub, bool integrity, unsigned threads,
                   const std::filesystem::path& outDir, TerminalProgress& progress,
                   const MemberPacked& memberPacked, PackResult* result, std::string* error);
