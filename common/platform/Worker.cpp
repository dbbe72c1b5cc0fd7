#include "common/platform/Worker.h"

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
