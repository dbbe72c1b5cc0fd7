// The logon task "Ombrix Tarvel", read from the Task Scheduler and never changed.
#include "check/MachineCheck.h"

#include "common/product/Deadlines.h"
#include "startup/TaskReading.h"

namespace {

const char kWhat[] = "start-up: task \"Ombrix Tarvel\"";

void reportPrincipal(Report& report, const TaskReading& reading)
{
    const bool highest = reading.facts.highestRights;
    report.line("start-up: task's run level", "highest", highest ? "highest" : "least privilege", highest);
    const wchar_t* named = reading.group.ok() && reading.group.get()[0] != L'\0' ? reading.group.get() : L"no group";
    Text found;
    found << named;
    report.line("start-up: task's group", "Administrators (S-1-5-32-544)", found, reading.facts.forAdministrators);
}

Status reportProgram(Report& report, const TaskReading& reading)
{
    const char what[] = "start-up: task's program";
    if (!reading.startsAProgram) {
        report.line(what, "an existing tarvel program", "no program started", false);
        return ERROR_SUCCESS;
    }
    // Cut short, a longer path would name another file.
    if (reading.program.ok() && lstrlenW(reading.program.get()) > MAX_PATH) {
        report.line(what, "an existing tarvel program", "a path too long to start", false);
        return ERROR_SUCCESS;
    }
    wchar_t program[MAX_PATH + 1] = {};
    lstrcpynW(program, reading.program.ok() ? reading.program.get() : L"", MAX_PATH + 1);
    asWindowsReadsIt(program);
    // A program's permissions that could not be read end the check with Windows' own code,
    // as on the Run-key releases.
    return checkStartedProgram(report, what, program);
}

// The task as the pass's question read it.
Status reportTask(Report& report, const TaskReading& reading, TaskWanted wanted)
{
    const char* wants = wanted == TaskWanted::InPlace ? "enabled, started at logon" : "no active task";
    if (!reading.found) {
        report.line(kWhat, wants, "absent", wanted == TaskWanted::NoActiveTask);
        return ERROR_SUCCESS;
    }
    const TaskFacts& facts = reading.facts;
    const char* found = !facts.enabled            ? "disabled"
                        : facts.logonTriggerFirst ? "enabled, started at logon"
                                                  : "enabled, not at logon";
    if (wanted == TaskWanted::NoActiveTask) {
        report.line(kWhat, wants, found, !taskActive(facts));
        return ERROR_SUCCESS;
    }
    report.line(kWhat, wants, found, taskActive(facts));
    reportPrincipal(report, reading);
    return reportProgram(report, reading);
}

}  // namespace

// The task is read on a worker of its own, which only reads: the program the task starts is
// judged on the checking thread, whose account lookups are no part of the Task Scheduler's
// deadline. A call that fails keeps the check from checking.
namespace {

// Whether the checking thread is waiting for the Task Scheduler, read by the main thread when
// the whole check runs out of time, so that it names what did not answer.
volatile LONG askingTaskScheduler = 0;

}  // namespace

bool waitingForTaskScheduler() { return InterlockedCompareExchange(&askingTaskScheduler, 0, 0) != 0; }

Status checkLogonTask(Report& report, TaskWanted wanted)
{
    UniqueTaskReading reading;
    InterlockedExchange(&askingTaskScheduler, 1);
    const Status status = readTarvelTaskOnWorker(L"tarvel-check", reading);
    InterlockedExchange(&askingTaskScheduler, 0);
    if (status == kTaskSchedulerTimedOut) {
        Text line;
        line << "tarvel-check: " << kTaskSchedulerSilent;
        report.note(line);
        return status;
    }
    return status != ERROR_SUCCESS ? status : reportTask(report, *reading, wanted);
}
