// Windows Installer custom actions of the tarvel package, built from the program's own
// start-up code so that uninstalling removes exactly what a pass registers.
#include "common/text/TextLine.h"
#include "common/trust/Trust.h"
#include "common/platform/Paths.h"
#include "common/product/PassLock.h"
#include "common/product/ProductFamily.h"
#include "common/product/Deadlines.h"
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
    FolderVerdict verdict = FolderVerdict::OwnFolder;
    FolderFindings findings;  // findings.others also for what a locked folder holds
    AppearedFolder appeared;
    bool trusted = false;  // the program may start
    Text reason;
};

DWORD WINAPI judge(LPVOID parameter)
{
    Judging& judging = *static_cast<Judging*>(parameter);
    switch (judging.question) {
        case Judging::Question::InstallFolder:
            judging.verdict = judgeInstallFolder(judging.path, judging.installedHere, judging.findings);
            break;
        case Judging::Question::AppearedFolder:
            judging.appeared =
                judgeAppearedFolder(judging.path, judging.expected[0] != L'\0' ? judging.expected : nullptr);
            break;
        case Judging::Question::FolderContents:
            judgeFolderContents(judging.path, nullptr, judging.findings.others);
            break;
        case Judging::Question::Program:
            judging.trusted = trustedToStart(judging.path, ObjectKind::File, machineStartReader(), judging.reason);
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
UniqueJudging newJudging(Judging::Question question, const wchar_t* path)
{
    void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(Judging));
    UniqueJudging judging(memory != nullptr ? new (memory) Judging() : nullptr);
    if (judging) {
        judging->question = question;
        lstrcpynW(judging->path, path, MAX_PATH + 1);
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

// A folder refused for where it is or what it is, whatever it holds, each reason with a line of
// its own; an installed product in such a folder is told how to move.
void refuseFolder(MSIHANDLE install, const wchar_t* folder, FolderVerdict verdict, const FolderFindings& findings)
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
    } else if (verdict == FolderVerdict::DevicePath) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] names a device or a volume by its own name, not a folder on a "
                L"drive, so the folder locked would not be the folder Windows starts the program from. Give it on "
                L"its drive, for example C:\\Tools\\Tarvel\\.",
                folder);
    } else if (verdict == FolderVerdict::ReservedName) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] has a part that Windows reserves for a device (CON, PRN, AUX, NUL, "
                L"COM1, LPT1 and the like, with any extension), which Windows opens instead of a folder. Choose a "
                L"folder without one, for example C:\\Tools\\Tarvel\\.",
                folder);
    } else if (verdict == FolderVerdict::NotAFolder) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] is a file, not a folder. Choose a folder of its own, for example "
                L"C:\\Tools\\Tarvel\\.",
                folder);
    } else if (verdict == FolderVerdict::IsALink) {
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] is a link to another folder, so the lock would change the link, not "
                L"the folder the files go into. Give the folder it leads to, or a folder of its own, for example "
                L"C:\\Tools\\Tarvel\\.",
                folder);
    } else if (verdict == FolderVerdict::OpenAbove) {
        wchar_t above[MAX_PATH + 48] = {};
        TextBuilder(above, MAX_PATH + 48)
            << findings.above << (findings.aboveOnRealWay ? L" (on the real path of the install folder)" : L"");
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the folder [1] above the install folder can be [2]: whoever may rename it can put another "
                L"program in the install folder's place. Lock it, or choose a folder under one that only "
                L"administrators can change.",
                above, findings.whyAbove.c_str());
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
// folder holds as SYSTEM. So a folder is taken only when it is missing, empty, or holds only
// files that administrators alone can have put there, but for the installed product's own
// locked folder on repair and upgrade; and only under folders that no one else may rename. So
// is a drive's root refused, a folder too long for the files in it to start, a relative one,
// one on a drive that others than this machine's administrators can change (a share, a
// removable drive), one named in a device namespace or by a device's name, and one with a part
// ending in a space or a dot. The folder is judged, locked, installed into and remembered as
// one spelling, its full path: "C:/Tools/", "\\\\?\\E:\\" or "E:\\." are what Windows makes of
// them, "C:\\Tools\\" and "E:\\". Then works out, before any change, which folders the lock
// must make or lock, for the deferred action (Wine runs deferred actions after the files are
// copied, so the folders missing now cannot be told there).
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
    UniqueJudging judging = newJudging(Judging::Question::InstallFolder, folder);
    if (full) {
        if (judging) {
            judging->installedHere = isInstalledProductsFolder(install, folder);
        }
        if (!judgedInTime(install, folder, judging)) {
            return ERROR_INSTALL_FAILURE;
        }
    }
    const FolderVerdict verdict = full ? judging->verdict : FolderVerdict::TooLong;
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
    const ForeignEntries& others = judging->findings.others;
    if (verdict == FolderVerdict::HoldsOthers) {
        wchar_t names[kEntriesText] = {};
        nameEntries(others, names);
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] holds [2], which [3] not Ombrix Tarvel's: a folder, or a file that "
                L"others than administrators own or may change, could have been put there by anyone, and the install "
                L"would take over its permissions and start what it holds as SYSTEM. Remove what is not Ombrix "
                L"Tarvel's, or choose a folder of its own, for example C:\\Tools\\Tarvel\\.",
                folder, names, others.count == 1 ? L"is" : L"are");
        return ERROR_INSTALL_FAILURE;
    }
    if (verdict != FolderVerdict::OwnFolder) {
        refuseFolder(install, folder, verdict, judging->findings);
        return ERROR_INSTALL_FAILURE;
    }
    if (others.count > 0) {
        wchar_t names[kEntriesText] = {};
        nameEntries(others, names);
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
    const size_t needed = foldersToLock(folder, judging->installedHere, nullptr, 0);
    UniqueHeapText folders = allocateText(needed);
    if (!folders || foldersToLock(folder, judging->installedHere, folders.get(), needed + 1) > needed + 1) {
        logFailure(install, L"tarvel: the folders to lock under [1] could not be listed: error [2]", folder,
                   ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_INSTALL_FAILURE;
    }
    // A deferred action reads its CustomActionData from the property of its own name.
    return MsiSetPropertyW(install, L"LockInstallFolder", folders.get());
}

namespace {

// A folder that was missing when judged: made locked; one that someone made since is taken
// only when administrators own it and it holds only what the install wrote (under Wine, which
// copies the files before this action, the folders and files it made), next being the level
// the install makes beneath it.
bool lockMissingFolder(MSIHANDLE install, FolderLock& folderLock, const wchar_t* folder, const wchar_t* next)
{
    const Status made = folderLock.create(folder);
    if (made != ERROR_ALREADY_EXISTS) {
        if (made != ERROR_SUCCESS) {
            logFailure(install, L"tarvel: the folder [1] could not be made locked: error [2]", folder, made);
        }
        return made == ERROR_SUCCESS;
    }
    UniqueJudging judging = newJudging(Judging::Question::AppearedFolder, folder);
    if (judging) {
        // next lies beneath folder: "folder\\name", maybe followed by further entries.
        const size_t length = std::wcslen(folder);
        if (next != nullptr && std::wcsncmp(next, folder, length) == 0 && next[length] == L'\\') {
            const wchar_t* name = next + length + 1;
            size_t nameLength = 0;
            while (name[nameLength] != L'\0' && name[nameLength] != L'\\' && name[nameLength] != L'|') {
                ++nameLength;
            }
            lstrcpynW(judging->expected, name, static_cast<int>(nameLength < MAX_PATH ? nameLength + 1 : MAX_PATH));
        }
    }
    if (!judgedInTime(install, folder, judging)) {
        return false;
    }
    const AppearedFolder& appeared = judging->appeared;
    if (appeared.owner.found) {
        wchar_t how[64] = {};
        TextBuilder(how, 64) << appeared.owner.how;
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the folder [1] was made by someone else after the install found it missing: it is [2] [3], "
                L"who could have put anything in it. Remove it and install again.",
                folder, how, appeared.owner.account);
        return false;
    }
    if (appeared.refused) {
        wchar_t names[kEntriesText] = {};
        nameEntries(appeared.others, names);
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the folder [1], made since the install found it missing, holds [2], which the install did "
                L"not write. Remove the folder and install again.",
                folder, names);
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
bool lockFoundFolder(MSIHANDLE install, FolderLock& folderLock, const wchar_t* folder, LockEntry entry)
{
    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        return lockMissingFolder(install, folderLock, folder, nullptr);
    }
    const Status locked = folderLock.lock(folder);
    if (locked != ERROR_SUCCESS) {
        logFailure(install, L"tarvel: the folder [1] could not be locked: error [2]", folder, locked);
        return false;
    }
    if (entry == LockEntry::Installed) {
        return true;
    }
    UniqueJudging judging = newJudging(Judging::Question::FolderContents, folder);
    if (!judgedInTime(install, folder, judging)) {
        return false;
    }
    if (judging->findings.others.count > 0) {
        wchar_t names[kEntriesText] = {};
        nameEntries(judging->findings.others, names);
        logLine(install, INSTALLMESSAGE_ERROR,
                L"tarvel: the install folder [1] holds [2] since it was judged, put there before the lock closed it. "
                L"Remove what is not Ombrix Tarvel's and install again.",
                folder, names);
        return false;
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
    UniqueHeapText folders;
    if (!readNeededProperty(install, L"CustomActionData",
                            L"tarvel: the folders to lock (its CustomActionData) could not be read: error [2]",
                            ERROR_INVALID_DATA, folders)) {
        return ERROR_INSTALL_FAILURE;
    }
    FolderLock folderLock;
    for (wchar_t* entry = folders.get(); entry != nullptr;) {
        wchar_t* next = std::wcschr(entry, L'|');
        if (next != nullptr) {
            *next++ = L'\0';
        }
        const auto kind = static_cast<LockEntry>(entry[0]);
        const wchar_t* folder = entry + 1;
        const bool locked = kind == LockEntry::Missing
                                ? lockMissingFolder(install, folderLock, folder, next != nullptr ? next + 1 : nullptr)
                                : lockFoundFolder(install, folderLock, folder, kind);
        if (!locked) {
            return ERROR_INSTALL_FAILURE;
        }
        entry = next;
    }
    return ERROR_SUCCESS;
}

namespace {

// A pass waits a minute at most for another to end, then the Task Scheduler's deadline; past
// this, the install goes on without it.
const DWORD kFirstPassMs = 3 * 60 * 1000;

}  // namespace

// The install's first pass, as SYSTEM: only the program the judge trusts, opened before it is
// judged and held against writes, renames and deletion until the pass has ended, so that the
// file judged is the file started. A program that others own or may change is never started,
// and the install fails: Windows Installer keeps a file of the same or a higher version that it
// finds in place, so it may not be the one the package wrote. Whatever the pass itself does
// (a Task Scheduler that does not answer, say) the install succeeds: the pass's event and the
// check tell it.
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
    UniqueJudging judging = newJudging(Judging::Question::Program, program.get());
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
    // CreateProcessW may write into the command line.
    wchar_t line[MAX_PATH + 4] = {};
    TextBuilder(line, MAX_PATH + 4) << L"\"" << program.get() << L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program.get(), line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        logFailure(install, L"tarvel: the first pass [1] could not be started: error [2]", program.get(),
                   lastErrorStatus());
        return ERROR_SUCCESS;
    }
    const UniqueHandle thread(started.hThread);
    const UniqueHandle process(started.hProcess);
    DWORD status = STILL_ACTIVE;
    if (WaitForSingleObject(process.get(), kFirstPassMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &status)) {
        logLine(install, INSTALLMESSAGE_INFO,
                L"tarvel: the first pass [1] had not ended after 180 seconds; the install goes on without it.",
                program.get());
        return ERROR_SUCCESS;
    }
    wchar_t code[24] = {};
    TextBuilder(code, 24) << static_cast<int>(status);
    // The install succeeds either way; the pass's event and the check tell the rest.
    logLine(install, INSTALLMESSAGE_INFO,
            status == 0 ? L"tarvel: the first pass [1] ended with exit status [2]: it did its whole job."
                        : L"tarvel: the first pass [1] ended with exit status [2]: it did not do its whole job. Its "
                          L"event in the Application log says what failed; run tarvel-check.exe to see what differs.",
            program.get(), code);
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
