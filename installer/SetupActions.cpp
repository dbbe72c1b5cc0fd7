// Windows Installer custom actions of the tarvel package, built from the program's own
// start-up code so that uninstalling removes exactly what a pass registers.
#include "common/TextLine.h"
#include "common/ChangeRights.h"
#include "common/Paths.h"
#include "common/PassLock.h"
#include "common/TaskSchedulerWait.h"
#include "installer/InstallFolder.h"
#include "installer/MsiSession.h"
#include "startup/LogonStart.h"
#include "startup/RunEntry.h"
#include "startup/TarvelTask.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <aclapi.h>
#include <objbase.h>

#include <cwchar>

namespace {

// Repair and upgrade install into the folder the installed product holds: it was locked at
// install, so whatever it holds besides the product, only administrators can have added.
bool isInstalledProductsFolder(MSIHANDLE install, const wchar_t* folder)
{
    UniqueHeapText remembered;
    UniqueHeapText upgradeCode;
    if (readProperty(install, L"REMEMBERED_INSTALLDIR", remembered) != ERROR_SUCCESS ||
        !samePath(remembered.get(), folder) || readProperty(install, L"UpgradeCode", upgradeCode) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t product[39] = {};
    return MsiEnumRelatedProductsW(upgradeCode.get(), 0, 0, product) == ERROR_SUCCESS;
}

// "a, b and c": the first names, then how many more, so that one try shows them all.
const size_t kEntriesText = ForeignEntries::kNamed * (MAX_PATH + 2) + 32;
void nameEntries(const ForeignEntries& entries, wchar_t (&text)[kEntriesText])
{
    TextBuilder out(text, kEntriesText);
    const size_t named = entries.count < ForeignEntries::kNamed ? entries.count : ForeignEntries::kNamed;
    for (size_t index = 0; index < named; ++index) {
        if (index > 0) {
            out << (index + 1 == entries.count ? L" and " : L", ");
        }
        out << entries.names[index];
    }
    if (entries.count > named) {
        out << L" and " << static_cast<unsigned long>(entries.count - named) << L" more";
    }
}

// A folder refused for where it is, whatever it holds, each reason with a line of its own; an
// installed product in such a folder is told how to move.
void refuseFolder(MSIHANDLE install, const wchar_t* folder, FolderVerdict verdict)
{
    if (verdict == FolderVerdict::DriveRoot) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] is the root of a drive, whose permissions the install would take "
                L"over. Choose a folder of its own, for example C:\\Tools\\Tarvel\\.",
                folder);
    } else if (verdict == FolderVerdict::EndsInSpaceOrDot) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] has a part that ends in a space or a dot, which Windows leaves out "
                L"when it makes the folder, so the folder locked would not be the folder installed into. Choose a "
                L"folder without one, for example C:\\Tools\\Tarvel\\.",
                folder);
    } else {
        wchar_t kind[64] = {};
        TextBuilder(kind, 64) << driveKindWords(installFolderDrive(folder));
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] is on [2], where others than this machine's administrators can "
                L"replace the program that runs as an administrator at every logon. Choose a folder on a local "
                L"fixed drive, for example C:\\Tools\\Tarvel\\.",
                folder, kind);
    }
    if (isInstalledProductsFolder(install, folder)) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: Ombrix Tarvel is installed in [1], which this version refuses. Move it by giving the "
                L"folder: msiexec /i tarvel.msi INSTALLDIR=C:\\Tools\\Tarvel\\.",
                folder);
    }
}

// One way up from start (of kind) to the drive's root: each folder there that others may
// rename, with way after its name in the log.
void reportOpenFoldersOnWay(MSIHANDLE install, const wchar_t* start, ObjectKind kind, const wchar_t* way)
{
    walkUp(start, kind, machineJudge(), [&](const wchar_t* path, ObjectKind at, Status status, const Changer& changer) {
        // The install folder itself gets the lock; a folder missing yet is made locked.
        if (at != ObjectKind::Folder && status == ERROR_SUCCESS && changer.found &&
            GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
            wchar_t how[64] = {};
            TextBuilder(how, 64) << changer.how;
            wchar_t named[MAX_PATH + 64] = {};
            TextBuilder(named, MAX_PATH + 64) << path << way;
            logLine(install, INSTALLMESSAGE_INFO,
                    L"tarvel: the folder [1] above the install folder can be [2] [3]: whoever may rename it "
                    L"can put another program in the install folder's place. Lock it, or choose a folder "
                    L"under one that only administrators can change.",
                    named, how, changer.account);
        }
        return true;
    });
}

