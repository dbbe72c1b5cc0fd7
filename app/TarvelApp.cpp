#include "app/TarvelApp.h"

#include "app/SystemFacts.h"
#include "startup/LogonStart.h"
#include "startup/RunEntry.h"
#include "storage/PortPower.h"

#include <shlobj.h>

namespace {
const char kMarkerPath[] = "C:\\Preload";
// A 32-bit program on 64-bit Windows looks for a marker of its own.
const char kMarkerPathWow64[] = "C:\\Preload64";

const wchar_t kTaskName[] = L"Ombrix Tarvel";
const wchar_t kTaskAuthor[] = L"Kelm, Feldane";
const wchar_t kTaskDescription[] = L"A tool for handle Intel storage settings";

const DWORD kPortsOff = 0;
const DWORD kPortsOn = 1;

// Creating the marker is the test for it: anything but a fresh directory, be it the marker
// itself, a file of that name or a refusal, keeps the machine in preload mode.
bool markerPresent(const char* markerPath)
{
    if (SHCreateDirectoryExA(nullptr, markerPath, nullptr) != ERROR_SUCCESS) {
        return true;
    }
    RemoveDirectoryA(markerPath);
    return false;
}

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
    if (IsLogonStartupEnabled(kTaskName) == 0) {
        EnableLogonStartup(kTaskName, kTaskAuthor, kTaskDescription, modulePath, 1);
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
    if (IsLogonStartupEnabled(kTaskName) != 0) {
        DisableLogonStartup(kTaskName);
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
