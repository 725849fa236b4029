#pragma once

#include <windows.h>

// The sunken frame around the progress bar on the rectangle (left, top, right, bottom) in the
// page's client coordinates, right and bottom exclusive: white along the right and bottom edges
// (one pixel outside the rectangle's own area), gray along the left and top, and a black line
// inside the gray one. Leaves blackPen selected.
void DrawSunkenFrame(HDC dc, const RECT& rect);

// How long the page waits for a stopped worker to end before it gives up on it. A worker that is
// still reading after that keeps the archive: the flow then leaves it to the end of the process.
constexpr DWORD WorkerStopTimeoutMs = 10000;
