#pragma once
// Every pass tells its outcome in the Application event log, source "Tarvel": on the Run-key
// releases Explorer starts the program at logon and drops its exit status, so the log is
// where administrators, and what collects it for them, see what a pass did.
#include "common/platform/Status.h"

#include <windows.h>

// Administrators filter on these: they never change. res/tarvel_events.mc gives each its
// sentence.
const DWORD kEventPreloadPassDone = 1000;
const DWORD kEventNormalPassDone = 1001;
const DWORD kEventPassFailed = 1002;

// The steps of a pass, in their order; the first that failed is the pass's status.
enum class PassStep { None, Probe, Ports, Startup };

// What went wrong first: every step is attempted whatever failed before it, and the first
// failure, of the pass or of the calls of one step, is the one reported.
class PassResult {
public:
    void note(PassStep step, Status status)
    {
        if (status_ == ERROR_SUCCESS && status != ERROR_SUCCESS) {
            status_ = status;
            failedStep_ = step;
        }
    }
    Status status() const { return status_; }
    PassStep failedStep() const { return failedStep_; }

private:
    Status status_ = ERROR_SUCCESS;
    PassStep failedStep_ = PassStep::None;
};

struct PassOutcome {
    bool preload = false;
    const char* markerPath = "";
    DWORD portValue = 0;
    const wchar_t* startup = L"";  // what became of the logon start-up
    PassResult result;
};

// One event, written and let go: a log that cannot be written changes nothing of the pass.
void reportPassOutcome(const PassOutcome& outcome);
