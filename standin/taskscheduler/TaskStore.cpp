// The task store: one registry key per task under the stand-in's own key (32-bit view), where
// tests and `wine reg query` read them, with the faults to inject and the Stopped switch.
#include "standin/taskscheduler/StandInObjects.h"

#include <vector>

namespace standin {

const wchar_t kRootKey[] = L"Software\\Tarvel Tests\\Task Scheduler";
const wchar_t kReleaseHungCalls[] = L"TarvelStandInReleaseHungCalls";

namespace {

// A fault value of this name and a call's says how long the call waits before it answers.
const wchar_t kLatePrefix[] = L"late ";

std::wstring keyPath(const wchar_t* sub) { return std::wstring(kRootKey) + L"\\" + sub; }

HKEY openKey(const std::wstring& path, REGSAM access, bool create)
{
    HKEY key = nullptr;
    const REGSAM view = KEY_WOW64_32KEY;
    LONG status =
        create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, access | view, nullptr, &key, nullptr)
               : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | view, &key);
    return status == ERROR_SUCCESS ? key : nullptr;
}

bool readDword(HKEY key, const wchar_t* name, DWORD& value)
{
    DWORD size = sizeof value;
    DWORD type = 0;
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

bool readString(HKEY key, const wchar_t* name, std::wstring& value)
{
    DWORD size = 0;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    value = buffer.data();
    return true;
}

void writeDword(HKEY key, const std::wstring& name, DWORD value)
{
    RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void writeString(HKEY key, const std::wstring& name, const std::wstring& value)
{
    const size_t bytes = (value.size() + 1) * sizeof(wchar_t);
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(bytes));
}

// The faults for this process: those of its program's own subkey ("tarvel.exe") when there is
// one, so that one program of a test can meet other faults than the rest; else the shared ones.
HKEY openFaults()
{
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const wchar_t* name = self;
    for (DWORD at = 0; at < length; ++at) {
        if (self[at] == L'\\') {
            name = self + at + 1;
        }
    }
    HKEY own =
        length != 0 && length < MAX_PATH ? openKey(keyPath(L"Faults") + L"\\" + name, KEY_QUERY_VALUE, false) : nullptr;
    return own != nullptr ? own : openKey(keyPath(L"Faults"), KEY_QUERY_VALUE, false);
}

}  // namespace

HRESULT fault(const wchar_t* call)
{
    HKEY key = openFaults();
    if (key == nullptr) {
        return S_OK;
    }
    DWORD status = S_OK;
    readDword(key, call, status);
    DWORD lateMs = 0;
    readDword(key, (std::wstring(kLatePrefix) + call).c_str(), lateMs);
    RegCloseKey(key);
    if (lateMs != 0) {
        // A service that answers, but only after a while: a logon on a slow disk.
        Sleep(lateMs);
    }
    if (static_cast<HRESULT>(status) == kEndTheProcess) {
        // As a service that hangs and is killed: the caller gets no chance to go on.
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(kEndTheProcess));
    }
    if (static_cast<HRESULT>(status) == kNeverReturn) {
        // The caller waits for an answer that never comes, until its process ends, or, in a
        // test that hosts the stand-in itself, until that test lets go of it.
        HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, kReleaseHungCalls);
        WaitForSingleObject(release != nullptr ? release : GetCurrentProcess(), INFINITE);
        if (release != nullptr) {
            CloseHandle(release);
        }
        return E_ABORT;
    }
    return static_cast<HRESULT>(status);
}

bool stopped()
{
    HKEY key = openKey(kRootKey, KEY_QUERY_VALUE, false);
    DWORD value = 0;
    if (key != nullptr) {
        readDword(key, L"Stopped", value);
        RegCloseKey(key);
    }
    return value != 0;
}

bool removeTask(const std::wstring& name)
{
    HKEY tasks = openKey(keyPath(L"Tasks"), KEY_ALL_ACCESS, false);
    if (tasks == nullptr || name.empty()) {
        if (tasks != nullptr) {
            RegCloseKey(tasks);
        }
        return false;
    }
    const LONG status = RegDeleteTreeW(tasks, name.c_str());
    RegDeleteKeyExW(tasks, name.c_str(), KEY_WOW64_32KEY, 0);
    RegCloseKey(tasks);
    return status == ERROR_SUCCESS;
}

