#pragma once

#include <windows.h>

#include <memory>

#include "IntegrityTable.h"
#include "VolumeStream.h"
#include "WorkerState.h"

// The installer's process-wide values, zeroed at start and alive until exit. The part the install
// worker shares with the main thread (header, installDir, statusText, progressFraction,
// cancelRequested) is the portable WorkerState; the rest belongs to the main thread.
struct InstallState : WorkerState {
    HINSTANCE instance = nullptr;
    HWND backdropWindow = nullptr;
    HWND activeWindow = nullptr;  // owner of the disk prompts and the read-error box
    RECT clientRect = {};         // the backdrop's client area, kept on every size change
    std::unique_ptr<VolumeStream> archive;
    HANDLE workerThread = nullptr;
    char textBuffer[256] = {};  // LoadText's result, overwritten by the next call
    char sizeText[256] = {};    // FormatSize's result, overwritten by the next call
    HWND progmanWindow = nullptr;
    int ddeInitiating = 0;
    int ddeExecutePending = 0;
    HPALETTE palette = nullptr;
    HBRUSH barBrush = nullptr;
    HPEN blackPen = nullptr;
    HPEN grayPen = nullptr;
    HPEN whitePen = nullptr;
    // The integrity data of the installer's own resources, read with the header.
    IntegrityTable integrity;
    IntegrityParse integrityState = IntegrityParse::Absent;
    // The Program Manager group of the installer's own resources; empty: the fixed command.
    char groupName[64] = {};
};

extern InstallState installState;
