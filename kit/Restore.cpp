// Undoes what an acceptance run changed and did not undo itself, because it was cut short or a
// step of its undoing failed, as the run recorded it in the journal: the package uninstalled
// by its product code if the kit installed it, a marker the kit made removed (what someone put
// in it kept aside), a marker the kit moved aside put back, and one pass so that the start-up
// is as the marker asks. Then the record goes, and a new run may start. Each line says what it
// saw after the step, not what it meant to do.
#include "kit/Kit.h"

#include "common/platform/Paths.h"
#include "common/platform/Registry.h"
#include "storage/PortPower.h"

#include <cwchar>
#include <initializer_list>

namespace {

struct Restore {
    Kit& kit;
    RunRecord record;
    wchar_t last[MAX_PATH] = {};
    int problems = 0;

    explicit Restore(Kit& k) : kit(k) {}
};

void problem(Restore& restore, const Text& line)
{
    ++restore.problems;
    Text text;
    text << "FAIL  " << line;
    say(restore.kit, text);
}

void uninstall(Restore& restore)
{
    wchar_t arguments[64] = L"/x ";
    appendText(arguments, 64, restore.record.product);
    appendText(arguments, 64, L" /qn");
    DWORD status = 0;
    Text why;
    runMsiexec(arguments, status, why);
    if (!familyInstalled()) {
        say(restore.kit, Text("Ombrix Tarvel, which the kit installed, is not installed"));
    } else {
        problem(restore, Text("Ombrix Tarvel, which the kit installed, is still installed: uninstall it"));
    }
}

// The program of the pass that puts the start-up as the marker asks: the one the start-up named
// before the run, else the installed product's, each only when the kit may start it; with the
// marker absent a pass leaves no start-up, and the kit's own copy will do.
void findLast(Restore& restore, bool foundAbsent)
{
    const Kit& kit = restore.kit;
    restore.last[0] = L'\0';
    const wchar_t* program = restore.record.program;
    Text reason;
    if (std::wcscmp(program, L"-") != 0 && fileExists(program)) {
        if (!isInKitFolder(kit, program) && mayStart(program, reason)) {
            lstrcpynW(restore.last, program, MAX_PATH);
            return;
        }
        Text line;
        line << program << ", which the record names, is not started: "
             << (reason.c_str()[0] != L'\0' ? reason : Text("it lies in this kit's folder"));
        problem(restore, line);
    }
    lastProgramOtherwise(kit, foundAbsent, restore.last);
}

void pass(Restore& restore)
{
    DWORD status = 0;
    Text why;
    const bool ended = runStep(restore.last, L"", nullptr, status, why);
    Text line;
    if (ended && status == 0) {
        line << restore.last << " ended with 0: the start-up is as the marker asks";
        say(restore.kit, line);
        return;
    }
    line << restore.last;
    if (ended) {
        line << " ended with " << static_cast<int>(status) << ": the start-up may not be as the marker asks";
    } else {
        line << ": " << why << ": the start-up may not be as the marker asks";
    }
    problem(restore, line);
}

void putMarkerBack(Restore& restore)
{
    const Kit& kit = restore.kit;
    if (pathExists(kit.aside) && !pathExists(kit.marker)) {
        MoveFileW(kit.aside, kit.marker);
    }
    Text line;
    if (pathExists(kit.marker) && !pathExists(kit.aside)) {
        line << "marker " << kit.marker << " back as it was found";
        say(kit, line);
        return;
    }
    if (!pathExists(kit.marker)) {
        line << "marker " << kit.marker << " is not there, nor " << kit.aside;
    } else {
        line << kit.aside << " could not be moved back to " << kit.marker;
    }
    problem(restore, line);
}

// No program outside the kit to keep a start-up: the run may have left one pointing at the kit,
// and a pass of the kit's copy with the marker away takes it away.
void startupAway(Restore& restore)
{
    const Kit& kit = restore.kit;
    say(kit, Text("no program to put a start-up back: none was named before the run, and Ombrix Tarvel is not "
                  "installed"));
    if (pathExists(kit.marker) && !pathExists(kit.aside)) {
        MoveFileW(kit.marker, kit.aside);
    }
    Text line;
    if (pathExists(kit.marker)) {
        line << "marker " << kit.marker << " could not be moved aside to take the start-up away";
        problem(restore, line);
        return;
    }
    if (!fileExists(kit.own)) {
        line << kit.own << " is not there to take the start-up away";
        problem(restore, line);
        return;
    }
    DWORD status = 0;
    Text why;
    const bool ended = runStep(kit.own, L"", nullptr, status, why);
    if (ended && status == 0) {
        line << "with the marker aside, " << kit.own << " ended with 0: no start-up is left";
        say(kit, line);
        return;
    }
    line << "with the marker aside, " << kit.own;
    if (ended) {
        line << " ended with " << static_cast<int>(status);
    } else {
        line << ": " << why;
    }
    problem(restore, line);
}

// A marker the kit made: removed while empty; what someone put in it is kept under another
// name, never deleted.
void removeOwnMarker(Restore& restore)
{
    const Kit& kit = restore.kit;
    if (std::wcscmp(markerState(kit), L"directory") == 0) {
        RemoveDirectoryW(kit.marker);
    }
    if (pathExists(kit.marker)) {
        wchar_t kept[MAX_PATH] = {};
        lstrcpynW(kept, kit.marker, MAX_PATH);
        appendText(kept, MAX_PATH, L".kit-contents");
        for (unsigned long tries = 1; pathExists(kept) && tries < 100; ++tries) {
            wchar_t number[kNumberText] = {};
            writeDecimal(GetTickCount() % 100000 + tries, number);
            lstrcpynW(kept, kit.marker, MAX_PATH);
            appendText(kept, MAX_PATH, L".kit-contents-");
            appendText(kept, MAX_PATH, number);
        }
        if (MoveFileW(kit.marker, kept)) {
            Text line;
            line << kit.marker << ", which the kit made, held what someone put there: it is kept as " << kept;
            say(kit, line);
        }
    }
    Text line;
    if (pathExists(kit.marker)) {
        line << "marker " << kit.marker << " is still there; the kit made it, and it was not there before";
        problem(restore, line);
    } else {
        line << "marker " << kit.marker << " absent again, as it was found";
        say(kit, line);
    }
}

const char* typeName(DWORD type)
{
    switch (type) {
        case REG_DWORD:
            return "REG_DWORD";
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        case REG_QWORD:
            return "REG_QWORD";
        default:
            return "REG_NONE";
    }
}

// A value as reg.exe shows it: "REG_DWORD 0x7", "REG_SZ text", or "absent".
Text valueText(HKEY key, const wchar_t* name)
{
    wchar_t data[256] = {};
    DWORD size = sizeof data - sizeof data[0];
    DWORD type = REG_NONE;
    const Status status =
        key == nullptr
            ? ERROR_FILE_NOT_FOUND
            : registryStatus(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size));
    if (status == ERROR_FILE_NOT_FOUND) {
        return Text("absent");
    }
    Text text;
    text << typeName(type);
    if (status == ERROR_MORE_DATA) {
        text << " (too long to show)";
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD value = 0;
        CopyMemory(&value, data, sizeof value);
        wchar_t hex[kNumberText] = {};
        writeHex(value, hex);
        // reg.exe writes no leading zeros, in lower case: 0x7.
        const wchar_t* digits = hex + 2;
        while (*digits == L'0' && digits[1] != L'\0') {
            ++digits;
        }
        text << " 0x";
        for (const wchar_t* at = digits; *at != L'\0'; ++at) {
            const wchar_t lower[2] = {static_cast<wchar_t>(*at >= L'A' ? *at - L'A' + L'a' : *at), L'\0'};
            text << lower;
        }
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        data[size / sizeof data[0]] = L'\0';
        text << " " << data;
    }
    return text;
}