bool loadTask(const std::wstring& name, Task& task)
{
    HKEY key = openKey(keyPath(L"Tasks") + L"\\" + name, KEY_QUERY_VALUE, false);
    if (key == nullptr || name.empty()) {
        if (key != nullptr) {
            RegCloseKey(key);
        }
        return false;
    }
    task = Task();
    DWORD value = 0;
    auto flag = [&](const wchar_t* valueName, bool& target) {
        if (readDword(key, valueName, value)) {
            target = value != 0;
        }
    };
    flag(L"Enabled", task.enabled);
    task.authorSet = readString(key, L"Author", task.author);
    task.descriptionSet = readString(key, L"Description", task.description);
    DWORD count = 0;
    readDword(key, L"TriggerCount", count);
    for (DWORD i = 1; i <= count; ++i) {
        Trigger trigger;
        const std::wstring prefix = L"Trigger" + std::to_wstring(i);
        if (readDword(key, (prefix + L"Type").c_str(), value)) {
            trigger.type = static_cast<TASK_TRIGGER_TYPE2>(value);
        }
        flag((prefix + L"Enabled").c_str(), trigger.enabled);
        task.triggers.push_back(trigger);
    }
    readString(key, L"PrincipalId", task.principalId);
    if (readDword(key, L"PrincipalLogonType", value)) {
        task.principalLogonType = static_cast<TASK_LOGON_TYPE>(value);
    }
    if (readDword(key, L"RunLevel", value)) {
        task.runLevel = static_cast<TASK_RUNLEVEL_TYPE>(value);
    }
    flag(L"AllowHardTerminate", task.allowHardTerminate);
    flag(L"DisallowStartIfOnBatteries", task.disallowStartIfOnBatteries);
    flag(L"StopIfGoingOnBatteries", task.stopIfGoingOnBatteries);
    readString(key, L"ExecutionTimeLimit", task.executionTimeLimit);
    if (readDword(key, L"MultipleInstances", value)) {
        task.multipleInstances = static_cast<TASK_INSTANCES_POLICY>(value);
    }
    flag(L"StopOnIdleEnd", task.stopOnIdleEnd);
    count = 0;
    readDword(key, L"ActionCount", count);
    for (DWORD i = 1; i <= count; ++i) {
        Action action;
        const std::wstring prefix = L"Action" + std::to_wstring(i);
        readString(key, (prefix + L"Path").c_str(), action.path);
        action.argumentsSet = readString(key, (prefix + L"Arguments").c_str(), action.arguments);
        task.actions.push_back(action);
    }
    if (readDword(key, L"RegistrationFlags", value)) {
        task.registrationFlags = static_cast<LONG>(value);
    }
    if (readDword(key, L"UserIdType", value)) {
        task.userIdType = static_cast<VARTYPE>(value);
    }
    readString(key, L"UserId", task.userId);
    if (readDword(key, L"PasswordType", value)) {
        task.passwordType = static_cast<VARTYPE>(value);
    }
    if (readDword(key, L"LogonType", value)) {
        task.registrationLogonType = static_cast<TASK_LOGON_TYPE>(value);
    }
    if (readDword(key, L"SddlType", value)) {
        task.sddlType = static_cast<VARTYPE>(value);
    }
    readString(key, L"Sddl", task.sddl);
    RegCloseKey(key);
    return true;
}

