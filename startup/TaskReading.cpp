#include "startup/TaskReading.h"

#include "startup/TaskSchedulerConnection.h"

#include <strsafe.h>

using Microsoft::WRL::ComPtr;

namespace {

const HRESULT kTaskNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// The task by its path in the root folder: a backslash and its name.
HRESULT lookUpTask(ITaskFolder* rootFolder, const wchar_t* taskName, ComPtr<IRegisteredTask>& registered)
{
    // The backslash, the name and the terminator fit exactly.
    const size_t capacity = static_cast<size_t>(lstrlenW(taskName)) + 2;
    const UniqueHeapText path = allocateText(capacity);
    if (!path) {
        return E_OUTOFMEMORY;
    }
    StringCchPrintfW(path.get(), capacity, L"\\%s", taskName);
    return withBstr(path.get(), [&](BSTR taskPath) { return rootFolder->GetTask(taskPath, &registered); });
}

// Active as a pass counts it: enabled, with an enabled logon trigger first.
HRESULT readActive(IRegisteredTask* task, ITaskDefinition* definition, TaskReading& reading)
{
    VARIANT_BOOL enabled = VARIANT_FALSE;
    HRESULT hr = task->get_Enabled(&enabled);
    if (FAILED(hr)) {
        return hr;
    }
    reading.facts.enabled = enabled == VARIANT_TRUE;
    ComPtr<ITriggerCollection> triggers;
    hr = receivedFrom(definition->get_Triggers(&triggers), triggers);
    if (FAILED(hr)) {
        return hr;
    }
    LONG count = 0;
    hr = triggers->get_Count(&count);
    if (FAILED(hr) || count < 1) {
        // A task without triggers never starts: something found, not a failure.
        return hr;
    }
    reading.hasTriggers = true;
    ComPtr<ITrigger> trigger;
    hr = receivedFrom(triggers->get_Item(1, &trigger), trigger);
    if (FAILED(hr)) {
        return hr;
    }
    VARIANT_BOOL triggerEnabled = VARIANT_FALSE;
    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    hr = trigger->get_Enabled(&triggerEnabled);
    if (SUCCEEDED(hr)) {
        hr = trigger->get_Type(&type);
    }
    reading.facts.logonTriggerFirst = SUCCEEDED(hr) && triggerEnabled == VARIANT_TRUE && type == TASK_TRIGGER_LOGON;
    return hr;
}

// Highest rights, and for which group.
HRESULT readPrincipal(ITaskDefinition* definition, TaskReading& reading)
{
    ComPtr<IPrincipal> principal;
    HRESULT hr = receivedFrom(definition->get_Principal(&principal), principal);
    if (FAILED(hr)) {
        return hr;
    }
    TASK_RUNLEVEL_TYPE level = TASK_RUNLEVEL_LUA;
    hr = principal->get_RunLevel(&level);
    if (FAILED(hr)) {
        return hr;
    }
    reading.facts.highestRights = level == TASK_RUNLEVEL_HIGHEST;
    hr = principal->get_GroupId(reading.group.receive());
    reading.facts.forAdministrators = SUCCEEDED(hr) && isAdministratorsGroup(reading.group.get());
    return hr;
}

// The program its first action starts, if that action starts one.
HRESULT readProgram(ITaskDefinition* definition, TaskReading& reading)
{
    ComPtr<IActionCollection> actions;
    HRESULT hr = receivedFrom(definition->get_Actions(&actions), actions);
    if (FAILED(hr)) {
        return hr;
    }
    LONG count = 0;
    hr = actions->get_Count(&count);
    if (FAILED(hr) || count < 1) {
        return hr;
    }
    ComPtr<IAction> action;
    hr = receivedFrom(actions->get_Item(1, &action), action);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IExecAction> exec;
    if (FAILED(action.As(&exec)) || !exec) {
        return S_OK;
    }
    reading.startsAProgram = true;
    return exec->get_Path(reading.program.receive());
}

}  // namespace

HRESULT readTask(ITaskFolder* rootFolder, const wchar_t* taskName, TaskReading& reading)
{
    ComPtr<IRegisteredTask> task;
    HRESULT hr = lookUpTask(rootFolder, taskName, task);
    if (hr == kTaskNotFound) {
        return S_OK;
    }
    hr = receivedFrom(hr, task);
    if (FAILED(hr)) {
        return hr;
    }
    reading.found = true;
    ComPtr<ITaskDefinition> definition;
    hr = receivedFrom(task->get_Definition(&definition), definition);
    if (FAILED(hr)) {
        return hr;
    }
    hr = readActive(task.Get(), definition.Get(), reading);
    if (SUCCEEDED(hr)) {
        hr = readPrincipal(definition.Get(), reading);
    }
    if (SUCCEEDED(hr)) {
        hr = readProgram(definition.Get(), reading);
    }
    return hr;
}
