#pragma once
// The install folder: a folder of the product's own, refused otherwise, and locked from the
// first byte, so that nobody but administrators can change a program that runs as an
// administrator at every logon.
#include "common/Owners.h"

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

    // Locks an existing folder: owner and DACL.
    DWORD lock(const wchar_t* folder);
    // Makes a folder that is locked from the moment it exists.
    DWORD create(const wchar_t* folder);

private:
    UniqueSid system_;
    UniqueSid administrators_;
    UniqueSid users_;
    // Three entries of at most SECURITY_MAX_SID_SIZE each, DWORD-aligned as an ACL must be.
    DWORD acl_[(sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)) / sizeof(DWORD) + 1] = {};
    SECURITY_DESCRIPTOR descriptor_ = {};
    bool ok_ = false;
};

enum class FolderVerdict {
    OwnFolder,    // missing, empty, or holding this product's files only
    DriveRoot,    // C:\ or \\server\share\: its permissions are the whole drive's
    HoldsOthers,  // holds something else: taking it over would change what is not ours
};

// Whether folder may be the install folder. offending receives the first name it holds
// that is not the product's (empty otherwise).
FolderVerdict judgeInstallFolder(const wchar_t* folder, wchar_t (&offending)[MAX_PATH]);

// The folders to lock, top down, separated by '|': those of folder's path that do not exist
// yet, then folder itself. Empty when the path is too long.
bool foldersToLock(const wchar_t* folder, wchar_t* list, size_t capacity);
