#pragma once
// One status for the program's own code, the check's, the package's and the kit's:
// ERROR_SUCCESS (S_OK) is success, anything else the failure as Windows answered it, a Win32
// error code or an HRESULT, kept as it is so that an exit status, an event or a log line shows
// what Windows said. Windows answers in several kinds (a registry call an LSTATUS, COM an
// HRESULT, the Installer a UINT): each is taken in here, where the call returns, and nowhere
// else.
#include <windows.h>

using Status = DWORD;

inline Status registryStatus(LSTATUS status) { return static_cast<Status>(status); }
inline Status comStatus(HRESULT status) { return static_cast<Status>(status); }
// GetLastError's code, or E_FAIL for a call that failed without setting one: nothing that
// failed may read as success.
inline Status lastErrorStatus()
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : static_cast<Status>(E_FAIL);
}
// For what speaks COM's kind: the task module's answers and the COM calls' own checks.
inline HRESULT asHresult(Status status) { return static_cast<HRESULT>(status); }
