// Replaces any task of the requested name with one that starts the program with the highest
// run level whenever a member of the local Administrators group, its principal, logs on.
#include "common/platform/WellKnownSids.h"
#include "common/platform/Status.h"
#include "startup/LogonStartInternals.h"
#include "startup/TaskSchedulerConnection.h"

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t kOperation[] = L"EnableLogonStartup";
const wchar_t kPrincipalId[] = L"Principal1";
const wchar_t kNoTimeLimit[] = L"PT0S";
const IID kIidExecAction = {0x4c3d624d, 0xfd6b, 0x49a3, {0xb9, 0xb7, 0x09, 0xcb, 0x3c, 0xd3, 0xf0, 0x47}};
const DWORD kAccountNameSize = 256;

HRESULT describe(const TaskSchedulerConnection& connection, ITaskDefinition* definition,
                 const LogonStartRequest& request)
{
    if (request.author == nullptr && request.description == nullptr) {
        return S_OK;
    }
    ComPtr<IRegistrationInfo> info;
    HRESULT hr = receivedFrom(definition->get_RegistrationInfo(&info), info);
    if (FAILED(hr)) {
        return connection.failed(L"Cannot get identification pointer: %x", hr);
    }
    if (request.author != nullptr) {
        hr = withBstr(request.author, [&](BSTR author) { return info->put_Author(author); });
        if (FAILED(hr)) {
            return connection.failed(L"Cannot put identification info: %x", hr);
        }
    }
    if (request.description != nullptr) {
        hr = withBstr(request.description, [&](BSTR text) { return info->put_Description(text); });
        if (FAILED(hr)) {
            return connection.failed(L"Cannot put task description: %x", hr);
        }
    }
    return S_OK;
}

// The logon trigger is left exactly as the service makes it.
HRESULT addLogonTrigger(const TaskSchedulerConnection& connection, ITaskDefinition* definition)
{
    ComPtr<ITriggerCollection> triggers;
    HRESULT hr = receivedFrom(definition->get_Triggers(&triggers), triggers);
    if (FAILED(hr)) {
        return connection.failed(L"Cannot get trigger collection: %x", hr);
    }
    ComPtr<ITrigger> trigger;
    hr = triggers->Create(TASK_TRIGGER_LOGON, &trigger);
    triggers.Reset();
    if (FAILED(hr)) {
        return connection.failed(L"Cannot add logon trigger to the Task %x", hr);
    }
    return S_OK;
}

HRESULT runElevated(const TaskSchedulerConnection& connection, ITaskDefinition* definition)
{
    ComPtr<IPrincipal> principal;
    HRESULT hr = receivedFrom(definition->get_Principal(&principal), principal);
    if (FAILED(hr)) {
        return connection.failed(L"Cannot get principal pointer: %x", hr);
    }
    // The id and the logon type have workable defaults: their failures are reported only.
    hr = withBstr(kPrincipalId, [&](BSTR id) { return principal->put_Id(id); });
    if (FAILED(hr)) {
        connection.failed(L"Cannot put the principal ID: %x", hr);
    }
    hr = principal->put_LogonType(TASK_LOGON_INTERACTIVE_TOKEN);
    if (FAILED(hr)) {
        connection.failed(L"Cannot put principal logon type: %x", hr);
    }
    hr = principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST);
    principal.Reset();
    if (FAILED(hr)) {
        return connection.failed(L"Cannot put principal run level: %x", hr);
    }
    return S_OK;
}

// Nothing may stop the program once started: no battery rule, no time limit, no idle end.
HRESULT applySettings(const TaskSchedulerConnection& connection, ITaskDefinition* definition,
                      const LogonStartRequest& request)
{
    ComPtr<ITaskSettings> settings;
    HRESULT hr = receivedFrom(definition->get_Settings(&settings), settings);
    if (FAILED(hr)) {
        return connection.failed(L"Cannot get settings pointer: %x", hr);
    }
    settings->put_AllowHardTerminate(VARIANT_FALSE);
    settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
    settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
    withBstr(kNoTimeLimit, [&](BSTR limit) { return settings->put_ExecutionTimeLimit(limit); });
    if (request.parallelInstances != 0) {
        settings->put_MultipleInstances(TASK_INSTANCES_PARALLEL);
    }
    ComPtr<IIdleSettings> idle;
    hr = receivedFrom(settings->get_IdleSettings(&idle), idle);
    if (SUCCEEDED(hr)) {
        idle->put_StopOnIdleEnd(VARIANT_FALSE);
        idle.Reset();
    }
    settings.Reset();
    if (FAILED(hr)) {
        return connection.failed(L"Cannot put setting info: %x", hr);
    }
    return S_OK;
}

