// Windows Installer custom actions of the tarvel package, built from the program's own
// start-up code so that uninstalling removes exactly what a pass registers.
#include "common/ChangeRights.h"
#include "common/PassLock.h"
#include "installer/InstallFolder.h"
#include "startup/LogonStart.h"
#include "startup/RunEntry.h"
#include "startup/TarvelTask.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <aclapi.h>
#include <objbase.h>

#include <cwchar>

namespace {

// A line of the install log, as the install's other informational lines: text with [1]..[n]
// for the strings given.
void logLine(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* text, const wchar_t* first,
             const wchar_t* second = nullptr, const wchar_t* third = nullptr)
{
    const MSIHANDLE record = MsiCreateRecord(3);
    if (record == 0) {
        return;
    }
    MsiRecordSetStringW(record, 0, text);
    MsiRecordSetStringW(record, 1, first);
    MsiRecordSetStringW(record, 2, second != nullptr ? second : L"");
    MsiRecordSetStringW(record, 3, third != nullptr ? third : L"");
    MsiProcessMessage(install, kind, record);
    MsiCloseHandle(record);
}

void logFailure(MSIHANDLE install, const wchar_t* folder, DWORD status)
{
    const MSIHANDLE record = MsiCreateRecord(2);
    if (record == 0) {
        return;
    }
    MsiRecordSetStringW(record, 0, L"tarvel: the install folder [1] could not be locked: error [2]");
    MsiRecordSetStringW(record, 1, folder);
    MsiRecordSetInteger(record, 2, static_cast<int>(status));
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// Folders above the install folder stay as they are; one that others may rename lets them
// put a program of their own in the install folder's place, which the install log says.
void reportOpenFoldersAbove(MSIHANDLE install, const wchar_t* folder)
{
    wchar_t above[MAX_PATH + 1] = {};
    lstrcpynW(above, folder, MAX_PATH + 1);
    ObjectKind kind = ObjectKind::Folder;
    while (toParentFolder(above, kind)) {
        Changer changer;
        if (GetFileAttributesW(above) != INVALID_FILE_ATTRIBUTES &&
            untrustedChangerOf(above, kind, changer) == ERROR_SUCCESS && changer.found) {
            wchar_t how[64] = {};
            MultiByteToWideChar(CP_ACP, 0, changer.how, -1, how, 64);
            logLine(install, INSTALLMESSAGE_INFO,
                    L"tarvel: the folder [1] above the install folder can be [2] [3]: whoever may rename it can put "
                    L"another program in the install folder's place. Lock it, or choose a folder under one that "
                    L"only administrators can change.",
                    above, how, changer.account);
        }
    }
}

}  // namespace

// Install, repair and upgrade, before anything changes: the install folder must be a folder
// of the product's own. The lock replaces its permissions, and Windows hands them down to
// everything inside, which uninstall cannot give back: a drive's root, or a folder holding
// anything else, is refused. Then works out, before any change, which folders the lock must
// make or lock, for the deferred action (Wine runs deferred actions after the files are
// copied, so the folders missing now cannot be told there).
extern "C" UINT WINAPI PrepareInstallFolder(MSIHANDLE install)
{
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH + 1;
    if (MsiGetPropertyW(install, L"INSTALLDIR", folder, &size) != ERROR_SUCCESS || folder[0] == L'\0') {
        logLine(install, INSTALLMESSAGE_ERROR, L"tarvel: no install folder [1]", L"");
        return ERROR_INSTALL_FAILURE;
    }
    wchar_t offending[MAX_PATH] = {};
    const FolderVerdict verdict = judgeInstallFolder(folder, offending);
    if (verdict == FolderVerdict::DriveRoot) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] is the root of a drive, whose permissions the install would take "
                L"over. Choose a folder of its own, for example C:\\Tools\\Tarvel\\.",
                folder);
        return ERROR_INSTALL_FAILURE;
    }
    if (verdict == FolderVerdict::HoldsOthers) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] holds [2], which is not Ombrix Tarvel's; the install would take over "
                L"its permissions. Choose a folder of its own, for example C:\\Tools\\Tarvel\\.",
                folder, offending);
        return ERROR_INSTALL_FAILURE;
    }
    reportOpenFoldersAbove(install, folder);
    wchar_t folders[2 * (MAX_PATH + 1)] = {};
    if (!foldersToLock(folder, folders, sizeof folders / sizeof folders[0])) {
        logLine(install, INSTALLMESSAGE_ERROR, L"tarvel: the install folder [1] has too long a path", folder);
        return ERROR_INSTALL_FAILURE;
    }
    // A deferred action reads its CustomActionData from the property of its own name.
    return MsiSetPropertyW(install, L"LockInstallFolder", folders);
}

// Before the folders are made and the files copied: each folder the install makes on the way
// is made locked, and the install folder, made or found, gets the lock and Administrators as
// its owner, so that no file can be swapped in before the first pass runs it as SYSTEM. A
// failure is logged and, like the pass's own outcome, does not fail the install.
extern "C" UINT WINAPI LockInstallFolder(MSIHANDLE install)
{
    wchar_t folders[2 * (MAX_PATH + 1)] = {};
    DWORD size = sizeof folders / sizeof folders[0];
    if (MsiGetPropertyW(install, L"CustomActionData", folders, &size) != ERROR_SUCCESS || folders[0] == L'\0') {
        logFailure(install, L"", ERROR_PATH_NOT_FOUND);
        return ERROR_SUCCESS;
    }
    FolderLock folderLock;
    for (wchar_t* folder = folders; folder != nullptr;) {
        wchar_t* next = std::wcschr(folder, L'|');
        if (next != nullptr) {
            *next++ = L'\0';
        }
        const DWORD status =
            GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES ? folderLock.create(folder) : folderLock.lock(folder);
        if (status != ERROR_SUCCESS) {
            logFailure(install, folder, status);
        }
        folder = next;
    }
    return ERROR_SUCCESS;
}

// Uninstall: once the program is gone nothing may try to start it at logon. Install: the
// pass that follows registers the installed path afresh. Both kinds of logon start-up go,
// whatever the release: a machine may have been upgraded since the pass registered one, and
// the module refuses the task at once where there is no Task Scheduler 2.0. The port values
// and the marker belong to the machine and stay as they are.
extern "C" UINT WINAPI RemoveLogonStartup(MSIHANDLE)
{
    // A pass already past its probe would register the start-up again right after us.
    const PassLock passLock;
    unregisterRunEntry();
    const HRESULT initialized = CoInitialize(nullptr);
    DisableLogonStartup(kTarvelTaskName);
    if (SUCCEEDED(initialized)) {
        CoUninitialize();
    }
    // Uninstalling must never fail for want of a start-up that is already gone.
    return ERROR_SUCCESS;
}
