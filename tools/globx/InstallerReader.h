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
    ExtractResult Run(const ExtractOptions& options);

    // Reports a missing volume, a read error and damage found by the run; member failures are
    // the verbs' to report. damagedMember names the member the data ended in (empty when it ended
    // inside a record). Returns 0 when there was nothing to report, else 2.
    int ReportArchiveProblems(const ExtractResult& result, const std::string& damagedMember) const;

    // The host's record of the run: a missing volume or a read error stops reading early.
    const ConsoleHost& Host() const { return host; }

    WorkerState state;

private:
    std::string installer;
    VolumeHost host;
    std::unique_ptr<VolumeStream> stream;
};

// The base name of the continuation volumes: the installer's directory followed by "GLOB"
// ("GLOB" alone when the installer path names no directory).
std::string VolumeBaseName(const std::string& installerPath);
