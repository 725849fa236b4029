#include "Progman.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Backdrop.h"
#include "InstallState.h"
#include "Win32Probe.h"

namespace {

// A Program Manager of the test's own, in this process: it answers the initiate, records every
// command block and acknowledges it with a packed lParam, as Win32 posts it.
struct Event {
    HWND server;
    UINT message;
    HWND from;
    std::string text;
    SIZE_T blockSize;
    HGLOBAL block;
    bool moveable;  // its handle is not its address
};
std::vector<Event> events;
bool answerWithStringAtom = true;
WORD commandStatus = 0x8000;  // the answer to each command: positive, or 0 for a negative one

LRESULT CALLBACK ServerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND from = reinterpret_cast<HWND>(wParam);
    switch (message) {
    case WM_DDE_INITIATE: {
        char application[32] = {};
        GlobalGetAtomNameA(LOWORD(lParam), application, sizeof application);
        // Atoms keep the case of their first registration, which may be another server's.
        if (lstrcmpiA(application, "PROGMAN") != 0) return 0;
        events.push_back({window, message, from, "", 0, nullptr, false});
        // An integer atom (below 0xC000) stands for a server that does not speak the protocol.
        const ATOM answer = answerWithStringAtom ? GlobalAddAtomA("PROGMAN") : ATOM{0x0042};
        SendMessageA(from, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), MAKELPARAM(answer, answer));
        return 0;
    }
    case WM_DDE_EXECUTE: {
        const HGLOBAL block = reinterpret_cast<HGLOBAL>(lParam);
        const char* text = static_cast<const char*>(GlobalLock(block));
        events.push_back({window, message, from, text ? text : "", GlobalSize(block), block,
                          text != nullptr && static_cast<const void*>(text) != block});
        GlobalUnlock(block);
        PostMessageA(from, WM_DDE_ACK, reinterpret_cast<WPARAM>(window),
                     PackDDElParam(WM_DDE_ACK, commandStatus, reinterpret_cast<UINT_PTR>(block)));
        return 0;
    }
    case WM_DDE_TERMINATE:
        events.push_back({window, message, from, "", 0, nullptr, false});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateServer() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ServerProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "RecordingProgman";
        RegisterClassA(&windowClass);
        registered = true;
    }
    // Topmost, so that the initiate broadcast reaches it before any other top-level window.
    const HWND server = CreateWindowExA(WS_EX_TOPMOST, "RecordingProgman", "", WS_POPUP, 0, 0, 1, 1,
                                        nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowPos(server, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return server;
}

// The blocks the code under test allocates, as it asked for them: the flags a block was made
// with cannot be read back from it.
struct Allocation {
    UINT flags;
    SIZE_T size;
};
std::vector<Allocation> allocations;
using GlobalAllocFunction = HGLOBAL(WINAPI*)(UINT, SIZE_T);
GlobalAllocFunction realGlobalAlloc = nullptr;

HGLOBAL WINAPI RecordingGlobalAlloc(UINT flags, SIZE_T size) {
    allocations.push_back({flags, size});
    return realGlobalAlloc(flags, size);
}

void PostCommandsRecordingBlocks() {
    allocations.clear();
    ImportPatch patch("kernel32.dll", "GlobalAlloc", reinterpret_cast<void*>(&RecordingGlobalAlloc));
    realGlobalAlloc = reinterpret_cast<GlobalAllocFunction>(patch.Original());
    ASSERT_NE(realGlobalAlloc, nullptr) << "this program does not import GlobalAlloc";
    PostProgmanCommands();
}

class ProgmanConversation : public ::testing::Test {
protected:
    void SetUp() override {
        events.clear();
        answerWithStringAtom = true;
        commandStatus = 0x8000;
        installState.progmanWindow = nullptr;
        installState.ddeInitiating = 0;
        installState.ddeExecutePending = 0;
        std::strcpy(installState.installDir, "D:\\APPS\\");
        std::strcpy(installState.header.exeName, "PROG.EXE");
        std::strcpy(installState.header.programName, "Vornhelm Atlas");
        installState.groupName[0] = 0;
    }
    void TearDown() override {
        for (HWND window : windows) DestroyWindow(window);
        Pump(50);  // drops the backdrop's quit message too
    }
    HWND Keep(HWND window) {
        windows.push_back(window);
        return window;
    }
    std::vector<const Event*> Of(UINT message) const {
        std::vector<const Event*> found;
        for (const Event& event : events)
            if (event.message == message) found.push_back(&event);
        return found;
    }
    std::vector<HWND> windows;
};

TEST_F(ProgmanConversation, TwoCommandsInOrderThenOneTerminateAfterTheFirstAnswer) {
    const HWND server = Keep(CreateServer());
    const HWND backdrop = Keep(CreateBackdropWindow(GetModuleHandleA(nullptr)));
    ASSERT_EQ(installState.backdropWindow, backdrop);
    ASSERT_EQ(installState.progmanWindow, server) << "the initiate was not answered by the test's server";
    EXPECT_EQ(installState.ddeInitiating, 0);
    ASSERT_EQ(Of(WM_DDE_INITIATE).size(), 1u);
    EXPECT_EQ(Of(WM_DDE_INITIATE)[0]->from, backdrop);

    PostCommandsRecordingBlocks();
    Pump(500);

    ASSERT_EQ(allocations.size(), 2u);
    for (const Allocation& block : allocations)
        EXPECT_EQ(block.flags, UINT(GMEM_DDESHARE | GMEM_MOVEABLE)) << "flags 0x2002";
    EXPECT_EQ(allocations[0].size, 58u);
    const auto executes = Of(WM_DDE_EXECUTE);
    ASSERT_EQ(executes.size(), 2u);
    EXPECT_EQ(executes[0]->text, "[CreateGroup(Vornhelm Software)][ShowGroup(New Group,1)]");
    EXPECT_EQ(executes[0]->blockSize, 58u);
    EXPECT_EQ(executes[1]->text, "[AddItem(D:\\APPS\\\\PROG.EXE,Vornhelm Atlas)]");
    EXPECT_EQ(executes[1]->blockSize, executes[1]->text.size() + 1);
    for (const Event* execute : executes) {
        EXPECT_EQ(execute->from, backdrop);
        EXPECT_TRUE(execute->moveable) << "a moveable block";
    }

    const auto terminates = Of(WM_DDE_TERMINATE);
    ASSERT_EQ(terminates.size(), 1u) << "exactly one terminate, after the first answer";
    EXPECT_EQ(terminates[0]->from, backdrop);
    EXPECT_EQ(events.back().message, static_cast<UINT>(WM_DDE_TERMINATE));
    EXPECT_EQ(installState.ddeExecutePending, 0);
    // The block the first answer handed back, packed, was found and freed; the second answer
    // came after the conversation had ended.
    EXPECT_EQ(ProgmanBlocksHeld(), 1);
}

TEST_F(ProgmanConversation, AGroupOfTheInstallersOwnIsCreatedAndShownForTheItem) {
    Keep(CreateServer());
    Keep(CreateBackdropWindow(GetModuleHandleA(nullptr)));
    std::strcpy(installState.groupName, "Atlas Tools");
    PostCommandsRecordingBlocks();
    Pump(500);
    const auto executes = Of(WM_DDE_EXECUTE);
    ASSERT_EQ(executes.size(), 2u);
    EXPECT_EQ(executes[0]->text, "[CreateGroup(Atlas Tools)][ShowGroup(Atlas Tools,1)]");
    EXPECT_EQ(executes[0]->blockSize, executes[0]->text.size() + 1);
    EXPECT_EQ(executes[1]->text, "[AddItem(D:\\APPS\\\\PROG.EXE,Vornhelm Atlas)]");
}

TEST_F(ProgmanConversation, OnlyTheFirstServerIsTalkedTo) {
    const HWND second = Keep(CreateServer());
    const HWND first = Keep(CreateServer());  // created last: first in the broadcast
    Keep(CreateBackdropWindow(GetModuleHandleA(nullptr)));
    ASSERT_EQ(Of(WM_DDE_INITIATE).size(), 2u);
    const HWND chosen = installState.progmanWindow;
    ASSERT_TRUE(chosen == first || chosen == second);
    EXPECT_EQ(chosen, Of(WM_DDE_INITIATE)[0]->server);

    PostProgmanCommands();
    Pump(500);
    for (const Event& event : events) {
        if (event.message == WM_DDE_INITIATE) continue;
        EXPECT_EQ(event.server, chosen) << "the ignored server heard message " << event.message;
    }
}

TEST_F(ProgmanConversation, AnAnswerWithoutAStringAtomIsTerminatedAndNothingIsSent) {
    answerWithStringAtom = false;
    const HWND server = Keep(CreateServer());
    Keep(CreateBackdropWindow(GetModuleHandleA(nullptr)));
    EXPECT_EQ(installState.progmanWindow, nullptr);
    Pump(200);
    ASSERT_EQ(Of(WM_DDE_TERMINATE).size(), 1u);
    EXPECT_EQ(Of(WM_DDE_TERMINATE)[0]->server, server);

    PostProgmanCommands();
    Pump(200);
    EXPECT_TRUE(Of(WM_DDE_EXECUTE).empty()) << "commands went out without a server";
}

// The status word of a command's answer is never looked at.
TEST_F(ProgmanConversation, ANegativeAnswerEndsTheConversationLikeAPositiveOne) {
    commandStatus = 0;
    const HWND server = Keep(CreateServer());
    Keep(CreateBackdropWindow(GetModuleHandleA(nullptr)));
    ASSERT_EQ(installState.progmanWindow, server);
    PostProgmanCommands();
    Pump(500);
    ASSERT_EQ(Of(WM_DDE_EXECUTE).size(), 2u);
    const auto terminates = Of(WM_DDE_TERMINATE);
    ASSERT_EQ(terminates.size(), 1u);
    EXPECT_EQ(terminates[0]->server, server);
    EXPECT_EQ(events.back().message, static_cast<UINT>(WM_DDE_TERMINATE));
    EXPECT_EQ(installState.ddeExecutePending, 0);
    EXPECT_EQ(ProgmanBlocksHeld(), 1) << "the block the first answer handed back is freed";
}

}  // namespace
