#include "kit/Kit.h"

#include "common/platform/Paths.h"
#include "common/platform/Registry.h"
#include "common/trust/Trust.h"
#include "common/platform/SystemFacts.h"
#include "common/product/Marker.h"
#include "common/product/TarvelProgram.h"
#include "common/product/Deadlines.h"
#include "common/platform/WellKnownSids.h"
#include "startup/RunCommand.h"
#include "startup/RunEntry.h"
#include "startup/TaskReading.h"

#include <msi.h>

#include <cwchar>
#include <initializer_list>

namespace {

// A pass ends within its own bounds, an install within the Installer's; past this the step
// is taken to hang and the kit goes on, so that a run always ends with its summary.
const DWORD kStepMs = 10 * 60 * 1000;

bool appendTo(wchar_t (&path)[MAX_PATH], const wchar_t* more) { return appendText(path, MAX_PATH, more); }

}  // namespace

bool pathExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool setUpKit(Kit& kit)
{
    wchar_t module[MAX_PATH] = {};
    if (!readModulePath(module)) {
        return false;
    }
    ObjectKind kind = ObjectKind::File;
    if (!toParentFolder(module, kind)) {
        return false;
    }
    lstrcpynW(kit.folder, module, MAX_PATH);
    if (!withClosingBackslash(kit.folder, MAX_PATH)) {
        return false;
    }
    lstrcpynW(kit.own, kit.folder, MAX_PATH);
    MultiByteToWideChar(CP_ACP, 0, markerPath(), -1, kit.marker, MAX_PATH);
    lstrcpynW(kit.aside, kit.marker, MAX_PATH);
    return appendTo(kit.own, L"tarvel.exe") && appendTo(kit.aside, L".acceptance");
}

namespace {

void writeLine(HANDLE to, const Text& line)
{
    writeText(to, line.c_str());
    writeText(to, L"\r\n");
}

}  // namespace

void say(const Kit& kit, const Text& line)
{
    Text text;
    text << kit.prefix << line;
    writeLine(GetStdHandle(STD_OUTPUT_HANDLE), text);
    logLine(kit, text);
}

void logLine(const Kit& kit, const Text& line)
{
    if (kit.log != nullptr) {
        writeLine(kit.log, line);
    }
}

bool runsAsAdministrator()
{
    const UniqueSid administrators = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    BOOL member = FALSE;
    return administrators && CheckTokenMembership(nullptr, administrators.get(), &member) && member;
}

