#include "Win32Host.h"

#include <gtest/gtest.h>

#include <atomic>

#include "InstallState.h"

namespace {

// A worker as the core runs one: a chunk of work, then a check.
struct Worker {
    Win32Host* host;
    std::atomic<long> chunks{0};
    std::atomic<bool> sawStop{false};
};

DWORD WINAPI WorkerLoop(void* parameter) {
    auto* worker = static_cast<Worker*>(parameter);
    while (!worker->host->ShouldStop()) {
        ++worker->chunks;
        Sleep(1);
    }
    worker->sawStop = true;
    return 0;
}

DWORD WINAPI ReturnAtOnce(void*) { return 0; }

bool WaitFor(const std::atomic<bool>& flag, bool value, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 5) {
        if (flag.load() == value) return true;
        Sleep(5);
    }
    return flag.load() == value;
}

TEST(Win32Host, PauseHoldsTheWorkerAndResumeLetsItGoOnWhereItWas) {
    Win32Host host;
    Worker worker{&host};
    HANDLE thread = CreateThread(nullptr, 0xFFFF, WorkerLoop, &worker, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    Sleep(30);

    host.Pause();
    ASSERT_TRUE(WaitFor(host.WorkerParkedFlag(), true, 2000));
    const long held = worker.chunks.load();
    Sleep(100);
    EXPECT_EQ(worker.chunks.load(), held) << "a paused worker made progress";

    host.Resume();
    ASSERT_TRUE(WaitFor(host.WorkerParkedFlag(), false, 2000));
    Sleep(50);
    EXPECT_GT(worker.chunks.load(), held);

    EXPECT_TRUE(host.StopAndWait(thread, 5000));
    EXPECT_TRUE(worker.sawStop.load());
    CloseHandle(thread);
}

TEST(Win32Host, StopReleasesAPausedWorker) {
    Win32Host host;
    Worker worker{&host};
    HANDLE thread = CreateThread(nullptr, 0xFFFF, WorkerLoop, &worker, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    host.Pause();
    ASSERT_TRUE(WaitFor(host.WorkerParkedFlag(), true, 2000));
    EXPECT_TRUE(host.StopAndWait(thread, 5000));
    EXPECT_TRUE(worker.sawStop.load());
    CloseHandle(thread);
}

TEST(Win32Host, AStoppedWorkerAsksNothingAndCancelSetsTheSharedFlag) {
    Win32Host host;
    installState.cancelRequested = 0;
    host.RequestCancel();
    EXPECT_EQ(installState.cancelRequested.load(), 1);
    installState.cancelRequested = 0;

    HANDLE finished = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr);
    EXPECT_TRUE(host.StopAndWait(finished, 5000));
    CloseHandle(finished);
    // No box may appear once stopped: these return at once with the answers that end the run.
    EXPECT_TRUE(host.ShouldStop());
    EXPECT_FALSE(host.AskForDisk(2, "GLOB1.DAT"));
    EXPECT_FALSE(host.ConfirmQuit());
    host.ShowReadError();
}

}  // namespace