// Folders above the install folder stay as they are; one that others may rename lets them
// put a program of their own in the install folder's place, which the install log says. On
// the way as given, and on the real way where a link or a substituted drive lies on it.
void reportOpenFoldersAbove(MSIHANDLE install, const wchar_t* folder)
{
    reportOpenFoldersOnWay(install, folder, ObjectKind::Folder, L"");
    wchar_t existing[MAX_PATH + 1] = {};
    ObjectKind kind = ObjectKind::Folder;
    wchar_t real[MAX_PATH] = {};
    if (realWayOfNearestFolder(folder, existing, kind, real)) {
        reportOpenFoldersOnWay(install, real, kind, L" (on the real path of the install folder)");
    }
}

}  // namespace

// Install, repair and upgrade, before anything changes: the install folder must be a folder
// of the product's own. The lock replaces its permissions, and Windows hands them down to
// everything inside, which uninstall cannot give back: a drive's root, or a folder holding
// anything else, is refused, but for the installed product's own folder on repair and
// upgrade. So is a folder too long for the files in it to start, a relative one, one on a drive
// that others than this machine's administrators can change (a share, a removable drive), and
// one with a part ending in a space or a dot. The folder is judged, locked, installed into and
// remembered as one spelling, its full path: "C:/Tools/", "\\\\?\\E:\\" or "E:\\." are what
// Windows makes of them, "C:\\Tools\\" and "E:\\". Then works out, before any
// change, which folders the lock must make or lock, for the deferred action (Wine runs
// deferred actions after the files are copied, so the folders missing now cannot be told
// there).
extern "C" UINT WINAPI PrepareInstallFolder(MSIHANDLE install)
{
    UniqueHeapText given;
    if (!readNeededProperty(install, L"INSTALLDIR", L"tarvel: the install folder could not be read: error [2]",
                            ERROR_PATH_NOT_FOUND, given)) {
        return ERROR_INSTALL_FAILURE;
    }
    // A relative folder would be taken from wherever msiexec runs; "E:Tools" from drive E:'s
    // current folder. "C:/Tools" is as full as "C:\\Tools".
    asWindowsReadsIt(given.get());
    if (isRelativePath(given.get())) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] is not a full path, so Windows would take it from the folder "
                L"msiexec runs in. Give INSTALLDIR as a full path, for example C:\\Tools\\Tarvel\\.",
                given.get());
        return ERROR_INSTALL_FAILURE;
    }
    // One spelling, judged, locked, installed into and remembered: Windows Installer's
    // folders end with a backslash.
    wchar_t folder[MAX_PATH] = {};
    const bool full = normalInstallFolder(given.get(), folder);
    ForeignEntries others;
    const FolderVerdict verdict = full ? judgeInstallFolder(folder, others) : FolderVerdict::TooLong;
    if (verdict == FolderVerdict::TooLong) {
        wchar_t limit[24] = {};
        TextBuilder(limit, 24) << static_cast<unsigned long>(kLongestInstallFolder);
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] is too long: tarvel-check.exe in it, the longest path the package "
                L"installs beside tarvel.exe, would have a path of 260 characters or more (MAX_PATH), which Windows "
                L"cannot start. Choose a folder of at most [2] characters, the closing backslash included.",
                given.get(), limit);
        return ERROR_INSTALL_FAILURE;
    }
    if (verdict == FolderVerdict::DriveRoot || verdict == FolderVerdict::EndsInSpaceOrDot ||
        verdict == FolderVerdict::NotLocalFixed) {
        refuseFolder(install, folder, verdict);
        return ERROR_INSTALL_FAILURE;
    }
    if (verdict == FolderVerdict::HoldsOthers) {
        wchar_t names[kEntriesText] = {};
        nameEntries(others, names);
        if (!isInstalledProductsFolder(install, folder)) {
            logLine(install, INSTALLMESSAGE_ERROR,
                    L"tarvel: the install folder [1] holds [2], which [3] not Ombrix Tarvel's; the install would take "
                    L"over its permissions. Remove what is not Ombrix Tarvel's, or choose a folder of its own, for "
                    L"example C:\\Tools\\Tarvel\\.",
                    folder, names, others.count == 1 ? L"is" : L"are");
            return ERROR_INSTALL_FAILURE;
        }
        logLine(install, INSTALLMESSAGE_INFO,
                L"tarvel: the install folder [1] of the installed product also holds [2], which administrators added; "
                L"they stay as they are.",
                folder, names);
    }
    // The folder locked is the folder installed into.
    const Status taken =
        std::wcscmp(folder, given.get()) == 0 ? ERROR_SUCCESS : MsiSetTargetPathW(install, L"INSTALLDIR", folder);
    if (taken != ERROR_SUCCESS) {
        logFailure(install, L"tarvel: the install folder could not be taken as its full path [1]: error [2]", folder,
                   taken);
        return ERROR_INSTALL_FAILURE;
    }
    reportOpenFoldersAbove(install, folder);
    const size_t needed = foldersToLock(folder, nullptr, 0);
    UniqueHeapText folders = allocateText(needed);
    if (!folders || foldersToLock(folder, folders.get(), needed + 1) > needed + 1) {
        logFailure(install, L"tarvel: the folders to lock under [1] could not be listed: error [2]", folder,
                   ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_INSTALL_FAILURE;
    }
    // A deferred action reads its CustomActionData from the property of its own name.
    return MsiSetPropertyW(install, L"LockInstallFolder", folders.get());
}

