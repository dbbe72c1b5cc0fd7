#include "app/TarvelApp.h"

#include "app/MarkerProbe.h"
#include "app/PassLock.h"
#include "app/SystemFacts.h"
#include "startup/LogonStart.h"
#include "startup/RunEntry.h"
#include "startup/TarvelTask.h"
#include "storage/PortPower.h"

#include <objbase.h>

namespace {
const char kMarkerPath[] = "C:\\Preload";
// A 32-bit program on 64-bit Windows looks for a marker of its own.
const char kMarkerPathWow64[] = "C:\\Preload64";

const DWORD kPortsOff = 0;
const DWORD kPortsOn = 1;

bool usesLogonTask(OsClass os) { return os == kOsWindowsVista || os == kOsWindows7; }

// A path the program could not read whole is never registered: it would start a wrong
// file, or none, at every logon.
void keepStartingAtLogon(OsClass os, const wchar_t* modulePath, bool haveModulePath)
{
    if (!haveModulePath) {
        return;
    }
    if (!usesLogonTask(os)) {
        registerRunEntry(modulePath);
        return;
    }
    CoInitialize(nullptr);
    if (IsLogonStartupEnabled(kTarvelTaskName) == 0) {
        EnableLogonStartup(kTarvelTaskName, kTarvelTaskAuthor, kTarvelTaskDescription, modulePath, 1);
    }
    CoUninitialize();
}

void stopStartingAtLogon(OsClass os)
{
    if (!usesLogonTask(os)) {
        unregisterRunEntry();
        return;
    }
    CoInitialize(nullptr);
    if (IsLogonStartupEnabled(kTarvelTaskName) != 0) {
        DisableLogonStartup(kTarvelTaskName);
    }
    CoUninitialize();
}
}  // namespace

CTarvelApp theApp;

BOOL CTarvelApp::InitInstance()
{
    wchar_t modulePath[MAX_PATH];
    const bool haveModulePath = readModulePath(modulePath);
    const char* markerPath = isWow64() ? kMarkerPathWow64 : kMarkerPath;
    // From the probe until the logon start-up is in line, no other pass may run.
    const PassLock passLock;
    const bool preload = markerPresent(markerPath);
    const OsClass os = classifyOs();

    // The ports come first, so that a failing start-up registration cannot hold them back.
    if (preload) {
        applyPortPowerSettings(kPortsOff);
        keepStartingAtLogon(os, modulePath, haveModulePath);
    } else {
        applyPortPowerSettings(kPortsOn);
        stopStartingAtLogon(os);
    }
    return FALSE;
}
