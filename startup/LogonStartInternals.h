#pragma once
// What the LogonStart operations share with their worker threads, and the few platform
// calls that tests may redirect to produce failures Wine cannot.
#include "startup/LogonStart.h"

#include <objbase.h>

// Filled by the operations before a worker starts; read by that worker only.
extern LogonStartRequest logonStartRequest;

DWORD WINAPI enableWorker(LPVOID);
DWORD WINAPI queryWorker(LPVOID);
DWORD WINAPI disableWorker(LPVOID);

struct LogonStartPlatform {
    decltype(&CoInitializeSecurity) coInitializeSecurity;
    decltype(&CreateThread) createThread;
};
// The real functions unless a test has changed them.
extern LogonStartPlatform logonStartPlatform;

// For a test that has let a hung call go: waits at most timeoutMs for the worker left running to
// end, then takes requests again. False while it still runs.
bool reclaimWorkerLeftRunning(DWORD timeoutMs);

// Reads the module's messages; the program itself never sets one.
using LogonStartListener = void (*)(const wchar_t* message, HRESULT status);
void setLogonStartListener(LogonStartListener listener);

// Reports "<LogonStart> <operation> - <text>".
void traceLogonStartFailure(const wchar_t* operation, const wchar_t* text, HRESULT status);
