#include "startup/TaskSchedulerConnection.h"

#include "common/platform/Owners.h"
#include "startup/LogonStartInternals.h"

namespace {
const CLSID kClsidTaskScheduler = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
const IID kIidTaskService = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};
const wchar_t kRootFolderPath[] = L"\\";
}  // namespace

TaskSchedulerConnection::~TaskSchedulerConnection()
{
    service.Reset();
    rootFolder.Reset();
    if (uninitializeAtEnd_) {
        CoUninitialize();
    }
}

HRESULT TaskSchedulerConnection::failed(const wchar_t* text, HRESULT status) const
{
    traceLogonStartFailure(operation_, text, status);
    return status;
}

HRESULT TaskSchedulerConnection::open()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
        return failed(L"CoInitializeEx failed: %x", hr);
    }
    // A thread already in a single-threaded apartment (RPC_E_CHANGED_MODE) gained no COM
    // reference here; leaving COM for it would tear that apartment down.
    uninitializeAtEnd_ = SUCCEEDED(hr);
    // S_FALSE: this thread was already in the multithreaded apartment, so whoever put it there
    // has set the process's security.
    if (hr != S_FALSE) {
        hr = logonStartPlatform.coInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                                     RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        // Security is process-wide: every worker after the first meets RPC_E_TOO_LATE.
        if (FAILED(hr) && hr != RPC_E_TOO_LATE) {
            return failed(L"CoInitializeSecurity failed: %x", hr);
        }
    }

    hr = CoCreateInstance(kClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, kIidTaskService,
                          reinterpret_cast<void**>(service.ReleaseAndGetAddressOf()));
    hr = receivedFrom(hr, service);
    if (FAILED(hr)) {
        return failed(L"Failed to CoCreate an instance of the TaskService class: %x", hr);
    }

    {
        // Empty: the local machine, as this worker's own user.
        UniqueVariant server;
        UniqueVariant user;
        UniqueVariant domain;
        UniqueVariant password;
        hr = service->Connect(server.get(), user.get(), domain.get(), password.get());
    }
    if (FAILED(hr)) {
        service.Reset();
        return failed(L"ITaskService::Connect failed: %x", hr);
    }

    hr = withBstr(kRootFolderPath,
                  [&](BSTR path) { return service->GetFolder(path, rootFolder.ReleaseAndGetAddressOf()); });
    if (!rootFolder) {
        service.Reset();
        failed(L"Cannot get Root Folder pointer: %x", hr);
        // No folder is a failure even when the status says otherwise.
        return FAILED(hr) ? hr : E_POINTER;
    }
    return S_OK;
}
