#include "installer/FolderLock.h"

#include "common/platform/WellKnownSids.h"

#include <aclapi.h>

FolderLock::FolderLock()
    : system_(ntAuthoritySid(SECURITY_LOCAL_SYSTEM_RID)), administrators_(builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS)),
      users_(builtinGroupSid(DOMAIN_ALIAS_RID_USERS))
{
    auto* acl = reinterpret_cast<PACL>(acl_);
    const DWORD inherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    ok_ = system_ && administrators_ && users_ && InitializeAcl(acl, sizeof acl_, ACL_REVISION) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, system_.get()) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, administrators_.get()) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, users_.get()) &&
          InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorOwner(&descriptor_, administrators_.get(), FALSE) &&
          SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!ok_ && GetLastError() == ERROR_SUCCESS) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
}

Status FolderLock::lock(const wchar_t* folder)
{
    if (!ok_) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // One handle, so that what is found to be a folder is what gets the lock.
    const UniqueHandle handle =
        ownHandle(CreateFileW(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) {
        return lastErrorStatus();
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(handle.get(), &information)) {
        return lastErrorStatus();
    }
    // The name is asked too: Wine opens the folder a symbolic link leads to, and says so only
    // of the name.
    const DWORD named = GetFileAttributesW(folder);
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || named == INVALID_FILE_ATTRIBUTES ||
        (named & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return ERROR_DIRECTORY;
    }
    const Status locked =
        SetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, reinterpret_cast<PACL>(acl_), nullptr);
    // The owner may always rewrite the permissions: whoever made the folder before the
    // install must not keep that. Set apart, so that a refused owner keeps the lock.
    const Status owned = SetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                         administrators_.get(), nullptr, nullptr, nullptr);
    return locked != ERROR_SUCCESS ? locked : owned;
}

Status FolderLock::create(const wchar_t* folder)
{
    if (!ok_) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor_, FALSE};
    return CreateDirectoryW(folder, &attributes) ? ERROR_SUCCESS : lastErrorStatus();
}