// Before the folders are made and the files copied: each folder the install makes on the way
// is made locked, and the install folder, made or found, gets the lock and Administrators as
// its owner, so that no file can be swapped in before the first pass runs it as SYSTEM. The
// lock is the package's promise: a folder that could not be made locked fails the install,
// which rolls back.
extern "C" UINT WINAPI LockInstallFolder(MSIHANDLE install)
{
    UniqueHeapText folders;
    if (!readNeededProperty(install, L"CustomActionData",
                            L"tarvel: the folders to lock (its CustomActionData) could not be read: error [2]",
                            ERROR_INVALID_DATA, folders)) {
        return ERROR_INSTALL_FAILURE;
    }
    FolderLock folderLock;
    for (wchar_t* folder = folders.get(); folder != nullptr;) {
        wchar_t* next = std::wcschr(folder, L'|');
        if (next != nullptr) {
            *next++ = L'\0';
        }
        const bool missing = GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES;
        const Status status = missing ? folderLock.create(folder) : folderLock.lock(folder);
        if (status != ERROR_SUCCESS) {
            logFailure(install,
                       missing ? L"tarvel: the folder [1] could not be made locked: error [2]"
                               : L"tarvel: the folder [1] could not be locked: error [2]",
                       folder, status);
            return ERROR_INSTALL_FAILURE;
        }
        folder = next;
    }
    return ERROR_SUCCESS;
}

// Uninstall: once the program is gone nothing may try to start it at logon. Install: the
// pass that follows registers the installed path afresh. Both kinds of logon start-up go,
// whatever the release: a machine may have been upgraded since the pass registered one, and
// the module refuses the task at once where there is no Task Scheduler 2.0. The port values
// and the marker belong to the machine and stay as they are. A Task Scheduler that does not
// answer within the bound is left behind, with a line in the log: no install or uninstall
// waits for it for ever.
extern "C" UINT WINAPI RemoveLogonStartup(MSIHANDLE install)
{
    // A pass already past its probe would register the start-up again right after us.
    const PassLock passLock;
    // One deadline for the action, once the lock is had: a pass that held it has ended.
    startTaskSchedulerDeadline();
    unregisterRunEntry();
    removeNativeRunEntry();
    const HRESULT initialized = CoInitialize(nullptr);
    // The module answers in COM's kind.
    const Status removal = comStatus(DisableLogonStartup(kTarvelTaskName));
    if (SUCCEEDED(initialized)) {
        CoUninitialize();
    }
    if (removal == kTaskSchedulerTimedOut) {
        logLine(install, INSTALLMESSAGE_INFO,
                L"tarvel: the logon start-up could not be removed whole: [1], so a logon task \"Ombrix Tarvel\" may "
                L"remain. The package goes on without it.",
                kTaskSchedulerSilent);
    }
    // Uninstalling must never fail for want of a start-up that is already gone.
    return ERROR_SUCCESS;
}
