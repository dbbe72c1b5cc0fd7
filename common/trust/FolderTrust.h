#pragma once
// The judge's verdicts on an install folder: whether the package may take a folder as its own,
// lock it and start what it holds as SYSTEM. A folder is taken when it is missing, or when an
// account the judge trusts owns it, no one else may change its permissions or owner, it lies
// under folders no one else may rename, and it holds nothing others could have put there.
#include "common/trust/Trust.h"
#include "common/text/TextLine.h"

#include <windows.h>

enum class FolderVerdict {
    OwnFolder,          // missing, empty, or holding only files administrators alone can have put there
    DriveRoot,          // C:\, \\server\share\ or a mounted folder: its permissions are the whole volume's
    EndsInSpaceOrDot,   // a part Windows would make without its last space or dot: another folder
    DevicePath,         // \\.\, \\?\GLOBALROOT, \\?\Volume{...}: a device's own name, not a folder's
    ReservedName,       // a part Win32 opens as a device (NUL, COM1.txt): the lock would act on the device
    NotAFolder,         // a file of that name: the lock acts only on a folder
    IsALink,            // a link or junction: the lock would change the link, not the folder the files go to
    NotLocalFixed,      // on a drive whose files others than this machine's administrators can change
    OpenAbove,          // a folder above that others may rename, delete or re-permission
    HoldsOthers,        // holds a folder, or a file that others own or may change
    TooLong,            // tarvel.exe in it would have a path that Windows cannot start
    NamelessCharacter,  // a character no Windows name may hold (< > " | ? *, a control character, a late ':')
    HoldsOtherFile,     // a file of the package's name that is not exactly the package's own
    OthersOwnFolder,    // another account owns the folder, or others may change its permissions or owner
};

// A file the package installs, as the package holds it: Windows Installer keeps a file of the same
// or a higher version that it finds in place, so one found there must be exactly this one.
struct PackageFile {
    wchar_t name[MAX_PATH] = {};
    DWORD size = 0;
};
struct PackageFiles {
    static const size_t kMost = 4;
    PackageFile files[kMost];
    size_t count = 0;
    wchar_t version[32] = {};  // the release's, which each file's version resource states
};

// Whether path is exactly the package's file: one name for the file (no other hard link to it),
// of the package's size, and by its version resource tarvel's file of that name in the
// package's version.
bool isPackageOwnFile(const wchar_t* path, const PackageFile& file, const wchar_t* version);

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
    Text whyAbove;   // "renamed also by Users", "a link ...", "unreadable, error 5"
    Changer folder;  // for OthersOwnFolder: who else owns the folder or may change its permissions
};

// Whether folder may be the install folder. installedHere: the installed product of this family
// lies in it, so what it holds besides the product, administrators added, once its own
// permissions show that only they could (it is named in findings.others, to be said).
// package: the files the package installs, which a folder found holds only as exactly the
// package's own (in the installed product's folder, what it holds is the product's).
FolderVerdict judgeInstallFolder(const wchar_t* folder, bool installedHere, const PackageFiles& package,
                                 FolderFindings& findings, const StartReader& reader = machineStartReader());

// What folder holds that the install cannot trust: a folder other than expectedFolder (the next
// level the install makes beneath it, or none), a file that others own or may change, or whose
// permissions cannot be read, named in others; a file of the package's name that is not exactly
// the package's own, named in otherFiles.
void judgeFolderContents(const wchar_t* folder, const wchar_t* expectedFolder, const PackageFiles& package,
                         ForeignEntries& others, ForeignEntries& otherFiles,
                         const RightsReader& reader = machineRightsReader());

// The longest install folder, closing backslash included, in which the path of every file the
// package installs stays shorter than MAX_PATH; tarvel-check.exe's is the longest. In a longer
// one the package would install a program that Windows could never start.
extern const size_t kLongestInstallFolder;
bool programPathFits(const wchar_t* folder);

// Why the lock refused a folder that appeared after the install judged it missing: its owner,
// or what it holds.
struct AppearedFolder {
    bool refused = false;
    Changer owner;  // found when others own it, or may change its permissions or owner
    ForeignEntries others;
    ForeignEntries otherFiles;  // files of the package's names that are not its own
};

// A folder made by someone since the install judged it missing is taken only when
// administrators own it, no one else may change its permissions or owner, and it holds only
// what the install wrote: expectedFolder (the next level, or none), the package's own files,
// and files only administrators can change.
AppearedFolder judgeAppearedFolder(const wchar_t* folder, const wchar_t* expectedFolder, const PackageFiles& package,
                                   const RightsReader& reader = machineRightsReader());
