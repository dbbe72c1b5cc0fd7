// Whether the logon task is in place and active, and its removal.
#include "common/platform/Paths.h"
#include "common/platform/Status.h"
#include "startup/LogonStartInternals.h"
#include "startup/StartupPolicy.h"
#include "startup/TaskReading.h"
#include "startup/TaskSchedulerConnection.h"

using Microsoft::WRL::ComPtr;

namespace {

// Whether the task's first action starts exePath: a task left by a copy elsewhere starts a
// file that may be gone, or one that someone else has put there.
bool startsProgram(const TaskReading& reading, const wchar_t* exePath)
{
    return reading.startsAProgram && reading.program.ok() && samePath(reading.program.get(), exePath);
}

}  // namespace

DWORD WINAPI queryWorker(LPVOID)
{
    TaskSchedulerConnection connection(L"IsLogonStartupEnabled");
    if (FAILED(connection.open())) {
        return 0;
    }
    connection.service.Reset();
    const wchar_t* exePath = logonStartRequest.exePath;
    // Whatever could not be read reads as not active: the question answers 1 or 0.
    TaskReading reading;
    readTask(connection.rootFolder.Get(), logonStartRequest.taskName, reading);
    TaskFacts facts = reading.facts;
    facts.startsProgram = exePath != nullptr && startsProgram(reading, exePath);
    const bool active = exePath == nullptr ? taskActive(facts) : taskInPlace(facts);
    connection.rootFolder.Reset();
    return active ? 1 : 0;
}

DWORD WINAPI disableWorker(LPVOID)
{
    TaskSchedulerConnection connection(L"DisableLogonStartup");
    const HRESULT hr = connection.open();
    if (FAILED(hr)) {
        return comStatus(hr);
    }
    const HRESULT deleted =
        withBstr(logonStartRequest.taskName, [&](BSTR name) { return connection.rootFolder->DeleteTask(name, 0); });
    // A task that is not there is already gone; one the service will not delete still starts
    // the program at logon, which the caller must hear of.
    if (deleted == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || deleted == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        return 0;
    }
    return FAILED(deleted) ? comStatus(deleted) : 0;
}
