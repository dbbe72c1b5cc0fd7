#pragma once
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

// Reads the executable's path; false when the program cannot have it whole.
bool readModulePath(wchar_t (&path)[MAX_PATH]);
