#pragma once

// Loads string id of the string table into installState.textBuffer (at most 255 characters and
// the terminator) and returns textBuffer. The next call overwrites it: a caller that needs two
// strings formats the first into a buffer of its own before loading the second. An id that the
// table lacks gives an empty text.
char* LoadText(int id);

// Asks whether to abandon the installation: string 1 formatted with programName, in a Yes/No
// message box with no owner and the caption `caption`. True exactly when the user answers Yes;
// the caller alone decides what ends. Safe on the main thread and the install worker at once.
bool ConfirmQuit();
