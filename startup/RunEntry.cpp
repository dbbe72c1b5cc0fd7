#include "startup/RunEntry.h"

#include "common/platform/Owners.h"
#include "common/platform/SystemFacts.h"

#include <cwchar>

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Written with the wide call (the path may lie outside the ANSI code page), deleted with
// the narrow one: the same name in both forms.
#define TARVEL_RUN_VALUE_NAME "Tarvel"
const char kRunValueName[] = TARVEL_RUN_VALUE_NAME;
const wchar_t kRunValueNameW[] = L"" TARVEL_RUN_VALUE_NAME;

namespace {

Status openRunKey(UniqueHkey& key)
{
    DWORD disposition = 0;
    return registryStatus(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_ALL_ACCESS, nullptr, receive(key), &disposition));
}

// Deletes the value from key; one that is not there is already as it should be. removed, when
// given, says whether there was one.
Status deleteRunValue(HKEY key, bool* removed)
{
    const Status deleted = registryStatus(RegDeleteValueA(key, kRunValueName));
    if (removed != nullptr) {
        *removed = deleted == ERROR_SUCCESS;
    }
    return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
}
}  // namespace

Status registerRunEntry(const wchar_t* modulePath)
{
    const size_t length = std::wcslen(modulePath);
    if (length == 0 || length >= MAX_PATH) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    UniqueHkey key;
    const Status opened = openRunKey(key);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    // The shell splits an unquoted command line at its first space and may start
    // C:\Program.exe instead of us, so a path with a space is quoted.
    wchar_t command[MAX_PATH + 2] = {};
    if (std::wcschr(modulePath, L' ') != nullptr) {
        command[0] = L'"';
        std::wmemcpy(command + 1, modulePath, length + 1);
        command[length + 1] = L'"';
        command[length + 2] = L'\0';
    } else {
        std::wmemcpy(command, modulePath, length + 1);
    }
    const size_t bytes = (std::wcslen(command) + 1) * sizeof(wchar_t);
    // The wide call keeps characters outside the ANSI code page as they are.
    return registryStatus(RegSetValueExW(key.get(), kRunValueNameW, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                                         static_cast<DWORD>(bytes)));
}

Status unregisterRunEntry(bool* removed)
{
    UniqueHkey key;
    const Status opened = openRunKey(key);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    return deleteRunValue(key.get(), removed);
}

Status removeNativeRunEntry(bool* removed)
{
    if (removed != nullptr) {
        *removed = false;
    }
    if (!isWow64()) {
        return ERROR_SUCCESS;
    }
    UniqueHkey key;
    const Status status =
        registryStatus(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, receive(key)));
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    return status == ERROR_SUCCESS ? deleteRunValue(key.get(), removed) : status;
}
