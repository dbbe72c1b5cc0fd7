// Acceptance of tarvel on a reference machine: the program through preload and normal mode,
// the package through install and uninstall, the machine checked with tarvel-check.exe after
// each step; then the marker as it was found and a last pass, so that the machine ends as its
// marker asks. Before its first change the run records in the journal what restore needs to
// undo it, and it removes the record once its own undoing passed.
#include "kit/Kit.h"

#include "common/platform/Paths.h"
#include "common/product/Deadlines.h"
#include "common/platform/SystemFacts.h"
#include "storage/PortPower.h"

#include <cwchar>
#include <initializer_list>

namespace {

struct Run {
    Kit& kit;
    const wchar_t* found = L"absent";
    wchar_t program[MAX_PATH + 1] = L"-";  // the start-up's program to put back, or "-"
    wchar_t last[MAX_PATH] = {};           // the last pass's program, or empty
    bool installed = false;
    wchar_t package[MAX_PATH] = {};
    int passed = 0;
    int failed = 0;
    // Set by a step whose failure may leave the machine unlike it was found: the record stays.
    bool keep = false;
    bool markerOk = true;
    bool preload = false;
    Journal journal;
    UniqueHkey record;

    explicit Run(Kit& k) : kit(k) {}
};

void result(Run& run, const wchar_t* what, DWORD status)
{
    // Signed, as %errorlevel% shows an HRESULT.
    Text line;
    line << (status == 0 ? "PASS  " : "FAIL  ") << what << " (exit status " << static_cast<int>(status) << ")";
    ++(status == 0 ? run.passed : run.failed);
    say(run.kit, line);
}

void failure(Run& run, const wchar_t* what, const Text& why)
{
    ++run.failed;
    Text line;
    line << "FAIL  " << what << " (" << why << ")";
    say(run.kit, line);
}

bool skipped(Run& run, const wchar_t* what)
{
    if (run.markerOk) {
        return false;
    }
    failure(run, what, Text("not run: the marker is not as the step needs"));
    return true;
}

void stepHeading(const Run& run, const wchar_t* what)
{
    Text line;
    line << "--- " << what;
    logLine(run.kit, line);
}

// Present: the marker found (moved back from aside), or one the kit makes; absent: the marker
// found moved aside, or the kit's own removed, and only while it is empty. Then it must be
// so, or the steps that need it fail.
void setMarker(Run& run, bool present)
{
    const Kit& kit = run.kit;
    const bool foundAbsent = std::wcscmp(run.found, L"absent") == 0;
    if (present && foundAbsent && !pathExists(kit.marker)) {
        CreateDirectoryW(kit.marker, nullptr);
    } else if (present && !foundAbsent && pathExists(kit.aside) && !pathExists(kit.marker)) {
        MoveFileW(kit.aside, kit.marker);
    } else if (!present && foundAbsent && std::wcscmp(markerState(kit), L"directory") == 0) {
        RemoveDirectoryW(kit.marker);
    } else if (!present && !foundAbsent && pathExists(kit.marker) && !pathExists(kit.aside)) {
        MoveFileW(kit.marker, kit.aside);
    }
    run.preload = present;
    run.markerOk = pathExists(kit.marker) == present;
    const char* want = present ? "present" : "absent";
    Text line;
    if (run.markerOk) {
        line << "marker " << kit.marker << " made " << want;
    } else {
        ++run.failed;
        run.keep = true;
        line << "FAIL  marker " << kit.marker << " could not be made " << want;
    }
    say(kit, line);
}

void pass(Run& run, const wchar_t* what, const wchar_t* program)
{
    stepHeading(run, what);
    if (skipped(run, what)) {
        return;
    }
    DWORD status = 0;
    Text problem;
    if (!runStep(program, L"", nullptr, status, problem)) {
        run.keep = true;
        failure(run, what, problem);
        return;
    }
    run.keep = run.keep || status != 0;
    result(run, what, status);
}

void setPortsOn()
{
    for (const char* path : kPortKeys) {
        HKEY opened = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) !=
            ERROR_SUCCESS) {
            continue;
        }
        const UniqueHkey key(opened);
        const DWORD on = kPortsOn;
        for (const char* name : {kDipmValue, kLpmValue}) {
            RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
        }
    }
}

