#include "Extract.h"

#include <cctype>
#include <cstring>
#include <memory>

#include "CreatePathDirectories.h"
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

}  // namespace

const char* DescribeFailure(MemberFailure failure) {
    switch (failure) {
    case MemberFailure::None: return "ok";
    case MemberFailure::UnsafeName: return "its name would leave the install directory or names a device";
    case MemberFailure::BadName: return "its name cannot be converted for this system";
    case MemberFailure::PathTooLong: return "its path would be longer than 255 characters";
    case MemberFailure::CannotOpen: return "the file cannot be created";
    case MemberFailure::WriteFailed: return "writing the file failed (is the disk full?)";
    case MemberFailure::Damaged: return "the archive is damaged or truncated in this member";
    }
    return "unknown failure";
}

bool IsSafeMemberName(const char* name) {
    if (name[0] == '\0' || IsSeparator(name[0])) return false;
    const char* component = name;
    for (const char* c = name;; ++c) {
        if (*c != '\0' && !IsSeparator(*c)) {
            if (*c == ':' || static_cast<unsigned char>(*c) < 0x20) return false;
            continue;
        }
        const size_t length = static_cast<size_t>(c - component);
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

    while (!stream.AtVolumeEnd()) {
        const NameEnd end = ReadName(stream, record);
        if (end == NameEnd::EndMark) result.sawEndMark = true;
        if (end == NameEnd::Truncated) result.damaged = true;
        if (end != NameEnd::Terminator) break;
        ++result.members;

        unsigned char fields[MemberFieldsSize];
        stream.ReadBytes(fields, MemberFieldsSize);
        record.size = ReadU32(fields);
        record.creationTime = ReadU64(fields + 4);
        record.lastAccessTime = ReadU64(fields + 12);
        record.lastWriteTime = ReadU64(fields + 20);

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
        state.statusText.Store(target);

        if (stream.AtVolumeEnd()) {
            // The record itself ran past the end of the data.
            result.damaged = true;
            RecordFailure(result, MemberFailure::Damaged, target);
            if (options.observer) options.observer->MemberFinished(record, 0, MemberFailure::Damaged);
            break;
        }
        if (options.observer) options.observer->MemberStarted(record, target);

        bool writing = false;
        if (failure == MemberFailure::None && options.writeFiles && selected) {
            std::memcpy(directories, target, sizeof directories);
            CutAtLastSeparator(directories);
            CreatePathDirectories(directories, host);
            uint64_t existing = 0;
            const bool keep = !options.overwrite && ReadLastWriteTime(target, &existing) &&
                              CompareFileTimes(existing, record.lastWriteTime) >= 0;
            if (keep) {
                // An existing file as new as ours or newer stays; the member is decoded and dropped.
                if (!output->Open(NullDeviceName())) output->OpenDiscard();
            } else if (output->Open(target)) {
                writing = true;
            } else {
                failure = MemberFailure::CannotOpen;
                output->OpenDiscard();
            }
        } else {
            // Never written, but decoded all the same so that the next record is found.
            output->OpenDiscard();
        }

        const DecodeStatus status = DecodeMember(*model, stream, *output);
        const uint64_t decoded = output->Length();
        const bool closed = output->Close();
        result.decodedBytes += decoded;
        if (status == DecodeStatus::Damaged) {
            result.damaged = true;
            failure = MemberFailure::Damaged;
        } else if (status == DecodeStatus::Stopped) {
            result.stopped = true;
        } else if (writing && !closed && failure == MemberFailure::None) {
            failure = MemberFailure::WriteFailed;
        }

        if (status == DecodeStatus::Complete) {
            total += record.size;
            const uint32_t totalSize = state.header.totalSize;
            state.progressFraction.Store(totalSize ? double(total) / double(totalSize) : 1.0);
            stream.AlignToByte();
            if (failure == MemberFailure::None && options.writeFiles && selected)
                SetFileTimes(target, record.creationTime, record.lastAccessTime, record.lastWriteTime);
        }
        if (failure != MemberFailure::None) RecordFailure(result, failure, target);
        if (options.observer) options.observer->MemberFinished(record, decoded, failure);
        if (status != DecodeStatus::Complete) break;
    }

    result.total = total;
    if (stream.ReadFailed()) result.readError = true;
    if (stream.Stopped()) result.stopped = true;
    state.statusText.SetFirst('*');
}
