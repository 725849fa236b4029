#include "Pack.h"

#include <cstring>
#include <memory>

#include "ArchiveWriter.h"
#include "Crc32.h"
#include "IntegrityTable.h"
#include "MemberRecord.h"
#include "ParallelEncoder.h"
#include "StubEdit.h"
#include "TerminalProgress.h"

namespace {

constexpr size_t kChunkSize = 1 << 16;

MemberRecord RecordOf(const SourceFile& file) {
    MemberRecord record = {};
    std::memcpy(record.name, file.storedName.data(), file.storedName.size());
    record.nameLength = static_cast<int>(file.storedName.size());
    record.size = static_cast<uint32_t>(file.facts.size);
    record.creationTime = file.facts.creationTime;
    record.lastAccessTime = file.facts.lastAccessTime;
    record.lastWriteTime = file.facts.lastWriteTime;
    return record;
}

}  // namespace

std::string SourceChange(const SourceFile& file) {
    SourceFacts now;
    std::string reason;
    if (!ReadSourceFacts(file.path, &now, &reason)) return "can no longer be examined (" + reason + ")";
    if (now.size != file.seen.size)
        return "its size moved from " + std::to_string(file.seen.size) + " to " +
               std::to_string(now.size) + " bytes";
    if (now.lastWriteTime != file.seen.lastWriteTime) return "its modification time moved";
    if (now.changeTime != file.seen.changeTime) return "its change time moved";
    return std::string();
}

namespace {

// What a worker learnt reading one source file, for the writer to judge in archive order.
struct MemberRead {
    bool opened = false;
    std::string openError;  // the system's reason when the file did not open
    bool readFailed = false;
    uint64_t length = 0;
    uint32_t dataCrc = 0;
    std::string change;  // empty unless the file moved while it was read (SourceChange)
};

// Reads a source file and passes its bytes to the coder; runs on a worker.
void ReadMember(const SourceFile& file, MemberRead& read, MemberCoder& coder) {
    SourceReader input;
    if (!input.Open(file.path, &read.openError)) return;
    read.opened = true;
    if (!coder.Begin()) return;
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunkSize]);
    for (;;) {
        const size_t got = input.Read(chunk.get(), kChunkSize);
        if (got == 0) break;
        read.dataCrc = Crc32(read.dataCrc, chunk.get(), got);
        read.length += got;
        // False once the run is ending: do not code the rest of a large file for nothing.
        if (!coder.Put(chunk.get(), got)) return;
    }
    read.readFailed = input.Failed();
    // A file rewritten while it was read, even at the same size, may have given a torn copy:
    // its size and times are looked at again once every byte is in.
    if (read.length != file.facts.size)
        read.change = "it gave " + std::to_string(read.length) + " bytes, " +
                      std::to_string(file.facts.size) + " before";
    else
        read.change = SourceChange(file);
}

// Writes each member's record and coded bytes, in archive order, and judges what its reading
// found; the first member that fails ends the run with its error.
class ArchiveOutput : public CodedOutput {
public:
    ArchiveOutput(const std::vector<SourceFile>& files, const std::vector<MemberRead>& reads,
                  ArchiveWriter& writer, uint64_t total, TerminalProgress& progress,
                  const MemberPacked& memberPacked, IntegrityTable& table, std::string* error)
        : files(files), reads(reads), writer(writer), total(total), progress(progress),
          memberPacked(memberPacked), table(table), error(error) {}

    bool BeginMember(size_t member) override {
        const SourceFile& file = files[member];
        entry = IntegrityEntry();
        entry.recordOffset = writer.StreamLength();
        entry.recordCrc = MemberRecordCrc(RecordOf(file));
        entry.size = static_cast<uint32_t>(file.facts.size);
        if (!writer.WriteMemberRecord(RecordOf(file))) return false;
        codedBefore = writer.StreamLength();
        return true;
    }

    bool Write(size_t, const uint8_t* data, size_t count) override { return writer.Write(data, count); }

    void Progress(size_t member, uint64_t inputBytes) override {
        bytesIn += inputBytes;
        progress.Update(bytesIn, total, files[member].displayName);
    }

    bool EndMember(size_t member) override {
        const SourceFile& file = files[member];
        const MemberRead& read = reads[member];
        if (!read.opened) {
            *error = file.displayName + ": cannot be read (" + read.openError +
                     "); check its permissions";
            return false;
        }
        if (read.readFailed || !read.change.empty()) {
            *error = read.readFailed
                         ? file.displayName + ": read failed; check the disk and run again"
                         : file.displayName + ": changed while it was packed (" + read.change +
                               "); nothing was written: run again when it is left alone";
            return false;
        }
        if (memberPacked) memberPacked(file, writer.StreamLength() - codedBefore);
        entry.dataCrc = read.dataCrc;
        table.entries.push_back(entry);
        return true;
    }

    uint64_t BytesIn() const { return bytesIn; }

private:
    const std::vector<SourceFile>& files;
    const std::vector<MemberRead>& reads;
    ArchiveWriter& writer;
    const uint64_t total;
    TerminalProgress& progress;
    const MemberPacked& memberPacked;
    IntegrityTable& table;
    std::string* error;
    IntegrityEntry entry;
    uint64_t codedBefore = 0;
    uint64_t bytesIn = 0;
};

}  // namespace

bool PackInstaller(const std::vector<SourceFile>& files, const SetupHeader& header,
                   const std::vector<uint8_t>& stub, bool integrity, unsigned threads,
                   const std::filesystem::path& outDir, TerminalProgress& progress,
                   const MemberPacked& memberPacked, PackResult* result, std::string* error) {
    ArchiveWriter writer(outDir);
    IntegrityTable table;
    unsigned char headerBytes[SetupHeaderSize];
    SerializeSetupHeader(header, headerBytes);
    table.headerCrc = Crc32(0, headerBytes, SetupHeaderSize);
    bool ok = writer.Begin(stub.data(), stub.size()) && writer.WriteHeader(header);

    std::vector<MemberRead> reads(files.size());
    ArchiveOutput output(files, reads, writer, header.totalSize, progress, memberPacked, table,
                         error);
    if (ok) {
        ParallelEncoding settings;
        settings.threads = threads;
        error->clear();
        ok = RunParallelEncoding(
            settings, files.size(),
            [&files, &reads](size_t member, MemberCoder& coder) {
                ReadMember(files[member], reads[member], coder);
            },
            output, error);
        // A member's own error (or the coder's) was set; otherwise the writer failed.
        if (!ok && !error->empty()) {
            writer.Abandon();
            return false;
        }
    }
    if (ok && integrity) {
        std::vector<uint8_t> filled = stub;
        if (!FillIntegrityTable(table, &filled)) {
            *error = "the stub has no room for the integrity data; pass --no-integrity";
            writer.Abandon();
            return false;
        }
        writer.ReplaceStub(std::move(filled));
    }
    if (ok) ok = writer.Commit();
    progress.Clear();
    if (!ok) {
        *error = writer.Error();
        return false;
    }
    result->bytesIn = output.BytesIn();
    result->streamLength = writer.StreamLength();
    result->bytesWritten = writer.BytesWritten();
    result->volumes = writer.VolumeNames();
    result->notes = writer.StaleVolumeNotes();
    return true;
}
