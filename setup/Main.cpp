#include <windows.h>

// Placeholder entry point: the executable carries the installer's resources and ends at once.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
