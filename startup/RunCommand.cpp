#include "startup/RunCommand.h"

#include "common/SystemFacts.h"
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
// would give the (x86) ones. Their native values are in ProgramW6432 and CommonProgramW6432,
// names of the same lengths, so value is renamed in place.
void asNativeExplorerNamesIt(wchar_t* value)
{
    const wchar_t* const renames[][2] = {{L"%ProgramFiles%", L"%ProgramW6432%"},
                                         {L"%CommonProgramFiles%", L"%CommonProgramW6432%"}};
    if (!isWow64()) {
        return;
    }
    for (wchar_t* at = value; *at != L'\0'; ++at) {
        for (const auto& rename : renames) {
            // The text ends at its NUL, which no name holds: the comparison stops there.
            if (beginsWithName(at, rename[0])) {
                std::wmemcpy(at, rename[1], std::wcslen(rename[1]));
            }
        }
    }
}

}  // namespace

LSTATUS readRunCommand(HKEY key, UniqueHeapText& command)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, kRunValueNameW, nullptr, &type, nullptr, &size);
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
    status = RegQueryValueExW(key, kRunValueNameW, nullptr, &type, reinterpret_cast<BYTE*>(value.get()), &size);
    if (status != ERROR_SUCCESS || type != REG_EXPAND_SZ) {
        command = std::move(value);
        return status;
    }
    asNativeExplorerNamesIt(value.get());
    const DWORD needed = ExpandEnvironmentStringsW(value.get(), nullptr, 0);
    command = allocateText(needed);
    if (!command) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ExpandEnvironmentStringsW(value.get(), command.get(), needed) != 0 ? ERROR_SUCCESS
                                                                              : static_cast<LSTATUS>(GetLastError());
}
