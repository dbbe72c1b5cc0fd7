#include "startup/RunCommand.h"

#include "common/platform/Owners.h"
#include "common/platform/SystemFacts.h"
#include "startup/RunEntry.h"

#include <cwchar>
#include <utility>

namespace {

// Whether text begins with name, ASCII letters compared without regard to case, as Windows
// compares the names of environment variables.
bool beginsWithName(const wchar_t* text, const wchar_t* name)
{
    for (; *name != L'\0'; ++text, ++name) {
        const wchar_t left = *text >= L'a' && *text <= L'z' ? static_cast<wchar_t>(*text - 32) : *text;
        const wchar_t right = *name >= L'a' && *name <= L'z' ? static_cast<wchar_t>(*name - 32) : *name;
        if (left != right) {
            return false;
        }
    }
    return true;
}

// On 64-bit Windows the 64-bit Explorer expands a value with its own environment, where
// %ProgramFiles% and %CommonProgramFiles% name the native folders; this 32-bit check's own
// would give the (x86) ones. Every 64-bit release keeps the native folders in the registry's
// 64-bit view; ProgramW6432, which holds them too, came only with Windows 7.
struct NativeFolder {
    const wchar_t* variable;
    const wchar_t* valueName;
};
const NativeFolder kNativeFolders[] = {{L"%ProgramFiles%", L"ProgramFilesDir"},
                                       {L"%CommonProgramFiles%", L"CommonFilesDir"}};
const wchar_t kWindowsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// A REG_SZ value whole; null when it cannot be read.
UniqueHeapText readNativeText(HKEY key, const wchar_t* name)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
        return UniqueHeapText();
    }
    UniqueHeapText text = allocateText(size / sizeof(wchar_t) + 1);
    if (!text ||
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.get()), &size) != ERROR_SUCCESS) {
        return UniqueHeapText();
    }
    return text;
}

// value with each of those variables replaced by the native folder, as the 64-bit Explorer
// reads it; value itself on 32-bit Windows, or where a folder cannot be read.
UniqueHeapText asNativeExplorerReadsIt(UniqueHeapText value)
{
    UniqueHkey key;
    if (!isWow64() || RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWindowsKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                                    receive(key)) != ERROR_SUCCESS) {
        return value;
    }
    UniqueHeapText folders[2] = {readNativeText(key.get(), kNativeFolders[0].valueName),
                                 readNativeText(key.get(), kNativeFolders[1].valueName)};
    // Room for the longest folder in place of every variable the value could hold.
    const size_t shortestVariable = std::wcslen(kNativeFolders[0].variable);
    size_t longest = 0;
    for (const UniqueHeapText& folder : folders) {
        const size_t length = folder ? std::wcslen(folder.get()) : 0;
        longest = length > longest ? length : longest;
    }
    const size_t length = std::wcslen(value.get());
    UniqueHeapText native = allocateText(length + (length / shortestVariable + 1) * longest);
    if (!native) {
        return value;
    }
    wchar_t* out = native.get();
    for (const wchar_t* at = value.get(); *at != L'\0';) {
        bool replaced = false;
        for (size_t index = 0; index < 2 && !replaced; ++index) {
            // The text ends at its NUL, which no name holds: the comparison stops there.
            if (folders[index] && beginsWithName(at, kNativeFolders[index].variable)) {
                const size_t folderLength = std::wcslen(folders[index].get());
                std::wmemcpy(out, folders[index].get(), folderLength);
                out += folderLength;
                at += std::wcslen(kNativeFolders[index].variable);
                replaced = true;
            }
        }
        if (!replaced) {
            *out++ = *at++;
        }
    }
    return native;
}

}  // namespace

Status readRunCommand(HKEY key, UniqueHeapText& command)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    Status status = registryStatus(RegQueryValueExW(key, kRunValueNameW, nullptr, &type, nullptr, &size));
    if (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) {
        return ERROR_INVALID_DATA;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Room for a value stored without its terminator, which allocateText adds.
    UniqueHeapText value = allocateText(size / sizeof(wchar_t) + 1);
    if (!value) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    status = registryStatus(
        RegQueryValueExW(key, kRunValueNameW, nullptr, &type, reinterpret_cast<BYTE*>(value.get()), &size));
    if (status != ERROR_SUCCESS || type != REG_EXPAND_SZ) {
        command = std::move(value);
        return status;
    }
    value = asNativeExplorerReadsIt(std::move(value));
    const DWORD needed = ExpandEnvironmentStringsW(value.get(), nullptr, 0);
    command = allocateText(needed);
    if (!command) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ExpandEnvironmentStringsW(value.get(), command.get(), needed) != 0 ? ERROR_SUCCESS : lastErrorStatus();
}
