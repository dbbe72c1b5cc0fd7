// The stand-in as an in-process COM server, registered under CLSID_TaskScheduler in a test
// prefix so that the unmodified tarvel.exe reaches it through CoCreateInstance.
#include "standin/taskscheduler/TaskSchedulerStandIn.h"

namespace {
const CLSID kTaskSchedulerClsid = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (clsid != kTaskSchedulerClsid) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return standin::classFactory()->QueryInterface(iid, out);
}

// Stays loaded: its registry state is all it keeps, and unloading gains the tests nothing.
extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

extern "C" LONG WINAPI StandInLiveObjects() { return standin::liveObjects(); }
