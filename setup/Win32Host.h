#pragma once

#include <windows.h>

#include <atomic>

#include "Host.h"

// The installer's host for the archive core: the disk prompts and the read-error box as message
// boxes owned by installState.activeWindow, and cooperative control of the install worker. The
// worker calls ShouldStop between chunks of work and around every prompt; the main thread pauses,
// resumes and stops it through this object, so the worker is never suspended or killed while it
// may hold a lock.
class Win32Host : public Host {
public:
    Win32Host();
    ~Win32Host() override;
    Win32Host(const Win32Host&) = delete;
    Win32Host& operator=(const Win32Host&) = delete;

    void Beep() override;
    bool AskForDisk(int diskNumber, const char* volumeName) override;
    void ShowReadError() override;
    bool ConfirmQuit() override;
    void RequestCancel() override;
    // Blocks while paused; true once a stop was requested.
    bool ShouldStop() override;

    // Main thread. The worker makes no progress from its next check until Resume.
    void Pause();
    void Resume();
    // Asks the worker to stop and waits until its thread has ended, dispatching messages
    // meanwhile (the worker's message boxes talk to their owner on this thread) and closing any
    // box the worker shows. False when the thread has not ended within timeoutMs.
    bool StopAndWait(HANDLE workerThread, DWORD timeoutMs);

    bool StopRequested() const { return stopRequested.load(); }
    // True while the worker is held in ShouldStop by a pause.
    bool WorkerParked() const { return parked.load(); }
    const std::atomic<bool>& WorkerParkedFlag() const { return parked; }

private:
    void CloseWorkerBoxes() const;

    HANDLE running;  // manual reset: signalled while not paused
    HANDLE stopping; // manual reset: signalled once a stop is requested
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> parked{false};
    std::atomic<DWORD> workerThreadId{0};
};

// The installer's one host: the archive stream's and the install worker's.
extern Win32Host installHost;
