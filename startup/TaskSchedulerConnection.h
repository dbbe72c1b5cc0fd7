#pragma once
// Each worker's way into the Task Scheduler: joins the multithreaded apartment, sets the
// process's COM security, connects to the local service and opens the root folder.
#include <windows.h>
#include <taskschd.h>
#include <wrl/client.h>

#include "common/platform/Owners.h"

class TaskSchedulerConnection {
public:
    explicit TaskSchedulerConnection(const wchar_t* operation) : operation_(operation) {}
    // Releases the service, then the root folder, then leaves COM if this worker joined it.
    ~TaskSchedulerConnection();
    TaskSchedulerConnection(const TaskSchedulerConnection&) = delete;
    TaskSchedulerConnection& operator=(const TaskSchedulerConnection&) = delete;

    // S_OK with service and rootFolder set; otherwise a failing status, already reported.
    HRESULT open();

    // Reports "<LogonStart> <operation> - <text>" with status and hands status back.
    HRESULT failed(const wchar_t* text, HRESULT status) const;

    Microsoft::WRL::ComPtr<ITaskService> service;
    Microsoft::WRL::ComPtr<ITaskFolder> rootFolder;

private:
    const wchar_t* operation_;
    bool uninitializeAtEnd_ = false;
};

// A call that hands out an interface succeeded only if it really handed one out. The holder
// is read after the call has filled it, whatever order the arguments are evaluated in.
template <class Interface>
HRESULT receivedFrom(HRESULT status, const Microsoft::WRL::ComPtr<Interface>& received)
{
    if (FAILED(status)) {
        return status;
    }
    return received != nullptr ? S_OK : E_POINTER;
}

// Calls call(bstr) with a BSTR made from text for this call alone.
template <class Call>
HRESULT withBstr(const wchar_t* text, Call&& call)
{
    UniqueBstr value(text);
    if (!value.ok()) {
        return E_OUTOFMEMORY;
    }
    return call(value.get());
}
