#include "app/MarkerProbe.h"

#include <windows.h>
#include <shlobj.h>

namespace {
// Scanners and indexers open a new directory for a moment, without sharing its deletion;
// a probe directory left behind would put the machine back into preload mode for good.
const DWORD kRemoveRetryPauseMs = 50;
const DWORD kRemoveRetryBoundMs = 2000;

void removeProbeDirectory(const char* path)
{
    for (DWORD waited = 0;; waited += kRemoveRetryPauseMs) {
        if (RemoveDirectoryA(path)) {
            return;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return;
        }
        if (waited >= kRemoveRetryBoundMs) {
            break;
        }
        Sleep(kRemoveRetryPauseMs);
    }
    // Still held: Windows removes it at the next restart, before anyone can open it.
    MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}
}  // namespace

bool markerPresent(const char* markerPath, Status* probeFailure)
{
    const int created = SHCreateDirectoryExA(nullptr, markerPath, nullptr);
    if (probeFailure != nullptr) {
        // The marker itself, or a file of its name, is the answer the probe asks for; any
        // other refusal (a full or write-protected disk, a root that takes no new folders)
        // leaves the mode a guess.
        const bool answered =
            created == ERROR_SUCCESS || created == ERROR_ALREADY_EXISTS || created == ERROR_FILE_EXISTS;
        // SHCreateDirectoryEx answers a Win32 code as an int.
        *probeFailure = answered ? ERROR_SUCCESS : static_cast<Status>(created);
    }
    if (created != ERROR_SUCCESS) {
        return true;
    }
    removeProbeDirectory(markerPath);
    return false;
}
