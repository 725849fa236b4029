#pragma once

#include <windows.h>

#include "Extract.h"

// The install worker thread: completes installDir with a trailing backslash and extracts every
// member of installState.archive under it, publishing statusText and progressFraction. Paused,
// resumed and stopped through installHost. The result is final once the thread has ended.
DWORD WINAPI InstallWorker(LPVOID);

extern ExtractResult installResult;
