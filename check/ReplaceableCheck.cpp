// Whether the program a start-up names, or its folder, can be changed by others than
// administrators: whoever can replace it runs their own program at logon, on 6.0/6.1 with
// the highest rights.
#include "check/MachineCheck.h"

#include "common/WellKnownSids.h"

#include <aclapi.h>

namespace {

// Write, append (for a folder: add a file or a folder), delete, delete what it holds, and
// change the permissions or the owner.
const ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                    WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct BroadGroup {
    const char* name;
    UniqueSid sid;
};

// The first broad group that may change path, or null; ERROR_SUCCESS unless the
// permissions could not be read.
DWORD broadWriter(const wchar_t* path, const char*& writer)
{
    writer = nullptr;
    BroadGroup groups[] = {
        {"Everyone", everyoneSid()},
        {"Users", builtinGroupSid(DOMAIN_ALIAS_RID_USERS)},
        {"Authenticated Users", ntAuthoritySid(SECURITY_AUTHENTICATED_USER_RID)},
        {"INTERACTIVE", ntAuthoritySid(SECURITY_INTERACTIVE_RID)},
    };
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                               nullptr, &descriptor);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const UniqueLocal owned(descriptor);
    if (dacl == nullptr) {
        // No DACL at all lets everyone do anything.
        writer = "Everyone";
        return ERROR_SUCCESS;
    }
    for (DWORD index = 0; index < dacl->AceCount && writer == nullptr; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry)) {
            continue;
        }
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        // An entry only for what the folder holds says nothing of the folder itself.
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (ace->Header.AceFlags & INHERIT_ONLY_ACE) != 0 ||
            (ace->Mask & kChangingRights) == 0) {
            continue;
        }
        const PSID trustee = const_cast<DWORD*>(&ace->SidStart);
        for (const BroadGroup& group : groups) {
            if (group.sid && EqualSid(trustee, group.sid.get())) {
                writer = group.name;
                break;
            }
        }
    }
    return ERROR_SUCCESS;
}

DWORD checkOne(Report& report, const char* kind, const wchar_t* path)
{
    const char* writer = nullptr;
    const DWORD status = broadWriter(path, writer);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Text what;
    what << "start-up: " << kind << " " << path;
    Text found;
    found << (writer == nullptr ? "changed by administrators only" : "changed also by ")
          << (writer == nullptr ? "" : writer);
    report.line(what.c_str(), "changed by administrators only", found.c_str(), writer == nullptr);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD checkNotReplaceable(Report& report, const wchar_t* program)
{
    DWORD status = checkOne(report, "program", program);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    wchar_t folder[MAX_PATH + 1] = {};
    lstrcpynW(folder, program, MAX_PATH + 1);
    wchar_t* slash = nullptr;
    for (wchar_t* at = folder; *at != L'\0'; ++at) {
        if (*at == L'\\') {
            slash = at;
        }
    }
    if (slash == nullptr) {
        return ERROR_SUCCESS;
    }
    // The root keeps its backslash: "C:" alone names the current folder of drive C:.
    slash[slash > folder && slash[-1] == L':' ? 1 : 0] = L'\0';
    return checkOne(report, "folder", folder);
}