// Whether key holds no value and no subkey.
bool isEmptyKey(HKEY key)
{
    wchar_t name[256] = {};
    DWORD valueLength = 256;
    DWORD keyLength = 256;
    return RegEnumValueW(key, 0, name, &valueLength, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS &&
           RegEnumKeyExW(key, 0, name, &keyLength, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
}

// One switch as it was: the 4-byte REG_DWORD the record holds, or absent; anything else in the
// record is no value a port had, and is not put back.
void putSwitchBack(Restore& restore, HKEY before, HKEY now, int port, const wchar_t* value)
{
    DWORD was = 0;
    const Status recorded = before == nullptr ? ERROR_FILE_NOT_FOUND : readDwordValue(before, value, was);
    Text line;
    line << "Port" << port << " " << value << ": ";
    if (recorded != ERROR_SUCCESS && recorded != ERROR_FILE_NOT_FOUND) {
        line << "the record holds " << valueText(before, value) << ", no port's value: not put back";
        problem(restore, line);
        return;
    }
    if (now != nullptr && recorded == ERROR_SUCCESS) {
        RegSetValueExW(now, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&was), sizeof was);
    } else if (now != nullptr) {
        RegDeleteValueW(now, value);
    }
    const Text wanted = valueText(before, value);
    const Text found = valueText(now, value);
    line << found;
    if (std::wcscmp(wanted.c_str(), found.c_str()) == 0) {
        line << ", as before the run";
        say(restore.kit, line);
    } else {
        line << ", where it was " << wanted << " before the run";
        problem(restore, line);
    }
}

// Each of the twelve values as it was before the run: put back from the record when it was
// there, deleted when it was not; a port key the run made where there was none goes again,
// when it holds nothing else.
void putPortsBack(Restore& restore, const Journal& journal)
{
    wchar_t whole[8] = {};
    DWORD size = sizeof whole - sizeof whole[0];
    DWORD type = REG_NONE;
    if (!journal.ports ||
        RegQueryValueExW(journal.ports.get(), L"Whole", nullptr, &type, reinterpret_cast<BYTE*>(whole), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ || std::wcscmp(whole, L"yes") != 0) {
        problem(restore, Text("no whole record of the port values before a run is there: nothing was changed"));
        return;
    }
    for (int port = 0; port < kPortCount; ++port) {
        const HKEY before = journal.portKeys[port].get();
        HKEY target = nullptr;
        if (before != nullptr) {
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPortKeys[port], 0, nullptr, 0, KEY_READ | KEY_SET_VALUE, nullptr,
                            &target, nullptr);
        } else {
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortKeys[port], 0, KEY_READ | KEY_SET_VALUE, &target);
        }
        UniqueHkey now(target);
        for (const wchar_t* value : {L"DIPM", L"LPM"}) {
            putSwitchBack(restore, before, now.get(), port, value);
        }
        wchar_t path[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, kPortKeys[port], -1, path, MAX_PATH);
        if (before == nullptr && now && isEmptyKey(now.get())) {
            now.reset();
            if (deleteKeyTree(HKEY_LOCAL_MACHINE, path, 0) == ERROR_SUCCESS) {
                Text line;
                line << "Port" << port << ": the key the run made, where there was none, is deleted again";
                say(restore.kit, line);
            }
        }
    }
}

