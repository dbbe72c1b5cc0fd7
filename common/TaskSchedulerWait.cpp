#include "common/TaskSchedulerWait.h"

namespace {

// A reference that is never given back: a worker left running keeps its code. The module is
// the one this code is linked into: the program, the check, or the package's DLL.
void keepThisModuleLoaded()
{
    MEMORY_BASIC_INFORMATION memory = {};
    if (VirtualQuery(reinterpret_cast<const void*>(&keepThisModuleLoaded), &memory, sizeof memory) == 0) {
        return;
    }
    const auto self = static_cast<HMODULE>(memory.AllocationBase);
    if (self == GetModuleHandleA(nullptr)) {
        // A program's own image stays until its process ends.
        return;
    }
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length != 0 && length < MAX_PATH) {
        LoadLibraryW(path);
    }
}

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

WorkerEnd runWorker(LPTHREAD_START_ROUTINE routine, void* parameter, DWORD waitMs, Status& status,
                    UniqueHandle& leftRunning, ThreadCreator create)
{
    status = 0;
    UniqueHandle worker(create(nullptr, 0, routine, parameter, 0, nullptr));
    if (!worker) {
        // Nothing ran, which must not read as success; said in COM's kind, as the Task
        // Scheduler's workers report every failure.
        const DWORD error = GetLastError();
        status = comStatus(error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL);
        return WorkerEnd::NotStarted;
    }
    if (WaitForSingleObject(worker.get(), waitMs) == WAIT_TIMEOUT) {
        leftRunning = static_cast<UniqueHandle&&>(worker);
        return WorkerEnd::LeftRunning;
    }
    GetExitCodeThread(worker.get(), &status);
    return WorkerEnd::Ended;
}

WorkerEnd runTaskSchedulerWorker(LPTHREAD_START_ROUTINE routine, void* parameter, Status& status,
                                 UniqueHandle& leftRunning, ThreadCreator create)
{
    const WorkerEnd end = runWorker(routine, parameter, taskSchedulerTimeLeftMs(), status, leftRunning, create);
    if (end == WorkerEnd::LeftRunning) {
        keepThisModuleLoaded();
    }
    return end;
}

WorkerEnd runAccountLookupWorker(LPTHREAD_START_ROUTINE routine, void* parameter, Status& status,
                                 UniqueHandle& leftRunning)
{
    const WorkerEnd end = runWorker(routine, parameter, kAccountLookupsMs, status, leftRunning);
    if (end == WorkerEnd::LeftRunning) {
        keepThisModuleLoaded();
    }
    return end;
}
