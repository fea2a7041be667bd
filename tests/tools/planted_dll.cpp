// Stands in for a DLL that someone dropped beside the program under a system DLL's name: if it
// is ever loaded, the process ends at once with exit code 99.

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        TerminateProcess(GetCurrentProcess(), 99);
    }
    return TRUE;
}