HRESULT startProgram(const TaskSchedulerConnection& connection, ITaskDefinition* definition,
                     const LogonStartRequest& request)
{
    ComPtr<IActionCollection> actions;
    HRESULT hr = receivedFrom(definition->get_Actions(&actions), actions);
    if (FAILED(hr)) {
        return connection.failed(L"Cannot get Task collection pointer: %x", hr);
    }
    ComPtr<IAction> action;
    hr = receivedFrom(actions->Create(TASK_ACTION_EXEC, &action), action);
    actions.Reset();
    if (FAILED(hr)) {
        return connection.failed(L"Cannot create ActionCollection: %x", hr);
    }
    ComPtr<IExecAction> exec;
    hr = receivedFrom(action->QueryInterface(kIidExecAction, reinterpret_cast<void**>(exec.GetAddressOf())), exec);
    action.Reset();
    if (FAILED(hr)) {
        return connection.failed(L"Cannot get IID_IExecAction Interface: %x", hr);
    }
    hr = withBstr(request.exePath, [&](BSTR path) { return exec->put_Path(path); });
    if (FAILED(hr)) {
        return connection.failed(L"Cannot set path of executable: %x", hr);
    }
    hr = withBstr(L"", [&](BSTR arguments) { return exec->put_Arguments(arguments); });
    if (FAILED(hr)) {
        return connection.failed(L"Cannot set arguments of executable: %x", hr);
    }
    return S_OK;
}

// The group's local name (S-1-5-32-544), which differs between languages of Windows; empty
// when it cannot be looked up, which the registration then refuses or accepts on its own.
void administratorsGroupName(wchar_t (&wideName)[kAccountNameSize])
{
    char name[kAccountNameSize] = {};
    char domain[kAccountNameSize] = {};
    DWORD nameSize = kAccountNameSize;
    DWORD domainSize = kAccountNameSize;
    SID_NAME_USE use = SidTypeUnknown;
    const UniqueSid sid = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    if (sid) {
        LookupAccountSidA(nullptr, sid.get(), name, &nameSize, domain, &domainSize, &use);
    }
    ZeroMemory(wideName, sizeof wideName);
    // At most 255 bytes convert to at most 255 characters, so the zero fill terminates them.
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name, lstrlenA(name), wideName, kAccountNameSize);
}

HRESULT registerForAdministrators(const TaskSchedulerConnection& connection, ITaskDefinition* definition,
                                  const LogonStartRequest& request)
{
    wchar_t groupName[kAccountNameSize];
    administratorsGroupName(groupName);

    HRESULT hr = S_OK;
    {
        UniqueVariant userId;
        UniqueVariant password;
        UniqueVariant sddl;
        if (!userId.setString(groupName) || !sddl.setString(L"")) {
            hr = E_OUTOFMEMORY;
        } else {
            ComPtr<IRegisteredTask> registered;
            hr = withBstr(request.taskName, [&](BSTR name) {
                return connection.rootFolder->RegisterTaskDefinition(name, definition, TASK_CREATE, userId.get(),
                                                                     password.get(), TASK_LOGON_GROUP, sddl.get(),
                                                                     &registered);
            });
        }
    }
    if (FAILED(hr)) {
        return connection.failed(L"Error saving the Task : %x", hr);
    }
    return S_OK;
}

HRESULT buildAndRegister(const TaskSchedulerConnection& connection, ITaskDefinition* definition,
                         const LogonStartRequest& request)
{
    HRESULT hr = describe(connection, definition, request);
    if (SUCCEEDED(hr)) {
        hr = addLogonTrigger(connection, definition);
    }
    if (SUCCEEDED(hr)) {
        hr = runElevated(connection, definition);
    }
    if (SUCCEEDED(hr)) {
        hr = applySettings(connection, definition, request);
    }
    if (SUCCEEDED(hr)) {
        hr = startProgram(connection, definition, request);
    }
    if (SUCCEEDED(hr)) {
        hr = registerForAdministrators(connection, definition, request);
    }
    return hr;
}

}  // namespace

DWORD WINAPI enableWorker(LPVOID)
{
    const LogonStartRequest& request = logonStartRequest;
    TaskSchedulerConnection connection(kOperation);
    HRESULT hr = connection.open();
    if (FAILED(hr)) {
        return comStatus(hr);
    }

    // A task of that name is replaced, never updated: whatever it held goes. Its absence
    // is no failure.
    withBstr(request.taskName, [&](BSTR name) { return connection.rootFolder->DeleteTask(name, 0); });

    ComPtr<ITaskDefinition> definition;
    hr = receivedFrom(connection.service->NewTask(0, &definition), definition);
    connection.service.Reset();
    if (FAILED(hr)) {
        return comStatus(connection.failed(L"Failed to CoCreate an instance of the TaskService class: %x", hr));
    }
    hr = buildAndRegister(connection, definition.Get(), request);

    connection.rootFolder.Reset();
    definition.Reset();
    return comStatus(hr);
}