void storeTask(const std::wstring& name, const Task& task)
{
    const std::wstring path = keyPath(L"Tasks") + L"\\" + name;
    HKEY old = openKey(path, KEY_ALL_ACCESS, false);
    if (old != nullptr) {
        RegDeleteTreeW(old, nullptr);
        RegCloseKey(old);
    }
    HKEY key = openKey(path, KEY_ALL_ACCESS, true);
    if (key == nullptr) {
        return;
    }
    writeDword(key, L"Enabled", task.enabled);
    if (task.authorSet) {
        writeString(key, L"Author", task.author);
    }
    if (task.descriptionSet) {
        writeString(key, L"Description", task.description);
    }
    writeDword(key, L"TriggerCount", static_cast<DWORD>(task.triggers.size()));
    for (size_t i = 0; i < task.triggers.size(); ++i) {
        const std::wstring prefix = L"Trigger" + std::to_wstring(i + 1);
        writeDword(key, prefix + L"Type", task.triggers[i].type);
        writeDword(key, prefix + L"Enabled", task.triggers[i].enabled);
    }
    writeString(key, L"PrincipalId", task.principalId);
    writeDword(key, L"PrincipalLogonType", task.principalLogonType);
    writeDword(key, L"RunLevel", task.runLevel);
    writeDword(key, L"AllowHardTerminate", task.allowHardTerminate);
    writeDword(key, L"DisallowStartIfOnBatteries", task.disallowStartIfOnBatteries);
    writeDword(key, L"StopIfGoingOnBatteries", task.stopIfGoingOnBatteries);
    writeString(key, L"ExecutionTimeLimit", task.executionTimeLimit);
    writeDword(key, L"MultipleInstances", task.multipleInstances);
    writeDword(key, L"StopOnIdleEnd", task.stopOnIdleEnd);
    writeDword(key, L"ActionCount", static_cast<DWORD>(task.actions.size()));
    for (size_t i = 0; i < task.actions.size(); ++i) {
        const std::wstring prefix = L"Action" + std::to_wstring(i + 1);
        writeString(key, prefix + L"Path", task.actions[i].path);
        if (task.actions[i].argumentsSet) {
            writeString(key, prefix + L"Arguments", task.actions[i].arguments);
        }
    }
    writeDword(key, L"RegistrationFlags", static_cast<DWORD>(task.registrationFlags));
    writeDword(key, L"UserIdType", task.userIdType);
    writeString(key, L"UserId", task.userId);
    writeDword(key, L"PasswordType", task.passwordType);
    writeDword(key, L"LogonType", task.registrationLogonType);
    writeDword(key, L"SddlType", task.sddlType);
    writeString(key, L"Sddl", task.sddl);
    RegCloseKey(key);
}

std::vector<std::wstring> taskNames()
{
    std::vector<std::wstring> names;
    HKEY tasks = openKey(keyPath(L"Tasks"), KEY_READ, false);
    if (tasks == nullptr) {
        return names;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = 256;
        if (RegEnumKeyExW(tasks, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.push_back(name);
    }
    RegCloseKey(tasks);
    return names;
}

void deleteAllTasks()
{
    HKEY tasks = openKey(keyPath(L"Tasks"), KEY_ALL_ACCESS, true);
    if (tasks != nullptr) {
        RegDeleteTreeW(tasks, nullptr);
        RegCloseKey(tasks);
    }
}

void failCall(const std::wstring& call, HRESULT status, const std::wstring& program)
{
    HKEY key = openKey(keyPath(L"Faults") + (program.empty() ? L"" : L"\\" + program), KEY_SET_VALUE, true);
    if (key != nullptr) {
        writeDword(key, call, static_cast<DWORD>(status));
        RegCloseKey(key);
    }
}

void noFaults(const std::wstring& program)
{
    HKEY key = openKey(keyPath(L"Faults") + L"\\" + program, KEY_SET_VALUE, true);
    if (key != nullptr) {
        RegCloseKey(key);
    }
}

void answerLate(const std::wstring& call, DWORD lateMs, const std::wstring& program)
{
    failCall(kLatePrefix + call, static_cast<HRESULT>(lateMs), program);
}

void clearFaults()
{
    HKEY key = openKey(keyPath(L"Faults"), KEY_ALL_ACCESS, true);
    if (key != nullptr) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
    }
}

void countServiceWrite()
{
    HKEY key = openKey(kRootKey, KEY_ALL_ACCESS, true);
    if (key != nullptr) {
        DWORD writes = 0;
        readDword(key, L"ServiceWrites", writes);
        writeDword(key, L"ServiceWrites", writes + 1);
        RegCloseKey(key);
    }
}

DWORD serviceWrites()
{
    DWORD writes = 0;
    HKEY key = openKey(kRootKey, KEY_QUERY_VALUE, false);
    if (key != nullptr) {
        readDword(key, L"ServiceWrites", writes);
        RegCloseKey(key);
    }
    return writes;
}

void setStopped(bool isStopped)
{
    HKEY key = openKey(kRootKey, KEY_SET_VALUE, true);
    if (key != nullptr) {
        writeDword(key, L"Stopped", isStopped);
        RegCloseKey(key);
    }
}

}  // namespace standin
