#include "InstallerReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "FileSystem.h"
#include "InstallerProbe.h"
#include "IntegrityData.h"
#include "MemberDecoders.h"
#include "PeTrailer.h"
#include "GuessingDecoders.h"
#include "SetupHeader.h"

namespace {

// Room that "<base>65535.DAT" and the installer path must leave in the stream's 256-byte names.
constexpr size_t MaxPathLength = 255;
constexpr size_t VolumeSuffixLength = 9;  // "65535.DAT"

}  // namespace

std::string VolumeBaseName(const std::string& installerPath) {
    const size_t separator = installerPath.find_last_of("/\\");
    if (separator == std::string::npos) return "GLOB";
    return installerPath.substr(0, separator + 1) + "GLOB";
}

InstallerReader::InstallerReader() : stream(new VolumeStream(host)) { host.Attach(stream.get()); }

InstallerReader::~InstallerReader() = default;

int InstallerReader::Open(const std::string& installerPath,
                          const std::vector<std::string>& volumesDirs) {
    installer = installerPath;
    this->volumesDirs = volumesDirs;
    const InputProbe probe = ProbeInstaller(installerPath);
    const std::string notInstaller = DescribeProbe(probe);
    if (!notInstaller.empty()) {
        std::fprintf(stderr, "globx: %s: %s\n", installerPath.c_str(), notInstaller.c_str());
        return 2;
    }
    const std::string baseName = VolumeBaseName(installerPath);
    host.SearchAlso(volumesDirs);
    if (installerPath.size() > MaxPathLength || baseName.size() + VolumeSuffixLength > MaxPathLength) {
        const bool installerTooLong = installerPath.size() > MaxPathLength;
        std::fprintf(stderr, "globx: %s: path too long (at most %u bytes): use a shorter path\n",
                     installerTooLong ? installerPath.c_str() : baseName.c_str(),
                     static_cast<unsigned>(installerTooLong ? MaxPathLength
                                                            : MaxPathLength - VolumeSuffixLength));
        return 1;
    }
    if (!stream->OpenVolumeSet(baseName.c_str(), installerPath.c_str())) {
        // The core only says that the open failed; ask once more to learn why.
        errno = 0;
        std::FILE* probe = OpenFile(installerPath.c_str(), "rb");
        const int error = errno;
        if (probe) std::fclose(probe);
        std::fprintf(stderr, "globx: %s: cannot open the installer (%s): check the path\n",
                     installerPath.c_str(), error ? std::strerror(error) : "unknown error");
        return 2;
    }
    if (std::fseek(stream->file, 0, SEEK_END) == 0)
        certificateSize = FindTrailer(stream->file, std::ftell(stream->file)).certificateSize;
    if (!stream->PositionAtArchive()) {
        std::fprintf(stderr,
                     "globx: %s: not an installer or damaged: its last four bytes do not point at an "
                     "archive\n",
                     installerPath.c_str());
        return 2;
    }
    integrityState = ReadIntegrityData(installerPath, stream->ArchiveOffset(), &integrity, &programGroup);
    unsigned char bytes[SetupHeaderSize];
    ReadSetupHeader(*stream, state, bytes);
    if (!stream->AtVolumeEnd() && !HeaderTextsAreText(bytes)) {
        // Behind a program whose trailer points at its end this is an installer, damaged;
        // behind anything else, most likely no installer at all.
        std::fprintf(stderr, "globx: %s: %s\n", installerPath.c_str(),
                     probe.peChecked ? "damaged archive: the header's texts are not text"
                                     : "not an installer");
        return 2;
    }
    if (stream->AtVolumeEnd()) {
        ExtractResult nothing;
        if (ReportArchiveProblems(nothing, 1252) == 0) {
            std::fprintf(stderr,
                         "globx: %s: not an installer or damaged: the archive ends inside its "
                         "388-byte header\n",
                         installerPath.c_str());
        }
        return 2;
    }
    return 0;
}

void InstallerReader::Run(const ExtractOptions& options, ExtractResult& result, unsigned threads) {
    ExtractOptions checked = options;
    checked.integrity = integrityState == IntegrityParse::Valid ? &integrity : nullptr;
    checked.integrityMalformed = integrityState == IntegrityParse::Malformed;
    // With integrity data the threads start at its record offsets (the last member, whose end no
    // next record vouches for, is decoded here); without it they guess where records start.
    const MemberDecoders::Source source{installer, VolumeBaseName(installer), volumesDirs};
    std::unique_ptr<DecodedAhead> decoders;
    if (threads > 1 && checked.integrity && integrity.entries.size() > 1)
        decoders.reset(new MemberDecoders(source, integrity, threads));
    else if (threads > 1 && integrityState == IntegrityParse::Absent)
        decoders.reset(new GuessingDecoders(source, threads));
    if (decoders) checked.decodedAhead = decoders.get();
    ExtractAll(*stream, state, host, result, checked);
}

int InstallerReader::ReportArchiveProblems(const ExtractResult& result, int codePage) const {
    if (result.totalSizeDiffers) {
        std::fprintf(stderr,
                     "globx: %s: warning: the header's totalSize is %u but the members' sizes add up "
                     "to %llu; the files are intact, only the installer's space check and progress "
                     "bar are off\n",
                     installer.c_str(), static_cast<unsigned>(state.header.totalSize),
                     static_cast<unsigned long long>(result.sizes));
    }
    if (host.MissingDisk() != 0) {
        std::fprintf(stderr,
                     "globx: volume %s (disk %d) is missing: put it beside the installer or pass "
                     "--volumes DIR\n",
                     host.MissingVolumeName().c_str(), host.MissingDisk());
        return 2;
    }
    if (host.ReadErrorSeen() || result.readError) {
        std::fprintf(stderr, "globx: %s: read error: the file may be damaged; copy it again\n",
                     stream->volumeName);
        return 2;
    }
    if (result.damaged) {
        // The volume that was being read when the damage showed is the one to look at.
        std::string what = DescribeDamage(result.damage);
        if (result.damagedMember[0] != '\0') {
            const std::string name = DisplayName(result.damagedMember, codePage);
            if (result.damage == Damage::LongerThanRecord)
                what = "member \"" + name + "\" decodes to more than the " +
                       std::to_string(result.damagedSize) + " bytes its record says";
            else if (result.damage == Damage::ShorterThanRecord)
                what = "member \"" + name + "\" decodes to " + std::to_string(result.damagedLength) +
                       " bytes but its record says " + std::to_string(result.damagedSize);
            else
                what = "member \"" + name + "\" cannot be decoded: " + what;
        }
        std::fprintf(stderr,
                     "globx: %s: damaged archive: %s; the installer or a volume is truncated or "
                     "corrupt\n",
                     stream->volumeName, what.c_str());
        return 2;
    }
    if (result.stopped) {
        std::fprintf(stderr, "globx: %s: reading stopped before the end of the archive\n",
                     installer.c_str());
        return 2;
    }
    if (result.writeFailed) {
        std::fprintf(stderr,
                     "globx: %s: stopped after a failed write: no further file was created; free "
                     "space and run again\n",
                     installer.c_str());
    }
    return result.Ok() ? 0 : 2;
}
