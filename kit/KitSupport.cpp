#include "kit/Kit.h"

#include "common/platform/Paths.h"
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
    GetSystemDirectoryW(msiexec, MAX_PATH);
    appendText(msiexec, MAX_PATH, L"\\msiexec.exe");
    return runStep(msiexec, arguments, nullptr, status, problem);
}

Status makeJournalKey(HKEY parent, const wchar_t* name, UniqueHkey& key)
{
    const JournalSecurity security;
    if (!security.ok()) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.descriptor(), FALSE};
    HKEY made = nullptr;
    const Status status = registryStatus(
        RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &attributes, &made, nullptr));
    if (status == ERROR_SUCCESS) {
        key.reset(made);
    }
    return status;
}

Status deleteKeyTree(HKEY parent, const wchar_t* name)
{
    HKEY opened = nullptr;
    Status status = registryStatus(RegOpenKeyExW(parent, name, 0, KEY_READ | DELETE | KEY_WOW64_32KEY, &opened));
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const UniqueHkey key(opened);
    // Each pass deletes the first subkey, until none is left.
    for (;;) {
        wchar_t child[256] = {};
        DWORD length = 256;
        status = registryStatus(RegEnumKeyExW(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr));
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_SUCCESS) {
            status = deleteKeyTree(key.get(), child);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    return registryStatus(RegDeleteKeyW(parent, name));
}

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

bool isInKitFolder(const Kit& kit, const wchar_t* program)
{
    wchar_t folder[MAX_PATH + 1] = {};
    lstrcpynW(folder, program, MAX_PATH + 1);
    ObjectKind kind = ObjectKind::File;
    return samePath(folder, kit.own) ||
           (toParentFolder(folder, kind) && (samePath(folder, kit.folder) || sameObject(folder, kit.folder)));
}

namespace {

void readTaskProgram(const Kit& kit, wchar_t (&program)[MAX_PATH + 1])
{
    UniqueTaskReading reading;
    const Status status = readTarvelTaskOnWorker(L"tarvel acceptance", reading);
    if (status == kTaskSchedulerTimedOut) {
        Text line;
        line << "the start-up could not be read: " << kTaskSchedulerSilent;
        say(kit, line);
        return;
    }
    if (status == ERROR_SUCCESS && reading->found && taskActive(reading->facts) && reading->startsAProgram &&
        reading->program.ok() && lstrlenW(reading->program.get()) <= MAX_PATH) {
        lstrcpynW(program, reading->program.get(), MAX_PATH + 1);
        asWindowsReadsIt(program);
    }
}

void readRunProgram(wchar_t (&program)[MAX_PATH + 1])
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &opened) != ERROR_SUCCESS) {
        return;
    }
    const UniqueHkey key(opened);
    UniqueHeapText command;
    const wchar_t* arguments = L"";
    if (readRunCommand(key.get(), command) != ERROR_SUCCESS || !programOfCommand(command.get(), program, arguments)) {
        program[0] = L'\0';
    }
}

}  // namespace

void readStartupProgram(const Kit& kit, wchar_t (&program)[MAX_PATH + 1])
{
    program[0] = L'\0';
    if (usesLogonTask(classifyOs())) {
        readTaskProgram(kit, program);
    } else {
        readRunProgram(program);
    }
    // Logon would look for a relative one in the system folder: it is no program of the kit's.
    if (program[0] != L'\0' && isRelativePath(program)) {
        program[0] = L'\0';
    }
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

Status openJournal(const Kit& kit, bool create, UniqueHkey& key, bool& notTheKits)
{
    notTheKits = false;
    const REGSAM access = KEY_ALL_ACCESS | KEY_WOW64_32KEY;
    HKEY opened = nullptr;
    Status status = registryStatus(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kJournalKey, 0, access, &opened));
    if (status == ERROR_FILE_NOT_FOUND) {
        if (!create) {
            return ERROR_SUCCESS;
        }
        HKEY product = nullptr;
        status = registryStatus(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ombrix\\Tarvel", 0, nullptr, 0,
                                                KEY_CREATE_SUB_KEY | KEY_WOW64_32KEY, nullptr, &product, nullptr));
        if (status != ERROR_SUCCESS) {
            return status;
        }
        const UniqueHkey productKey(product);
        return makeJournalKey(productKey.get(), L"Acceptance", key);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    key.reset(opened);
    // The key, the record and the ports' copy, each as Windows holds its permissions.
    HKEY record = nullptr;
    const bool holdsRecord = RegOpenKeyExW(key.get(), kRecordName, 0, access, &record) == ERROR_SUCCESS;
    const UniqueHkey recordKey(record);
    struct Part {
        HKEY key;
        const wchar_t* name;
        bool holdsRecord;
    };
    const Part parts[] = {{key.get(), nullptr, holdsRecord}, {recordKey.get(), kRecordName, true}};
    bool adopt = false;
    for (const Part& part : parts) {
        if (part.key == nullptr) {
            continue;
        }
        BYTE descriptor[4096] = {};
        DWORD size = sizeof descriptor;
        status = registryStatus(
            RegGetKeySecurity(part.key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, &size));
        if (status != ERROR_SUCCESS) {
            return status;
        }
        const JournalJudgement judgement = judgeJournalKey(descriptor, part.holdsRecord);
        if (judgement.verdict == JournalVerdict::Foreign) {
            Text line;
            line << journalPath(part.name) << " is not the kit's: it is " << judgement.changer.how << " "
                 << judgement.changer.account << ". Nothing was changed, and nothing was started.";
            say(kit, line);
            Text how;
            how << "find out who made it; once its record, if any, is undone by hand, remove it as an administrator: "
                   "reg "
                   "delete \""
                << journalPath() << "\" /f";
            say(kit, how);
            key.reset();
            notTheKits = true;
            return ERROR_SUCCESS;
        }
        adopt = adopt || judgement.verdict == JournalVerdict::Adopt;
    }
    if (!adopt) {
        return ERROR_SUCCESS;
    }
    // Left by an earlier kit, which made it with the permissions of HKLM\SOFTWARE: from now on
    // only administrators may change it, and whatever it holds.
    const JournalSecurity security;
    if (!security.ok()) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    status = registryStatus(RegSetKeySecurity(key.get(), what, security.descriptor()));
    if (status == ERROR_SUCCESS && recordKey) {
        status = registryStatus(RegSetKeySecurity(recordKey.get(), what, security.descriptor()));
    }
    HKEY ports = nullptr;
    if (status == ERROR_SUCCESS && RegOpenKeyExW(key.get(), kPortsName, 0, access, &ports) == ERROR_SUCCESS) {
        const UniqueHkey portsKey(ports);
        status = registryStatus(RegSetKeySecurity(portsKey.get(), what, security.descriptor()));
        for (int port = 0; status == ERROR_SUCCESS && port < 6; ++port) {
            wchar_t name[8] = L"Port0";
            name[4] = static_cast<wchar_t>(L'0' + port);
            HKEY portKey = nullptr;
            if (RegOpenKeyExW(portsKey.get(), name, 0, access, &portKey) == ERROR_SUCCESS) {
                const UniqueHkey owned(portKey);
                status = registryStatus(RegSetKeySecurity(owned.get(), what, security.descriptor()));
            }
        }
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Text line;
    line << journalPath() << ", which an earlier kit left, may now be changed by administrators only";
    say(kit, line);
    return ERROR_SUCCESS;
}
