#pragma once
// How long the pass, the check and the package's actions wait for the Task Scheduler. Each
// asks it on a worker thread and waits for that worker with this one bound: a service stuck
// on a damaged task store, or held by a debugger, must never hold a pass, a detection script
// or an install for ever.
#include "common/platform/Worker.h"
#include "common/text/Text.h"

// A service that answers at all answers in well under a second; a logon on a slow disk may
// hold it back by tens of seconds. Past 30 seconds it is taken to hang. The bound is one
// deadline for all the Task Scheduler work of a pass (its question, then registering or
// deleting), of a run of the check, and of one package action: each call gets what remains,
// so that a slow question followed by a hung registration still ends the pass in time. It
// stays well below the minute a second pass waits for the pass lock
// (common/product/PassLock.cpp), so that a pass that meets a hung one still gets the lock once
// the first has given up.
#define TARVEL_TASK_SCHEDULER_SECONDS 30
const DWORD kTaskSchedulerAnswerMs = TARVEL_TASK_SCHEDULER_SECONDS * 1000;

// HRESULT_FROM_WIN32(ERROR_TIMEOUT): the status of whatever gave up waiting.
const Status kTaskSchedulerTimedOut = 0x800705B4;

// What the event, the check and the install log say of it, with the bound in it.
#define TARVEL_TASK_SCHEDULER_SILENT \
    "the Task Scheduler did not answer within " TARVEL_TEXT(TARVEL_TASK_SCHEDULER_SECONDS) " seconds"
const wchar_t kTaskSchedulerSilent[] = TARVEL_WIDEN(TARVEL_TASK_SCHEDULER_SILENT);

// Starts the one deadline of this pass, check or package action: allowanceMs from now. A test
// may give a shorter one. Waits before any start begin it themselves.
void startTaskSchedulerDeadline(DWORD allowanceMs = kTaskSchedulerAnswerMs);
// What remains of the deadline, in milliseconds; 0 once it has passed.
DWORD taskSchedulerTimeLeftMs();

// The same for a worker that asks the Task Scheduler, waited for at most what remains of the
// deadline; none is started once nothing remains (NotStarted, kTaskSchedulerTimedOut). A
// worker left running keeps the code it runs loaded until the process ends, so that a host that
// unloads this module (msiexec's custom-action server) never pulls that code from under it.
WorkerEnd runTaskSchedulerWorker(LPTHREAD_START_ROUTINE routine, void* parameter, Status& status,
                                 UniqueHandle& leftRunning, ThreadCreator create = CreateThread);
