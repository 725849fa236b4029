#include "InstallWorker.h"

#include <cstring>

#include "InstallState.h"
#include "Win32Host.h"

ExtractResult installResult;

DWORD WINAPI InstallWorker(LPVOID) {
    char* const dir = installState.installDir;
    const size_t length = strnlen(dir, sizeof installState.installDir - 1);
    // A 255-character directory has no room for the backslash; every member then fails as too
    // long for its path instead of landing beside the directory.
    if ((length == 0 || dir[length - 1] != '\\') && length + 1 < sizeof installState.installDir) {
        dir[length] = '\\';
        dir[length + 1] = '\0';
    }
    ExtractOptions options;
    if (installState.integrityState == IntegrityParse::Valid) options.integrity = &installState.integrity;
    ExtractAll(*installState.archive, installState, installHost, installResult, options);
    return 0;
}