int withoutRecord(Restore& restore)
{
    const Kit& kit = restore.kit;
    say(kit, Text("no unfinished run is recorded; the marker goes back if it was left aside"));
    if (pathExists(kit.aside)) {
        putMarkerBack(restore);
    }
    lstrcpynW(restore.record.program, L"-", MAX_PATH + 1);
    findLast(restore, false);
    if (restore.last[0] != L'\0') {
        pass(restore);
    } else {
        say(kit, Text("no pass: Ombrix Tarvel is not installed here"));
    }
    return restore.problems == 0 ? kKitPassed : kKitFailed;
}

int refuse(Restore& restore, HKEY record, const char* why)
{
    Text line;
    line << "the record of an unfinished run is refused, and nothing was changed: " << why << ". It holds:";
    say(restore.kit, line);
    sayRecord(restore.kit, record);
    Text how;
    how << "undo by hand what it names, then remove it: reg delete \"" << journalPath(kRecordName) << "\" /f";
    say(restore.kit, how);
    return kKitRefused;
}

}  // namespace

int runRestore(Kit& kit, bool portsOnly)
{
    kit.prefix = "restore: ";
    if (!runsAsAdministrator()) {
        say(kit, Text("run this from an elevated command prompt (Run as administrator)."));
        return kKitNotElevated;
    }
    if (!kitIsTrusted(kit, nullptr)) {
        return kKitRefused;
    }
    Restore restore(kit);
    Journal journal;
    bool notTheKits = false;
    const Status status = openJournal(kit, false, journal, notTheKits);
    if (notTheKits) {
        return kKitRefused;
    }
    if (status != ERROR_SUCCESS) {
        Text line;
        line << journalPath() << " could not be opened, error " << status << ". Nothing was changed.";
        say(kit, line);
        return kKitRefused;
    }
    // The record judged with the journal, and read only through that handle.
    const HKEY recordKey = journal.run.get();
    if (portsOnly) {
        if (recordKey != nullptr) {
            problem(restore, Text("an unfinished run is recorded: run restore.cmd without ports first. Nothing was "
                                  "changed."));
            return kKitFailed;
        }
        putPortsBack(restore, journal);
        return restore.problems == 0 ? kKitPassed : kKitFailed;
    }
    if (recordKey == nullptr) {
        return withoutRecord(restore);
    }
    if (readRunRecord(recordKey, restore.record) != ERROR_SUCCESS) {
        return refuse(restore, recordKey, "it could not be read");
    }
    const char* refused = restore.record.refused;
    if (refused == nullptr) {
        refused = recordRefusal(restore.record, machineRecordFacts());
    }
    if (refused != nullptr) {
        return refuse(restore, recordKey, refused);
    }

    Text heading;
    heading << "undoing the unfinished run recorded in " << journalPath(kRecordName) << ":";
    say(kit, heading);
    sayRecord(kit, recordKey);
    if (restore.record.hasProduct && machineRecordFacts().isOwnProduct(restore.record.product)) {
        uninstall(restore);
    }
    const bool foundAbsent = std::wcscmp(restore.record.found, L"absent") == 0;
    findLast(restore, foundAbsent);
    if (foundAbsent) {
        removeOwnMarker(restore);
    } else {
        if (restore.last[0] == L'\0') {
            startupAway(restore);
        }
        putMarkerBack(restore);
    }
    if (restore.last[0] != L'\0') {
        pass(restore);
    } else if (foundAbsent) {
        Text line;
        line << kit.own << " is not there to take the start-up away";
        problem(restore, line);
    }
    if (restore.problems != 0) {
        Text line;
        line << journalPath(kRecordName) << " stays: a new acceptance run waits until all is undone";
        say(kit, line);
        return kKitFailed;
    }
    journal.run.reset();
    if (deleteJournalKey(journal.key.get(), kRecordName) != ERROR_SUCCESS) {
        Text line;
        line << journalPath(kRecordName) << " could not be removed";
        problem(restore, line);
        return kKitFailed;
    }
    say(kit, Text("all is undone; the record is removed"));
    return kKitPassed;
}
