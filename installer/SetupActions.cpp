// Windows Installer custom actions of the tarvel package, built from the program's own
// start-up code so that uninstalling removes exactly what a pass registers.
#include "common/text/TextLine.h"
#include "common/trust/Trust.h"
#include "common/platform/Paths.h"
#include "common/platform/Process.h"
#include "common/platform/Registry.h"
#include "common/product/PassLock.h"
#include "common/product/ProductFamily.h"
#include "common/product/AccountLookups.h"
#include "common/product/Deadlines.h"
#include "common/product/TarvelProgram.h"
#include "common/trust/FolderTrust.h"
#include "installer/FolderLock.h"
#include "installer/LockList.h"
#include "installer/MsiSession.h"
#include "startup/LogonStart.h"
#include "startup/RunEntry.h"
#include "startup/TarvelTask.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <aclapi.h>
#include <objbase.h>

#include "tarvel_version.h"

#include <cwchar>
#include <memory>
#include <new>

namespace {

// The folder of the installed product of this family, as Windows Installer registered its
// program: not a value that others could have written. False when none is installed.
bool findInstalledFolder(MSIHANDLE install, wchar_t (&folder)[MAX_PATH])
{
    UniqueHeapText upgradeCode;
    if (readProperty(install, L"UpgradeCode", upgradeCode) != ERROR_SUCCESS) {
        return false;
    }
    bool installed = false;
    wchar_t program[MAX_PATH] = {};
    ObjectKind kind = ObjectKind::File;
    if (installedFamilyProgram(upgradeCode.get(), installed, program) != ERROR_SUCCESS || program[0] == L'\0' ||
        !toParentFolder(program, kind) || !withClosingBackslash(program, MAX_PATH)) {
        return false;
    }
    lstrcpynW(folder, program, MAX_PATH);
    return true;
}

// Repair and upgrade install into the folder the installed product holds: it was locked at
// install, so whatever it holds besides the product, only administrators can have added. One
// folder however written: "C:\\PROGRA~1\\Tarvel\\" is "C:\\Program Files\\Tarvel\\".
bool isInstalledProductsFolder(MSIHANDLE install, const wchar_t* folder)
{
    wchar_t installed[MAX_PATH] = {};
    return findInstalledFolder(install, installed) && (samePath(installed, folder) || sameObject(installed, folder));
}

// What the package judges on a worker, since judging looks up accounts: the question, and
// what the judge found.
struct Judging {
    enum class Question { InstallFolder, AppearedFolder, FolderContents, Program };
    Question question = Question::InstallFolder;
    wchar_t path[MAX_PATH + 1] = {};
    wchar_t expected[MAX_PATH] = {};  // the next level beneath an appeared folder, or none
    bool installedHere = false;       // the install folder holds the installed product
    PackageFiles package;             // the files the package installs
    UniqueHandle held;                // a copy of the first pass's handle to its program, held open
    FolderVerdict verdict = FolderVerdict::OwnFolder;
    FolderFindings findings;    // findings.others also for what a locked folder holds
    ForeignEntries otherFiles;  // what a locked folder holds of the package's names, not its own
    AppearedFolder appeared;
    bool trusted = false;  // the program may start
    Text reason;
};

DWORD WINAPI judge(LPVOID parameter)
{
    Judging& judging = *static_cast<Judging*>(parameter);
    switch (judging.question) {
        case Judging::Question::InstallFolder:
            judging.verdict =
                judgeInstallFolder(judging.path, judging.installedHere, judging.package, judging.findings);
            break;
        case Judging::Question::AppearedFolder:
            judging.appeared = judgeAppearedFolder(
                judging.path, judging.expected[0] != L'\0' ? judging.expected : nullptr, judging.package);
            break;
        case Judging::Question::FolderContents:
            judgeFolderContents(judging.path, nullptr, judging.package, judging.findings.others, judging.otherFiles);
            break;
        case Judging::Question::Program:
            judging.trusted = trustedHeldFile(judging.path, judging.held.get(), machineStartReader(), judging.reason);
            break;
    }
    return 0;
}

// On the process heap, built and destroyed in place: the C++ library's own allocator would
// bring its exception machinery into the DLL.
struct JudgingDestroyer {
    void operator()(Judging* judging) const
    {
        judging->~Judging();
        HeapFree(GetProcessHeap(), 0, judging);
    }
};
using UniqueJudging = std::unique_ptr<Judging, JudgingDestroyer>;
UniqueJudging newJudging(Judging::Question question, const wchar_t* path, const PackageFiles* package = nullptr)
{
    void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(Judging));
    UniqueJudging judging(memory != nullptr ? new (memory) Judging() : nullptr);
    if (judging) {
        judging->question = question;
        lstrcpynW(judging->path, path, MAX_PATH + 1);
        if (package != nullptr) {
            judging->package = *package;
        }
    }
    return judging;
}

