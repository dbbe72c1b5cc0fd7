#include "common/ChangeRights.h"

#include "common/Owners.h"
#include "common/SystemFacts.h"
#include "common/WellKnownSids.h"

#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

#include <cwchar>
#include <initializer_list>

namespace {

// Write or append data (in a folder: add a file or a folder), delete (a folder: rename it),
// change the permissions or the owner.
const ACCESS_MASK kChangingRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Delete or rename what a folder holds, whatever the rights on the thing itself.
const ACCESS_MASK kEmptyingRights = FILE_DELETE_CHILD | GENERIC_ALL;
// Whoever may rewrite the permissions or take the owner can give themselves any other right.
const ACCESS_MASK kPermissionRights = WRITE_DAC | WRITE_OWNER;
// Above the program's folder: rename or delete the folder or what it holds, or re-permission it.
const ACCESS_MASK kWayDownRights = DELETE | kEmptyingRights | kPermissionRights;

ACCESS_MASK changingRights(ObjectKind kind)
{
    switch (kind) {
        case ObjectKind::File:
            return kChangingRights;
        case ObjectKind::Folder:
            return kChangingRights | kEmptyingRights;
        case ObjectKind::Above:
            return kWayDownRights;
        case ObjectKind::Root:
            return kEmptyingRights | kPermissionRights;
    }
    return kChangingRights;
}

const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool isWellKnownTrusted(PSID sid, const Judge& judge)
{
    if (judge.powerUsersTrusted) {
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

void nameAccount(PSID sid, Changer& changer)
{
    DWORD nameSize = sizeof changer.account / sizeof changer.account[0];
    wchar_t domain[256] = {};
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (LookupAccountSidW(nullptr, sid, changer.account, &nameSize, domain, &domainSize, &use) &&
        changer.account[0] != L'\0') {
        return;
    }
    wchar_t* text = nullptr;
    if (ConvertSidToStringSidW(sid, &text)) {
        const UniqueLocal owned(text);
        lstrcpynW(changer.account, text, sizeof changer.account / sizeof changer.account[0]);
    }
}

const char* howChanged(ACCESS_MASK rights, ObjectKind kind)
{
    if (kind != ObjectKind::File && (rights & (DELETE | kEmptyingRights)) != 0) {
        return "renamed also by";
    }
    if (kind == ObjectKind::File && (rights & DELETE) != 0) {
        return "deleted also by";
    }
    return "changed also by";
}

}  // namespace

bool isTrustedAccount(PSID sid, const Judge& judge) { return isWellKnownTrusted(sid, judge) || isAdministrator(sid); }

DWORD readDescriptor(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor)
{
    return GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, nullptr, nullptr, descriptor);
}

Judge machineJudge()
{
    Judge judge;
    judge.powerUsersTrusted = !isVistaOrLater();
    return judge;
}

Changer untrustedChanger(PSECURITY_DESCRIPTOR descriptor, ObjectKind kind, const Judge& judge)
{
    Changer changer;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    // The owner may always rewrite the permissions.
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr &&
        !isTrustedAccount(owner, judge)) {
        changer.found = true;
        changer.how = "owned by";
        nameAccount(owner, changer);
        return changer;
    }
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return changer;
    }
    if (present && dacl == nullptr) {
        // No DACL at all lets everyone do anything.
        changer.found = true;
        changer.how = howChanged(GENERIC_ALL, kind);
        lstrcpynW(changer.account, L"Everyone", 256);
        return changer;
    }
    const ACCESS_MASK wanted = changingRights(kind);
    for (DWORD index = 0; dacl != nullptr && index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry)) {
            continue;
        }
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        // An entry only for what a folder holds says nothing of the folder itself.
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (ace->Header.AceFlags & INHERIT_ONLY_ACE) != 0 ||
            (ace->Mask & wanted) == 0) {
            continue;
        }
        const PSID trustee = const_cast<DWORD*>(&ace->SidStart);
        if (!isTrustedAccount(trustee, judge)) {
            changer.found = true;
            changer.how = howChanged(ace->Mask & wanted, kind);
            nameAccount(trustee, changer);
            return changer;
        }
    }
    return changer;
}

DWORD untrustedChangerOf(const wchar_t* path, ObjectKind kind, Changer& changer, const Judge& judge)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = judge.read(path, &descriptor);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const UniqueLocal owned(descriptor);
    changer = untrustedChanger(descriptor, kind, judge);
    return ERROR_SUCCESS;
}
