// A plug-in of the application for another process to keep loaded.
#include <windows.h>

extern "C" __declspec(dllexport) int e2ePluginVersion() {
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