// Judges on a worker, bounded as the check bounds its account lookups, so that a domain
// controller that does not answer never holds the install; a worker left running keeps what
// it judges, and the line says so. False when the judgement was not had.
bool judgedInTime(MSIHANDLE install, const wchar_t* judged, UniqueJudging& judging)
{
    if (!judging) {
        logFailure(install, L"tarvel: [1] could not be judged: error [2]", judged, ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    Status status = 0;
    UniqueHandle leftRunning;
    const WorkerEnd end = runAccountLookupWorker(judge, judging.get(), status, leftRunning);
    if (end == WorkerEnd::LeftRunning) {
        static_cast<void>(judging.release());
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: [1] could not be judged: [2], so who may change it is not known. Try again once the "
                L"domain controller answers.",
                judged, TARVEL_WIDEN(TARVEL_ACCOUNT_LOOKUPS_SILENT));
        return false;
    }
    if (end == WorkerEnd::NotStarted) {
        logFailure(install, L"tarvel: [1] could not be judged: error [2]", judged, status);
        return false;
    }
    return true;
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

// Each refusal of an install folder, in the words the install log gives it: [1] the folder,
// [2] and [3] what the verdict found.
struct Refusal {
    FolderVerdict verdict;
    const wchar_t* text;
};
const Refusal kRefusals[] = {
    {FolderVerdict::DriveRoot,
     L"tarvel: the install folder [1] is the root of a drive, whose permissions the install would take over. Choose "
     L"a folder of its own, for example C:\\Tools\\Tarvel\\."},
    {FolderVerdict::EndsInSpaceOrDot,
     L"tarvel: the install folder [1] has a part that ends in a space or a dot, which Windows leaves out when it "
     L"makes the folder, so the folder locked would not be the folder installed into. Choose a folder without one, "
     L"for example C:\\Tools\\Tarvel\\."},
    {FolderVerdict::DevicePath,
     L"tarvel: the install folder [1] names a device or a volume by its own name, not a folder on a drive, so the "
     L"folder locked would not be the folder Windows starts the program from. Give it on its drive, for example "
     L"C:\\Tools\\Tarvel\\."},
    {FolderVerdict::ReservedName,
     L"tarvel: the install folder [1] has a part that Windows reserves for a device (CON, PRN, AUX, NUL, COM1, LPT1 "
     L"and the like, with any extension), which Windows opens instead of a folder. Choose a folder without one, for "
     L"example C:\\Tools\\Tarvel\\."},
    {FolderVerdict::NamelessCharacter,
     L"tarvel: the install folder [1] holds a character no Windows name may hold (< > \" | ? *, a control character, "
     L"or a colon after the drive), so it names no folder. Give INSTALLDIR as a folder's path, for example "
     L"C:\\Tools\\Tarvel\\."},
    {FolderVerdict::NotAFolder,
     L"tarvel: the install folder [1] is a file, not a folder. Choose a folder of its own, for example "
     L"C:\\Tools\\Tarvel\\."},
    {FolderVerdict::IsALink,
     L"tarvel: the install folder [1] is a link to another folder, so the lock would change the link, not the folder "
     L"the files go into. Give the folder it leads to, or a folder of its own, for example C:\\Tools\\Tarvel\\."},
    {FolderVerdict::OpenAbove,
     L"tarvel: the folder [2] above the install folder can be [3]: whoever may rename it can put another program in "
     L"the install folder's place. Lock it, or choose a folder under one that only administrators can change."},
    {FolderVerdict::NotLocalFixed,
     L"tarvel: the install folder [1] is on [2], where others than this machine's administrators can replace the "
     L"program that runs as an administrator at every logon. Choose a folder on a local fixed drive, for example "
     L"C:\\Tools\\Tarvel\\."},
    {FolderVerdict::TooLong,
     L"tarvel: the install folder [1] is too long: tarvel-check.exe in it, the longest path the package installs "
     L"beside tarvel.exe, would have a path of 260 characters or more (MAX_PATH), which Windows cannot start. Choose "
     L"a folder of at most [2] characters, the closing backslash included."},
    {FolderVerdict::HoldsOthers,
     L"tarvel: the install folder [1] holds [2], which [3] not Ombrix Tarvel's: a folder, or a file that others than "
     L"administrators own or may change, could have been put there by anyone, and the install would take over its "
     L"permissions and start what it holds as SYSTEM. Remove what is not Ombrix Tarvel's, or choose a folder of its "
     L"own, for example C:\\Tools\\Tarvel\\."},
    {FolderVerdict::HoldsOtherFile,
     L"tarvel: the install folder [1] holds [2], which is not this package's own file (another program, another "
     L"version, or a file with a second name elsewhere): Windows Installer would keep it in place of the package's, "
     L"and the install would start it as SYSTEM. Delete it, or choose a folder of its own, for example "
     L"C:\\Tools\\Tarvel\\."},
    {FolderVerdict::OthersOwnFolder,
     L"tarvel: the install folder [1] is [2] [3], who may keep a handle that changes its permissions after the lock "
     L"and then replace the program. Delete the folder and let the package make it, or choose a folder of its own, "
     L"for example C:\\Tools\\Tarvel\\."},
};

// The log line of a refused folder, with what its verdict found; an installed product in such a
// folder is told how to move.
void refuseFolder(MSIHANDLE install, const wchar_t* folder, FolderVerdict verdict, const FolderFindings& findings)
{
    const size_t room = kEntriesText;
    UniqueHeapText second = allocateText(room);
    wchar_t third[320] = {};
    if (!second) {
        logFailure(install, L"tarvel: the install folder [1] is refused: error [2]", folder, ERROR_NOT_ENOUGH_MEMORY);
        return;
    }
    TextBuilder detail(second.get(), room + 1);
    TextBuilder extra(third, 320);
    if (verdict == FolderVerdict::OpenAbove) {
        detail << findings.above << (findings.aboveOnRealWay ? L" (on the real path of the install folder)" : L"");
        extra << findings.whyAbove;
    } else if (verdict == FolderVerdict::NotLocalFixed) {
        detail << driveKindWords(installFolderDrive(folder));
    } else if (verdict == FolderVerdict::TooLong) {
        detail << static_cast<unsigned long>(kLongestInstallFolder);
    } else if (verdict == FolderVerdict::OthersOwnFolder) {
        detail << changeWords(findings.folder.how);
        extra << findings.folder.account;
    } else if (verdict == FolderVerdict::HoldsOthers || verdict == FolderVerdict::HoldsOtherFile) {
        wchar_t names[kEntriesText] = {};
        nameEntries(findings.others, names);
        detail << names;
        extra << (findings.others.count == 1 ? L"is" : L"are");
    }
    for (const Refusal& refusal : kRefusals) {
        if (refusal.verdict == verdict) {
            logLine(install, INSTALLMESSAGE_ERROR, refusal.text, folder, second.get(), third);
        }
    }
    if (isInstalledProductsFolder(install, folder)) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: Ombrix Tarvel is installed in [1], which this version refuses. Move it by giving the "
                L"folder: msiexec /i tarvel.msi INSTALLDIR=C:\\Tools\\Tarvel\\.",
                folder);
    }
}

