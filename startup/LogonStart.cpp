#include "startup/LogonStartInternals.h"

#include "common/platform/Owners.h"
#include "common/platform/SystemFacts.h"
#include "common/product/Deadlines.h"

#include <cwchar>

LogonStartRequest logonStartRequest = {nullptr, nullptr, nullptr, nullptr, 1};
LogonStartPlatform logonStartPlatform = {&CoInitializeSecurity, &CreateThread};

namespace {

// A worker that did not end within the bound keeps this for good: it may still read the
// request block, which no later request may rewrite, so every later request is refused as
// busy. The operations are called one after another from one thread, so a plain value does.
HANDLE busySlot = nullptr;
bool workerLeftRunning = false;
// Set while a worker runs: a request made meanwhile (from the worker's own calls, say) must not
// rewrite the request block it reads.
bool workerRunning = false;
LogonStartListener listener = nullptr;

// The request's texts, copied: a worker left running past the deadline may read them until
// the process ends, long after the caller's own strings (a path on its stack) are gone. They
// are replaced only by the next request, which none is once a worker was left running.
struct RequestTexts {
    UniqueHeapText taskName;
    UniqueHeapText author;
    UniqueHeapText description;
    UniqueHeapText exePath;
};
RequestTexts requestTexts;

// Keeps a copy of text (which may be absent) and answers it; ok turns false when the heap
// has no room for it.
const wchar_t* keep(UniqueHeapText& kept, const wchar_t* text, bool& ok)
{
    kept = text != nullptr ? copyText(text) : UniqueHeapText();
    ok = ok && (text == nullptr || kept);
    return kept.get();
}

struct Operation {
    const wchar_t* name;
    const wchar_t* invalidArguments;
    const wchar_t* unsupported;
    const wchar_t* busy;
    LONG refusal;
    bool question;  // answers 1 or 0 rather than a status
};

// The module's messages are its own, word for word, including "invalided", the stray "(" after
// IsLogonStartupEnabled and the other texts that read misspelt: the module's tests, which
// alone listen to them, match them as they are. Do not correct them.
const Operation kEnable = {
    L"EnableLogonStartup",
    L"<LogonStart> EnableLogonStartup - Parameter is invalided",
    L"<LogonStart> EnableLogonStartup - The function is unsupported for this OS",
    L"<LogonStart> EnableLogonStartup - The module is busy in handling other request",
    -1,
    false,
};
const Operation kDisable = {
    L"DisableLogonStartup",
    L"<LogonStart> DisableLogonStartup - Parameter is invalided",
    L"<LogonStart> DisableLogonStartup - The function is unsupported for this OS",
    L"<LogonStart> DisableLogonStartup - The module is busy in handling other request",
    -1,
    false,
};
const Operation kQuery = {
    L"IsLogonStartupEnabled",
    L"<LogonStart> IsLogonStartupEnabled - Parameter is invalided",
    L"<LogonStart> IsLogonStartupEnabled - The function is unsupported for this OS",
    L"<LogonStart> IsLogonStartupEnabled( - The module is busy in handling other request",
    0,
    true,
};

bool admit(const Operation& operation, bool argumentsPresent)
{
    if (!argumentsPresent) {
        traceLogonStart(operation.invalidArguments);
        return false;
    }
    if (!isVistaOrLater()) {
        traceLogonStart(operation.unsupported);
        return false;
    }
    if (workerRunning || busySlot != nullptr) {
        traceLogonStart(operation.busy);
        return false;
    }
    return true;
}

LONG runOperation(const Operation& operation, LPTHREAD_START_ROUTINE worker, bool textsKept)
{
    if (!textsKept) {
        traceLogonStartFailure(operation.name, L"Cannot copy the request: %x", E_OUTOFMEMORY);
        return operation.question ? 0 : E_OUTOFMEMORY;
    }
    Status status = 0;
    UniqueHandle leftRunning;
    workerRunning = true;
    const WorkerEnd end = runTaskSchedulerWorker(worker, nullptr, status, leftRunning, logonStartPlatform.createThread);
    workerRunning = false;
    if (end == WorkerEnd::NotStarted && status == kTaskSchedulerTimedOut) {
        traceLogonStartFailure(operation.name, L"The Task Scheduler did not answer in time: %x", asHresult(status));
        return operation.question ? 0 : asHresult(status);
    }
    if (end == WorkerEnd::NotStarted) {
        traceLogonStartFailure(operation.name, L"Cannot create worker thread: %x", asHresult(status));
        return operation.question ? 0 : asHresult(status);
    }
    if (end == WorkerEnd::LeftRunning) {
        busySlot = leftRunning.release();
        workerLeftRunning = true;
        // It may read them until the process ends, past the static destructors that would
        // free them.
        static_cast<void>(requestTexts.taskName.release());
        static_cast<void>(requestTexts.author.release());
        static_cast<void>(requestTexts.description.release());
        static_cast<void>(requestTexts.exePath.release());
        traceLogonStartFailure(operation.name, L"The Task Scheduler did not answer in time: %x",
                               asHresult(kTaskSchedulerTimedOut));
        return operation.question ? 0 : asHresult(kTaskSchedulerTimedOut);
    }
    return asHresult(status);
}

}  // namespace

LONG EnableLogonStartup(const wchar_t* taskName, const wchar_t* author, const wchar_t* description,
                        const wchar_t* exePath, LONG parallelInstances)
{
    if (!admit(kEnable, taskName != nullptr && exePath != nullptr)) {
        return kEnable.refusal;
    }
    bool kept = true;
    logonStartRequest.author = keep(requestTexts.author, author, kept);
    logonStartRequest.taskName = keep(requestTexts.taskName, taskName, kept);
    logonStartRequest.description = keep(requestTexts.description, description, kept);
    logonStartRequest.exePath = keep(requestTexts.exePath, exePath, kept);
    logonStartRequest.parallelInstances = parallelInstances;
    return runOperation(kEnable, enableWorker, kept);
}

LONG DisableLogonStartup(const wchar_t* taskName)
{
    if (!admit(kDisable, taskName != nullptr)) {
        return kDisable.refusal;
    }
    bool kept = true;
    logonStartRequest.taskName = keep(requestTexts.taskName, taskName, kept);
    return runOperation(kDisable, disableWorker, kept);
}

LONG IsLogonStartupEnabled(const wchar_t* taskName, const wchar_t* exePath)
{
    if (!admit(kQuery, taskName != nullptr)) {
        return kQuery.refusal;
    }
    bool kept = true;
    logonStartRequest.taskName = keep(requestTexts.taskName, taskName, kept);
    logonStartRequest.exePath = keep(requestTexts.exePath, exePath, kept);
    return runOperation(kQuery, queryWorker, kept);
}

bool logonStartTimedOut() { return workerLeftRunning; }

bool reclaimWorkerLeftRunning(DWORD timeoutMs)
{
    if (busySlot == nullptr) {
        return true;
    }
    if (WaitForSingleObject(busySlot, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    const UniqueHandle ended(busySlot);
    busySlot = nullptr;
    workerLeftRunning = false;
    return true;
}

void traceLogonStart(const wchar_t* message, HRESULT status)
{
    if (listener != nullptr) {
        listener(message, status);
    }
}

void setLogonStartListener(LogonStartListener newListener) { listener = newListener; }

void traceLogonStartFailure(const wchar_t* operation, const wchar_t* text, HRESULT status)
{
    wchar_t message[192] = L"<LogonStart> ";
    std::wcsncat(message, operation, 40);
    std::wcscat(message, L" - ");
    std::wcsncat(message, text, 120);
    traceLogonStart(message, status);
}
