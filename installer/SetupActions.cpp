// Windows Installer custom actions of the tarvel package, built from the program's own
// start-up code so that uninstalling removes exactly what a pass registers.
#include "common/PassLock.h"
#include "startup/LogonStart.h"
#include "startup/RunEntry.h"
#include "startup/TarvelTask.h"

#include <windows.h>
#include <msi.h>
#include <objbase.h>

// Uninstall: once the program is gone nothing may try to start it at logon. Install: the
// pass that follows registers the installed path afresh. Both kinds of logon start-up go,
// whatever the release: a machine may have been upgraded since the pass registered one, and
// the module refuses the task at once where there is no Task Scheduler 2.0. The port values
// and the marker belong to the machine and stay as they are.
extern "C" UINT WINAPI RemoveLogonStartup(MSIHANDLE)
{
    // A pass already past its probe would register the start-up again right after us.
    const PassLock passLock;
    unregisterRunEntry();
    const HRESULT initialized = CoInitialize(nullptr);
    DisableLogonStartup(kTarvelTaskName);
    if (SUCCEEDED(initialized)) {
        CoUninitialize();
    }
    // Uninstalling must never fail for want of a start-up that is already gone.
    return ERROR_SUCCESS;
}
