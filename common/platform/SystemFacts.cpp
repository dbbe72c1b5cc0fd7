#include "common/platform/SystemFacts.h"

OsClass classifyOs()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        return kOsOther;
    }
    if (version.dwMajorVersion == 5 && version.dwMinorVersion == 0) {
        return kOsWindows2000;
    }
    if (version.dwMajorVersion == 5 && version.dwMinorVersion == 1) {
        return kOsWindowsXp;
    }
    if (version.dwMajorVersion == 6 && version.dwMinorVersion == 0) {
        return kOsWindowsVista;
    }
    if (version.dwMajorVersion == 6 && version.dwMinorVersion == 1) {
        return kOsWindows7;
    }
    return kOsOther;
}

bool isWow64()
{
    // IsWow64Process is missing before XP SP2, so it is looked up rather than imported.
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel == nullptr) {
        return false;
    }
    // Cast through the generic function type, which converts to any other without a warning.
    auto isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process")));
    if (isWow64Process == nullptr) {
        return false;
    }
    BOOL wow64 = FALSE;
    isWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
}

bool isVistaOrLater() { return LOBYTE(LOWORD(GetVersion())) >= 6; }

bool readModulePath(wchar_t (&path)[MAX_PATH])
{
    ZeroMemory(path, sizeof path);
    // A full buffer means the path was cut, and Windows XP leaves a cut path unterminated,
    // so neither the terminator nor the last error can be trusted to tell.
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        ZeroMemory(path, sizeof path);
        return false;
    }
    return true;
}

bool systemFolderPath(const wchar_t* name, wchar_t (&path)[MAX_PATH])
{
    const UINT folder = GetSystemDirectoryW(path, MAX_PATH);
    const int length = lstrlenW(name);
    if (folder == 0 || folder + 1 + static_cast<UINT>(length) >= MAX_PATH) {
        return false;
    }
    path[folder] = L'\\';
    lstrcpynW(path + folder + 1, name, length + 1);
    return true;
}
