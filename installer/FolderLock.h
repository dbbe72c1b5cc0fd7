#pragma once
// The install folder's lock: a folder of the product's own, locked from the first byte, so that
// nobody but administrators can change a program that runs as an administrator at every logon.
#include "common/platform/Owners.h"
#include "common/platform/Status.h"

#include <windows.h>

// The lock: owner Administrators; SYSTEM and Administrators full control, Users read and
// execute, each inherited by files and folders; a protected DACL, so that nothing of the
// parent's (Authenticated Users may modify, under C:\ from Windows 7 on) reaches inside.
// Absolute, built from well-known SIDs, so that every language of Windows names the same
// accounts.
class FolderLock {
public:
    FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // False when it could not be built; GetLastError says why.
    bool ok() const { return ok_; }
    PSECURITY_DESCRIPTOR descriptor() { return &descriptor_; }

    // Locks an existing folder, owner and DACL, through one handle to it that follows no link:
    // ERROR_DIRECTORY, and nothing changed, when that is not a folder (a file, a device behind
    // a reserved name, or a link, whose own permissions are not its target's).
    Status lock(const wchar_t* folder);
    // Makes a folder that is locked from the moment it exists.
    Status create(const wchar_t* folder);

private:
    UniqueSid system_;
    UniqueSid administrators_;
    UniqueSid users_;
    // Three entries of at most SECURITY_MAX_SID_SIZE each, DWORD-aligned as an ACL must be.
    DWORD acl_[(sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)) / sizeof(DWORD) + 1] = {};
    SECURITY_DESCRIPTOR descriptor_ = {};
    bool ok_ = false;
};
