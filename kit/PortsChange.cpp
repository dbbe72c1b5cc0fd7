#include "kit/PortsChange.h"

#include "common/platform/Registry.h"
#include "storage/PortPower.h"

#include <cwchar>

namespace {

// The switches as the program names them.
const char* const kSwitches[] = {kDipmValue, kLpmValue};

void wide(const char* name, wchar_t (&text)[MAX_PATH]) { MultiByteToWideChar(CP_ACP, 0, name, -1, text, MAX_PATH); }

// Each value of source copied, with its type, into copy.
Status copyValues(HKEY source, HKEY copy)
{
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD nameLength = 256;
        BYTE data[1024] = {};
        DWORD size = sizeof data;
        DWORD type = REG_NONE;
        Status status = registryStatus(RegEnumValueW(source, index, name, &nameLength, nullptr, &type, data, &size));
        if (status == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (status == ERROR_SUCCESS) {
            status = registryStatus(RegSetValueExW(copy, name, 0, type, data, size));
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
}

Status copyPorts(Journal& journal)
{
    for (UniqueHkey& port : journal.portKeys) {
        port.reset();
    }
    journal.ports.reset();
    Status status = deleteJournalKey(journal.key.get(), kPortsName);
    if (status == ERROR_SUCCESS) {
        status = makeJournalKey(journal.key.get(), kPortsName, journal.ports);
    }
    for (int port = 0; status == ERROR_SUCCESS && port < kPortCount; ++port) {
        UniqueHkey source;
        if (openKey(HKEY_LOCAL_MACHINE, kPortKeys[port], KEY_READ, source) != ERROR_SUCCESS) {
            continue;
        }
        wchar_t name[8] = {};
        portName(port, name);
        status = makeJournalKey(journal.ports.get(), name, journal.portKeys[port]);
        if (status == ERROR_SUCCESS) {
            status = copyValues(source.get(), journal.portKeys[port].get());
        }
    }
    return status == ERROR_SUCCESS ? markWhole(journal.ports.get()) : status;
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

// " 0x7", as reg.exe writes a REG_DWORD: no leading zeros, in lower case.
void appendDword(Text& text, DWORD value)
{
    wchar_t hex[kNumberText] = {};
    writeHex(value, hex);
    const wchar_t* digits = hex + 2;
    while (*digits == L'0' && digits[1] != L'\0') {
        ++digits;
    }
    text << " 0x";
    for (const wchar_t* at = digits; *at != L'\0'; ++at) {
        const wchar_t lower[2] = {static_cast<wchar_t>(*at >= L'A' ? *at - L'A' + L'a' : *at), L'\0'};
        text << lower;
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
        appendDword(text, value);
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

// One port's switches as the copy holds them (before null: the port key was not there).
bool putPortBack(const Kit& kit, HKEY before, int port)
{
    UniqueHkey now;
    if (before != nullptr) {
        createKey(HKEY_LOCAL_MACHINE, kPortKeys[port], KEY_READ | KEY_SET_VALUE, now);
    } else {
        openKey(HKEY_LOCAL_MACHINE, kPortKeys[port], KEY_READ | KEY_SET_VALUE, now);
    }
    bool asBefore = true;
    for (const char* value : kSwitches) {
        wchar_t name[MAX_PATH] = {};
        wide(value, name);
        asBefore = putSwitchBack(kit, before, now.get(), port, name) && asBefore;
    }
    if (before == nullptr && now && isEmptyKey(now.get())) {
        now.reset();
        wchar_t path[MAX_PATH] = {};
        wide(kPortKeys[port], path);
        if (deleteKeyTree(HKEY_LOCAL_MACHINE, path, 0) == ERROR_SUCCESS) {
            Text line;
            line << "Port" << port << ": the key the run made, where there was none, is deleted again";
            say(kit, line);
        }
    }
    return asBefore;
}

}  // namespace

void portName(int port, wchar_t (&name)[8])
{
    lstrcpynW(name, L"Port0", 8);
    name[4] = static_cast<wchar_t>(L'0' + port);
}

void recordPorts(const Kit& kit, Journal& journal)
{
    Text line;
    if (copyPorts(journal) == ERROR_SUCCESS) {
        line << "port values recorded in " << journalPath(kPortsName);
    } else {
        line << "NOTE  the port values could not be recorded in " << journalPath(kPortsName)
             << ": restore.cmd ports has nothing to put back";
        for (UniqueHkey& port : journal.portKeys) {
            port.reset();
        }
        journal.ports.reset();
        deleteJournalKey(journal.key.get(), kPortsName);
    }
    say(kit, line);
}

void setPortsOn()
{
    for (int port = 0; port < kPortCount; ++port) {
        UniqueHkey key;
        if (createKey(HKEY_LOCAL_MACHINE, kPortKeys[port], KEY_SET_VALUE, key) != ERROR_SUCCESS) {
            continue;
        }
        const DWORD on = kPortsOn;
        for (const char* name : kSwitches) {
            RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
        }
    }
}

bool putSwitchBack(const Kit& kit, HKEY before, HKEY now, int port, const wchar_t* value)
{
    DWORD was = 0;
    const Status recorded = before == nullptr ? ERROR_FILE_NOT_FOUND : readDwordValue(before, value, was);
    Text line;
    line << "Port" << port << " " << value << ": ";
    if (recorded != ERROR_SUCCESS && recorded != ERROR_FILE_NOT_FOUND) {
        line << "the record holds " << valueText(before, value) << ", no port's value: not put back";
        sayFailure(kit, line);
        return false;
    }
    if (now != nullptr && recorded == ERROR_SUCCESS) {
        RegSetValueExW(now, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&was), sizeof was);
    } else if (now != nullptr) {
        RegDeleteValueW(now, value);
    }
    const Text wanted = valueText(before, value);
    const Text found = valueText(now, value);
    line << found;
    if (std::wcscmp(wanted.c_str(), found.c_str()) != 0) {
        line << ", where it was " << wanted << " before the run";
        sayFailure(kit, line);
        return false;
    }
    line << ", as before the run";
    say(kit, line);
    return true;
}

bool putPortsBack(const Kit& kit, const Journal& journal)
{
    if (!journal.ports || !isWhole(journal.ports.get())) {
        sayFailure(kit, Text("no whole record of the port values before a run is there: nothing was changed"));
        return false;
    }
    bool asBefore = true;
    for (int port = 0; port < kPortCount; ++port) {
        asBefore = putPortBack(kit, journal.portKeys[port].get(), port) && asBefore;
    }
    return asBefore;
}