// The check is given the mode the step expects and judged by its exit status alone, its lines
// kept in the log. noPorts: the ports are first set as a normal pass sets them, so that the
// check can say 0 only when no start-up of the program is left.
void check(Run& run, const wchar_t* what, bool noPorts = false)
{
    const Kit& kit = run.kit;
    stepHeading(run, what);
    if (skipped(run, what)) {
        return;
    }
    if (noPorts) {
        setPortsOn();
    }
    wchar_t lines[MAX_PATH] = {};
    lstrcpynW(lines, kit.folder, MAX_PATH);
    appendText(lines, MAX_PATH, L"logs\\check.txt");
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const UniqueHandle output = ownHandle(CreateFileW(lines, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                                      &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) {
        failure(run, what, Text("its lines could not be kept in logs\\check.txt"));
        return;
    }
    wchar_t checkProgram[MAX_PATH] = {};
    lstrcpynW(checkProgram, kit.folder, MAX_PATH);
    appendText(checkProgram, MAX_PATH, L"tarvel-check.exe");
    DWORD status = 0;
    Text problem;
    const bool ended =
        runStep(checkProgram, run.preload ? L"/expect:preload" : L"/expect:normal", output.get(), status, problem);
    // What it printed, for people, to the log.
    static char printed[64 * 1024];
    DWORD length = 0;
    SetFilePointer(output.get(), 0, nullptr, FILE_BEGIN);
    ReadFile(output.get(), printed, sizeof printed, &length, nullptr);
    if (kit.log != nullptr) {
        DWORD written = 0;
        WriteFile(kit.log, printed, length, &written, nullptr);
    }
    if (!ended) {
        failure(run, what, problem);
        return;
    }
    result(run, what, status);
}

void package(Run& run, const wchar_t* what, const wchar_t* verb, const wchar_t* logName)
{
    const Kit& kit = run.kit;
    stepHeading(run, verb);
    if (skipped(run, what)) {
        return;
    }
    wchar_t arguments[3 * MAX_PATH] = {};
    const size_t room = sizeof arguments / sizeof arguments[0];
    appendText(arguments, room, verb[0] == L'i' ? L"/i \"" : L"/x \"");
    appendText(arguments, room, run.package);
    appendText(arguments, room, L"\" /qn /l*v \"");
    appendText(arguments, room, kit.folder);
    appendText(arguments, room, L"logs\\");
    appendText(arguments, room, logName);
    appendText(arguments, room, L"\"");
    // The package judged is the package installed: held against change while msiexec reads it.
    const UniqueHandle held =
        ownHandle(CreateFileW(run.package, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    Text reason;
    if (!held || !trustedToStart(run.package, ObjectKind::File, machineStartReader(), reason)) {
        Text why;
        why << "the package may not be installed: " << (held ? reason : Text("it could not be opened"));
        failure(run, what, why);
        return;
    }
    DWORD status = 0;
    Text problem;
    if (!runMsiexec(arguments, status, problem)) {
        failure(run, what, problem);
        return;
    }
    result(run, what, status);
}

Status recordText(HKEY record, const wchar_t* name, const wchar_t* value)
{
    return registryStatus(RegSetValueExW(record, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                         (static_cast<DWORD>(lstrlenW(value)) + 1) * sizeof(wchar_t)));
}

// The port keys as they are, each value copied, so that restore can put them back exactly.
Status recordPorts(Run& run)
{
    Journal& journal = run.journal;
    for (UniqueHkey& port : journal.portKeys) {
        port.reset();
    }
    journal.ports.reset();
    Status status = deleteJournalKey(journal.key.get(), kPortsName);
    if (status == ERROR_SUCCESS) {
        status = makeJournalKey(journal.key.get(), kPortsName, journal.ports);
    }
    for (int port = 0; status == ERROR_SUCCESS && port < kPortCount; ++port) {
        HKEY opened = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortKeys[port], 0, KEY_READ, &opened) != ERROR_SUCCESS) {
            continue;
        }
        const UniqueHkey source(opened);
        wchar_t name[8] = L"Port0";
        name[4] = static_cast<wchar_t>(L'0' + port);
        status = makeJournalKey(journal.ports.get(), name, journal.portKeys[port]);
        for (DWORD index = 0; status == ERROR_SUCCESS; ++index) {
            wchar_t valueName[256] = {};
            DWORD nameLength = 256;
            BYTE data[1024] = {};
            DWORD size = sizeof data;
            DWORD type = REG_NONE;
            status =
                registryStatus(RegEnumValueW(source.get(), index, valueName, &nameLength, nullptr, &type, data, &size));
            if (status == ERROR_NO_MORE_ITEMS) {
                status = ERROR_SUCCESS;
                break;
            }
            if (status == ERROR_SUCCESS) {
                status = registryStatus(RegSetValueExW(journal.portKeys[port].get(), valueName, 0, type, data, size));
            }
        }
    }
    return status == ERROR_SUCCESS ? recordText(journal.ports.get(), L"Whole", L"yes") : status;
}

// What restore needs to undo a run cut short at any later point, whole before the first change.
bool recordRun(Run& run)
{
    const Kit& kit = run.kit;
    deleteJournalKey(run.journal.key.get(), kRecordName);
    Status status = makeJournalKey(run.journal.key.get(), kRecordName, run.record);
    if (status == ERROR_SUCCESS) {
        status = recordText(run.record.get(), L"Kit", kit.folder);
    }
    if (status == ERROR_SUCCESS) {
        status = recordText(run.record.get(), L"Found", run.found);
    }
    if (status == ERROR_SUCCESS) {
        status = recordText(run.record.get(), L"Program", run.program);
    }
    if (status == ERROR_SUCCESS) {
        status = recordText(run.record.get(), L"Whole", L"yes");
    }
    if (status != ERROR_SUCCESS) {
        run.record.reset();
        deleteJournalKey(run.journal.key.get(), kRecordName);
        Text line;
        line << journalPath(kRecordName) << " could not be written. Nothing was changed.";
        say(kit, line);
        return false;
    }
    Text line;
    line << "if the run is cut short, restore.cmd undoes what it changed, as " << journalPath(kRecordName)
         << " records it";
    say(kit, line);
    if (recordPorts(run) == ERROR_SUCCESS) {
        Text ports;
        ports << "port values recorded in " << journalPath(kPortsName);
        say(kit, ports);
    } else {
        Text ports;
        ports << "NOTE  the port values could not be recorded in " << journalPath(kPortsName)
              << ": restore.cmd ports has nothing to put back";
        deleteJournalKey(run.journal.key.get(), kPortsName);
        say(kit, ports);
    }
    return true;
}

// The start-up's program before the run, when the kit may start it and it lies outside the
// kit: the last pass puts the start-up back there.
bool findStartupProgram(Run& run)
{
    const Kit& kit = run.kit;
    wchar_t named[MAX_PATH + 1] = {};
    const Status status = readStartupProgram(named);
    if (status != ERROR_SUCCESS) {
        // Unread, the machine's start-up could not be put back: nothing is changed.
        Text line;
        line << "the start-up could not be read: ";
        if (status == kTaskSchedulerTimedOut) {
            line << kTaskSchedulerSilent;
        } else {
            line << "error " << static_cast<int>(status);
        }
        line << ". Nothing was changed; run the kit again once it can be read.";
        say(kit, line);
        return false;
    }
    if (named[0] == L'\0') {
        return true;
    }
    Text line;
    Text reason;
    if (isInKitFolder(kit, named)) {
        line << "the start-up names " << named << ", in the kit's own folder: the kit does not put it back there";
    } else if (!mayStart(named, reason)) {
        line << "the start-up names " << named << ", which the kit does not start: " << reason;
    } else {
        lstrcpynW(run.program, named, MAX_PATH + 1);
        line << "the start-up names " << named;
    }
    say(kit, line);
    return true;
}

// The program of the last pass: the start-up's, else the installed product's when the kit may
// start it; with the marker absent a pass leaves no start-up, and the kit's own copy will do.
void findLastProgram(Run& run)
{
    wchar_t otherwise[MAX_PATH] = {};
    run.installed = lastProgramOtherwise(run.kit, std::wcscmp(run.found, L"absent") == 0, otherwise);
    lstrcpynW(run.last, std::wcscmp(run.program, L"-") != 0 ? run.program : otherwise, MAX_PATH);
}

bool kitIsWhole(const Kit& kit)
{
    for (const wchar_t* file : {L"tarvel.exe", L"tarvel-check.exe", L"restore.cmd"}) {
        wchar_t path[MAX_PATH] = {};
        lstrcpynW(path, kit.folder, MAX_PATH);
        if (!appendText(path, MAX_PATH, file) || !fileExists(path)) {
            Text line;
            line << file << " is not beside acceptance.cmd.";
            say(kit, line);
            return false;
        }
    }
    return true;
}

// Without a log that says what it did, a failed step could not be told.
bool openLog(Kit& kit)
{
    wchar_t path[MAX_PATH] = {};
    lstrcpynW(path, kit.folder, MAX_PATH);
    appendText(path, MAX_PATH, L"logs");
    CreateDirectoryW(path, nullptr);
    appendText(path, MAX_PATH, L"\\acceptance.log");
    const HANDLE log =
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return false;
    }
    kit.log = log;
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    Text heading;
    heading << "tarvel acceptance, " << static_cast<unsigned long>(now.wYear) << "-"
            << static_cast<unsigned long>(now.wMonth) << "-" << static_cast<unsigned long>(now.wDay) << " "
            << static_cast<unsigned long>(now.wHour) << ":" << static_cast<unsigned long>(now.wMinute);
    logLine(kit, heading);
    Text windows;
    windows << "Windows " << version.dwMajorVersion << "." << version.dwMinorVersion << "." << version.dwBuildNumber
            << " " << version.szCSDVersion << (isWow64() ? ", WOW64" : "");
    logLine(kit, windows);
    return true;
}

