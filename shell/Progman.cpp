#include "Progman.h"

#include <cstring>

#include "InstallState.h"
#include "ProgmanCommands.h"

namespace {

// The blocks posted with the two commands. Only a handle found here is ever freed: an
// acknowledgement hands back what it pleases.
HGLOBAL postedBlocks[2];

HGLOBAL MakeCommandBlock(const char* text, size_t size) {
    const HGLOBAL block = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* const bytes = GlobalLock(block);
    if (!bytes) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(bytes, text, std::strlen(text) + 1);
    GlobalUnlock(block);
    return block;
}

void PostCommand(const char* text, size_t blockSize, HGLOBAL& slot) {
    installState.ddeExecutePending = 1;
    slot = MakeCommandBlock(text, blockSize);
    if (!slot) return;
    if (!PostMessageA(installState.progmanWindow, WM_DDE_EXECUTE,
                      reinterpret_cast<WPARAM>(installState.backdropWindow),
                      reinterpret_cast<LPARAM>(slot))) {
        GlobalFree(slot);
        slot = nullptr;
    }
}

void PostTerminate(HWND server) {
    PostMessageA(server, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(installState.backdropWindow), 0);
}

}  // namespace

void InitiateProgmanConversation() {
    installState.ddeInitiating = 1;
    const ATOM application = GlobalAddAtomA("PROGMAN");
    const ATOM topic = GlobalAddAtomA("PROGMAN");
    // Bounded: a hung top-level window must not hang the installer before its first page.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_DDE_INITIATE,
                        reinterpret_cast<WPARAM>(installState.backdropWindow),
                        MAKELPARAM(application, topic), SMTO_ABORTIFHUNG, InitiateTimeoutMs, &ignored);
    GlobalDeleteAtom(application);
    GlobalDeleteAtom(topic);
}

void HandleDdeAck(WPARAM wParam, LPARAM lParam) {
    const HWND sender = reinterpret_cast<HWND>(wParam);
    if (installState.ddeInitiating) {
        // The answer to the initiate, sent rather than posted, so its lParam is not packed: the
        // server's application atom below, its topic atom above. Both references it brought are
        // released (for "PROGMAN" both halves are one and the same atom).
        installState.ddeInitiating = 0;
        const ATOM application = LOWORD(lParam);
        const ATOM topic = HIWORD(lParam);
        GlobalDeleteAtom(application);
        GlobalDeleteAtom(topic ? topic : application);
        if (application & 0x8000)  // a string atom
            installState.progmanWindow = sender;
        else
            PostTerminate(sender);
        return;
    }
    if (installState.ddeExecutePending) {
        installState.ddeExecutePending = 0;
        // A posted acknowledgement carries its halves packed: the status and the block handed
        // back are unpacked, and the packing itself freed, before the block is.
        UINT_PTR status = 0;
        UINT_PTR handedBack = 0;
        if (UnpackDDElParam(WM_DDE_ACK, lParam, &status, &handedBack))
            FreeDDElParam(WM_DDE_ACK, lParam);
        const HGLOBAL block = reinterpret_cast<HGLOBAL>(handedBack);
        for (HGLOBAL& posted : postedBlocks) {
            if (block && posted == block) {
                GlobalFree(block);
                posted = nullptr;
            }
        }
        PostTerminate(sender);
    }
}

int ProgmanBlocksHeld() {
    int held = 0;
    for (HGLOBAL posted : postedBlocks) held += posted != nullptr;
    return held;
}

void PostProgmanCommands() {
    char item[ItemCommandCapacity];
    FormatItemCommand(installState.installDir, installState.header.exeName,
                      installState.header.programName, item);
    // Without a server the commands would reach no window and their blocks would stay allocated.
    if (!installState.progmanWindow) return;
    if (installState.groupName[0]) {
        char group[GroupCommandCapacity];
        const int length = FormatGroupCommand(installState.groupName, group);
        PostCommand(group, length + 1, postedBlocks[0]);
    } else {
        PostCommand(GroupCommand, GroupCommandBlockSize, postedBlocks[0]);
    }
    PostCommand(item, std::strlen(item) + 1, postedBlocks[1]);
}
