// The floor of a logon task pass: the plain floor, plus what any pass on Windows 6.0/6.1 must
// do at least, whoever writes it: join COM, connect to the Task Scheduler, open the root
// folder and look the task up.
#include <windows.h>
#include <shlobj.h>
#include <taskschd.h>
#include <wrl/client.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    volatile bool never = false;
    if (never) {
        RegCloseKey(HKEY_LOCAL_MACHINE);
        SHCreateDirectoryExA(nullptr, "", nullptr);
    }
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