void findPackage(Run& run)
{
    wchar_t pattern[MAX_PATH] = {};
    lstrcpynW(pattern, run.kit.folder, MAX_PATH);
    appendText(pattern, MAX_PATH, L"tarvel-*.msi");
    WIN32_FIND_DATAW found = {};
    const UniqueFindHandle search = ownSearch(FindFirstFileW(pattern, &found));
    if (!search) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            lstrcpynW(run.package, run.kit.folder, MAX_PATH);
            appendText(run.package, MAX_PATH, found.cFileName);
        }
    } while (FindNextFileW(search.get(), &found));
}

void installAndUninstall(Run& run)
{
    if (run.installed) {
        say(run.kit, Text("install and uninstall skipped: the product installed here stays as it is"));
        return;
    }
    if (run.package[0] == L'\0') {
        say(run.kit, Text("no package beside the kit: install and uninstall skipped"));
        return;
    }
    // Recorded before it is installed, or not installed: a run cut during the install leaves
    // restore a product it knows.
    const Status recorded = recordText(run.record.get(), L"Product", L"" TARVEL_PRODUCT_CODE);
    if (recorded != ERROR_SUCCESS) {
        Text why;
        why << "not run: its product code could not be recorded in " << journalPath(kRecordName) << ", error "
            << recorded;
        failure(run, L"install of the package", why);
        return;
    }
    setMarker(run, true);
    package(run, L"install of the package", L"install", L"install.log");
    check(run, L"check after the install");
    package(run, L"uninstall of the package", L"uninstall", L"uninstall.log");
    // The package the kit installed is gone again: nothing for restore to uninstall.
    if (!familyInstalled()) {
        RegDeleteValueW(run.record.get(), L"Product");
    } else {
        run.keep = true;
        say(run.kit,
            Text("FAIL  Ombrix Tarvel, which the kit installed, is still installed: restore.cmd uninstalls it"));
    }
    setMarker(run, false);
    check(run, L"no start-up left after the uninstall", true);
}

}  // namespace

