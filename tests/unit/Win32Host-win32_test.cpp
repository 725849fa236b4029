#include "Win32Host.h"

#include <gtest/gtest.h>

#include <atomic>

#include "InstallState.h"
#include "Win32Probe.h"

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

INT_PTR CALLBACK QuietPage(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

struct BoxAsk {
    Win32Host* host;
    int diskNumber;  // 0: the read-error box
    bool answer = false;
};

DWORD WINAPI AskOnWorker(void* parameter) {
    auto* ask = static_cast<BoxAsk*>(parameter);
    if (ask->diskNumber == 0) ask->host->ShowReadError();
    else ask->answer = ask->host->AskForDisk(ask->diskNumber, "GLOB2.DAT");
    return 0;
}

// The boxes the worker shows are owned by the progress page, which the main thread keeps
// dispatching; the page is disabled while one is up.
class WorkerBoxes : public ::testing::Test {
protected:
    void SetUp() override {
        if (!StubModule()) GTEST_SKIP() << "no stub at " GLOB_TEST_STUB_FILE;
        page = CreateDialogParamA(StubModule(), MAKEINTRESOURCEA(103), nullptr, QuietPage, 0);
        ASSERT_NE(page, nullptr);
        installState.activeWindow = page;
    }
    void TearDown() override {
        installState.activeWindow = nullptr;
        if (page) DestroyWindow(page);
    }
    DWORD RunOnWorker(BoxAsk& ask) {
        DWORD id = 0;
        const HANDLE thread = CreateThread(nullptr, 0xFFFF, AskOnWorker, &ask, 0, &id);
        EXPECT_NE(thread, nullptr);
        const DWORD start = GetTickCount();
        while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT && GetTickCount() - start < 10000) Pump(10);
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the box was not answered";
        CloseHandle(thread);
        return id;
    }
    HWND page = nullptr;
};

TEST_F(WorkerBoxes, ReadErrorBoxHasItsExactTextAnOkButtonNoIconAndNoBeep) {
    BoxRecorder boxes(IDOK);
    Win32Host host;
    BoxAsk ask{&host, 0};
    const DWORD worker = RunOnWorker(ask);
    const std::vector<BoxCall> calls = boxes.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].thread, worker);
    EXPECT_EQ(calls[0].text,
              "An error has occured while trying to read the install disk.  This disk may be defective.");
    EXPECT_EQ(calls[0].caption, "Disk Error");
    EXPECT_EQ(calls[0].type, UINT(MB_OK)) << "OK alone, no icon";
    EXPECT_EQ(calls[0].owner, page);
    EXPECT_FALSE(calls[0].ownerEnabled) << "the progress page stays enabled under the box";
    EXPECT_EQ(boxes.Beeps(), 0);
}

TEST_F(WorkerBoxes, DiskPromptNamesTheDiskAndAnswersOkOrCancel) {
    for (const int answer : {IDOK, IDCANCEL}) {
        SCOPED_TRACE(answer == IDOK ? "OK" : "Cancel");
        BoxRecorder boxes(answer);
        Win32Host host;
        BoxAsk ask{&host, 3};
        RunOnWorker(ask);
        EXPECT_EQ(ask.answer, answer == IDOK);
        const std::vector<BoxCall> calls = boxes.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].text, "Please insert disk number 3");
        EXPECT_EQ(calls[0].caption, "Disk Needed");
        EXPECT_EQ(calls[0].type, UINT(MB_OKCANCEL)) << "OK and Cancel, no icon";
        EXPECT_EQ(calls[0].owner, page);
        EXPECT_FALSE(calls[0].ownerEnabled) << "the progress page stays enabled under the prompt";
    }
}

}  // namespace
