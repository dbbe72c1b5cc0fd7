// The stand-in as an in-process COM server, registered under CLSID_TaskScheduler in a test
// prefix so that the unmodified tarvel.exe reaches it through CoCreateInstance.
#include "standin/taskscheduler/TaskSchedulerStandIn.h"

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (clsid != standin::kTaskSchedulerClsid) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return standin::classFactory()->QueryInterface(iid, out);
}

// Stays loaded: its registry state is all it keeps, and unloading gains the tests nothing.
extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

extern "C" LONG WINAPI StandInLiveObjects() { return standin::liveObjects(); }
