#include "Verify.h"

#include <cstring>
#include <memory>

#include "ConsoleHost.h"
#include "HuffmanDecoder.h"
#include "HuffmanModel.h"
#include "MemberRecord.h"
#include "TerminalProgress.h"
#include "VolumeStream.h"

namespace {

constexpr size_t kChunkSize = 1 << 16;

void PutLittleEndian(uint8_t* bytes, uint64_t value, int count) {
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

class Verifier {
public:
    Verifier(const std::filesystem::path& outDir, TerminalProgress& progress, std::string* error)
        : installer(outDir / "SETUP.EXE"),
          installerName(installer.u8string()),
          baseName((outDir / "GLOB").string()),
          stream(host),
          model(new HuffmanModel),
          expected(new uint8_t[kChunkSize]),
          progress(progress),
          error(*error) {}

    bool Run(const SetupHeader& header, const std::vector<SourceFile>& files);

private:
    bool Fail(const std::string& what) {
        if (host.MissingDisk() != 0)
            error = host.MissingVolumeName() + ": missing; it was written a moment ago: check the "
                    "output directory and run again";
        else if (host.ReadErrorSeen())
            error = installerName + ": read error while verifying; check the disk and run again";
        else
            error = installerName + ": " + what + "; do not ship this installer: run again";
        return false;
    }
    bool ReadName(std::string* name, bool* endMark);
    bool CompareMember(const SourceFile& file);

    const std::filesystem::path installer;
    const std::string installerName;
    const std::string baseName;
    ConsoleHost host;
    VolumeStream stream;
    std::unique_ptr<HuffmanModel> model;
    std::unique_ptr<uint8_t[]> expected;
    TerminalProgress& progress;
    uint64_t done = 0;
    uint64_t total = 0;
    std::string& error;
};

// A name as the installer reads it: the first byte whatever it is, then up to 0x00, or 0xFF for
// the end of the archive.
bool Verifier::ReadName(std::string* name, bool* endMark) {
    name->assign(1, static_cast<char>(stream.ReadByte()));
    for (;;) {
        const int c = stream.ReadByte();
        if (c == NameTerminator || c == ArchiveEndMark || c < 0) {
            *endMark = c == ArchiveEndMark;
            return c >= 0;
        }
        if (name->size() > 255) return false;
        *name += static_cast<char>(c);
    }
}

bool Verifier::CompareMember(const SourceFile& file) {
    std::string reason;
    SourceReader input;
    if (!input.Open(file.path, &reason)) {
        error = file.displayName + ": cannot be read again (" + reason + "); run again";
        return false;
    }
    InitializeModel(*model);
    uint64_t length = 0;  // bytes decoded and compared
    size_t have = 0;
    size_t next = 0;
    for (;;) {
        const int c = DecodeSymbol(*model, stream);
        if (c < 0 || stream.BitsPastEnd())
            return Fail("the coded data of " + file.displayName + " is damaged");
        if (c == EndOfStream) {
            uint8_t more;
            if (next != have || input.Read(&more, 1) != 0)
                return Fail(file.displayName + " decodes to " + std::to_string(length) +
                            " bytes, fewer than the source holds");
            break;
        }
        if (next == have) {
            have = input.Read(expected.get(), kChunkSize);
            next = 0;
            done += have;
            progress.Update(done, total, file.displayName);
            if (have == 0)
                return Fail(file.displayName + " decodes to more bytes than the source holds");
        }
        if (expected[next] != c)
            return Fail(file.displayName + " differs from the source at byte " +
                        std::to_string(length));
        ++next;
        ++length;
        UpdateModel(*model, c);
    }
    stream.AlignToByte();
    return true;
}

bool Verifier::Run(const SetupHeader& header, const std::vector<SourceFile>& files) {
    total = header.totalSize;
    if (!stream.OpenVolumeSet(baseName.c_str(), installer.string().c_str()))
        return Fail("cannot be opened");
    if (!stream.PositionAtArchive()) return Fail("the trailer does not point into the file");

    uint8_t headerBytes[SetupHeaderSize];
    uint8_t wanted[SetupHeaderSize];
    stream.ReadBytes(headerBytes, SetupHeaderSize);
    SerializeSetupHeader(header, wanted);
    if (std::memcmp(headerBytes, wanted, SetupHeaderSize) != 0)
        return Fail("the header reads back differently");

    for (const SourceFile& file : files) {
        std::string name;
        bool endMark = false;
        if (!ReadName(&name, &endMark) || endMark || name != file.storedName)
            return Fail("the record of " + file.displayName + " reads back differently");
        uint8_t fields[MemberFieldsSize];
        uint8_t wantedFields[MemberFieldsSize];
        stream.ReadBytes(fields, MemberFieldsSize);
        PutLittleEndian(wantedFields, file.facts.size, 4);
        PutLittleEndian(wantedFields + 4, file.facts.creationTime, 8);
        PutLittleEndian(wantedFields + 12, file.facts.lastAccessTime, 8);
        PutLittleEndian(wantedFields + 20, file.facts.lastWriteTime, 8);
        if (std::memcmp(fields, wantedFields, MemberFieldsSize) != 0)
            return Fail("the size or times of " + file.displayName + " read back differently");
        if (!CompareMember(file)) return false;
    }

    std::string name;
    bool endMark = false;
    if (!ReadName(&name, &endMark) || !endMark || name != "\xFF")
        return Fail("the end mark is missing after the last member");
    progress.Clear();
    return true;
}

}  // namespace

bool VerifyInstaller(const std::filesystem::path& outDir, const SetupHeader& header,
                     const std::vector<SourceFile>& files, TerminalProgress& progress,
                     std::string* error) {
    Verifier verifier(outDir, progress, error);
    return verifier.Run(header, files);
}
