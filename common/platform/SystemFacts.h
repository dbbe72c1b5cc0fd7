#pragma once
// What the program is given by the machine: the Windows release, WOW64, its own path.
#include <windows.h>

// The Windows release as the start-up policy tells them apart.
enum OsClass : int {
    kOsOther = 0,  // anything else, or the version query failed
    kOsWindows2000 = 1,
    kOsWindowsXp = 2,
    kOsWindowsVista = 3,
    kOsWindows7 = 4,
};

OsClass classifyOs();
bool isWow64();
// The logon task's releases: the start-up lives in the Task Scheduler there, not the Run key.
inline bool usesLogonTask(OsClass os) { return os == kOsWindowsVista || os == kOsWindows7; }
// The Task Scheduler 2.0 arrived with Windows 6.0.
bool isVistaOrLater();

// Reads the executable's path; false when the program cannot have it whole.
bool readModulePath(wchar_t (&path)[MAX_PATH]);

// The full path of name in the system folder (GetSystemDirectoryW: System32, SysWOW64 to a
// 32-bit program on 64-bit Windows), where Windows' own DLLs are loaded from. False when it
// does not fit.
bool systemFolderPath(const wchar_t* name, wchar_t (&path)[MAX_PATH]);
