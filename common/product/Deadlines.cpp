#include "common/product/Deadlines.h"

namespace {

// The deadline, as a tick count; one pass, check or action at a time per process.
bool deadlineStarted = false;
DWORD deadlineStart = 0;
DWORD deadlineAllowance = kTaskSchedulerAnswerMs;

}  // namespace

void startTaskSchedulerDeadline(DWORD allowanceMs)
{
    deadlineStart = GetTickCount();
    deadlineAllowance = allowanceMs;
    deadlineStarted = true;
}

DWORD taskSchedulerTimeLeftMs()
{
    if (!deadlineStarted) {
        startTaskSchedulerDeadline();
    }
    // Unsigned: the difference stays right across the tick count's wrap after 49.7 days.
    const DWORD elapsed = GetTickCount() - deadlineStart;
    return elapsed < deadlineAllowance ? deadlineAllowance - elapsed : 0;
}

WorkerEnd runTaskSchedulerWorker(LPTHREAD_START_ROUTINE routine, void* parameter, Status& status,
                                 UniqueHandle& leftRunning, ThreadCreator create)
{
    // Nothing left of the deadline: a worker started now would register or delete a task after
    // the caller has said the Task Scheduler did not answer.
    const DWORD timeLeftMs = taskSchedulerTimeLeftMs();
    if (timeLeftMs == 0) {
        status = kTaskSchedulerTimedOut;
        return WorkerEnd::NotStarted;
    }
    const WorkerEnd end = runWorker(routine, parameter, timeLeftMs, status, leftRunning, create);
    if (end == WorkerEnd::LeftRunning) {
        keepThisModuleLoaded();
    }
    return end;
}
