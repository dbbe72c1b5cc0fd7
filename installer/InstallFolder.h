#pragma once
// The install folder: a folder of the product's own, refused otherwise, and locked from the
// first byte, so that nobody but administrators can change a program that runs as an
// administrator at every logon.
#include "common/platform/Owners.h"
#include "common/trust/Trust.h"
#include "common/platform/Status.h"
#include "common/text/Text.h"
#include "common/text/TextLine.h"

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

// The one spelling of an install folder that the package judges, locks, installs into and
// remembers: the full path Windows makes of given ("\\?\" taken off before a drive or "UNC\",
// slashes as backslashes, "." and ".." resolved, a run of backslashes as one) with one closing
// backslash. A path in a device namespace ("\\?\GLOBALROOT\...", "\\.\C:\") keeps its prefix,
// so that the judge sees it for what it is. False when it does not fit.
bool normalInstallFolder(const wchar_t* given, wchar_t (&folder)[MAX_PATH]);

enum class FolderVerdict {
    OwnFolder,         // missing, empty, or holding only files administrators alone can have put there
    DriveRoot,         // C:\, \\server\share\ or a mounted folder: its permissions are the whole volume's
    EndsInSpaceOrDot,  // a part Windows would make without its last space or dot: another folder
    DevicePath,        // \\.\, \\?\GLOBALROOT, \\?\Volume{...}: a device's own name, not a folder's
    ReservedName,      // a part Win32 opens as a device (NUL, COM1.txt): the lock would act on the device
    NotAFolder,        // a file of that name: the lock acts only on a folder
    IsALink,           // a link or junction: the lock would change the link, not the folder the files go to
    NotLocalFixed,     // on a drive whose files others than this machine's administrators can change
    OpenAbove,         // a folder above that others may rename, delete or re-permission
    HoldsOthers,       // holds a folder, or a file that others own or may change
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

// What a folder holds that the install cannot take as its own: the first names, and how many
// in all.
struct ForeignEntries {
    static const size_t kNamed = 10;
    wchar_t names[kNamed][MAX_PATH] = {};
    size_t count = 0;
};

// What a refusal of an install folder names: what it holds, or the folder above that others
// may change and why.
struct FolderFindings {
    ForeignEntries others;
    wchar_t above[MAX_PATH + 1] = {};
    bool aboveOnRealWay = false;
    Text whyAbove;  // "renamed also by Users", "a link ...", "unreadable, error 5"
};

// Whether folder may be the install folder. installedHere: the installed product of this family
// lies in it, so what it holds besides the product, administrators added, once its own
// permissions show that only they could (it is named in findings.others, to be said).
FolderVerdict judgeInstallFolder(const wchar_t* folder, bool installedHere, FolderFindings& findings,
                                 const StartReader& judge = machineStartReader());

// What folder holds that the install cannot trust: a folder other than expectedFolder (the next
// level the install makes beneath it, or none), a file that others own or may change, or whose
// permissions cannot be read. Named in others.
void judgeFolderContents(const wchar_t* folder, const wchar_t* expectedFolder, ForeignEntries& others,
                         const RightsReader& judge = machineRightsReader());

// The longest install folder, closing backslash included, in which the path of every file the
// package installs stays shorter than MAX_PATH; tarvel-check.exe's is the longest. In a longer
// one the package would install a program that Windows could never start.
extern const size_t kLongestInstallFolder;
bool programPathFits(const wchar_t* folder);

// How the lock is to take each folder it is handed, the first character of its entry.
enum class LockEntry : wchar_t {
    Missing = L'+',    // missing when judged: made locked; one that appeared since is judged first
    Judged = L'=',     // found and judged: locked, then what it holds judged again
    Installed = L'*',  // the installed product's own locked folder: locked as it is
};

// The folders to lock, top down, separated by '|', each after its LockEntry: those of folder's
// path that do not exist yet, then folder itself (as installed, when installed says so),
// without its closing backslash. Each missing level is listed in full, so the list grows with
// the square of the depth: it is written to list only when capacity holds it and its NUL, and
// the capacity it needs is answered in any case (0 when the paths of the files in folder would
// not fit).
size_t foldersToLock(const wchar_t* folder, bool installed, wchar_t* list, size_t capacity);

// Why the lock refused a folder that appeared after the install judged it missing: its owner,
// or what it holds.
struct AppearedFolder {
    bool refused = false;
    Changer owner;  // found when others own it
    ForeignEntries others;
};

// A folder made by someone since the install judged it missing is taken only when
// administrators own it and it holds only what the install wrote: expectedFolder (the next
// level, or none) and files only administrators can change.
AppearedFolder judgeAppearedFolder(const wchar_t* folder, const wchar_t* expectedFolder,
                                   const RightsReader& judge = machineRightsReader());
