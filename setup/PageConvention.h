#pragma once

#include <windows.h>

// What every page does first when its dialog is created: it becomes activeWindow (the owner of
// the worker's disk prompts and read-error box); it is moved, without repainting and at its own
// size, to the centre of the backdrop's clientRect; and, when setTitle is true (pages 101 to
// 103), its title becomes the header's caption. The agreement page keeps its template title.
void ApplyPageConvention(HWND page, bool setTitle);

// The answer of pages 101, 102 and 104 to Cancel (which Esc and the close box also send): the quit
// question; Yes ends the page with 0, No leaves it as it was.
void CancelPage(HWND page);

// A control's window rectangle in the page's client coordinates, each corner converted by itself;
// right and bottom stay exclusive.
RECT ControlClientRect(HWND page, int controlId);
