// Stands in for another program that keeps an application's file mapped: a
// process with a plug-in loaded, or the application's own program running
// from its folder. e2e_holder.exe EVENT [DLL]: loads DLL when given, sets the
// named event once it is ready, and waits until it is ended.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    if (argc > 2 && LoadLibraryW(argv[2]) == nullptr)
        return 3;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (ready == nullptr || !SetEvent(ready))
        return 4;
    CloseHandle(ready);
    Sleep(INFINITE);
    return 0;
}
