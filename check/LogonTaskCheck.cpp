// The logon task "Ombrix Tarvel", read from the Task Scheduler and never changed.
#include "check/MachineCheck.h"

#include "common/Owners.h"
#include "common/TaskSchedulerWait.h"
#include "startup/TarvelTask.h"
#include "startup/TaskSchedulerConnection.h"

using Microsoft::WRL::ComPtr;

namespace {

const char kWhat[] = "start-up: task \"Ombrix Tarvel\"";
const HRESULT kTaskNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// Active as the pass counts it: enabled, with an enabled logon trigger first.
HRESULT readActive(IRegisteredTask* task, ITaskDefinition* definition, TaskFacts& facts)
{
    VARIANT_BOOL taskEnabled = VARIANT_FALSE;
    HRESULT hr = task->get_Enabled(&taskEnabled);
    if (FAILED(hr)) {
        return hr;
    }
    facts.enabled = taskEnabled == VARIANT_TRUE;
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
    facts.logonTriggerFirst = triggerEnabled == VARIANT_TRUE && type == TASK_TRIGGER_LOGON;
    return hr;
}

HRESULT checkPrincipal(Report& report, ITaskDefinition* definition, TaskFacts& facts)
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
    facts.highestRights = level == TASK_RUNLEVEL_HIGHEST;
    report.line("start-up: task's run level", "highest", facts.highestRights ? "highest" : "least privilege",
                facts.highestRights);
    UniqueBstr group;
    hr = principal->get_GroupId(group.receive());
    if (FAILED(hr)) {
        return hr;
    }
    const wchar_t* named = group.ok() && group.get()[0] != L'\0' ? group.get() : L"no group";
    Text found;
    found << named;
    facts.forAdministrators = isAdministratorsGroup(named);
    report.line("start-up: task's group", "Administrators (S-1-5-32-544)", found, facts.forAdministrators);
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
        report.line(what, "an existing tarvel program", "no program started", false);
        return S_OK;
    }
    UniqueBstr path;
    hr = exec->get_Path(path.receive());
    if (FAILED(hr)) {
        return hr;
    }
    // Cut short, a longer path would name another file.
    if (path.ok() && lstrlenW(path.get()) > MAX_PATH) {
        report.line(what, "an existing tarvel program", "a path too long to start", false);
        return S_OK;
    }
    wchar_t program[MAX_PATH + 1] = {};
    lstrcpynW(program, path.ok() ? path.get() : L"", MAX_PATH + 1);
    asWindowsReadsIt(program);
    // Apart from the macro, which would check twice.
    const DWORD status = checkStartedProgram(report, what, program);
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
    TaskFacts facts;
    hr = readActive(task.Get(), definition.Get(), facts);
    if (FAILED(hr)) {
        return hr;
    }
    const char* found = !facts.enabled            ? "disabled"
                        : facts.logonTriggerFirst ? "enabled, started at logon"
                                                  : "enabled, not at logon";
    if (wanted == TaskWanted::NoActiveTask) {
        report.line(kWhat, wants, found, !taskActive(facts));
        return S_OK;
    }
    report.line(kWhat, wants, found, taskActive(facts));
    hr = checkPrincipal(report, definition.Get(), facts);
    if (FAILED(hr)) {
        return hr;
    }
    return checkProgram(report, definition.Get());
}

struct TaskCheck {
    Report* report;
    TaskWanted wanted;
};

// On a thread of its own, so that a Task Scheduler that never answers cannot hold the check.
DWORD WINAPI taskCheckWorker(LPVOID parameter)
{
    const auto* check = static_cast<const TaskCheck*>(parameter);
    // Released, root folder and service, before the connection leaves COM.
    TaskSchedulerConnection connection(L"tarvel-check");
    HRESULT hr = connection.open();
    if (FAILED(hr)) {
        return static_cast<DWORD>(hr);
    }
    connection.service.Reset();
    hr = checkTask(*check->report, connection.rootFolder.Get(), check->wanted);
    connection.rootFolder.Reset();
    return static_cast<DWORD>(hr);
}

}  // namespace

HRESULT checkLogonTask(Report& report, TaskWanted wanted)
{
    // Static: a worker left running may read it until the process ends.
    static TaskCheck check;
    check = {&report, wanted};
    HANDLE worker = CreateThread(nullptr, 0, taskCheckWorker, &check, 0, nullptr);
    if (worker == nullptr) {
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    DWORD status = 0;
    const bool ended = awaitTaskSchedulerWorker(worker, status);
    CloseHandle(worker);
    if (!ended) {
        report.closeToOtherThreads();
        Text line;
        line << "tarvel-check: " << kTaskSchedulerSilent;
        report.note(line);
        return kTaskSchedulerTimedOut;
    }
    return static_cast<HRESULT>(status);
}
