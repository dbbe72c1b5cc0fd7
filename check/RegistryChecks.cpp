// The port switches and the Run value, read with query rights only.
#include "check/MachineCheck.h"

#include "common/platform/Owners.h"
#include "common/platform/Registry.h"
#include "common/platform/SystemFacts.h"
#include "common/text/Text.h"
#include "startup/RunCommand.h"
#include "startup/RunEntry.h"
#include "storage/PortPower.h"

#include <cwchar>
#include <initializer_list>
#include <utility>

namespace {

// ERROR_FILE_NOT_FOUND leaves key empty: an absent key is something found, not a failure.
Status openForReading(const char* path, UniqueHkey& key, REGSAM view = 0)
{
    const Status status = openKey(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE | view, key);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

Status checkSwitch(Report& report, HKEY key, int port, const char* name, DWORD wanted)
{
    Text what;
    what << "Port" << port << " " << name;
    Text wants;
    wants << "REG_DWORD " << wanted;
    // The driver reads a REG_DWORD of four bytes, and nothing else.
    wchar_t wideName[8] = {};
    widenText(name, wideName);
    DWORD value = 0;
    const Status status = key == nullptr ? ERROR_FILE_NOT_FOUND : readDwordValue(key, wideName, value);
    if (status == ERROR_FILE_NOT_FOUND) {
        report.line(what, wants, "absent", false);
        return ERROR_SUCCESS;
    }
    if (status == ERROR_INVALID_DATA) {
        report.line(what, wants, "another type", false);
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Text found;
    found << "REG_DWORD " << value;
    report.line(what, wants, found, value == wanted);
    return ERROR_SUCCESS;
}

}  // namespace

Status checkPorts(Report& report, DWORD wanted)
{
    for (int port = 0; port < kPortCount; ++port) {
        UniqueHkey key;
        Status status = openForReading(kPortKeys[port], key);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        for (const char* name : {kDipmValue, kLpmValue}) {
            status = checkSwitch(report, key.get(), port, name, wanted);
            if (status != ERROR_SUCCESS) {
                return status;
            }
        }
    }
    return ERROR_SUCCESS;
}

namespace {

// On 64-bit Windows, the native view's Run key, which Explorer runs too: a "Tarvel" value
// there is a start-up beside the wanted one, in either mode.
Status checkNativeRunValue(Report& report)
{
    if (!isWow64()) {
        return ERROR_SUCCESS;
    }
    const char what[] = "start-up: Run value \"Tarvel\" in the 64-bit view";
    UniqueHkey key;
    Status status = openForReading(kRunKey, key, KEY_WOW64_64KEY);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    UniqueHeapText command;
    status = key == nullptr ? ERROR_FILE_NOT_FOUND : readRunCommand(key.get(), command);
    if (status == ERROR_FILE_NOT_FOUND) {
        report.line(what, "absent", "absent", true);
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS && status != ERROR_INVALID_DATA && status != ERROR_MORE_DATA) {
        return status;
    }
    Text found;
    found << (status == ERROR_SUCCESS ? command.get() : L"a value that names no program");
    report.line(what, "absent", found, false);
    return ERROR_SUCCESS;
}

// The program's own view: the value a pass writes.
Status checkOwnRunValue(Report& report, bool wantedPresent)
{
    const char what[] = "start-up: Run value \"Tarvel\"";
    const char* wants = wantedPresent ? "an existing tarvel program" : "absent";
    UniqueHkey key;
    Status status = openForReading(kRunKey, key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    UniqueHeapText command;
    status = key == nullptr ? ERROR_FILE_NOT_FOUND : readRunCommand(key.get(), command);
    if (status == ERROR_FILE_NOT_FOUND) {
        report.line(what, wants, "absent", !wantedPresent);
        return ERROR_SUCCESS;
    }
    if (status == ERROR_INVALID_DATA || status == ERROR_MORE_DATA) {
        report.line(what, wants, "a value that names no program", false);
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (!wantedPresent) {
        Text found;
        found << command.get();
        report.line(what, wants, found, false);
        return ERROR_SUCCESS;
    }
    wchar_t program[MAX_PATH + 1] = {};
    const wchar_t* arguments = L"";
    if (!programOfCommand(command.get(), program, arguments)) {
        report.line(what, wants, "a path too long to start", false);
        return ERROR_SUCCESS;
    }
    return checkStartedProgram(report, what, program, arguments);
}

}  // namespace

Status checkRunValue(Report& report, bool wantedPresent)
{
    const Status own = checkOwnRunValue(report, wantedPresent);
    return own != ERROR_SUCCESS ? own : checkNativeRunValue(report);
}
