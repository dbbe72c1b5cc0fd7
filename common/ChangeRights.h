#pragma once
// Who, besides administrators, may change a file or folder: whoever can replace a program
// that starts at logon, or the folders it lies in, runs their own program there. The check
// and the package's lock ask it the same way.
#include <windows.h>

enum class ObjectKind {
    File,
    Folder,
    // A drive's root: everyone may add folders to a standard one; only the rights that
    // rename or delete what it holds count there.
    Root,
};

struct Changer {
    bool found = false;
    const char* how = "";       // "owned by", "renamed also by", "changed also by"
    wchar_t account[256] = {};  // the account's name, or its SID when it has none
};

// The first untrusted account that owns the object or that an allow entry for the object
// itself gives a changing right. Trusted: SYSTEM, Administrators, TrustedInstaller, CREATOR
// OWNER (a placeholder) and the users who are members of Administrators.
Changer untrustedChanger(PSECURITY_DESCRIPTOR descriptor, ObjectKind kind);

// Reads path's owner and permissions; ERROR_SUCCESS unless they could not be read.
DWORD untrustedChangerOf(const wchar_t* path, ObjectKind kind, Changer& changer);

bool isTrustedAccount(PSID sid);

// The part of a path that no rename can change: "C:\\" (or "C:"), "\\\\server\\share\\"; 0 for a
// relative path.
size_t pathRootLength(const wchar_t* path);

// Cuts path to the folder that holds it, trailing backslashes aside; kind receives Root when
// that is the drive's root, else Folder. False when nothing holds path (a root, a bare name).
bool toParentFolder(wchar_t* path, ObjectKind& kind);
