#pragma once
// The install folder: a folder of the product's own, refused otherwise, and locked from the
// first byte, so that nobody but administrators can change a program that runs as an
// administrator at every logon.
#include "common/Owners.h"
#include "common/StartTrust.h"
#include "common/Status.h"
#include "common/Text.h"

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

// The one spelling of an install folder that the package judges, locks, installs into and
// remembers: the full path Windows makes of given ("\\?\" taken off, slashes as backslashes,
// "." and ".." resolved, a run of backslashes as one) with one closing backslash. False when it
// does not fit.
bool normalInstallFolder(const wchar_t* given, wchar_t (&folder)[MAX_PATH]);

enum class FolderVerdict {
    OwnFolder,         // missing, empty, or holding this product's files only
    DriveRoot,         // C:\, \\server\share\ or a mounted folder: its permissions are the whole volume's
    EndsInSpaceOrDot,  // a part Windows would make without its last space or dot: another folder
    NotLocalFixed,     // on a drive whose files others than this machine's administrators can change
    HoldsOthers,       // holds something else: taking it over would change what is not ours
    TooLong,           // tarvel.exe in it would have a path that Windows cannot start
};

// The real way of an install folder that may not exist yet: the nearest of its folders that
// exists, as existing (kind says what it is to the install folder), and the final path behind
// it, when a link or a substituted drive makes that differ. False when there is none such.
bool realWayOfNearestFolder(const wchar_t* folder, wchar_t (&existing)[MAX_PATH + 1], ObjectKind& kind,
                            wchar_t (&real)[MAX_PATH]);

// The drive an install folder lies on, on its written way and on the real way behind the
// nearest of its folders that exists: the first that is not a local fixed drive, else that.
DriveKind installFolderDrive(const wchar_t* folder, const VolumeReader& reader = VolumeReader());

// What a folder holds that is not the product's: the first names, and how many in all.
struct ForeignEntries {
    static const size_t kNamed = 10;
    wchar_t names[kNamed][MAX_PATH] = {};
    size_t count = 0;
};

// Whether folder may be the install folder; others receives what it holds besides the
// product, so that one refusal names it all.
FolderVerdict judgeInstallFolder(const wchar_t* folder, ForeignEntries& others,
                                 const VolumeReader& reader = VolumeReader());

// The longest install folder, closing backslash included, in which the path of every file the
// package installs stays shorter than MAX_PATH; tarvel-check.exe's is the longest. In a longer
// one the package would install a program that Windows could never start.
extern const size_t kLongestInstallFolder;
bool programPathFits(const wchar_t* folder);

// The folders to lock, top down, separated by '|': those of folder's path that do not exist
// yet, then folder itself, without its closing backslash. Each missing level is listed in
// full, so the list grows with the square of the depth: it is written to list only when
// capacity holds it and its NUL, and the capacity it needs is answered in any case (0 when
// the paths of the files in folder would not fit).
size_t foldersToLock(const wchar_t* folder, wchar_t* list, size_t capacity);
