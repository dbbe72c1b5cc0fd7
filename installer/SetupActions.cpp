// Windows Installer custom actions of the tarvel package, built from the program's own
// start-up code so that uninstalling removes exactly what a pass registers.
#include "common/PassLock.h"
#include "common/WellKnownSids.h"
#include "startup/LogonStart.h"
#include "startup/RunEntry.h"
#include "startup/TarvelTask.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <aclapi.h>
#include <objbase.h>

namespace {

// SYSTEM and Administrators may do anything, Users read and start; nothing comes from the
// parent, whose entries (Authenticated Users may modify, under C:\ from Windows 7 on) would
// let anyone replace a program that runs as an administrator. Inherited by what lies inside.
DWORD lockFolder(wchar_t* folder)
{
    const UniqueSid system = ntAuthoritySid(SECURITY_LOCAL_SYSTEM_RID);
    const UniqueSid administrators = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    const UniqueSid users = builtinGroupSid(DOMAIN_ALIAS_RID_USERS);
    if (!system || !administrators || !users) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // Three entries of at most SECURITY_MAX_SID_SIZE each, DWORD-aligned as an ACL must be.
    DWORD buffer[(sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)) / sizeof(DWORD) + 1] = {};
    auto* acl = reinterpret_cast<PACL>(buffer);
    const DWORD inherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    if (!InitializeAcl(acl, sizeof buffer, ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, system.get()) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, administrators.get()) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, users.get())) {
        return GetLastError();
    }
    return SetNamedSecurityInfoW(folder, SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
                                 nullptr);
}

// Into the install log, as the install's other informational lines.
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

}  // namespace

// Install, repair and upgrade, before the first pass: the folder that holds a program the
// logon task starts with the highest rights must be one only administrators can change. A
// failure is logged and, like the pass's own outcome, does not fail the install.
extern "C" UINT WINAPI LockInstallFolder(MSIHANDLE install)
{
    // A deferred action reads the folder from the CustomActionData its setter left.
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH + 1;
    DWORD status = MsiGetPropertyW(install, L"CustomActionData", folder, &size);
    if (status == ERROR_SUCCESS && folder[0] == L'\0') {
        status = ERROR_PATH_NOT_FOUND;
    }
    if (status == ERROR_SUCCESS) {
        status = lockFolder(folder);
    }
    if (status != ERROR_SUCCESS) {
        logFailure(install, folder, status);
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
