#pragma once

#include <cstdint>

#include "IntegrityTable.h"
#include "MemberRecord.h"

class Host;
class MemberOutput;
class VolumeStream;
struct WorkerState;

enum class MemberFailure {
    None,
    UnsafeName,    // would leave the install directory, or names a device
    BadName,       // cannot be turned into a name on this system
    PathTooLong,   // installDir and name do not fit 255 characters
    CannotOpen,    // the file cannot be created, for a reason not listed here
    IsDirectory,   // a directory stands where the file goes
    AccessDenied,  // no permission, or a read-only file stands there
    NotDirectory,  // a file stands where one of its directories goes
    ThroughLink,   // a symbolic link stands on its path or at it; nothing is written through it
    WriteFailed,   // a write or the close failed
    DiskFull,      // the disk is full
    NotReplaced,   // the complete file could not get its times or take its name
    Corrupt,       // its record or its bytes do not match the installer's integrity data
    BadTimes,      // a recorded time is no file time (its top bit is set): no file can carry it
    Damaged,       // the archive is damaged in this member (see ExtractResult::damage)
};

const char* DescribeFailure(MemberFailure failure);

// What is wrong with a damaged archive: the first fault found, after which nothing is read.
enum class Damage {
    None,
    HeaderCut,          // the data ends inside the 388-byte header
    RecordCut,          // the data ends inside a record's name or fields
    DataCut,            // the data ends inside a member's bit stream
    BadCode,            // a bit stream holds a code no coder sends
    LongerThanRecord,   // a member decodes to more bytes than its record's size
    ShorterThanRecord,  // a member decodes to fewer bytes than its record's size
    DataAfterEnd,       // the end mark is followed by more data: a record that is no record
    TableMalformed,     // the integrity data is not a sound table
    HeaderCorrupt,      // the header does not match its CRC in the integrity data
    RecordMisplaced,    // a record does not start where the integrity data puts it
    MemberCount,        // more or fewer members than the integrity data lists
};

const char* DescribeDamage(Damage damage);

// What a run of ExtractAll leaves behind, beyond the files.
struct ExtractResult {
    uint32_t members = 0;    // records read, decoded or not
    uint32_t failures = 0;   // members that did not land as recorded
    MemberFailure firstFailure = MemberFailure::None;
    char firstFailedPath[256] = {};
    char failureDetail[256] = {};  // what the latest failure concerns, e.g. the link in the way
    bool damaged = false;    // the archive is damaged; damage says how
    Damage damage = Damage::None;
    char damagedMember[256] = {};  // the stored name of the member it was found in, or empty
    uint64_t damagedLength = 0;    // for a size mismatch: the bytes decoded (at most size + 1)
    uint32_t damagedSize = 0;      // and the size its record gives
    bool stopped = false;    // the host stopped the run (a user's stop, a missing volume)
    bool readError = false;  // a volume could not be read
    bool writeFailed = false;  // a write failed: no further member was created
    bool sawEndMark = false; // the archive ended with the explicit 0xFF 0xFF mark
    bool totalSizeDiffers = false;  // the header's totalSize is not the sum of the sizes: a warning
    uint32_t total = 0;      // sum of the sizes of the members decoded
    uint64_t sizes = 0;      // sum of the sizes of every record read
    uint64_t decodedBytes = 0;
    uint32_t decodedAhead = 0;  // members whose bytes were taken from options.decodedAhead

    // The verdict on the run, the same for the installer and every globx verb: every member of an
    // intact archive landed (or, when nothing is written, decoded) as its record says. A totalSize
    // that disagrees with the members is only a warning: the files are intact.
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

// How a member decoded ahead of the run came out.
struct AheadOutcome {
    bool complete = false;   // its bit stream ended with EndOfStream, read from data
    uint64_t endOffset = 0;  // the stream offset of the first byte after its bit stream
    uint64_t startOffset = 0;  // DeliverAt: the stream offset its decoding started from
};

// Members decoded ahead of the run by other threads (globx -j). ExtractAll stays the only judge:
// it reads every record itself and takes a member's bytes from here only when they are clean by
// the integrity data or, without it, were decoded completely from the very byte where its own
// reading puts the member's bit stream; anything else is thrown away and the member decoded as
// without it.
class DecodedAhead {
public:
    virtual ~DecodedAhead() = default;
    // Puts the decoded bytes of member index (0 for the first) into output, as Put would, and
    // says how its decoding ended. False when the member was not decoded ahead, its decoding did
    // not complete, or output refused a byte. Called for increasing indexes, at most once each:
    // a member passed over is given up.
    virtual bool Deliver(uint32_t index, MemberOutput& output, AheadOutcome* outcome) = 0;
    // Without integrity data: as Deliver, for the member whose bit stream starts at stream offset
    // dataOffset (0 is the header's first byte). Called for increasing offsets, at most once
    // each: an offset passed over is given up. A bit stream decoded from a byte boundary with a
    // fresh model gives the same bytes and end wherever that decoding ran, so what was decoded
    // to its EndOfStream from exactly this offset is what ExtractAll would decode there.
    virtual bool DeliverAt(uint64_t /*dataOffset*/, MemberOutput& /*output*/, AheadOutcome* /*outcome*/) {
        return false;
    }
};

struct ExtractOptions {
    NameMapper* nameMapper = nullptr;  // none: names are used as stored
    bool writeFiles = true;  // false: decode every member into nothing (list, test)
    bool overwrite = false;  // true: replace existing files whatever their times
    MemberObserver* observer = nullptr;
    MemberFilter* filter = nullptr;  // none: every member is selected
    // The installer's integrity data: every record and every member's bytes are checked against
    // it, and the header against state.headerCrc. None: only the structure is checked.
    const IntegrityTable* integrity = nullptr;
    bool integrityMalformed = false;  // the installer carries integrity data that is no table
    // With integrity data by member index (never for the last member), without it by the offset
    // of each member's bit stream. None: every member is decoded here, one after another (the
    // installer).
    DecodedAhead* decodedAhead = nullptr;
};

// Extracts every member of the stream (positioned after the header) under state.installDir,
// publishing statusText and progressFraction. Never writes outside installDir: unsafe names and
// paths through symbolic links are decoded into nothing and counted as failures. A member lands
// only complete, intact and with its times: until then it is a temporary file beside its target,
// removed on any failure, so an existing file at the target stays as it was. The host is asked
// before each member and within members whether to go on.
void ExtractAll(VolumeStream& stream, WorkerState& state, Host& host, ExtractResult& result,
                const ExtractOptions& options = {});

// Reads the 388-byte header through the counted reader into state.header (texts cut to their
// fields) and its CRC-32 into state.headerCrc.
// The share of the archive done: the sizes of the members decoded so far against the header's
// totalSize, both unsigned 32-bit values (1 when totalSize is 0).
double ProgressFraction(uint32_t total, uint32_t totalSize);

// raw, when given, receives the 388 bytes as read.
void ReadSetupHeader(VolumeStream& stream, WorkerState& state, unsigned char* raw = nullptr);

// True when name may be written under the install directory: no '..' or dots-only component, no
// drive letter or colon, no leading or trailing separator, no control character, none of
// < > " | ? * (no Windows name holds them), no device name.
bool IsSafeMemberName(const char* name);
