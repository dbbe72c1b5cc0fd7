// The floor of a logon task pass: the plain floor, plus COM and the Task Scheduler as the
// logon task path must reach them, whoever writes it: COM on the main thread, and a worker
// thread in the multithreaded apartment that sets the process's COM security, connects,
// opens the root folder and looks the task up.
#include <windows.h>
#include <shlobj.h>
#include <taskschd.h>
#include <wrl/client.h>

namespace {
DWORD WINAPI lookUpTask(LPVOID)
{
    const CLSID taskScheduler = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE,
                         nullptr, EOAC_NONE, nullptr);
    {
        Microsoft::WRL::ComPtr<ITaskService> service;
        Microsoft::WRL::ComPtr<ITaskFolder> root;
        Microsoft::WRL::ComPtr<IRegisteredTask> task;
        VARIANT empty;
        VariantInit(&empty);
        BSTR rootPath = SysAllocString(L"\\");
        BSTR taskPath = SysAllocString(L"\\Ombrix Tarvel");
        if (SUCCEEDED(CoCreateInstance(taskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&service))) &&
            SUCCEEDED(service->Connect(empty, empty, empty, empty)) && SUCCEEDED(service->GetFolder(rootPath, &root))) {
            root->GetTask(taskPath, &task);
        }
        SysFreeString(taskPath);
        SysFreeString(rootPath);
    }
    CoUninitialize();
    return 0;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    volatile bool never = false;
    if (never) {
        RegCloseKey(HKEY_LOCAL_MACHINE);
        SHCreateDirectoryExA(nullptr, "", nullptr);
    }
    CoInitialize(nullptr);
    HANDLE worker = CreateThread(nullptr, 0, lookUpTask, nullptr, 0, nullptr);
    if (worker != nullptr) {
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
    }
    CoUninitialize();
    return 0;
}
