#pragma once
// Every pass tells its outcome in the Application event log, source "Tarvel": on the Run-key
// releases Explorer starts the program at logon and drops its exit status, so the log is
// where administrators, and what collects it for them, see what a pass did.
#include <windows.h>

// Administrators filter on these: they never change. res/tarvel_events.mc gives each its
// sentence.
const DWORD kEventPreloadPassDone = 1000;
const DWORD kEventNormalPassDone = 1001;
const DWORD kEventPassFailed = 1002;

// The steps of a pass, in their order; the first that failed is the pass's status.
enum class PassStep { None, Probe, Ports, Startup };

struct PassOutcome {
    bool preload = false;
    const char* markerPath = "";
    DWORD portValue = 0;
    const wchar_t* startup = L"";  // what became of the logon start-up
    PassStep failedStep = PassStep::None;
    DWORD status = ERROR_SUCCESS;
};

// One event, written and let go: a log that cannot be written changes nothing of the pass.
void reportPassOutcome(const PassOutcome& outcome);
