// Windows' DLLs from the system folder only. A DLL that is no KnownDLL is looked for in the
// program's own folder first, where a user may add a file beside a program they cannot change
// (a folder under C:\ on XP, a check copied to a share or a download folder): the programs
// import only KnownDLLs statically and delay-load the rest, which this hook loads by their
// full path in the system folder. Linked into each program, not the library, so that the
// delay-load helper finds it rather than its own empty default.
#include "common/platform/SystemFacts.h"
#include "common/text/Text.h"

#include <windows.h>
#include <delayimp.h>

namespace {

FARPROC WINAPI loadFromSystemFolder(unsigned notification, PDelayLoadInfo information)
{
    if (notification != dliNotePreLoadLibrary) {
        return nullptr;
    }
    wchar_t name[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    if (!widenText(information->szDll, name) || !systemFolderPath(name, path)) {
        // Never a search: the helper's own LoadLibraryA would look beside the program.
        return reinterpret_cast<FARPROC>(GetModuleHandleA("kernel32.dll"));
    }
    // The DLL's own imports are then looked for beside it, in the system folder, too.
    const HMODULE loaded = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    // Where even the system's own copy cannot be had, a module that lacks the function: the
    // call then fails as a missing import does, rather than searching beside the program.
    return reinterpret_cast<FARPROC>(loaded != nullptr ? loaded : GetModuleHandleA("kernel32.dll"));
}

}  // namespace

PfnDliHook __pfnDliNotifyHook2 = loadFromSystemFolder;
