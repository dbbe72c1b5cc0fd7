#include "common/trust/Trust.h"

#include "common/platform/Owners.h"
#include "common/platform/SystemFacts.h"
#include "common/platform/WellKnownSids.h"

#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

#include <cstddef>
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

ChangeWay howChanged(ACCESS_MASK rights, ObjectKind kind)
{
    if (kind != ObjectKind::File && (rights & (DELETE | kEmptyingRights)) != 0) {
        return ChangeWay::RenamedBy;
    }
    if (kind == ObjectKind::File && (rights & DELETE) != 0) {
        return ChangeWay::DeletedBy;
    }
    return ChangeWay::ChangedBy;
}

bool isDenyEntry(BYTE type)
{
    return type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
           type == ACCESS_DENIED_CALLBACK_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE;
}

// The account an allow entry grants to: after the mask in a plain or a conditional (callback)
// entry, after the object types present in an object entry. Null for a kind not known here.
PSID trusteeOf(const ACE_HEADER* header)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(header);
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
        return const_cast<BYTE*>(bytes + offsetof(ACCESS_ALLOWED_ACE, SidStart));
    }
    if (header->AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
        header->AceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE) {
        const auto* object = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header);
        size_t at = offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType);
        at += (object->Flags & ACE_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0;
        at += (object->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0;
        return at + sizeof(SID) <= header->AceSize ? const_cast<BYTE*>(bytes + at) : nullptr;
    }
    return nullptr;
}

}  // namespace

const char* changeWords(ChangeWay way)
{
    switch (way) {
        case ChangeWay::None:
            return "";
        case ChangeWay::OwnedBy:
            return "owned by";
        case ChangeWay::RenamedBy:
            return "renamed also by";
        case ChangeWay::DeletedBy:
            return "deleted also by";
        case ChangeWay::ChangedBy:
            return "changed also by";
        case ChangeWay::RepermissionedBy:
            return "re-permissioned also by";
        case ChangeWay::LinkOwnedBy:
            return "a link owned by";
        case ChangeWay::LinkChangedBy:
            return "a link changed also by";
    }
    return "";
}

Status readDescriptor(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor)
{
    return GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, nullptr, nullptr, descriptor);
}

RightsReader machineRightsReader()
{
    RightsReader reader;
    reader.powerUsersTrusted = !isVistaOrLater();
    return reader;
}

namespace {

// The first untrusted owner, or allow entry for the object itself that grants any of wanted.
Changer changerWith(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK wanted, ObjectKind kind, const RightsReader& reader)
{
    Changer changer;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    // The owner may always rewrite the permissions.
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr &&
        !isTrustedAccount(owner, reader)) {
        changer.found = true;
        changer.how = ChangeWay::OwnedBy;
        nameAccount(owner, changer);
        return changer;
    }
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) {
        // No DACL at all, or a null one, lets everyone do anything; one that cannot be read
        // trusts no one.
        changer.found = true;
        changer.how = howChanged(GENERIC_ALL, kind);
        lstrcpynW(changer.account, L"Everyone", 256);
        return changer;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        const bool read = GetAce(dacl, index, &entry) != FALSE;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        // Every entry's mask follows its header. An entry only for what a folder holds says
        // nothing of the folder itself, and a deny entry grants nothing.
        if (read && ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || isDenyEntry(header->AceType) ||
                     (static_cast<const ACCESS_ALLOWED_ACE*>(entry)->Mask & wanted) == 0)) {
            continue;
        }
        // An entry the judge cannot read, or of a kind it does not know (Windows honours a
        // conditional entry from 7 on), counts as granting its rights to someone else.
        const PSID trustee = read ? trusteeOf(header) : nullptr;
        if (trustee == nullptr || !isTrustedAccount(trustee, reader)) {
            changer.found = true;
            changer.how =
                howChanged(read ? static_cast<const ACCESS_ALLOWED_ACE*>(entry)->Mask & wanted : GENERIC_ALL, kind);
            if (trustee != nullptr) {
                nameAccount(trustee, changer);
            } else {
                lstrcpynW(changer.account, L"an entry the judge cannot read", 256);
            }
            return changer;
        }
    }
    return changer;
}

}  // namespace

Changer untrustedChanger(PSECURITY_DESCRIPTOR descriptor, ObjectKind kind, const RightsReader& reader)
{
    return changerWith(descriptor, changingRights(kind), kind, reader);
}

Changer permissionsChanger(PSECURITY_DESCRIPTOR descriptor, const RightsReader& reader)
{
    Changer changer = changerWith(descriptor, kPermissionRights | GENERIC_ALL, ObjectKind::Folder, reader);
    if (changer.found && changer.how != ChangeWay::OwnedBy) {
        changer.how = ChangeWay::RepermissionedBy;
    }
    return changer;
}

Status readLinkDescriptor(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor)
{
    const DWORD attributes = GetFileAttributesW(path);
    const Status missing = attributes == INVALID_FILE_ATTRIBUTES ? lastErrorStatus() : ERROR_SUCCESS;
    if (missing != ERROR_SUCCESS && missing != ERROR_FILE_NOT_FOUND && missing != ERROR_PATH_NOT_FOUND) {
        return missing;
    }
    // Nothing there is no link either.
    if (missing != ERROR_SUCCESS || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return ERROR_NOT_A_REPARSE_POINT;
    }
    const UniqueHandle link =
        ownHandle(CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!link) {
        return lastErrorStatus();
    }
    return readHandleDescriptor(link.get(), descriptor);
}

Status readHandleDescriptor(HANDLE object, PSECURITY_DESCRIPTOR* descriptor)
{
    return GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, nullptr, nullptr, descriptor);
}

Status untrustedChangerOf(const wchar_t* path, ObjectKind kind, Changer& changer, const RightsReader& reader)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const Status status = reader.read(path, &descriptor);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const UniqueLocal owned(descriptor);
    changer = untrustedChanger(descriptor, kind, reader);
    if (changer.found) {
        return ERROR_SUCCESS;
    }
    PSECURITY_DESCRIPTOR linkDescriptor = nullptr;
    const Status link = reader.readLink(path, &linkDescriptor);
    if (link == ERROR_NOT_A_REPARSE_POINT) {
        return ERROR_SUCCESS;
    }
    if (link != ERROR_SUCCESS) {
        return link;
    }
    const UniqueLocal linkOwned(linkDescriptor);
    // Whoever may write, rename or re-permission the link itself may point it elsewhere.
    changer = untrustedChanger(linkDescriptor, ObjectKind::File, reader);
    if (changer.found) {
        changer.how = changer.how == ChangeWay::OwnedBy ? ChangeWay::LinkOwnedBy : ChangeWay::LinkChangedBy;
    }
    return ERROR_SUCCESS;
}
