// A DLL a user plants beside a program under the name of one of Windows' own: whatever of its
// code runs leaves C:\planted-dll-ran.txt. Its exports carry the names the program imports, so
// that a program that loads it from its own folder starts with it.
#include <windows.h>

extern "C" void plantedStub() {}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        const HANDLE trace = CreateFileA("C:\\planted-dll-ran.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (trace != INVALID_HANDLE_VALUE) {
            CloseHandle(trace);
        }
    }
    return TRUE;
}
