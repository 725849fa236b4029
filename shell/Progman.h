#pragma once

#include <windows.h>
#include <dde.h>

// The DDE conversation with Program Manager ("PROGMAN" / "PROGMAN") in which the backdrop window
// is the client. Opened while the backdrop is created, used once after a successful install to ask
// for the program group and the item, and ended after the first command is acknowledged. Nothing
// is sent after a failed or abandoned install. Main thread only.

// Broadcasts WM_DDE_INITIATE; the first server's answer arrives, nested, before this returns.
// A top-level window that does not answer within a few seconds is skipped.
void InitiateProgmanConversation();

// Every WM_DDE_ACK that reaches the backdrop window: the first answers the initiate, the first
// after the commands were posted answers a command and ends the conversation; the rest change
// nothing.
void HandleDdeAck(WPARAM wParam, LPARAM lParam);

// Posts the group command and then the item command, each in a block of its own, and returns at
// once; the answers are handled while the final message box is up. Nothing is posted when no
// server answered the initiate.
void PostProgmanCommands();

// The command blocks posted and not handed back by an acknowledgement that was acted on. The
// conversation ends with the first answer, so the second block stays held until the process ends.
int ProgmanBlocksHeld();

// How long one top-level window may take over the initiate before the broadcast moves on.
constexpr UINT InitiateTimeoutMs = 3000;
