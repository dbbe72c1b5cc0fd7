// Whether the logon task is in place and active, and its removal.
#include "common/Paths.h"
#include "startup/LogonStartInternals.h"
#include "startup/StartupPolicy.h"
#include "startup/TaskSchedulerConnection.h"

#include <cstdlib>
#include <cwchar>
#include <strsafe.h>

using Microsoft::WRL::ComPtr;

namespace {

HRESULT lookUpTask(ITaskFolder* rootFolder, const wchar_t* taskName, ComPtr<IRegisteredTask>& registered)
{
    // The backslash, the name and the terminator fit exactly.
    const size_t capacity = static_cast<size_t>(lstrlenW(taskName)) + 2;
    auto* path = static_cast<wchar_t*>(std::malloc(capacity * sizeof(wchar_t)));
    if (path == nullptr) {
        return E_OUTOFMEMORY;
    }
    StringCchPrintfW(path, capacity, L"\\%s", taskName);
    const HRESULT hr = withBstr(path, [&](BSTR taskPath) { return rootFolder->GetTask(taskPath, &registered); });
    std::free(path);
    return hr;
}

// Whether the task's first action starts exePath: a task left by a copy elsewhere starts a
// file that may be gone, or one that someone else has put there.
bool startsProgram(ITaskDefinition* definition, const wchar_t* exePath)
{
    ComPtr<IActionCollection> actions;
    if (FAILED(receivedFrom(definition->get_Actions(&actions), actions))) {
        return false;
    }
    ComPtr<IAction> action;
    actions->get_Item(1, &action);
    if (!action) {
        return false;
    }
    ComPtr<IExecAction> exec;
    if (FAILED(action.As(&exec)) || !exec) {
        return false;
    }
    UniqueBstr path;
    const HRESULT read = exec->get_Path(path.receive());
    return SUCCEEDED(read) && path.ok() && samePath(path.get(), exePath);
}

// Whether the task runs with the highest rights for the Administrators group, as the pass
// registers it: one set to least privilege, or for another group, is not the start-up.
void readPrincipal(ITaskDefinition* definition, TaskFacts& facts)
{
    ComPtr<IPrincipal> principal;
    if (FAILED(receivedFrom(definition->get_Principal(&principal), principal))) {
        return;
    }
    TASK_RUNLEVEL_TYPE level = TASK_RUNLEVEL_LUA;
    facts.highestRights = SUCCEEDED(principal->get_RunLevel(&level)) && level == TASK_RUNLEVEL_HIGHEST;
    UniqueBstr group;
    facts.forAdministrators = SUCCEEDED(principal->get_GroupId(group.receive())) && isAdministratorsGroup(group.get());
}

// Active: the task exists, is enabled and its first trigger is an enabled logon trigger.
// When exePath is given, also whether it is in place: highest rights for Administrators, and
// a first action that starts that program.
TaskFacts readTask(ITaskFolder* rootFolder, const wchar_t* taskName, const wchar_t* exePath)
{
    TaskFacts facts;
    ComPtr<IRegisteredTask> registered;
    lookUpTask(rootFolder, taskName, registered);
    if (!registered) {
        return facts;
    }
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(registered->get_Enabled(&enabled)) || enabled != VARIANT_TRUE) {
        return facts;
    }
    facts.enabled = true;
    ComPtr<ITaskDefinition> definition;
    if (FAILED(receivedFrom(registered->get_Definition(&definition), definition))) {
        return facts;
    }
    ComPtr<ITriggerCollection> triggers;
    if (FAILED(receivedFrom(definition->get_Triggers(&triggers), triggers))) {
        return facts;
    }
    ComPtr<ITrigger> trigger;
    triggers->get_Item(1, &trigger);
    if (!trigger) {
        return facts;
    }
    VARIANT_BOOL triggerEnabled = VARIANT_FALSE;
    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    const HRESULT enabledRead = trigger->get_Enabled(&triggerEnabled);
    const HRESULT typeRead = trigger->get_Type(&type);
    facts.logonTriggerFirst =
        SUCCEEDED(enabledRead) && SUCCEEDED(typeRead) && triggerEnabled == VARIANT_TRUE && type == TASK_TRIGGER_LOGON;
    if (facts.logonTriggerFirst && exePath != nullptr) {
        readPrincipal(definition.Get(), facts);
        facts.startsProgram = startsProgram(definition.Get(), exePath);
    }
    return facts;
}

}  // namespace

DWORD WINAPI queryWorker(LPVOID)
{
    TaskSchedulerConnection connection(L"IsLogonStartupEnabled");
    if (FAILED(connection.open())) {
        return 0;
    }
    connection.service.Reset();
    const wchar_t* exePath = logonStartRequest.exePath;
    const TaskFacts facts = readTask(connection.rootFolder.Get(), logonStartRequest.taskName, exePath);
    const bool active = exePath == nullptr ? taskActive(facts) : taskInPlace(facts);
    connection.rootFolder.Reset();
    return active ? 1 : 0;
}

DWORD WINAPI disableWorker(LPVOID)
{
    TaskSchedulerConnection connection(L"DisableLogonStartup");
    const HRESULT hr = connection.open();
    if (FAILED(hr)) {
        return static_cast<DWORD>(hr);
    }
    const HRESULT deleted =
        withBstr(logonStartRequest.taskName, [&](BSTR name) { return connection.rootFolder->DeleteTask(name, 0); });
    // A task that is not there is already gone; one the service will not delete still starts
    // the program at logon, which the caller must hear of.
    if (deleted == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || deleted == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        return 0;
    }
    return FAILED(deleted) ? static_cast<DWORD>(deleted) : 0;
}