bool runStep(const wchar_t* application, const wchar_t* arguments, HANDLE output, DWORD& status, Text& problem)
{
    // CreateProcessW may write into the command line; "application" arguments, whole.
    wchar_t line[2 * MAX_PATH + 64] = L"\"";
    if (!appendText(line, sizeof line / sizeof line[0], application) ||
        !appendText(line, sizeof line / sizeof line[0], L"\" ") ||
        !appendText(line, sizeof line / sizeof line[0], arguments)) {
        problem << "its command line is too long";
        return false;
    }
    // The file judged is the file started: held against writes, renames and deletion from before
    // its judgement until its process has ended.
    const UniqueHandle held =
        ownHandle(CreateFileW(application, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    Text reason;
    if (!held) {
        problem << "it could not be opened to be judged, error " << static_cast<int>(lastErrorStatus());
        return false;
    }
    if (!trustedToStart(application, ObjectKind::File, machineStartReader(), reason)) {
        problem << "it may not be started with an administrator's rights: " << reason;
        return false;
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const UniqueHandle nothing =
        ownHandle(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    // No step waits for console input: it reads from NUL.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing.get();
    startup.hStdOutput = output != nullptr ? output : nothing.get();
    startup.hStdError = output != nullptr ? output : nothing.get();
    PROCESS_INFORMATION process = {};
    const BOOL started =
        CreateProcessW(application, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    const DWORD error = GetLastError();
    if (!started) {
        wchar_t code[kNumberText] = {};
        writeDecimal(error, code);
        problem << "it could not be started, error " << code;
        return false;
    }
    const UniqueHandle thread(process.hThread);
    const UniqueHandle child(process.hProcess);
    const DWORD waited = WaitForSingleObject(child.get(), kStepMs);
    const bool ended = waited == WAIT_OBJECT_0 && GetExitCodeProcess(child.get(), &status);
    if (!ended) {
        problem << "it did not end within 10 minutes";
    }
    return ended;
}

bool runMsiexec(const wchar_t* arguments, DWORD& status, Text& problem)
{
    wchar_t msiexec[MAX_PATH] = {};
    if (!systemFolderPath(L"msiexec.exe", msiexec)) {
        problem << "the system folder's msiexec.exe has no path that fits";
        return false;
    }
    return runStep(msiexec, arguments, nullptr, status, problem);
}

Status makeJournalKey(HKEY parent, const wchar_t* name, UniqueHkey& key)
{
    const JournalSecurity security;
    if (!security.ok()) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    bool createdNew = false;
    const Status status =
        createKeyWithDescriptor(parent, name, KEY_ALL_ACCESS | KEY_WOW64_32KEY, security.descriptor(), key, createdNew);
    if (status == ERROR_SUCCESS && !createdNew) {
        // Made by someone between the kit's look and its making: not the kit's to write in.
        key.reset();
        return ERROR_ALREADY_EXISTS;
    }
    return status;
}

Status deleteJournalKey(HKEY parent, const wchar_t* name) { return deleteKeyTree(parent, name, KEY_WOW64_32KEY); }

Text journalPath(const wchar_t* sub)
{
    // A 64-bit reg.exe reaches the 32-bit view through Wow6432Node.
    Text path;
    path << (isWow64() ? "HKLM\\SOFTWARE\\Wow6432Node\\Ombrix\\Tarvel\\Acceptance"
                       : "HKLM\\SOFTWARE\\Ombrix\\Tarvel\\Acceptance");
    if (sub != nullptr) {
        path << "\\" << sub;
    }
    return path;
}

void sayRecord(const Kit& kit, HKEY record)
{
    for (DWORD index = 0;; ++index) {
        wchar_t name[64] = {};
        DWORD nameLength = 64;
        wchar_t value[MAX_PATH + 2] = {};
        DWORD size = sizeof value - sizeof value[0];
        DWORD type = REG_NONE;
        const Status status = registryStatus(
            RegEnumValueW(record, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(value), &size));
        if (status == ERROR_NO_MORE_ITEMS || (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)) {
            return;
        }
        Text line;
        line << "    " << name << " = ";
        if (status == ERROR_MORE_DATA) {
            line << "(too long to show)";
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            line << value;
        } else {
            line << "(not a text)";
        }
        say(kit, line);
    }
}

bool mayStart(const wchar_t* program, Text& reason)
{
    wchar_t version[kVersionText] = {};
    if (!fileExists(program)) {
        reason << "it is not there";
        return false;
    }
    if (!isTarvelProgram(program, version)) {
        reason << "it is no tarvel program";
        return false;
    }
    return trustedToStart(program, ObjectKind::File, machineStartReader(), reason);
}

bool kitIsTrusted(const Kit& kit, const wchar_t* package)
{
    struct Part {
        const wchar_t* name;  // in the kit's folder; null for the folder itself
        bool program;         // a tarvel program it starts
    };
    const Part parts[] = {{nullptr, false}, {L"tarvel.exe", true}, {L"tarvel-check.exe", true}};
    for (const Part& part : parts) {
        wchar_t path[MAX_PATH] = {};
        lstrcpynW(path, kit.folder, MAX_PATH);
        if (part.name != nullptr) {
            appendText(path, MAX_PATH, part.name);
        }
        wchar_t version[kVersionText] = {};
        Text reason;
        if (part.program && !isTarvelFile(path, part.name, version)) {
            reason << "it is no tarvel program";
        }
        if (reason.c_str()[0] == L'\0' &&
            trustedToStart(path, part.name != nullptr ? ObjectKind::File : ObjectKind::Folder, machineStartReader(),
                           reason)) {
            continue;
        }
        Text line;
        line << path << ", which the kit runs with an administrator's rights, is refused: " << reason
             << ". Copy the whole kit into a folder on a local fixed drive that only administrators can change, "
                "and run it from there. Nothing was changed.";
        say(kit, line);
        return false;
    }
    Text reason;
    if (package != nullptr && package[0] != L'\0' &&
        !trustedToStart(package, ObjectKind::File, machineStartReader(), reason)) {
        Text line;
        line << package << ", the package the kit installs, is refused: " << reason
             << ". Copy the whole kit into a folder that only administrators can change. Nothing was changed.";
        say(kit, line);
        return false;
    }
    return true;
}

bool isInKitFolder(const Kit& kit, const wchar_t* program)
{
    wchar_t folder[MAX_PATH + 1] = {};
    lstrcpynW(folder, program, MAX_PATH + 1);
    ObjectKind kind = ObjectKind::File;
    if (samePath(folder, kit.own) ||
        (toParentFolder(folder, kind) && (samePath(folder, kit.folder) || sameObject(folder, kit.folder)))) {
        return true;
    }
    // Behind a symbolic link or a junction the file is the kit's own, which leaves with the
    // engineer; a hard link has a path of its own, and outlives the kit's folder.
    wchar_t real[MAX_PATH] = {};
    wchar_t realOwn[MAX_PATH] = {};
    return finalPath(program, real) && finalPath(kit.own, realOwn) && samePath(real, realOwn);
}

namespace {

Status readTaskProgram(wchar_t (&program)[MAX_PATH + 1])
{
    UniqueTaskReading reading;
    const Status status = readTarvelTaskOnWorker(L"tarvel acceptance", reading);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (reading->found && taskActive(reading->facts) && reading->startsAProgram && reading->program.ok() &&
        lstrlenW(reading->program.get()) <= MAX_PATH) {
        lstrcpynW(program, reading->program.get(), MAX_PATH + 1);
        asWindowsReadsIt(program);
    }
    return ERROR_SUCCESS;
}

Status readRunProgram(wchar_t (&program)[MAX_PATH + 1])
{
    HKEY opened = nullptr;
    Status status =
        registryStatus(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &opened));
    if (status != ERROR_SUCCESS) {
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    const UniqueHkey key(opened);
    UniqueHeapText command;
    const wchar_t* arguments = L"";
    status = readRunCommand(key.get(), command);
    if (status != ERROR_SUCCESS) {
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    if (!programOfCommand(command.get(), program, arguments)) {
        program[0] = L'\0';
    }
    return ERROR_SUCCESS;
}

}  // namespace

Status readStartupProgram(wchar_t (&program)[MAX_PATH + 1])
{
    program[0] = L'\0';
    const Status status = usesLogonTask(classifyOs()) ? readTaskProgram(program) : readRunProgram(program);
    // Logon would look for a relative one in the system folder: it is no program of the kit's.
    if (status != ERROR_SUCCESS || isRelativePath(program)) {
        program[0] = L'\0';
    }
    return status;
}

bool familyInstalled()
{
    wchar_t product[39] = {};
    return MsiEnumRelatedProductsW(TARVEL_UPGRADE_CODE, 0, 0, product) == ERROR_SUCCESS;
}

bool installedProgram(wchar_t (&program)[MAX_PATH])
{
    program[0] = L'\0';
    bool installed = familyInstalled();
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ombrix\\Tarvel", 0, KEY_QUERY_VALUE | view, &opened) !=
            ERROR_SUCCESS) {
            continue;
        }
        const UniqueHkey key(opened);
        wchar_t folder[MAX_PATH] = {};
        DWORD size = sizeof folder - sizeof folder[0];
        DWORD type = REG_NONE;
        if (RegQueryValueExW(key.get(), L"InstallDir", nullptr, &type, reinterpret_cast<BYTE*>(folder), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            continue;
        }
        installed = true;
        wchar_t candidate[MAX_PATH] = {};
        lstrcpynW(candidate, folder, MAX_PATH);
        if (program[0] == L'\0' && appendTo(candidate, L"tarvel.exe") && fileExists(candidate)) {
            lstrcpynW(program, candidate, MAX_PATH);
        }
    }
    return installed;
}

bool lastProgramOtherwise(const Kit& kit, bool foundAbsent, wchar_t (&program)[MAX_PATH])
{
    wchar_t installed[MAX_PATH] = {};
    const bool isInstalled = installedProgram(installed);
    program[0] = L'\0';
    Text reason;
    if (installed[0] != L'\0' && !isInKitFolder(kit, installed) && mayStart(installed, reason)) {
        lstrcpynW(program, installed, MAX_PATH);
        return isInstalled;
    }
    if (installed[0] != L'\0') {
        Text line;
        line << "the installed program " << installed
             << " is not started: " << (reason.c_str()[0] != L'\0' ? reason : Text("it lies in the kit's folder"));
        say(kit, line);
    }
    if (foundAbsent && fileExists(kit.own)) {
        lstrcpynW(program, kit.own, MAX_PATH);
    }
    return isInstalled;
}

const wchar_t* markerState(const Kit& kit)
{
    const DWORD attributes = GetFileAttributesW(kit.marker);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return L"absent";
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? L"directory" : L"file";
}

namespace {

const REGSAM kJournalAccess = KEY_ALL_ACCESS | KEY_WOW64_32KEY;

void sayNotTheKits(const Kit& kit, const Text& what)
{
    Text line;
    line << what << ". Nothing was changed, and nothing was started.";
    say(kit, line);
    Text how;
    how << "find out who made it; once its record, if any, is undone by hand, remove it as an administrator: reg "
           "delete \""
        << journalPath() << "\" /f";
    say(kit, how);
}

// The journal key, made with its parents where it is missing: the kit's own only when new.
Status makeJournal(UniqueHkey& key, wchar_t (&link)[MAX_PATH])
{
    const wchar_t parentPath[] = L"SOFTWARE\\Ombrix\\Tarvel";
    UniqueHkey parent;
    Status status =
        openKeyWithoutLinks(HKEY_LOCAL_MACHINE, parentPath, KEY_CREATE_SUB_KEY, KEY_WOW64_32KEY, parent, link);
    if (status == ERROR_FILE_NOT_FOUND) {
        HKEY made = nullptr;
        status = registryStatus(RegCreateKeyExW(HKEY_LOCAL_MACHINE, parentPath, 0, nullptr, 0,
                                                KEY_CREATE_SUB_KEY | KEY_WOW64_32KEY, nullptr, &made, nullptr));
        const UniqueHkey owned(made);
        if (status == ERROR_SUCCESS) {
            status =
                openKeyWithoutLinks(HKEY_LOCAL_MACHINE, parentPath, KEY_CREATE_SUB_KEY, KEY_WOW64_32KEY, parent, link);
        }
    }
    return status == ERROR_SUCCESS ? makeJournalKey(parent.get(), L"Acceptance", key) : status;
}

// A key under parent that exists, opened as itself into slot: a link there goes, as the link,
// with a line; one that cannot be opened to be judged is not the kit's. False when it is not.
bool openPart(const Kit& kit, HKEY parent, const wchar_t* name, const Text& path, UniqueHkey& slot)
{
    const Status status = openKeyItself(parent, name, kJournalAccess, slot);
    if (status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    Text line;
    if (status != ERROR_SUCCESS) {
        line << path << " could not be opened to be judged, error " << status;
        sayNotTheKits(kit, line);
        return false;
    }
    if (!isRegistryLink(slot.get())) {
        return true;
    }
    slot.reset();
    const Status deleted = deleteJournalKey(parent, name);
    line << path << " was a registry link to another key; "
         << (deleted == ERROR_SUCCESS ? "it was deleted, as the link" : "it could not be deleted");
    say(kit, line);
    return deleted == ERROR_SUCCESS;
}

// Judges a key on its handle: a key another account owns or others could have written, with
// a record in it, is not the kit's; adopt says it is an earlier kit's, to make the kit's own.
bool judgePart(const Kit& kit, HKEY key, bool holdsRecord, const Text& path, bool& adopt)
{
    BYTE descriptor[4096] = {};
    const Status status = readKeyDescriptor(key, descriptor);
    const JournalJudgement judgement = judgeJournalKey(descriptor, holdsRecord);
    if (status != ERROR_SUCCESS || judgement.verdict == JournalVerdict::Foreign) {
        Text line;
        line << path << " is not the kit's: ";
        if (status != ERROR_SUCCESS) {
            line << "its permissions could not be read, error " << status;
        } else {
            line << "it is " << judgement.changer.how << " " << judgement.changer.account;
        }
        sayNotTheKits(kit, line);
        return false;
    }
    adopt = adopt || judgement.verdict == JournalVerdict::Adopt;
    return true;
}

// Whether a key is as the kit makes its own: owned by Administrators or SYSTEM, only they may
// change it.
bool isOwnPart(HKEY key)
{
    BYTE descriptor[4096] = {};
    return readKeyDescriptor(key, descriptor) == ERROR_SUCCESS &&
           judgeJournalKey(descriptor, true).verdict == JournalVerdict::Own;
}

// The port values an earlier kit, or anyone who could change the copy, left: never put back.
void dropPortsCopy(const Kit& kit, Journal& journal)
{
    for (UniqueHkey& port : journal.portKeys) {
        port.reset();
    }
    journal.ports.reset();
    Text line;
    line << journalPath(kPortsName);
    line << (deleteJournalKey(journal.key.get(), kPortsName) == ERROR_SUCCESS
                 ? ", which others could have written, was deleted: restore.cmd ports has nothing to put back"
                 : ", which others could have written, could not be deleted; it is not used");
    say(kit, line);
}

// The ports' copy and each port under it, opened as themselves and judged as keys that hold a
// record; usable only when all are the kit's own.
bool openPorts(const Kit& kit, Journal& journal, bool& portsOwn)
{
    portsOwn = false;
    if (!openPart(kit, journal.key.get(), kPortsName, journalPath(kPortsName), journal.ports)) {
        return false;
    }
    if (!journal.ports) {
        return true;
    }
    bool own = isOwnPart(journal.ports.get());
    for (int port = 0; port < kPortCount; ++port) {
        wchar_t name[8] = L"Port0";
        name[4] = static_cast<wchar_t>(L'0' + port);
        Text path;
        path << journalPath(kPortsName) << "\\" << name;
        if (!openPart(kit, journal.ports.get(), name, path, journal.portKeys[port])) {
            return false;
        }
        own = own && (!journal.portKeys[port] || isOwnPart(journal.portKeys[port].get()));
    }
    portsOwn = own;
    return true;
}

Status adoptJournal(const Kit& kit, const Journal& journal)
{
    // Left by an earlier kit, which made it with the permissions of HKLM\SOFTWARE: from now on
    // only administrators may change it, and whatever it holds.
    const JournalSecurity security;
    if (!security.ok()) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    Status status = registryStatus(RegSetKeySecurity(journal.key.get(), what, security.descriptor()));
    if (status == ERROR_SUCCESS && journal.run) {
        status = registryStatus(RegSetKeySecurity(journal.run.get(), what, security.descriptor()));
    }
    if (status == ERROR_SUCCESS) {
        Text line;
        line << journalPath() << ", which an earlier kit left, may now be changed by administrators only";
        say(kit, line);
    }
    return status;
}

}  // namespace

Status openJournal(const Kit& kit, bool create, Journal& journal, bool& notTheKits)
{
    notTheKits = false;
    wchar_t link[MAX_PATH] = {};
    Status status =
        openKeyWithoutLinks(HKEY_LOCAL_MACHINE, kJournalKey, kJournalAccess, KEY_WOW64_32KEY, journal.key, link);
    if (status == ERROR_FILE_NOT_FOUND && !create) {
        return ERROR_SUCCESS;
    }
    if (status == ERROR_FILE_NOT_FOUND) {
        status = makeJournal(journal.key, link);
        if (status == ERROR_ALREADY_EXISTS) {
            // Made meanwhile by someone else: judged as found.
            status = openKeyWithoutLinks(HKEY_LOCAL_MACHINE, kJournalKey, kJournalAccess, KEY_WOW64_32KEY, journal.key,
                                         link);
        } else if (status != ERROR_NOT_SUPPORTED) {
            // Made new, with the kit's permissions read back, or not made at all.
            return status;
        }
    }
    if (status == ERROR_NOT_SUPPORTED) {
        Text line;
        line << "HKLM\\" << link
             << " is a registry link, which may lead to any other key: the journal is not the kit's";
        notTheKits = true;
        sayNotTheKits(kit, line);
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    bool adopt = false;
    bool portsOwn = false;
    const bool judged = openPart(kit, journal.key.get(), kRecordName, journalPath(kRecordName), journal.run) &&
                        judgePart(kit, journal.key.get(), static_cast<bool>(journal.run), journalPath(), adopt) &&
                        (!journal.run || judgePart(kit, journal.run.get(), true, journalPath(kRecordName), adopt)) &&
                        openPorts(kit, journal, portsOwn);
    if (!judged) {
        journal = Journal();
        notTheKits = true;
        return ERROR_SUCCESS;
    }
    // A copy in an earlier kit's journal, or one others could have written, is used by no one.
    if (journal.ports && (adopt || !portsOwn)) {
        dropPortsCopy(kit, journal);
    }
    return adopt ? adoptJournal(kit, journal) : ERROR_SUCCESS;
}
