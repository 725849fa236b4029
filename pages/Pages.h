#pragma once

#include <windows.h>

// The four modal pages, run in this order by the setup flow with the backdrop as owner. Each ends
// with 1 to go on or 0 when the user abandoned the installation (Cancel, Esc or the close box,
// confirmed by the quit question).
INT_PTR CALLBACK AgreementPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DrivePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DirectoryPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
