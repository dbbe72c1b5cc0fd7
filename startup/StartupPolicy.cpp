#include "startup/StartupPolicy.h"

#include "common/platform/Owners.h"
#include "common/platform/WellKnownSids.h"

#include <sddl.h>

WantedStartup wantedStartup(OsClass os, bool taskSchedulerPresent, bool preload)
{
    if (usesLogonTask(os)) {
        // A Run value left by a copy run under another release would start a second pass.
        return {false, preload ? TaskWanted::InPlace : TaskWanted::NoActiveTask};
    }
    // Wherever a Task Scheduler 2.0 is, a task left by another release (an in-place upgrade
    // from Windows 7) would start the program as well, or a file someone put in its place:
    // exactly one start-up in preload mode, none in normal mode.
    return {preload, taskSchedulerPresent ? TaskWanted::NoActiveTask : TaskWanted::NotLookedAt};
}

bool isAdministratorsGroup(const wchar_t* group)
{
    const UniqueSid administrators = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    if (!administrators || group == nullptr || group[0] == L'\0') {
        return false;
    }
    if (group[0] == L'S' && group[1] == L'-') {
        PSID converted = nullptr;
        if (!ConvertStringSidToSidW(group, &converted)) {
            return false;
        }
        const UniqueLocal sid(converted);
        return EqualSid(sid.get(), administrators.get()) != FALSE;
    }
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof sid;
    wchar_t domain[256] = {};
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    return LookupAccountNameW(nullptr, group, sid, &sidSize, domain, &domainSize, &use) &&
           EqualSid(sid, administrators.get());
}
