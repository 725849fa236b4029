#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ByteSink.h"
#include "MemberRecord.h"
#include "SetupHeader.h"
#include "VolumeStream.h"

// The largest stub that leaves volume 0 room for its 0xFF byte and one stream byte: volume 0
// holds stream bytes up to file offset VolumeSpan - 6.
constexpr int64_t MaxStubSize = VolumeSpan - 7;

// Stream bytes (the end mark included) that fit behind a stub of stubSize bytes before the
// reader's position counter, a signed 32-bit value, would reach INT32_MAX.
int64_t MaxStreamLength(int64_t stubSize);

// Writes an installer into a directory, laid out as VolumeStream reads it: volume 0 (the file
// firstVolumeName) is the stub, one 0xFF byte, the stream from offset S = stubSize + 1 up to
// offset VolumeSpan - 6 at most, and a 4-byte little-endian trailer holding S. The stream goes on
// in GLOB1.DAT, GLOB2.DAT, ... ; every continuation but the last holds exactly VolumeSpan bytes.
//
// Files are written to temporary names ("<name>.part") beside their final ones and renamed into
// place by Commit, so a failed run leaves an existing installer as it was. The writer streams: it
// keeps only the open volume. Destroying a writer that was not committed removes what it wrote.
//
// Every failure makes all later calls fail; Error() then says, in one line, which file, what went
// wrong and what to do.
class ArchiveWriter : public ByteSink {
public:
    explicit ArchiveWriter(std::filesystem::path outDir, std::string firstVolumeName = "SETUP.EXE");
    ~ArchiveWriter() override;
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Creates volume 0 and writes the stub and the 0xFF byte. Refuses a stub over MaxStubSize.
    bool Begin(const uint8_t* stub, size_t stubSize);

    // The stream's parts in their order: the header, then for every member its record followed by
    // its coded bit stream (through Write, as a HuffmanEncoder's sink).
    bool WriteHeader(const SetupHeader& header);
    // Refuses an empty name and a name with 0xFF after its first byte (the reader's end mark).
    bool WriteMemberRecord(const MemberRecord& record);
    bool Write(const uint8_t* data, size_t count) override;

    // Has Commit write stub over the stub written by Begin (of the same size), before anything
    // is renamed into place: for what is known only once every member is coded.
    void ReplaceStub(std::vector<uint8_t> stub) { replacementStub = std::move(stub); }

    // Writes the end mark 0xFF 0xFF, finishes the volumes and renames them into place. Then
    // removes GLOB<n>.DAT files beyond the last volume (left by an earlier, larger installer):
    // StaleVolumeNotes() says what was found. False, with nothing left of this run, on failure.
    bool Commit();

    // Removes everything this run wrote (every failure does this by itself). No effect after a
    // successful Commit.
    void Abandon();

    bool Failed() const { return failed; }
    const std::string& Error() const { return error; }

    // Stream bytes written so far (after Commit: the end mark included).
    uint64_t StreamLength() const { return streamLength; }
    // Bytes in all volume files, stub and trailer included.
    uint64_t BytesWritten() const { return bytesWritten; }
    // Final file names of the volumes begun so far: firstVolumeName, "GLOB1.DAT", ...
    const std::vector<std::string>& VolumeNames() const { return volumeNames; }
    const std::vector<std::string>& StaleVolumeNotes() const { return staleNotes; }

    std::filesystem::path FinalPath(size_t volume) const;

private:
    std::filesystem::path TemporaryPath(size_t volume) const;
    bool OpenNextVolume();
    bool CloseVolume();
    bool PutRaw(const uint8_t* data, size_t count);
    bool Fail(const std::filesystem::path& file, const std::string& what, const std::string& todo);
    bool RenameIntoPlace();
    bool WriteReplacementStub();
    void RemoveTemporaries();
    void RemoveStaleVolumes();

    std::filesystem::path outDir;
    std::string firstVolumeName;
    std::ofstream file;
    int64_t stubSize = -1;  // -1 until Begin
    int64_t spaceInVolume = 0;
    uint64_t streamLength = 0;
    uint64_t bytesWritten = 0;
    bool failed = false;
    bool committed = false;
    std::string error;
    std::vector<std::string> volumeNames;
    size_t createdVolumes = 0;  // temporary files made so far (a failed open adds a name only)
    std::vector<std::string> staleNotes;
    std::vector<uint8_t> replacementStub;
};
