#include "common/trust/Trust.h"

#include "common/platform/Owners.h"
#include "common/platform/SystemFacts.h"
#include "common/platform/WellKnownSids.h"

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

Status readDescriptor(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor)
{
    return GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, nullptr, nullptr, descriptor);
}

RightsReader machineRightsReader()
{
    RightsReader judge;
    judge.powerUsersTrusted = !isVistaOrLater();
    return judge;
}

Changer untrustedChanger(PSECURITY_DESCRIPTOR descriptor, ObjectKind kind, const RightsReader& judge)
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
    if (!present || dacl == nullptr) {
        // No DACL at all, or a null one, lets everyone do anything.
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

Status untrustedChangerOf(const wchar_t* path, ObjectKind kind, Changer& changer, const RightsReader& judge)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const Status status = judge.read(path, &descriptor);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const UniqueLocal owned(descriptor);
    changer = untrustedChanger(descriptor, kind, judge);
    return ERROR_SUCCESS;
}
