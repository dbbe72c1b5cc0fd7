// The logon task "Ombrix Tarvel", read from the Task Scheduler and never changed.
#include "check/MachineCheck.h"

#include "common/Owners.h"
#include "common/WellKnownSids.h"
#include "startup/TarvelTask.h"
#include "startup/TaskSchedulerConnection.h"

#include <sddl.h>

using Microsoft::WRL::ComPtr;

namespace {

const char kWhat[] = "start-up: task \"Ombrix Tarvel\"";
const HRESULT kTaskNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// Whether the group a task names is the local Administrators group, whatever the language
// of Windows calls it: a SID string, or a name with or without its "BUILTIN\" domain.
bool isAdministrators(const wchar_t* group)
{
    const UniqueSid administrators = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    if (!administrators) {
        return false;
    }
    if (group[0] == L'S' && group[1] == L'-') {
        PSID converted = nullptr;
        if (!ConvertStringSidToSidW(group, &converted)) {
            return false;
        }
        const UniqueLocal sid(converted);
        return EqualSid(sid.get(), administrators.get()) != FALSE;
    }
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof sid;
    wchar_t domain[256] = {};
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    return LookupAccountNameW(nullptr, group, sid, &sidSize, domain, &domainSize, &use) &&
           EqualSid(sid, administrators.get());
}

// Active as the pass counts it: enabled, with an enabled logon trigger first.
HRESULT readActive(IRegisteredTask* task, ITaskDefinition* definition, bool& enabled, bool& startsAtLogon)
{
    VARIANT_BOOL taskEnabled = VARIANT_FALSE;
    HRESULT hr = task->get_Enabled(&taskEnabled);
    if (FAILED(hr)) {
        return hr;
    }
    enabled = taskEnabled == VARIANT_TRUE;
    ComPtr<ITriggerCollection> triggers;
    hr = receivedFrom(definition->get_Triggers(&triggers), triggers);
    if (FAILED(hr)) {
        return hr;
    }
    LONG count = 0;
    hr = triggers->get_Count(&count);
    if (FAILED(hr) || count < 1) {
        startsAtLogon = false;
        return hr;
    }
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
    startsAtLogon = triggerEnabled == VARIANT_TRUE && type == TASK_TRIGGER_LOGON;
    return hr;
}

HRESULT checkPrincipal(Report& report, ITaskDefinition* definition)
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
    report.line("start-up: task's run level", "highest", level == TASK_RUNLEVEL_HIGHEST ? "highest" : "least privilege",
                level == TASK_RUNLEVEL_HIGHEST);
    UniqueBstr group;
    hr = principal->get_GroupId(group.receive());
    if (FAILED(hr)) {
        return hr;
    }
    const wchar_t* named = group.ok() && group.get()[0] != L'\0' ? group.get() : L"no group";
    Text found;
    found << named;
    report.line("start-up: task's group", "Administrators (S-1-5-32-544)", found.c_str(), isAdministrators(named));
    return S_OK;
}

HRESULT checkProgram(Report& report, ITaskDefinition* definition)
{
    const char what[] = "start-up: task's program";
    ComPtr<IActionCollection> actions;
    HRESULT hr = receivedFrom(definition->get_Actions(&actions), actions);
    if (FAILED(hr)) {
        return hr;
    }
    LONG count = 0;
    hr = actions->get_Count(&count);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IAction> action;
    ComPtr<IExecAction> exec;
    if (count >= 1) {
        hr = receivedFrom(actions->get_Item(1, &action), action);
        if (FAILED(hr)) {
            return hr;
        }
        action.As(&exec);
    }
    if (!exec) {
        report.line(what, "an existing file", "no program started", false);
        return S_OK;
    }
    UniqueBstr path;
    hr = exec->get_Path(path.receive());
    if (FAILED(hr)) {
        return hr;
    }
    const wchar_t* program = path.ok() ? path.get() : L"";
    const bool exists = program[0] != L'\0' && fileExists(program);
    Text found;
    found << program << (exists ? "" : " (missing)");
    report.line(what, "an existing file", found.c_str(), exists);
    if (!exists) {
        return S_OK;
    }
    // Apart from the macro, which would check twice.
    const DWORD status = checkNotReplaceable(report, program);
    return HRESULT_FROM_WIN32(status);
}

HRESULT checkTask(Report& report, ITaskFolder* rootFolder, TaskWanted wanted)
{
    const char* wants = wanted == TaskWanted::InPlace ? "enabled, started at logon" : "no active task";
    ComPtr<IRegisteredTask> task;
    HRESULT hr = withBstr(kTarvelTaskName, [&](BSTR name) { return rootFolder->GetTask(name, &task); });
    if (hr == kTaskNotFound) {
        report.line(kWhat, wants, "absent", wanted == TaskWanted::NoActiveTask);
        return S_OK;
    }
    hr = receivedFrom(hr, task);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<ITaskDefinition> definition;
    hr = receivedFrom(task->get_Definition(&definition), definition);
    if (FAILED(hr)) {
        return hr;
    }
    bool enabled = false;
    bool startsAtLogon = false;
    hr = readActive(task.Get(), definition.Get(), enabled, startsAtLogon);
    if (FAILED(hr)) {
        return hr;
    }
    const char* found = !enabled ? "disabled" : startsAtLogon ? "enabled, started at logon" : "enabled, not at logon";
    if (wanted == TaskWanted::NoActiveTask) {
        report.line(kWhat, wants, found, !(enabled && startsAtLogon));
        return S_OK;
    }
    report.line(kWhat, wants, found, enabled && startsAtLogon);
    hr = checkPrincipal(report, definition.Get());
    if (FAILED(hr)) {
        return hr;
    }
    return checkProgram(report, definition.Get());
}

}  // namespace

HRESULT checkLogonTask(Report& report, TaskWanted wanted)
{
    // Released, root folder and service, before the connection leaves COM.
    TaskSchedulerConnection connection(L"tarvel-check");
    HRESULT hr = connection.open();
    if (FAILED(hr)) {
        return hr;
    }
    connection.service.Reset();
    hr = checkTask(report, connection.rootFolder.Get(), wanted);
    connection.rootFolder.Reset();
    return hr;
}
