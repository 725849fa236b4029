#include <windows.h>

#include <cstring>

#include "Backdrop.h"
#include "InstallState.h"
#include "InstallWorker.h"
#include "Pages.h"
#include "Progman.h"
#include "ProgmanCommands.h"
#include "ProgressPage.h"
#include "Texts.h"
#include "Win32Host.h"
#include "resource.h"

namespace {

struct Page {
    int templateId;
    DLGPROC procedure;
};

// The fixed order; the first page that ends with 0 ends the run.
const Page Pages[] = {
    {IDD_AGREEMENT_PAGE, AgreementPageProc},
    {IDD_DRIVE_PAGE, DrivePageProc},
    {IDD_DIRECTORY_PAGE, DirectoryPageProc},
    {IDD_PROGRESS_PAGE, ProgressPageProc},
};

// The integrity data among the program's own resources; a missing resource or the stub's
// placeholder is none.
void ReadIntegrity() {
    const HRSRC found = FindResourceA(installState.instance, MAKEINTRESOURCEA(IDR_INTEGRITY), "INTEGRITY");
    const HGLOBAL loaded = found ? LoadResource(installState.instance, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return;
    installState.integrityState = ParseIntegrityTable(static_cast<const uint8_t*>(bytes),
                                                      SizeofResource(installState.instance, found),
                                                      &installState.integrity);
}

// The Program Manager group among the program's own resources. A name the group command could
// not carry is left out, as though none were given: the fixed command goes out instead.
void ReadProgramGroup() {
    const HRSRC found = FindResourceA(installState.instance, MAKEINTRESOURCEA(IDR_PROGRAM_GROUP), "PMGROUP");
    const HGLOBAL loaded = found ? LoadResource(installState.instance, found) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    const DWORD size = found ? SizeofResource(installState.instance, found) : 0;
    if (!bytes || !IsGroupName(bytes, size)) return;
    std::memcpy(installState.groupName, bytes, size);
    installState.groupName[size] = 0;
}

// Reads the header behind the trailer. The texts are cut to their fields, so that nothing reads
// past one. False when there is no archive, its data ends inside the header (the pages would show
// made-up texts), or the integrity data is unsound or says the header is damaged.
bool ReadHeader(VolumeStream& archive) {
    if (!archive.PositionAtArchive()) return false;
    ReadSetupHeader(archive, installState);
    ReadIntegrity();
    ReadProgramGroup();
    if (installState.integrityState == IntegrityParse::Malformed) return false;
    if (installState.integrityState == IntegrityParse::Valid &&
        installState.integrity.headerCrc != installState.headerCrc)
        return false;
    return !archive.AtVolumeEnd();
}

bool RunPages() {
    for (const Page& page : Pages) {
        if (DialogBoxParamA(installState.instance, MAKEINTRESOURCEA(page.templateId),
                            installState.backdropWindow, page.procedure, 0) == 0)
            return false;
    }
    return true;
}

// The worker has written its end mark when the progress page ends with 1; its result is final
// once the thread has returned.
bool InstallSucceeded() {
    if (!installState.workerThread) return false;
    WaitForSingleObject(installState.workerThread, INFINITE);
    return installResult.Ok();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    installState.archive.reset();
    installState.progressFraction.Store(0.0);
    installState.instance = instance;
    installState.activeWindow = CreateBackdropWindow(instance);

    installState.archive.reset(new VolumeStream(installHost));
    char executable[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, executable, sizeof executable - 1);
    bool succeeded = false;
    // Volumes are looked for in the current directory, as designed, and then beside SETUP.EXE,
    // so that "D:\SETUP" started from elsewhere finds its GLOB1.DAT without a prompt.
    char besideExecutable[MAX_PATH] = {};
    lstrcpynA(besideExecutable, executable, sizeof besideExecutable);
    if (char* name = std::strrchr(besideExecutable, '\\')) {
        lstrcpynA(name + 1, "GLOB", static_cast<int>(sizeof besideExecutable - (name + 1 - besideExecutable)));
        installState.archive->SetSecondBaseName(besideExecutable);
    }
    if (installState.archive->OpenVolumeSet("GLOB", executable)) {
        // An installer whose trailer points nowhere has no archive: no page is shown, and the
        // failure message says so.
        const bool readable = ReadHeader(*installState.archive);
        InvalidateRect(installState.backdropWindow, nullptr, FALSE);

        succeeded = readable && RunPages() && InstallSucceeded();
        char message[256];
        wsprintfA(message, LoadText(succeeded ? IDS_INSTALL_SUCCEEDED : IDS_INSTALL_FAILED),
                  installState.header.programName);
        if (succeeded) PostProgmanCommands();
        MessageBoxA(nullptr, message, installState.header.caption, MB_OK);
    }

    // A worker that did not stop in time may still read the archive; the process's end takes both.
    if (!installState.workerThread || WaitForSingleObject(installState.workerThread, 0) == WAIT_OBJECT_0) {
        if (installState.archive) installState.archive->CloseVolume();
        installState.archive.reset();
    }
    // A caller can tell a complete install from a failed or abandoned one.
    return succeeded ? 0 : 1;
}
