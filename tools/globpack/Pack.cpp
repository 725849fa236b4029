#include "Pack.h"

#include <cstring>
#include <memory>

#include "ArchiveWriter.h"
#include "Crc32.h"
#include "HuffmanEncoder.h"
#include "IntegrityTable.h"
#include "MemberRecord.h"
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

bool PackInstaller(const std::vector<SourceFile>& files, const SetupHeader& header,
                   const std::vector<uint8_t>& stub, bool integrity, const std::filesystem::path& outDir,
                   TerminalProgress& progress, const MemberPacked& memberPacked,
                   PackResult* result, std::string* error) {
    ArchiveWriter writer(outDir);
    HuffmanEncoder encoder(writer);
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunkSize]);
    const uint64_t total = header.totalSize;
    uint64_t bytesIn = 0;

    IntegrityTable table;
    unsigned char headerBytes[SetupHeaderSize];
    SerializeSetupHeader(header, headerBytes);
    table.headerCrc = Crc32(0, headerBytes, SetupHeaderSize);
    bool ok = writer.Begin(stub.data(), stub.size()) && writer.WriteHeader(header);
    for (size_t i = 0; ok && i < files.size(); ++i) {
        const SourceFile& file = files[i];
        std::string reason;
        SourceReader input;
        if (!input.Open(file.path, &reason)) {
            *error = file.displayName + ": cannot be read (" + reason + "); check its permissions";
            writer.Abandon();
            return false;
        }
        IntegrityEntry entry;
        entry.recordOffset = writer.StreamLength();
        entry.recordCrc = MemberRecordCrc(RecordOf(file));
        entry.size = static_cast<uint32_t>(file.facts.size);
        ok = writer.WriteMemberRecord(RecordOf(file));
        if (!ok) break;
        const uint64_t codedBefore = encoder.BytesOut();
        encoder.BeginMember();
        uint64_t length = 0;
        for (;;) {
            const size_t got = input.Read(chunk.get(), kChunkSize);
            if (got == 0) break;
            encoder.Put(chunk.get(), got);
            entry.dataCrc = Crc32(entry.dataCrc, chunk.get(), got);
            length += got;
            bytesIn += got;
            progress.Update(bytesIn, total, file.displayName);
            // A failed sink is only learnt at EndMember; do not code the rest of a large file
            // for nothing.
            if (writer.Failed()) break;
        }
        ok = encoder.EndMember();
        if (!ok) break;
        // A file rewritten while it was read, even at the same size, may have given a torn
        // copy: its size and times are looked at again once every byte is in.
        const std::string change =
            length != file.facts.size ? "it gave " + std::to_string(length) + " bytes, " +
                                            std::to_string(file.facts.size) + " before"
                                      : SourceChange(file);
        if (input.Failed() || !change.empty()) {
            *error = input.Failed()
                         ? file.displayName + ": read failed; check the disk and run again"
                         : file.displayName + ": changed while it was packed (" + change +
                               "); nothing was written: run again when it is left alone";
            writer.Abandon();
            return false;
        }
        if (memberPacked) memberPacked(file, encoder.BytesOut() - codedBefore);
        table.entries.push_back(entry);
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
    result->bytesIn = bytesIn;
    result->streamLength = writer.StreamLength();
    result->bytesWritten = writer.BytesWritten();
    result->volumes = writer.VolumeNames();
    result->notes = writer.StaleVolumeNotes();
    return true;
}
