#include "kit/StartupChange.h"

#include "common/platform/Paths.h"
#include "common/platform/Registry.h"
#include "common/platform/SystemFacts.h"
#include "common/product/Deadlines.h"
#include "common/product/TarvelProgram.h"
#include "kit/Journal.h"
#include "kit/MarkerChange.h"
#include "kit/PackageChange.h"
#include "kit/Programs.h"
#include "startup/RunCommand.h"
#include "startup/RunEntry.h"
#include "startup/TaskReading.h"

#include <cwchar>

const wchar_t kNoProgram[] = L"-";

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
    UniqueHkey key;
    Status status = openKey(HKEY_LOCAL_MACHINE, kRunKey, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key);
    if (status != ERROR_SUCCESS) {
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
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

// Why the kit does not start program, for a line.
Text notStarted(const Text& reason)
{
    return reason.c_str()[0] != L'\0' ? reason : Text("it lies in the kit's folder");
}

// A pass of program, as the lines of restore tell it: "... ended with 0" and what that means.
bool passEndedWell(const wchar_t* program, Text& line)
{
    DWORD status = 0;
    Text why;
    const bool ended = runStep(program, L"", nullptr, status, why);
    line << program;
    if (ended && status == 0) {
        line << " ended with 0";
    } else if (ended) {
        line << " ended with " << static_cast<int>(status);
    } else {
        line << ": " << why;
    }
    return ended && status == 0;
}

}  // namespace

const char* programFormRefusal(const wchar_t* program)
{
    if (program[0] == L'\0') {
        return "it names no Program";
    }
    if (std::wcscmp(program, kNoProgram) == 0) {
        return nullptr;
    }
    if (holdsNamelessCharacter(program)) {
        return "its Program is not a path";
    }
    const int length = lstrlenW(program);
    if (length < 4 || lstrcmpiW(program + length - 4, L".exe") != 0) {
        return "its Program is not a program";
    }
    wchar_t full[MAX_PATH] = {};
    if (isRelativePath(program) || !fullPath(program, full) || std::wcscmp(full, program) != 0) {
        return "its Program is not a full path";
    }
    return nullptr;
}

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

bool findStartupProgram(const KitSession& kit, wchar_t (&program)[MAX_PATH + 1])
{
    lstrcpynW(program, kNoProgram, MAX_PATH + 1);
    wchar_t named[MAX_PATH + 1] = {};
    const Status status = readStartupProgram(named);
    Text line;
    if (status != ERROR_SUCCESS) {
        // Unread, the machine's start-up could not be put back: nothing is changed.
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
    Text reason;
    if (isInKitFolder(kit, named)) {
        line << "the start-up names " << named << ", in the kit's own folder: the kit does not put it back there";
    } else if (!mayStart(named, reason)) {
        line << "the start-up names " << named << ", which the kit does not start: " << reason;
    } else {
        lstrcpynW(program, named, MAX_PATH + 1);
        line << "the start-up names " << named;
    }
    say(kit, line);
    return true;
}

Status lastProgramOtherwise(const KitSession& kit, bool foundAbsent, bool& installed, wchar_t (&program)[MAX_PATH])
{
    program[0] = L'\0';
    wchar_t installedOne[MAX_PATH] = {};
    const Status status = installedProgram(installed, installedOne);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Text reason;
    if (installedOne[0] != L'\0' && !isInKitFolder(kit, installedOne) && mayStart(installedOne, reason)) {
        lstrcpynW(program, installedOne, MAX_PATH);
        return ERROR_SUCCESS;
    }
    if (installedOne[0] != L'\0') {
        Text line;
        line << "the installed program " << installedOne << " is not started: " << notStarted(reason);
        say(kit, line);
    }
    if (foundAbsent && fileExists(kit.own)) {
        lstrcpynW(program, kit.own, MAX_PATH);
    }
    return ERROR_SUCCESS;
}

bool lastProgramOf(const KitSession& kit, const wchar_t* recorded, bool foundAbsent, wchar_t (&program)[MAX_PATH])
{
    program[0] = L'\0';
    bool well = true;
    Text reason;
    if (std::wcscmp(recorded, kNoProgram) != 0 && fileExists(recorded)) {
        if (!isInKitFolder(kit, recorded) && mayStart(recorded, reason)) {
            lstrcpynW(program, recorded, MAX_PATH);
            return true;
        }
        Text line;
        line << recorded << ", which the record names, is not started: "
             << (reason.c_str()[0] != L'\0' ? reason : Text("it lies in this kit's folder"));
        sayFailure(kit, line);
        well = false;
    }
    bool installed = false;
    if (lastProgramOtherwise(kit, foundAbsent, installed, program) != ERROR_SUCCESS) {
        sayFailure(kit, Text("the installed product's program could not be read"));
        well = false;
    }
    return well;
}

bool putStartupBack(const KitSession& kit, const wchar_t* program)
{
    Text line;
    const bool well = passEndedWell(program, line);
    line << (well ? ": the start-up is as the marker asks" : ": the start-up may not be as the marker asks");
    if (well) {
        say(kit, line);
    } else {
        sayFailure(kit, line);
    }
    return well;
}

bool takeStartupAway(const KitSession& kit)
{
    say(kit, Text("no program to put a start-up back: none was named before the run, and Ombrix Tarvel is not "
                  "installed"));
    Text line;
    if (!moveMarkerAside(kit)) {
        line << "marker " << kit.marker << " could not be moved aside to take the start-up away";
        sayFailure(kit, line);
        return false;
    }
    if (!fileExists(kit.own)) {
        line << kit.own << " is not there to take the start-up away";
        sayFailure(kit, line);
        return false;
    }
    line << "with the marker aside, ";
    const bool well = passEndedWell(kit.own, line);
    if (well) {
        line << ": no start-up is left";
        say(kit, line);
    } else {
        sayFailure(kit, line);
    }
    return well;
}
