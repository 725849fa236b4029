#pragma once

#include <windows.h>

// What every page does first when its dialog is created: it becomes activeWindow (the owner of
// the worker's disk prompts and read-error box); it is moved, without repainting and at its own
// size, to the centre of the backdrop's clientRect; and, when setTitle is true (pages 101 to
// 103), its title becomes the header's caption. The agreement page keeps its template title.
void ApplyPageConvention(HWND page, bool setTitle);