int runAcceptance(Kit& kit)
{
    kit.prefix = "acceptance: ";
    if (!runsAsAdministrator()) {
        say(kit, Text("run this from an elevated command prompt (Run as administrator)."));
        return kKitNotElevated;
    }
    Run run(kit);
    findPackage(run);
    if (!kitIsWhole(kit) || !kitIsTrusted(kit, run.package)) {
        return kKitRefused;
    }
    // Judged before anything is made: a journal that is not the kit's stops the run untouched.
    bool notTheKits = false;
    Status status = openJournal(kit, false, run.journal, notTheKits);
    if (notTheKits) {
        return kKitRefused;
    }
    if (status == ERROR_SUCCESS && run.journal.run) {
        say(kit, Text("an earlier run, from the kit folder its record names, was cut short or could not undo its "
                      "changes:"));
        sayRecord(kit, run.journal.run.get());
        say(kit,
            Text("run restore.cmd first, as an administrator: this kit's, or that folder's. Nothing was changed."));
        return kKitUnfinished;
    }
    if (pathExists(kit.aside)) {
        Text line;
        line << kit.aside << " is there: an earlier run was cut short. Run restore.cmd first.";
        say(kit, line);
        return kKitUnfinished;
    }
    if (!openLog(kit)) {
        say(kit, Text("it cannot write its log in its logs folder (read-only media, or a file of that name). Copy the "
                      "kit to a writable folder and run it there. Nothing was changed."));
        return kKitRefused;
    }
    kit.prefix = "";
    run.found = markerState(kit);
    Text marker;
    marker << "marker " << kit.marker << ": " << run.found;
    say(kit, marker);
    // Read before anything is made, the journal included.
    if (status == ERROR_SUCCESS && !findStartupProgram(run)) {
        const UniqueHandle log(kit.log);
        return kKitRefused;
    }
    if (status == ERROR_SUCCESS && !run.journal.key) {
        status = openJournal(kit, true, run.journal, notTheKits);
    }
    if (notTheKits) {
        const UniqueHandle log(kit.log);
        return kKitRefused;
    }
    if (status != ERROR_SUCCESS) {
        Text line;
        line << journalPath() << " could not be opened, error " << status << ". Nothing was changed.";
        say(kit, line);
        const UniqueHandle log(kit.log);
        return kKitRefused;
    }
    const UniqueHandle log(kit.log);
    findLastProgram(run);
    if (run.installed) {
        say(kit, Text("Ombrix Tarvel is installed here: the kit leaves it installed"));
    }
    if (run.last[0] != L'\0') {
        Text line;
        line << "the last pass runs " << run.last;
        say(kit, line);
    } else {
        say(kit, Text("no last pass: no start-up named a program outside the kit before the run, and Ombrix Tarvel is "
                      "not installed"));
    }
    if (!recordRun(run)) {
        return kKitRefused;
    }

    setMarker(run, true);
    pass(run, L"first preload pass", kit.own);
    check(run, L"check after the first preload pass");
    pass(run, L"second preload pass", kit.own);
    check(run, L"check after the second preload pass");
    setMarker(run, false);
    pass(run, L"normal pass", kit.own);
    check(run, L"check after the normal pass");

    installAndUninstall(run);

    setMarker(run, std::wcscmp(run.found, L"absent") != 0);
    if (run.last[0] != L'\0') {
        pass(run, L"last pass, with the marker as it was found", run.last);
        check(run, L"check with the marker as it was found");
    }

    // A step that failed may have left the machine unlike it was found: restore finishes.
    if (run.keep) {
        Text line;
        line << journalPath(kRecordName) << " stays, since a step above failed: run restore.cmd as an administrator";
        say(kit, line);
    } else {
        run.record.reset();
        if (deleteJournalKey(run.journal.key.get(), kRecordName) != ERROR_SUCCESS) {
            ++run.failed;
            Text line;
            line << "FAIL  " << journalPath(kRecordName) << " could not be removed";
            say(kit, line);
        }
    }
    Text summary;
    summary << run.passed << " passed, " << run.failed << " failed";
    say(kit, summary);
    Text ports;
    ports << kit.folder
          << "restore.cmd ports puts the port values recorded before the run back (run it as an "
             "administrator)";
    say(kit, ports);
    return run.failed == 0 ? kKitPassed : kKitFailed;
}
