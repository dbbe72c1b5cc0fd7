// Who counts as an administrator when a start-up's program or folder is judged: SYSTEM,
// Administrators, TrustedInstaller, CREATOR OWNER (a placeholder, not an account), the users
// who are members of Administrators, directly or through another group, and Power Users where
// the release makes them so (before Windows 6.0).
#include "common/trust/Trust.h"

#include "common/platform/Owners.h"
#include "common/platform/WellKnownSids.h"

#include <lm.h>
#include <sddl.h>

#include <initializer_list>

namespace {

const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool isWellKnownTrusted(PSID sid, bool powerUsersTrusted)
{
    if (powerUsersTrusted) {
        const UniqueSid powerUsers = builtinGroupSid(DOMAIN_ALIAS_RID_POWER_USERS);
        if (powerUsers && EqualSid(sid, powerUsers.get())) {
            return true;
        }
    }
    const UniqueSid system = ntAuthoritySid(SECURITY_LOCAL_SYSTEM_RID);
    const UniqueSid administrators = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
    PSID creatorOwner = nullptr;
    AllocateAndInitializeSid(&creator, 1, SECURITY_CREATOR_OWNER_RID, 0, 0, 0, 0, 0, 0, 0, &creatorOwner);
    const UniqueSid creatorOwnerOwned(creatorOwner);
    PSID installer = nullptr;
    ConvertStringSidToSidW(kTrustedInstaller, &installer);
    const UniqueLocal installerOwned(installer);
    for (PSID trusted : {system.get(), administrators.get(), creatorOwner, installer}) {
        if (trusted != nullptr && EqualSid(sid, trusted)) {
            return true;
        }
    }
    return false;
}

// domain, a backslash, name and the NUL, each name within 255 characters.
const size_t kAccountName = 2 * 256 + 1;

// The name by which NetUserGetLocalGroups knows a user: a local account by its own name, a
// domain account by domain\name. By its bare name, the local account of that name would
// answer for a domain account (OTHERDOMAIN\Administrator taken for the local Administrator).
// False when sid is not a user's.
bool accountToAsk(PSID sid, wchar_t (&account)[kAccountName])
{
    wchar_t name[256] = {};
    DWORD nameSize = 256;
    wchar_t domain[256] = {};
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (!LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use) || use != SidTypeUser) {
        return false;
    }
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD computerSize = MAX_COMPUTERNAME_LENGTH + 1;
    account[0] = L'\0';
    if (!GetComputerNameW(computer, &computerSize) || lstrcmpiW(domain, computer) != 0) {
        lstrcpynW(account, domain, 256);
        lstrcpynW(account + lstrlenW(account), L"\\", 2);
    }
    lstrcpynW(account + lstrlenW(account), name, 256);
    return true;
}

// A user is as trusted as the Administrators group when it is a member, directly or through
// another group.
bool isAdministrator(PSID sid)
{
    wchar_t account[kAccountName] = {};
    if (!accountToAsk(sid, account)) {
        return false;
    }
    const UniqueSid administratorsSid = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    wchar_t administrators[256] = {};
    DWORD administratorsSize = 256;
    wchar_t domain[256] = {};
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (!administratorsSid || !LookupAccountSidW(nullptr, administratorsSid.get(), administrators, &administratorsSize,
                                                 domain, &domainSize, &use)) {
        return false;
    }
    BYTE* buffer = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS status =
        NetUserGetLocalGroups(nullptr, account, 0, LG_INCLUDE_INDIRECT, &buffer, MAX_PREFERRED_LENGTH, &read, &total);
    // Some failures still hand out a buffer.
    const UniqueNetBuffer owned(buffer);
    if (status != NERR_Success) {
        return false;
    }
    bool member = false;
    const auto* groups = reinterpret_cast<const LOCALGROUP_USERS_INFO_0*>(buffer);
    for (DWORD index = 0; index < read && !member; ++index) {
        member = lstrcmpiW(groups[index].lgrui0_name, administrators) == 0;
    }
    return member;
}

}  // namespace

bool isTrustedAccount(PSID sid, const RightsReader& reader)
{
    return isWellKnownTrusted(sid, reader.powerUsersTrusted) || isAdministrator(sid);
}
