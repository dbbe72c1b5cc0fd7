#pragma once
// The checks of tarvel-check: each reads what a pass of tarvel.exe would have left and puts
// one line per check into the report. Each answers ERROR_SUCCESS (S_OK) when it could look,
// whatever it found, else the status that kept it from looking. None of them writes.
#include "check/Report.h"

// "DIPM" and "LPM" of ports 0 to 5, each a REG_DWORD of wanted.
DWORD checkPorts(Report& report, DWORD wanted);

// The Run value "Tarvel": present and naming a file that exists, or absent.
DWORD checkRunValue(Report& report, bool wantedPresent);

enum class TaskWanted {
    InPlace,       // enabled, an enabled logon trigger first, highest rights for the
                   // Administrators group, and a first action that starts an existing file
    NoActiveTask,  // absent, disabled, or not started at logon
};
HRESULT checkLogonTask(Report& report, TaskWanted wanted);

// The program a start-up names, and its folder, may be changed by administrators only: by no
// write, delete or permission right of Everyone, Users, Authenticated Users or INTERACTIVE.
DWORD checkNotReplaceable(Report& report, const wchar_t* program);

// An existing file (not a folder) at path.
bool fileExists(const wchar_t* path);
