#include <windows.h>

// Starts and ends, nothing else: what launching any program costs under the
// system it runs on.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