// The files the package installs, as its File table holds them ("short|long" names as the
// long), in the release's version: what a folder may already hold of them.
Status readPackageFiles(MSIHANDLE install, PackageFiles& package)
{
    lstrcpynW(package.version, TARVEL_WIDEN(TARVEL_VERSION_TEXT), 32);
    const UniqueMsiHandle database(MsiGetActiveDatabase(install));
    MSIHANDLE opened = 0;
    Status status = database
                        ? MsiDatabaseOpenViewW(database.get(), L"SELECT `FileName`, `FileSize` FROM `File`", &opened)
                        : static_cast<Status>(ERROR_INVALID_HANDLE);
    const UniqueMsiHandle view(opened);
    if (status == ERROR_SUCCESS) {
        status = MsiViewExecute(view.get(), 0);
    }
    while (status == ERROR_SUCCESS && package.count < PackageFiles::kMost) {
        MSIHANDLE fetched = 0;
        status = MsiViewFetch(view.get(), &fetched);
        const UniqueMsiHandle row(fetched);
        wchar_t name[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        if (status == ERROR_SUCCESS) {
            status = MsiRecordGetStringW(row.get(), 1, name, &length);
        }
        if (status == ERROR_SUCCESS) {
            const wchar_t* longName = std::wcschr(name, L'|');
            PackageFile& file = package.files[package.count++];
            lstrcpynW(file.name, longName != nullptr ? longName + 1 : name, MAX_PATH);
            file.size = static_cast<DWORD>(MsiRecordGetInteger(row.get(), 2));
        }
    }
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
}

// INSTALLDIR as the one spelling the install judges, locks, installs into and remembers (its
// full path, with a closing backslash, as Windows Installer's folders end); false, with a line,
// for a relative folder, which would be taken from wherever msiexec runs ("E:Tools" from drive
// E:'s current folder; "C:/Tools" is as full as "C:\\Tools").
bool readInstallFolder(MSIHANDLE install, UniqueHeapText& given, wchar_t (&folder)[MAX_PATH], bool& fits)
{
    if (!readNeededProperty(install, L"INSTALLDIR", L"tarvel: the install folder could not be read: error [2]",
                            ERROR_PATH_NOT_FOUND, given)) {
        return false;
    }
    asWindowsReadsIt(given.get());
    if (isRelativePath(given.get())) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] is not a full path, so Windows would take it from the folder "
                L"msiexec runs in. Give INSTALLDIR as a full path, for example C:\\Tools\\Tarvel\\.",
                given.get());
        return false;
    }
    fits = normalInstallFolder(given.get(), folder);
    return true;
}

