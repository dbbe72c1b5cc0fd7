// The floor of the benchmark: a process that loads what every pass of tarvel must load
// (advapi32 for the registry, shell32 for the marker probe) and does nothing else.
#include <windows.h>
#include <shlobj.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Referenced, so that both libraries are imported, but never called.
    volatile bool never = false;
    if (never) {
        RegCloseKey(HKEY_LOCAL_MACHINE);
        SHCreateDirectoryExA(nullptr, "", nullptr);
    }
    return 0;
}
