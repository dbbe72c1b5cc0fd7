#pragma once
// A worker thread waited for with a bound: whatever a program asks of something outside the
// process (a service, a domain controller) it asks on a worker, so that no answer that never
// comes holds it for ever.
#include "common/platform/Owners.h"
#include "common/platform/Status.h"

#include <windows.h>

// How a worker's thread is made: CreateThread, or in a test a creator that fails as Windows
// can.
using ThreadCreator = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);

enum class WorkerEnd {
    Ended,        // status holds its exit code
    NotStarted,   // status holds why
    LeftRunning,  // leftRunning holds the thread, which the caller keeps
};

// Runs routine(parameter) on a thread of its own, made by create, and waits for it at most
// waitMs. A thread still running then is left as it is (one stuck inside a call cannot be ended
// safely) and handed to the caller, who must keep what it reads alive.
WorkerEnd runWorker(LPTHREAD_START_ROUTINE routine, void* parameter, DWORD waitMs, Status& status,
                    UniqueHandle& leftRunning, ThreadCreator create = CreateThread);

// A reference that is never given back, for a worker left running: it keeps the code it runs
// loaded until the process ends, so that a host that unloads this module (msiexec's
// custom-action server) never pulls that code from under it. The module is the one this code is
// linked into: the program, the check, or the package's DLL.
void keepThisModuleLoaded();