// The folder taken as the one spelling installed into, and the list of folders the lock takes
// handed to the deferred action (which reads its CustomActionData from the property of its own
// name).
UINT takeInstallFolder(MSIHANDLE install, const wchar_t* given, const wchar_t* folder, const Judging& judging)
{
    const ForeignEntries& others = judging.findings.others;
    if (others.count > 0) {
        wchar_t names[kEntriesText] = {};
        nameEntries(others, names);
        logLine(install, INSTALLMESSAGE_INFO,
                L"tarvel: the install folder [1] of the installed product also holds [2], which administrators added; "
                L"they stay as they are.",
                folder, names);
    }
    const Status taken =
        std::wcscmp(folder, given) == 0 ? ERROR_SUCCESS : MsiSetTargetPathW(install, L"INSTALLDIR", folder);
    if (taken != ERROR_SUCCESS) {
        logFailure(install, L"tarvel: the install folder could not be taken as its full path [1]: error [2]", folder,
                   taken);
        return ERROR_INSTALL_FAILURE;
    }
    LockList folders;
    if (!foldersToLock(folder, judging.installedHere, judging.package, folders)) {
        logFailure(install, L"tarvel: the folders to lock under [1] could not be listed: error [2]", folder,
                   ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_INSTALL_FAILURE;
    }
    return MsiSetPropertyW(install, L"LockInstallFolder", folders.text());
}

}  // namespace

