#include "Extract.h"

#include <cctype>
#include <cstring>
#include <memory>

#include "CreatePathDirectories.h"
#include "Crc32.h"
#include "FileSystem.h"
#include "Host.h"
#include "HuffmanDecoder.h"
#include "MemberOutput.h"
#include "Text.h"
#include "VolumeStream.h"
#include "WorkerState.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDeviceName(const char* component, size_t length) {
    // The base name counts: "CON.TXT" and "con " name the console as well.
    size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    char upper[8] = {};
    if (base < 3 || base > 7) return false;
    for (size_t i = 0; i < base; ++i) upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(component[i])));
    static const char* const names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : names)
        if (std::strcmp(upper, name) == 0) return true;
    return base == 4 && (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

uint32_t ReadU32(const unsigned char* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint64_t ReadU64(const unsigned char* b) { return uint64_t(ReadU32(b)) | uint64_t(ReadU32(b + 4)) << 32; }

enum class NameEnd { Terminator, EndMark, EndOfData, Truncated };

// The first byte always belongs to the name; from the second on 0x00 ends the name and 0xFF the
// archive. Past the end of the data reads give 0xFF, so the loop always ends.
NameEnd ReadName(VolumeStream& stream, MemberRecord& record) {
    const int first = stream.ReadByte();
    record.name[0] = static_cast<char>(first);
    record.nameLength = 1;
    record.nameTooLong = false;
    for (;;) {
        const int b = stream.ReadByte();
        const unsigned char byte = static_cast<unsigned char>(b);
        if (byte == NameTerminator || byte == ArchiveEndMark) {
            record.name[record.nameLength < 256 ? record.nameLength : 255] = '\0';
            if (byte == NameTerminator) return NameEnd::Terminator;
            if (b >= 0) return NameEnd::EndMark;
            return first >= 0 ? NameEnd::Truncated : NameEnd::EndOfData;
        }
        if (record.nameLength < 255)
            record.name[record.nameLength] = static_cast<char>(byte);
        else
            record.nameTooLong = true;
        ++record.nameLength;
    }
}

void CutAtLastSeparator(char* path) {
    for (char* c = path + std::strlen(path); c != path;) {
        if (IsSeparator(*--c)) {
            *c = '\0';
            return;
        }
    }
}

void RecordFailure(ExtractResult& result, MemberFailure failure, const char* path) {
    if (result.failures++ == 0) {
        result.firstFailure = failure;
        CopyText(result.firstFailedPath, sizeof result.firstFailedPath, path);
    }
}

void RecordDamage(ExtractResult& result, Damage damage, const MemberRecord* record) {
    if (result.damaged) return;
    result.damaged = true;
    result.damage = damage;
    if (record) CopyText(result.damagedMember, sizeof result.damagedMember, record->name);
}

MemberFailure FailureOf(FileError error) {
    switch (error) {
    case FileError::IsDirectory: return MemberFailure::IsDirectory;
    case FileError::AccessDenied: return MemberFailure::AccessDenied;
    case FileError::NotDirectory: return MemberFailure::NotDirectory;
    case FileError::Link: return MemberFailure::ThroughLink;
    case FileError::NoSpace: return MemberFailure::DiskFull;
    default: return MemberFailure::CannotOpen;
    }
}

// Whether the target can be written without following a link or replacing something that is no
// file: every directory below the install directory (the first base characters) and the target
// itself are looked at. *link receives the path of a link in the way.
MemberFailure CheckTarget(const char* target, size_t base, char* link, size_t linkSize) {
    char prefix[256];
    const size_t length = std::strlen(target);
    for (size_t i = base; i <= length; ++i) {
        if (i < length && !IsSeparator(target[i])) continue;
        if (i == 0 || IsSeparator(target[i - 1])) continue;
        std::memcpy(prefix, target, i);
        prefix[i] = '\0';
        const PathKind kind = QueryPath(prefix);
        if (kind == PathKind::Missing) return MemberFailure::None;  // nothing below it exists yet
        if (kind == PathKind::Link) {
            CopyText(link, linkSize, prefix);
            return MemberFailure::ThroughLink;
        }
        if (i < length && kind != PathKind::Directory) return MemberFailure::NotDirectory;
        if (i == length && kind == PathKind::Directory) return MemberFailure::IsDirectory;
        if (i == length && kind == PathKind::Other) return MemberFailure::CannotOpen;
    }
    return MemberFailure::None;
}

enum class AheadTake {
    NotOffered,  // nothing decoded ahead for this member: the output is untouched
    Refused,     // bytes were offered and thrown away: the output must start over
    Taken,       // the member's bytes are in the output and the stream is past its bit stream
    SkipFailed,  // taken, but the data ended, failed or was stopped inside its bit stream
};

// Reads on to position, as a member's decoding that ended there would have left the stream.
AheadTake SkipTo(VolumeStream& stream, int64_t position) {
    while (stream.position < position) {
        size_t count = stream.Contiguous();
        if (count == 0) {
            if (stream.ReadByte() < 0) return AheadTake::SkipFailed;
            continue;
        }
        if (int64_t(count) > position - stream.position) count = static_cast<size_t>(position - stream.position);
        stream.Skip(count);
    }
    return AheadTake::Taken;
}

// Takes member index's bytes from options.decodedAhead when they are what decoding them here
// would give: all of them came, exactly the record's size, with the CRC the integrity data gives,
// and their bit stream ended where the integrity data puts the next record. The stream is then
// read on to that record, as decoding would have left it. The last member has no next record to
// vouch for its end and is always decoded here.
AheadTake TakeDecodedAhead(const ExtractOptions& options, const IntegrityEntry& entry, uint32_t index,
                           const MemberRecord& record, VolumeStream& stream, int64_t streamStart,
                           MemberOutput& output) {
    const IntegrityTable& table = *options.integrity;
    if (!options.decodedAhead || index + 1 >= table.entries.size()) return AheadTake::NotOffered;
    const int64_t next = streamStart + int64_t(table.entries[index + 1].recordOffset);
    AheadOutcome outcome;
    if (!options.decodedAhead->Deliver(index, output, &outcome) || !outcome.complete ||
        output.Overflowed() || output.Length() != record.size || output.Crc() != entry.dataCrc ||
        outcome.endOffset != table.entries[index + 1].recordOffset || next <= stream.position ||
        next > INT32_MAX)
        return AheadTake::Refused;
    return SkipTo(stream, next);
}

// Without integrity data: takes the bytes decoded ahead from the member's own bit stream, which
// starts at the stream's position. They are what decoding them here would give when their
// decoding started exactly there and read EndOfStream from data: then they are all of them,
// exactly the record's size, and end no earlier than one bit a symbol allows. The stream is read
// on to that end, as decoding would have left it.
AheadTake TakeDecodedAheadAt(const ExtractOptions& options, const MemberRecord& record, VolumeStream& stream,
                             int64_t streamStart, MemberOutput& output) {
    if (!options.decodedAhead) return AheadTake::NotOffered;
    const int64_t start = int64_t(stream.position) - streamStart;
    AheadOutcome outcome;
    if (!options.decodedAhead->DeliverAt(uint64_t(start), output, &outcome) || !outcome.complete ||
        output.Overflowed() || output.Length() != record.size || outcome.startOffset != uint64_t(start) ||
        outcome.endOffset > uint64_t(INT32_MAX) ||
        outcome.endOffset < uint64_t(start) + (uint64_t(record.size) + 1 + 7) / 8)
        return AheadTake::Refused;
    const int64_t next = streamStart + int64_t(outcome.endOffset);
    if (next > INT32_MAX) return AheadTake::Refused;
    return SkipTo(stream, next);
}

}  // namespace

const char* DescribeFailure(MemberFailure failure) {
    switch (failure) {
    case MemberFailure::None: return "ok";
    case MemberFailure::UnsafeName:
        return "its name is no safe file name: it would leave the install directory, names a device or no file, "
               "or holds a character Windows names cannot";
    case MemberFailure::BadName: return "its name cannot be converted for this system";
    case MemberFailure::PathTooLong: return "its path would be longer than 255 characters";
    case MemberFailure::CannotOpen: return "the file cannot be created";
    case MemberFailure::IsDirectory: return "a directory stands where the file goes";
    case MemberFailure::AccessDenied: return "permission denied (or a read-only file stands there)";
    case MemberFailure::NotDirectory: return "a file stands where one of its directories goes";
    case MemberFailure::ThroughLink: return "a symbolic link stands on its path; nothing is written through it";
    case MemberFailure::WriteFailed: return "writing the file failed";
    case MemberFailure::DiskFull: return "the disk is full";
    case MemberFailure::NotReplaced: return "the complete file could not be given its times or its name";
    case MemberFailure::BadTimes: return "its recorded times are no valid file times: the record is damaged";
    case MemberFailure::Corrupt: return "its record or its bytes do not match their CRC-32: the archive is corrupt";
    case MemberFailure::Damaged: return "the archive is damaged or truncated in this member";
    }
    return "unknown failure";
}

const char* DescribeDamage(Damage damage) {
    switch (damage) {
    case Damage::None: return "intact";
    case Damage::HeaderCut: return "the data ends inside the archive's 388-byte header";
    case Damage::RecordCut: return "the data ends inside a record";
    case Damage::DataCut: return "the data ends inside a member's coded bytes";
    case Damage::BadCode: return "a member's coded bytes hold a code no packer writes";
    case Damage::LongerThanRecord: return "a member decodes to more bytes than its record says";
    case Damage::ShorterThanRecord: return "a member decodes to fewer bytes than its record says";
    case Damage::DataAfterEnd: return "the archive's end mark is followed by more data";
    case Damage::TableMalformed: return "the installer's integrity data is malformed";
    case Damage::HeaderCorrupt: return "the archive's header does not match its CRC-32";
    case Damage::RecordMisplaced: return "a record is not where the integrity data puts it";
    case Damage::MemberCount: return "the archive holds another number of members than its integrity data lists";
    }
    return "damaged";
}

double ProgressFraction(uint32_t total, uint32_t totalSize) {
    return totalSize ? double(total) / double(totalSize) : 1.0;
}

void ReadSetupHeader(VolumeStream& stream, WorkerState& state, unsigned char* raw) {
    unsigned char bytes[SetupHeaderSize];
    stream.ReadBytes(bytes, SetupHeaderSize);
    ParseSetupHeader(bytes, &state.header);
    state.headerCrc = Crc32(0, bytes, SetupHeaderSize);
    if (raw) std::memcpy(raw, bytes, SetupHeaderSize);
}

bool IsSafeMemberName(const char* name) {
    if (name[0] == '\0' || IsSeparator(name[0])) return false;
    const char* component = name;
    for (const char* c = name;; ++c) {
        if (*c != '\0' && !IsSeparator(*c)) {
            // No Windows name holds these, so no program could land the member there: refused
            // everywhere, so that test, extract and the installer judge it alike on any system.
            if (std::strchr(":<>\"|?*", *c) || static_cast<unsigned char>(*c) < 0x20) return false;
            continue;
        }
        const size_t length = static_cast<size_t>(c - component);
        if (*c == '\0' && length == 0) return false;  // "DIR\" names no file
        // ".", "..", and what Windows trims to them ("...", ". .").
        if (length > 0 && std::strspn(component, ". ") >= length) return false;
        if (IsDeviceName(component, length)) return false;
        if (*c == '\0') return true;
        component = c + 1;
    }
}

void ExtractAll(VolumeStream& stream, WorkerState& state, Host& host, ExtractResult& result,
                const ExtractOptions& options) {
    // Both are far too large for the installer's 64 KB worker stack.
    const std::unique_ptr<HuffmanModel> model(new HuffmanModel());
    const std::unique_ptr<MemberOutput> output(new MemberOutput(host));
    MemberRecord record;
    char mapped[256];
    char target[256];
    char directories[256];
    const size_t dirLength = strnlen(state.installDir, 255);
    uint32_t total = 0;

    // The header was read before: data that ended inside it leaves nothing to trust.
    const IntegrityTable* const integrity = options.integrity;
    if (stream.AtVolumeEnd() && !stream.ReadFailed() && !stream.Stopped())
        RecordDamage(result, Damage::HeaderCut, nullptr);
    else if (options.integrityMalformed)
        RecordDamage(result, Damage::TableMalformed, nullptr);
    else if (integrity && integrity->headerCrc != state.headerCrc)
        RecordDamage(result, Damage::HeaderCorrupt, nullptr);
    if (result.damaged) {
        state.statusText.SetFirst('*');
        return;
    }
    // Stream offset of the next byte: the first byte is read with position S + 5.
    const int64_t streamStart = int64_t(stream.ArchiveOffset()) + 4;

    while (!stream.AtVolumeEnd()) {
        // Between members a paused run waits here and a stopped one ends, before anything of the
        // next member is read, published or created.
        if (host.ShouldStop()) {
            result.stopped = true;
            break;
        }
        const int64_t recordOffset = int64_t(stream.position) - streamStart;
        const NameEnd end = ReadName(stream, record);
        if (end == NameEnd::EndMark) {
            result.sawEndMark = true;
            // An end mark with data behind it is a name or a record gone wrong.
            if (stream.MoreDataInVolume()) RecordDamage(result, Damage::DataAfterEnd, nullptr);
        }
        if (end == NameEnd::Truncated) RecordDamage(result, Damage::RecordCut, nullptr);
        if (end != NameEnd::Terminator) {
            // The end: every member the integrity data lists must have come.
            if (integrity && end != NameEnd::Truncated && !stream.ReadFailed() && !stream.Stopped() &&
                result.members != integrity->entries.size())
                RecordDamage(result, Damage::MemberCount, nullptr);
            break;
        }
        const IntegrityEntry* entry = nullptr;
        if (integrity) {
            if (result.members >= integrity->entries.size()) {
                RecordDamage(result, Damage::MemberCount, nullptr);
                break;
            }
            entry = &integrity->entries[result.members];
            if (entry->recordOffset != uint64_t(recordOffset)) {
                RecordDamage(result, Damage::RecordMisplaced, &record);
                break;
            }
        }
        ++result.members;

        MemberFailure failure = MemberFailure::None;
        const char* name = record.name;
        if (record.nameLength > 0 && record.name[0] == '\0') failure = MemberFailure::UnsafeName;
        else if (!IsSafeMemberName(record.name)) failure = MemberFailure::UnsafeName;
        else if (options.nameMapper) {
            if (options.nameMapper->Map(record.name, mapped, sizeof mapped)) name = mapped;
            else failure = MemberFailure::BadName;
        }
        if (failure == MemberFailure::None &&
            (record.nameTooLong || dirLength + std::strlen(name) > 255))
            failure = MemberFailure::PathTooLong;
        const bool selected = !options.filter || options.filter->Selected(record);
        if (!selected) failure = MemberFailure::None;
        std::memcpy(target, state.installDir, dirLength);
        CopyText(target + dirLength, sizeof target - dirLength, name);
        // Published before the fields are read: a disk prompt while they are shows this member.
        state.statusText.Store(target);

        unsigned char fields[MemberFieldsSize];
        stream.ReadBytes(fields, MemberFieldsSize);
        record.size = ReadU32(fields);
        record.creationTime = ReadU64(fields + 4);
        record.lastAccessTime = ReadU64(fields + 12);
        record.lastWriteTime = ReadU64(fields + 20);
        // Such a time is refused by the system's file calls on Windows and not on POSIX: judged
        // here, every program reaches the same verdict.
        if (failure == MemberFailure::None &&
            (record.creationTime | record.lastAccessTime | record.lastWriteTime) >> 63)
            failure = MemberFailure::BadTimes;
        if (entry && !record.nameTooLong) {
            const unsigned char terminator = NameTerminator;
            uint32_t crc = Crc32(0, record.name, static_cast<size_t>(record.nameLength));
            crc = Crc32(crc, &terminator, 1);
            if (Crc32(crc, fields, MemberFieldsSize) != entry->recordCrc) failure = MemberFailure::Corrupt;
        }

        if (stream.AtVolumeEnd()) {
            // The record itself ran past the end of the data.
            if (!stream.ReadFailed() && !stream.Stopped()) RecordDamage(result, Damage::RecordCut, &record);
            RecordFailure(result, MemberFailure::Damaged, target);
            if (options.observer) options.observer->MemberFinished(record, 0, MemberFailure::Damaged);
            break;
        }
        result.sizes += record.size;
        if (options.observer) options.observer->MemberStarted(record, target);

        bool writing = false;
        bool kept = false;
        bool wanted = false;  // a file is to be written, unless its creation fails
        if (failure == MemberFailure::None && options.writeFiles && selected && !result.writeFailed) {
            failure = CheckTarget(target, dirLength, result.failureDetail, sizeof result.failureDetail);
            if (failure == MemberFailure::None) {
                std::memcpy(directories, target, sizeof directories);
                CutAtLastSeparator(directories);
                CreatePathDirectories(directories, host);
                uint64_t existing = 0;
                kept = !options.overwrite && ReadLastWriteTime(target, &existing) &&
                       CompareFileTimes(existing, record.lastWriteTime) >= 0;
                // An existing file as new as ours or newer stays; the member is decoded and dropped.
                wanted = !kept;
            }
        }
        const auto openOutput = [&] {
            FileError error = FileError::None;
            writing = wanted && output->Open(target, &error);
            if (wanted && !writing) failure = FailureOf(error);
            if (!writing) output->OpenDiscard();  // decoded all the same, so that the next record is found
            output->SetLimit(record.size);
        };
        openOutput();

        DecodeStatus status = DecodeStatus::Complete;
        const AheadTake take =
            entry ? TakeDecodedAhead(options, *entry, result.members - 1, record, stream, streamStart, *output)
                  : TakeDecodedAheadAt(options, record, stream, streamStart, *output);
        if (take == AheadTake::Refused) {
            output->Abandon();
            openOutput();
        }
        if (take == AheadTake::SkipFailed)
            status = stream.Stopped() ? DecodeStatus::Stopped : DecodeStatus::Damaged;
        else if (take == AheadTake::Taken)
            ++result.decodedAhead;
        else
            status = DecodeMember(*model, stream, *output);
        const uint64_t decoded = output->Length();
        result.decodedBytes += decoded;
        if (status == DecodeStatus::Stopped && output->Overflowed()) {
            RecordDamage(result, Damage::LongerThanRecord, &record);
            result.damagedLength = decoded + 1;
            result.damagedSize = record.size;
            status = DecodeStatus::Damaged;
        } else if (status == DecodeStatus::Complete && decoded != record.size) {
            RecordDamage(result, Damage::ShorterThanRecord, &record);
            result.damagedLength = decoded;
            result.damagedSize = record.size;
            status = DecodeStatus::Damaged;
        } else if (status == DecodeStatus::Damaged) {
            RecordDamage(result, stream.BitsPastEnd() || stream.AtVolumeEnd() ? Damage::DataCut : Damage::BadCode,
                         &record);
        }

        // Bytes that do not match their CRC never take the target's name.
        if (status == DecodeStatus::Complete && entry && output->Crc() != entry->dataCrc &&
            (failure == MemberFailure::None || failure == MemberFailure::Corrupt)) {
            failure = MemberFailure::Corrupt;
            if (writing) {
                output->Abandon();
                writing = false;
            }
            kept = false;
        }

        if (status == DecodeStatus::Complete) {
            total += record.size;
            state.progressFraction.Store(ProgressFraction(total, state.header.totalSize));
            stream.AlignToByte();
            if (writing) {
                if (!output->Finish()) {
                    failure = output->Error() == FileError::NoSpace ? MemberFailure::DiskFull : MemberFailure::WriteFailed;
                    result.writeFailed = true;
                    output->Abandon();
                } else if (!output->Commit(record.creationTime, record.lastAccessTime, record.lastWriteTime)) {
                    failure = output->Error() == FileError::AccessDenied ? MemberFailure::AccessDenied
                                                                         : MemberFailure::NotReplaced;
                }
            } else if (kept) {
                // A kept file carries the archived times as well, as every installed file does.
                SetFileTimes(target, record.creationTime, record.lastAccessTime, record.lastWriteTime);
            }
        } else {
            output->Abandon();
            if (status == DecodeStatus::Damaged) failure = MemberFailure::Damaged;
            else result.stopped = true;
        }
        if (failure != MemberFailure::None) RecordFailure(result, failure, target);
        if (options.observer) options.observer->MemberFinished(record, decoded, failure);
        if (status != DecodeStatus::Complete) break;
        // After a failed write nothing more is created: the disk is full or failing.
        if (result.writeFailed) break;
    }

    result.total = total;
    if (stream.ReadFailed()) result.readError = true;
    if (stream.Stopped()) result.stopped = true;
    if (result.Ok() && static_cast<uint32_t>(result.sizes) != state.header.totalSize)
        result.totalSizeDiffers = true;
    state.statusText.SetFirst('*');
}
