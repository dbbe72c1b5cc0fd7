// The port switches and the Run value, read with query rights only.
#include "check/MachineCheck.h"

#include "common/Owners.h"
#include "startup/RunEntry.h"
#include "storage/PortPower.h"

#include <cwchar>
#include <initializer_list>

namespace {

// ERROR_FILE_NOT_FOUND leaves key empty: an absent key is something found, not a failure.
LSTATUS openForReading(const char* path, UniqueHkey& key)
{
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &opened);
    if (status == ERROR_SUCCESS) {
        key.reset(opened);
    }
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LSTATUS checkSwitch(Report& report, HKEY key, int port, const char* name, DWORD wanted)
{
    Text what;
    what << "Port" << port << " " << name;
    Text wants;
    wants << "REG_DWORD " << wanted;
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status = key == nullptr
                               ? ERROR_FILE_NOT_FOUND
                               : RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        report.line(what.c_str(), wants.c_str(), "absent", false);
        return ERROR_SUCCESS;
    }
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value))) {
        report.line(what.c_str(), wants.c_str(), "another type", false);
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Text found;
    found << "REG_DWORD " << value;
    report.line(what.c_str(), wants.c_str(), found.c_str(), value == wanted);
    return ERROR_SUCCESS;
}

// The program's path from a Run value: quoted, with anything after the closing quote left
// aside, or the whole value.
void programOf(wchar_t* command)
{
    if (command[0] != L'"') {
        return;
    }
    wchar_t* closing = std::wcschr(command + 1, L'"');
    const size_t length = closing != nullptr ? static_cast<size_t>(closing - command - 1) : std::wcslen(command + 1);
    std::wmemmove(command, command + 1, length);
    command[length] = L'\0';
}

}  // namespace

bool fileExists(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

DWORD checkPorts(Report& report, DWORD wanted)
{
    for (int port = 0; port < kPortCount; ++port) {
        UniqueHkey key;
        LSTATUS status = openForReading(kPortKeys[port], key);
        if (status != ERROR_SUCCESS) {
            return static_cast<DWORD>(status);
        }
        for (const char* name : {kDipmValue, kLpmValue}) {
            status = checkSwitch(report, key.get(), port, name, wanted);
            if (status != ERROR_SUCCESS) {
                return static_cast<DWORD>(status);
            }
        }
    }
    return ERROR_SUCCESS;
}

DWORD checkRunValue(Report& report, bool wantedPresent)
{
    const char what[] = "start-up: Run value \"Tarvel\"";
    const char* wants = wantedPresent ? "an existing tarvel program" : "absent";
    UniqueHkey key;
    LSTATUS status = openForReading(kRunKey, key);
    if (status != ERROR_SUCCESS) {
        return static_cast<DWORD>(status);
    }
    // Room for a quoted path of MAX_PATH characters and its terminator; a longer value
    // cannot name the program.
    wchar_t command[MAX_PATH + 3] = {};
    DWORD type = REG_NONE;
    DWORD size = sizeof command - sizeof(wchar_t);
    status = key == nullptr
                 ? ERROR_FILE_NOT_FOUND
                 : RegQueryValueExW(key.get(), kRunValueNameW, nullptr, &type, reinterpret_cast<BYTE*>(command), &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        report.line(what, wants, "absent", !wantedPresent);
        return ERROR_SUCCESS;
    }
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)) {
        report.line(what, wants, "a value that names no program", false);
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return static_cast<DWORD>(status);
    }
    Text found;
    found << command;
    if (!wantedPresent) {
        report.line(what, wants, found.c_str(), false);
        return ERROR_SUCCESS;
    }
    programOf(command);
    asWindowsReadsIt(command);
    return checkStartedProgram(report, what, command);
}