// Before costing, where no folder was given: repair and upgrade install where the installed
// product is, as Windows Installer registered its program, not back into Program Files.
extern "C" UINT WINAPI FindInstalledFolder(MSIHANDLE install)
{
    wchar_t folder[MAX_PATH] = {};
    if (!findInstalledFolder(install, folder)) {
        return ERROR_SUCCESS;
    }
    const Status taken = MsiSetPropertyW(install, L"INSTALLDIR", folder);
    if (taken != ERROR_SUCCESS) {
        logFailure(install, L"tarvel: the installed product's folder [1] could not be taken: error [2]", folder, taken);
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

// Install, repair and upgrade, before anything changes: the install folder must be a folder
// of the product's own. The lock replaces its permissions, and Windows hands them down to
// everything inside, which uninstall cannot give back; and the first pass starts what the
// folder holds as SYSTEM. So a folder is taken only when it is missing, or when an account the
// judge trusts owns it, no one else may change its permissions or owner, and it holds only
// files that administrators alone can have put there (the package's own files only as exactly
// those), but for the installed product's own locked folder on repair and upgrade; and only
// under folders that no one else may rename. So is a drive's root refused, a folder too long
// for the files in it to start, a relative one, one holding a character no name may hold, one
// on a drive that others than this machine's administrators can change, one named in a device
// namespace or by a device's name, and one with a part ending in a space or a dot. Then works
// out, before any change, which folders the lock must make or lock, for the deferred action
// (Wine runs deferred actions after the files are copied, so the folders missing now cannot be
// told there).
extern "C" UINT WINAPI PrepareInstallFolder(MSIHANDLE install)
{
    UniqueHeapText given;
    wchar_t folder[MAX_PATH] = {};
    bool fits = false;
    if (!readInstallFolder(install, given, folder, fits)) {
        return ERROR_INSTALL_FAILURE;
    }
    UniqueJudging judging = newJudging(Judging::Question::InstallFolder, folder);
    const Status read = judging ? readPackageFiles(install, judging->package) : ERROR_NOT_ENOUGH_MEMORY;
    if (read != ERROR_SUCCESS) {
        logFailure(install, L"tarvel: the files of the package could not be read from its File table: error [2]",
                   folder, read);
        return ERROR_INSTALL_FAILURE;
    }
    judging->installedHere = fits && isInstalledProductsFolder(install, folder);
    if (fits && !judgedInTime(install, folder, judging)) {
        return ERROR_INSTALL_FAILURE;
    }
    const FolderVerdict verdict = fits ? judging->verdict : FolderVerdict::TooLong;
    if (verdict != FolderVerdict::OwnFolder) {
        refuseFolder(install, fits ? folder : given.get(), verdict, judging->findings);
        return ERROR_INSTALL_FAILURE;
    }
    return takeInstallFolder(install, given.get(), folder, *judging);
}

namespace {

// The names a locked folder holds that the install did not write, in one line's words.
void refuseLockedFolder(MSIHANDLE install, const wchar_t* text, const wchar_t* folder, const ForeignEntries& entries)
{
    wchar_t names[kEntriesText] = {};
    nameEntries(entries, names);
    logLine(install, INSTALLMESSAGE_ERROR, text, folder, names);
}

// A folder that was missing when judged: made locked; one that someone made since is taken
// only when administrators own it, no one else may re-permission it, and it holds only what the
// install wrote (under Wine, which copies the files before this action, the folders and files it
// made), expected being the level the install makes beneath it.
bool lockMissingFolder(MSIHANDLE install, FolderLock& folderLock, const wchar_t* folder, const wchar_t* expected,
                       const PackageFiles& package)
{
    const Status made = folderLock.create(folder);
    if (made != ERROR_ALREADY_EXISTS) {
        if (made != ERROR_SUCCESS) {
            logFailure(install, L"tarvel: the folder [1] could not be made locked: error [2]", folder, made);
        }
        return made == ERROR_SUCCESS;
    }
    UniqueJudging judging = newJudging(Judging::Question::AppearedFolder, folder, &package);
    if (judging && expected != nullptr) {
        lstrcpynW(judging->expected, expected, MAX_PATH);
    }
    if (!judgedInTime(install, folder, judging)) {
        return false;
    }
    const AppearedFolder& appeared = judging->appeared;
    if (appeared.owner.found) {
        wchar_t how[64] = {};
        TextBuilder(how, 64) << changeWords(appeared.owner.how);
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the folder [1] was made by someone else after the install found it missing: it is [2] [3], "
                L"who could have put anything in it. Remove it and install again.",
                folder, how, appeared.owner.account);
        return false;
    }
    if (appeared.refused) {
        refuseLockedFolder(install,
                           L"tarvel: the folder [1], made since the install found it missing, holds [2], which the "
                           L"install did not write. Remove the folder and install again.",
                           folder, appeared.others.count != 0 ? appeared.others : appeared.otherFiles);
        return false;
    }
    const Status locked = folderLock.lock(folder);
    if (locked != ERROR_SUCCESS) {
        logFailure(install, L"tarvel: the folder [1] could not be locked: error [2]", folder, locked);
    }
    return locked == ERROR_SUCCESS;
}

// A folder found and judged: locked, then what it holds judged again, since others could add
// to it until the lock closed it. An upgrade's removal of the earlier product may have taken it
// since: then it is made locked. The installed product's own locked folder is locked as it is.
bool lockFoundFolder(MSIHANDLE install, FolderLock& folderLock, const wchar_t* folder, LockEntry entry,
                     const PackageFiles& package)
{
    if (!pathExists(folder) && (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        return lockMissingFolder(install, folderLock, folder, nullptr, package);
    }
    const Status locked = folderLock.lock(folder);
    if (locked != ERROR_SUCCESS) {
        logFailure(install, L"tarvel: the folder [1] could not be locked: error [2]", folder, locked);
        return false;
    }
    if (entry == LockEntry::Installed) {
        return true;
    }
    UniqueJudging judging = newJudging(Judging::Question::FolderContents, folder, &package);
    if (!judgedInTime(install, folder, judging)) {
        return false;
    }
    const ForeignEntries& found = judging->findings.others.count != 0 ? judging->findings.others : judging->otherFiles;
    if (found.count > 0) {
        refuseLockedFolder(install,
                           L"tarvel: the install folder [1] holds [2] since it was judged, put there before the lock "
                           L"closed it. Remove what is not Ombrix Tarvel's and install again.",
                           folder, found);
        return false;
    }
    return true;
}

// The level beneath folder that the next entry makes, when it makes one: "folder\\name".
void nextLevel(LockListReader reader, const wchar_t* folder, wchar_t (&expected)[MAX_PATH], bool& found)
{
    LockEntry kind = LockEntry::Missing;
    wchar_t next[MAX_PATH + 1] = {};
    const size_t length = std::wcslen(folder);
    found = reader.next(kind, next) == LockListReader::Read::Entry && kind != LockEntry::PackageFile &&
            std::wcsncmp(next, folder, length) == 0 && next[length] == L'\\';
    if (found) {
        lstrcpynW(expected, next + length + 1, MAX_PATH);
        if (wchar_t* deeper = std::wcschr(expected, L'\\')) {
            *deeper = L'\0';
        }
    }
}

// The package's files the list names, wherever they stand in it; false for a list no LockList
// wrote.
bool readListedFiles(const wchar_t* list, PackageFiles& package)
{
    lstrcpynW(package.version, TARVEL_WIDEN(TARVEL_VERSION_TEXT), 32);
    LockListReader reader(list);
    LockEntry kind = LockEntry::Missing;
    wchar_t text[MAX_PATH + 1] = {};
    for (LockListReader::Read read = reader.next(kind, text); read != LockListReader::Read::End;
         read = reader.next(kind, text)) {
        if (read == LockListReader::Read::Malformed) {
            return false;
        }
        if (kind == LockEntry::PackageFile &&
            (package.count >= PackageFiles::kMost || !readPackageFile(text, package.files[package.count++]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Before the folders are made and the files copied: each folder the install makes on the way
// is made locked, and the install folder, made or found, gets the lock and Administrators as
// its owner, so that no file can be swapped in before the first pass runs it as SYSTEM. The
// lock is the package's promise: a folder that could not be made locked, or that someone else
// made or filled since it was judged, fails the install, which rolls back.
extern "C" UINT WINAPI LockInstallFolder(MSIHANDLE install)
{
    UniqueHeapText list;
    PackageFiles package;
    if (!readNeededProperty(install, L"CustomActionData",
                            L"tarvel: the folders to lock (its CustomActionData) could not be read: error [2]",
                            ERROR_INVALID_DATA, list)) {
        return ERROR_INSTALL_FAILURE;
    }
    if (!readListedFiles(list.get(), package)) {
        logFailure(install, L"tarvel: the folders to lock [1] are not a list the install wrote: error [2]", list.get(),
                   ERROR_INVALID_DATA);
        return ERROR_INSTALL_FAILURE;
    }
    FolderLock folderLock;
    LockListReader reader(list.get());
    LockEntry kind = LockEntry::Missing;
    wchar_t folder[MAX_PATH + 1] = {};
    while (reader.next(kind, folder) == LockListReader::Read::Entry) {
        wchar_t expected[MAX_PATH] = {};
        bool deeper = false;
        nextLevel(reader, folder, expected, deeper);
        const bool locked = kind == LockEntry::PackageFile ||
                            (kind == LockEntry::Missing
                                 ? lockMissingFolder(install, folderLock, folder, deeper ? expected : nullptr, package)
                                 : lockFoundFolder(install, folderLock, folder, kind, package));
        if (!locked) {
            return ERROR_INSTALL_FAILURE;
        }
    }
    return ERROR_SUCCESS;
}

namespace {

// A pass waits a minute at most for another to end, then the Task Scheduler's deadline; past
// this, the install goes on without it.
const DWORD kFirstPassMs = 3 * 60 * 1000;

// Whether Windows replaces path at the next restart: Windows Installer, finding the file in
// use, installs the new one under another name and has Windows move it there then
// (PendingFileRenameOperations: pairs of "\\??\\from" and "!\\??\\to" or "\\??\\to").
bool replacedAtRestart(const wchar_t* path)
{
    UniqueHkey key;
    if (openKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", KEY_QUERY_VALUE, key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegistryValue renames;
    if (readRegistryValue(key.get(), L"PendingFileRenameOperations", renames) != ERROR_SUCCESS ||
        renames.type != REG_MULTI_SZ) {
        return false;
    }
    const size_t characters = renames.size / sizeof(wchar_t);
    bool target = false;
    for (size_t at = 0; at < characters && renames.data[at] != L'\0'; target = !target) {
        const wchar_t* name = renames.data.get() + at;
        at += std::wcslen(name) + 1;
        name += *name == L'!' ? 1 : 0;
        name += std::wcsncmp(name, L"\\??\\", 4) == 0 ? 4 : 0;
        if (target && samePath(name, path)) {
            return true;
        }
    }
    return false;
}

// The held program as the package wrote it: tarvel's, in this version. An earlier version
// Windows Installer left in place until a restart is no fault of the install: no pass then.
UINT judgeHeldVersion(MSIHANDLE install, const wchar_t* program, bool& run)
{
    wchar_t version[kVersionText] = {};
    const bool tarvels = isTarvelProgram(program, version);
    run = tarvels && std::wcscmp(version, TARVEL_WIDEN(TARVEL_VERSION_TEXT)) == 0;
    if (run) {
        return ERROR_SUCCESS;
    }
    if (tarvels && replacedAtRestart(program)) {
        logLine(install, INSTALLMESSAGE_INFO,
                L"tarvel: the installed program [1] is still version [2] until Windows restarts (it was in use), so "
                L"the first pass is not run now; run tarvel.exe once after the restart, or let its start-up run it.",
                program, version);
        return ERROR_SUCCESS;
    }
    logLine(
        install, INSTALLMESSAGE_ERROR,
        L"tarvel: the installed program [1] was not started as the first pass: it is not tarvel.exe of version [2], "
        L"so it is not the program the package wrote. Remove it and install again.",
        program, TARVEL_WIDEN(TARVEL_VERSION_TEXT));
    return ERROR_INSTALL_FAILURE;
}

// Starts the held program and waits for it within the bound, its status in the install log.
void startFirstPass(MSIHANDLE install, const wchar_t* program)
{
    // CreateProcessW may write into the command line.
    wchar_t line[MAX_PATH + 4] = {};
    TextBuilder(line, MAX_PATH + 4) << L"\"" << program << L"\"";
    DWORD status = 0;
    const ProgramEnd end = startProgramAndWait(program, line, kFirstPassMs, nullptr, status);
    if (end == ProgramEnd::NotStarted) {
        logFailure(install, L"tarvel: the first pass [1] could not be started: error [2]", program, status);
        return;
    }
    if (end == ProgramEnd::StillRunning) {
        logLine(install, INSTALLMESSAGE_INFO,
                L"tarvel: the first pass [1] had not ended after 180 seconds; the install goes on without it.",
                program);
        return;
    }
    wchar_t code[24] = {};
    TextBuilder(code, 24) << static_cast<int>(status);
    logLine(install, INSTALLMESSAGE_INFO,
            status == 0 ? L"tarvel: the first pass [1] ended with exit status [2]: it did its whole job."
                        : L"tarvel: the first pass [1] ended with exit status [2]: it did not do its whole job. Its "
                          L"event in the Application log says what failed; run tarvel-check.exe to see what differs.",
            program, code);
}

}  // namespace

// The install's first pass, as SYSTEM: only the program the judge trusts, opened before it is
// judged (its way, and the very file the handle holds) and held against writes, renames and
// deletion until the pass has ended, so that the file judged is the file started; and only
// tarvel.exe of this version: Windows Installer keeps a file of the same or a higher version
// that it finds in place, so it may not be the one the package wrote. Any other fails the
// install. Whatever the pass itself does (a Task Scheduler that does not answer, say) the
// install succeeds: the pass's event and the check tell it.
extern "C" UINT WINAPI FirstPass(MSIHANDLE install)
{
    UniqueHeapText program;
    if (!readNeededProperty(
            install, L"CustomActionData",
            L"tarvel: the program of the first pass (its CustomActionData) could not be read: error [2]",
            ERROR_INVALID_DATA, program)) {
        return ERROR_INSTALL_FAILURE;
    }
    const UniqueHandle held = ownHandle(CreateFileW(program.get(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held) {
        logFailure(install, L"tarvel: the installed program [1] could not be opened to be judged: error [2]",
                   program.get(), lastErrorStatus());
        return ERROR_INSTALL_FAILURE;
    }
    // The worker judges through a handle of its own, which a worker left running keeps.
    UniqueJudging judging = newJudging(Judging::Question::Program, program.get());
    HANDLE copy = nullptr;
    if (judging &&
        DuplicateHandle(GetCurrentProcess(), held.get(), GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        judging->held.reset(copy);
    }
    if (!judgedInTime(install, program.get(), judging)) {
        return ERROR_INSTALL_FAILURE;
    }
    if (!judging->trusted) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the installed program [1] was not started as the first pass: [2], so it may not be the "
                L"program the package wrote. Remove it, and what others may change on its way, and install again.",
                program.get(), judging->reason.c_str());
        return ERROR_INSTALL_FAILURE;
    }
    bool run = false;
    const UINT outcome = judgeHeldVersion(install, program.get(), run);
    if (run) {
        startFirstPass(install, program.get());
    }
    return outcome;
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
    Status removal = ERROR_SUCCESS;
    {
        const ComJoin com;
        // The module answers in COM's kind.
        removal = comStatus(DisableLogonStartup(kTarvelTaskName));
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
