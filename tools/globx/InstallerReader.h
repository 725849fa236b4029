#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Extract.h"
#include "VolumeHost.h"
#include "VolumeStream.h"
#include "WorkerState.h"

// One installer opened the way the installer opens itself: volume 0 is the installer, the
// continuation volumes are "<dir>/GLOB<k>.DAT". Every problem is reported as one line on stderr
// that names the file, says what went wrong and what to do.
class InstallerReader {
public:
    InstallerReader();
    ~InstallerReader();

    // Checks that the file is an installer (ProbeInstaller: not a directory, a continuation
    // volume, a bare stub or any other file), opens the volume set, positions it on the archive,
    // reads the header into state.header and checks that its texts are text. Continuation
    // volumes are looked for beside the installer, then in each of volumesDirs, under their
    // names in any case. Returns 0, or the exit status after reporting in one line why the
    // installer cannot be read; nothing else is printed before.
    int Open(const std::string& installerPath, const std::vector<std::string>& volumesDirs);

    // Runs ExtractAll over the members with the console host. state.installDir must be set.
    // result may be watched while the run goes on (an observer's failure details). With threads
    // above 1, that many threads decode members ahead (MemberDecoders with integrity data,
    // GuessingDecoders without); the run's messages, files and verdict are those of one
    // thread.
    void Run(const ExtractOptions& options, ExtractResult& result, unsigned threads = 1);

    // Reports a missing volume, a read error, damage and a stop found by the run, and warns of a
    // totalSize that disagrees with the members; member failures are the verbs' to report.
    // Returns the exit status of the one verdict on the run: 0 when result.Ok(), else 2.
    int ReportArchiveProblems(const ExtractResult& result, int codePage) const;

    // Bytes of the certificate table that a signature appended behind the trailer; 0 when the
    // installer is not signed (as FindTrailer judges it). Set by Open.
    int64_t CertificateSize() const { return certificateSize; }

    // The host's record of the run: a missing volume or a read error stops reading early.
    const ConsoleHost& Host() const { return host; }

    // The installer's integrity data, as Open found it.
    IntegrityParse Integrity() const { return integrityState; }
    const IntegrityTable& IntegrityData() const { return integrity; }

    // The Program Manager group stored by globpack --group, in the installer's code page; empty
    // when the installer sends its fixed group command.
    const std::string& ProgramGroup() const { return programGroup; }

    WorkerState state;

private:
    IntegrityTable integrity;
    IntegrityParse integrityState = IntegrityParse::Absent;
    std::string programGroup;
    std::string installer;
    std::vector<std::string> volumesDirs;
    int64_t certificateSize = 0;
    VolumeHost host;
    std::unique_ptr<VolumeStream> stream;
};

// The base name of the continuation volumes: the installer's directory followed by "GLOB"
// ("GLOB" alone when the installer path names no directory).
std::string VolumeBaseName(const std::string& installerPath);
