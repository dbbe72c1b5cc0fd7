// The task read on a worker of its own, for the check and the acceptance kit: a Task
// Scheduler that never answers holds neither.
#include "startup/TaskReading.h"

#include "common/product/Deadlines.h"
#include "startup/TarvelTask.h"
#include "startup/TaskSchedulerConnection.h"

#include <new>

namespace {

DWORD WINAPI taskReadingWorker(LPVOID parameter)
{
    auto* reading = static_cast<TaskReading*>(parameter);
    // Released, root folder and service, before the connection leaves COM.
    TaskSchedulerConnection connection(reading->operation);
    HRESULT hr = connection.open();
    if (FAILED(hr)) {
        return comStatus(hr);
    }
    connection.service.Reset();
    hr = readTask(connection.rootFolder.Get(), kTarvelTaskName, *reading);
    connection.rootFolder.Reset();
    return comStatus(hr);
}

}  // namespace

void TaskReadingFreer::operator()(TaskReading* reading) const
{
    reading->~TaskReading();
    HeapFree(GetProcessHeap(), 0, reading);
}

Status readTarvelTaskOnWorker(const wchar_t* operation, UniqueTaskReading& reading)
{
    reading.reset();
    // From the heap, and never freed while a worker may still write it.
    void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(TaskReading));
    if (memory == nullptr) {
        return comStatus(E_OUTOFMEMORY);
    }
    UniqueTaskReading made(new (memory) TaskReading);
    made->operation = operation;
    startTaskSchedulerDeadline();
    Status status = 0;
    UniqueHandle leftRunning;
    const WorkerEnd end = runTaskSchedulerWorker(taskReadingWorker, made.get(), status, leftRunning);
    if (end == WorkerEnd::NotStarted) {
        return status;
    }
    if (end == WorkerEnd::LeftRunning) {
        // Left to the worker, which may still write it; its thread handle goes, the thread stays.
        static_cast<void>(made.release());
        return kTaskSchedulerTimedOut;
    }
    reading = static_cast<UniqueTaskReading&&>(made);
    return status;
}
