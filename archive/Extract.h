#pragma once

#include <cstdint>

#include "MemberRecord.h"

class Host;
class VolumeStream;
struct WorkerState;

enum class MemberFailure {
    None,
    UnsafeName,   // would leave the install directory, or names a device
    BadName,      // cannot be turned into a name on this system
    PathTooLong,  // installDir and name do not fit 255 characters
    CannotOpen,   // the output could not be opened
    WriteFailed,  // a write or the close failed (a full disk)
    Damaged,      // the bit stream or the record ran past the end of the data
};

const char* DescribeFailure(MemberFailure failure);

// What a run of ExtractAll leaves behind, beyond the files.
struct ExtractResult {
    uint32_t members = 0;    // records read, decoded or not
    uint32_t failures = 0;   // members that did not land as recorded
    MemberFailure firstFailure = MemberFailure::None;
    char firstFailedPath[256] = {};
    bool damaged = false;    // the archive ended inside a record or a bit stream
    bool stopped = false;    // the host stopped the run
    bool readError = false;  // a volume could not be read
    bool sawEndMark = false; // the archive ended with the explicit 0xFF 0xFF mark
    uint32_t total = 0;      // sum of the sizes of the members decoded
    uint64_t decodedBytes = 0;

    bool Ok() const { return failures == 0 && !damaged && !stopped && !readError; }
};

// Sees every member as it is handled (globx lists and tests through it).
class MemberObserver {
public:
    virtual ~MemberObserver() = default;
    virtual void MemberStarted(const MemberRecord&, const char* /*target*/) {}
    virtual void MemberFinished(const MemberRecord&, uint64_t /*decodedLength*/, MemberFailure) {}
};

// Turns a stored member name (the installer's 8-bit code page, '\' between components) into the
// name to create on this system, e.g. UTF-8 on POSIX. False when it cannot be converted.
class NameMapper {
public:
    virtual ~NameMapper() = default;
    virtual bool Map(const char* storedName, char* mapped, int mappedSize) = 0;
};

// Chooses the members to write (globx extract PATTERN...). A member not selected is decoded
// into nothing, as list and test decode, is never written and never counts as a failure; damage
// found in its data still does.
class MemberFilter {
public:
    virtual ~MemberFilter() = default;
    virtual bool Selected(const MemberRecord& record) = 0;
};

struct ExtractOptions {
    NameMapper* nameMapper = nullptr;  // none: names are used as stored
    bool writeFiles = true;  // false: decode every member into nothing (list, test)
    bool overwrite = false;  // true: replace existing files whatever their times
    MemberObserver* observer = nullptr;
    MemberFilter* filter = nullptr;  // none: every member is selected
};

// Extracts every member of the stream (positioned after the header) under state.installDir,
// publishing statusText and progressFraction. Never writes outside installDir: unsafe names are
// decoded into the null device and counted as failures.
void ExtractAll(VolumeStream& stream, WorkerState& state, Host& host, ExtractResult& result,
                const ExtractOptions& options = {});

// True when name may be written under the install directory: no '..' or dots-only component, no
// drive letter or colon, no leading separator, no control character, no device name.
bool IsSafeMemberName(const char* name);
