// Whether the logon task is in place and active, and its removal.
#include "startup/LogonStartInternals.h"
#include "startup/TaskSchedulerConnection.h"

#include <cstdlib>
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

// Active: the task exists, is enabled, and its first trigger is an enabled logon trigger.
bool taskIsActive(ITaskFolder* rootFolder, const wchar_t* taskName)
{
    ComPtr<IRegisteredTask> registered;
    lookUpTask(rootFolder, taskName, registered);
    if (!registered) {
        return false;
    }
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(registered->get_Enabled(&enabled)) || enabled != VARIANT_TRUE) {
        return false;
    }
    ComPtr<ITaskDefinition> definition;
    if (FAILED(receivedFrom(registered->get_Definition(&definition), definition))) {
        return false;
    }
    ComPtr<ITriggerCollection> triggers;
    if (FAILED(receivedFrom(definition->get_Triggers(&triggers), triggers))) {
        return false;
    }
    ComPtr<ITrigger> trigger;
    triggers->get_Item(1, &trigger);
    if (!trigger) {
        return false;
    }
    VARIANT_BOOL triggerEnabled = VARIANT_FALSE;
    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    const HRESULT enabledRead = trigger->get_Enabled(&triggerEnabled);
    const HRESULT typeRead = trigger->get_Type(&type);
    return SUCCEEDED(enabledRead) && SUCCEEDED(typeRead) && triggerEnabled == VARIANT_TRUE &&
           type == TASK_TRIGGER_LOGON;
}

}  // namespace

DWORD WINAPI queryWorker(LPVOID)
{
    TaskSchedulerConnection connection(L"IsLogonStartupEnabled");
    if (FAILED(connection.open())) {
        return 0;
    }
    connection.service.Reset();
    const bool active = taskIsActive(connection.rootFolder.Get(), logonStartRequest.taskName);
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
    // the program at every logon, which the caller must hear of.
    if (deleted == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || deleted == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        return 0;
    }
    return FAILED(deleted) ? static_cast<DWORD>(deleted) : 0;
}
