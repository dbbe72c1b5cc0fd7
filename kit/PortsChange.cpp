#include "kit/PortsChange.h"

#include "common/platform/Registry.h"
#include "storage/PortPower.h"

#include <cwchar>

namespace {

// The switches as the program names them.
const char* const kSwitches[] = {kDipmValue, kLpmValue};

// A switch as the port key holds it, whatever its type and size, copied into copy; absent, it
// stays absent there. The key's other values are the driver's, and the kit leaves them alone.
Status copySwitch(HKEY source, HKEY copy, const wchar_t* name)
{
    RegistryValue value;
    const Status status = readRegistryValue(source, name, value);
    if (status != ERROR_SUCCESS) {
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    return registryStatus(
        RegSetValueExW(copy, name, 0, value.type, reinterpret_cast<const BYTE*>(value.data.get()), value.size));
}

Status copyPorts(Journal& journal)
{
    Status status = dropPortsKeys(journal);
    if (status == ERROR_SUCCESS) {
        status = makeJournalKey(journal.key.get(), kPortsName, journal.ports);
    }
    for (int port = 0; status == ERROR_SUCCESS && port < kPortCount; ++port) {
        UniqueHkey source;
        if (openKey(HKEY_LOCAL_MACHINE, kPortKeys[port], KEY_READ, source) != ERROR_SUCCESS) {
            continue;
        }
        wchar_t name[8] = {};
        portCopyName(port, name);
        status = makeJournalKey(journal.ports.get(), name, journal.portKeys[port]);
        for (const char* value : kSwitches) {
            wchar_t switchName[MAX_PATH] = {};
            widenText(value, switchName);
            status =
                status == ERROR_SUCCESS ? copySwitch(source.get(), journal.portKeys[port].get(), switchName) : status;
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

// How one switch goes back: restore.cmd ports's, only as a port's REG_DWORD, or a run's own,
// exactly as it found it.
using PutSwitch = bool (*)(const KitSession& kit, HKEY before, HKEY now, int port, const wchar_t* value);

// A switch exactly as the run found it, read back: silent when it is so.
bool putSwitchAsFound(const KitSession& kit, HKEY before, HKEY now, int port, const wchar_t* value)
{
    RegistryValue was;
    const Status found = before == nullptr ? ERROR_FILE_NOT_FOUND : readRegistryValue(before, value, was);
    if (now != nullptr && found == ERROR_SUCCESS) {
        RegSetValueExW(now, value, 0, was.type, reinterpret_cast<const BYTE*>(was.data.get()), was.size);
    } else if (now != nullptr && found == ERROR_FILE_NOT_FOUND) {
        RegDeleteValueW(now, value);
    }
    RegistryValue is;
    const Status read = now == nullptr ? ERROR_FILE_NOT_FOUND : readRegistryValue(now, value, is);
    if (sameRegistryValue(found, was, read, is)) {
        return true;
    }
    Text line;
    line << "Port" << port << " " << value << ": " << valueText(now, value) << ", where it was "
         << valueText(before, value) << " when the run began";
    sayFailure(kit, line);
    return false;
}

// One port's switches as the copy holds them (before null: the port key was not there).
bool putPortBack(const KitSession& kit, HKEY before, int port, PutSwitch put)
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
        widenText(value, name);
        asBefore = put(kit, before, now.get(), port, name) && asBefore;
    }
    if (before == nullptr && now && isEmptyKey(now.get())) {
        now.reset();
        wchar_t path[MAX_PATH] = {};
        widenText(kPortKeys[port], path);
        if (deleteKeyTree(HKEY_LOCAL_MACHINE, path, 0) == ERROR_SUCCESS) {
            Text line;
            line << "Port" << port << ": the key the run made, where there was none, is deleted again";
            say(kit, line);
        }
    }
    return asBefore;
}

}  // namespace

bool recordPorts(const KitSession& kit, Journal& journal)
{
    const Status status = copyPorts(journal);
    Text line;
    if (status == ERROR_SUCCESS) {
        line << "port switches recorded in " << journalPath(kPortsName);
        say(kit, line);
        return true;
    }
    line << "the port switches could not be recorded in " << journalPath(kPortsName) << ", error " << status;
    sayFailure(kit, line);
    dropPortsKeys(journal);
    return false;
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

bool putSwitchBack(const KitSession& kit, HKEY before, HKEY now, int port, const wchar_t* value)
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

namespace {

// Each port's switches as the journal's whole copy holds them, each put back as put does;
// false, with refusal as a FAIL line and nothing changed, when there is no whole copy.
bool putEachPortBack(const KitSession& kit, const Journal& journal, PutSwitch put, const char* refusal)
{
    if (!journal.ports || !isWhole(journal.ports.get())) {
        sayFailure(kit, Text(refusal));
        return false;
    }
    bool asBefore = true;
    for (int port = 0; port < kPortCount; ++port) {
        asBefore = putPortBack(kit, journal.portKeys[port].get(), port, put) && asBefore;
    }
    return asBefore;
}

}  // namespace

bool putPortsBack(const KitSession& kit, const Journal& journal)
{
    return putEachPortBack(kit, journal, putSwitchBack,
                           "no whole record of the port values before a run is there: nothing was changed");
}

bool putPortsAsFound(const KitSession& kit, const Journal& journal)
{
    const bool asFound =
        putEachPortBack(kit, journal, putSwitchAsFound,
                        "the port switches could not be put back: the run holds no whole record of them");
    if (asFound) {
        say(kit, Text("the port switches are as the run found them, read back: no product of the family keeps them"));
    }
    return asFound;
}
