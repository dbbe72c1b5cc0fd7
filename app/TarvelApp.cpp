#include "app/TarvelApp.h"

#include "app/MarkerProbe.h"
#include "app/PassEvent.h"
#include "common/product/PassLock.h"
#include "common/platform/Paths.h"
#include "common/platform/SystemFacts.h"
#include "common/product/Marker.h"
#include "common/product/Deadlines.h"
#include "common/text/TextLine.h"
#include "startup/LogonStart.h"
#include "startup/RunEntry.h"
#include "startup/StartupPolicy.h"
#include "startup/TarvelTask.h"
#include "storage/PortPower.h"

#include <objbase.h>

namespace {

// The pass's outcome, for its event and its exit status: the application object adds no
// fields, and ExitInstance, which gives the exit status, runs after InitInstance has ended.
PassResult passResult;

// An active task that is in place for this very program is already what preload mode asks
// for; one that starts another copy, or with other rights, is replaced. A Task Scheduler that
// did not answer the question in time is asked nothing more: the pass ends.
Status keepTaskInPlace(const wchar_t* modulePath)
{
    const ComJoin com;
    const LONG active = IsLogonStartupEnabled(kTarvelTaskName, modulePath);
    if (logonStartTimedOut()) {
        return kTaskSchedulerTimedOut;
    }
    // The module answers in COM's kind.
    return active == 0 ? comStatus(EnableLogonStartup(kTarvelTaskName, kTarvelTaskAuthor, kTarvelTaskDescription,
                                                      modulePath, 1))
                       : ERROR_SUCCESS;
}

// Whatever program an active task starts, it must not start at logon any more. The query
// answers 0 both for "no active task" and for "could not ask": either way there is nothing
// this pass could delete, so both read as success, and neither as a removal. A query that got
// no answer in time is a failure: the task may be active and stay so.
Status removeActiveTask(bool& removed)
{
    const ComJoin com;
    const LONG active = IsLogonStartupEnabled(kTarvelTaskName);
    if (logonStartTimedOut()) {
        return kTaskSchedulerTimedOut;
    }
    if (active == 0) {
        return ERROR_SUCCESS;
    }
    const Status status = comStatus(DisableLogonStartup(kTarvelTaskName));
    removed = status == ERROR_SUCCESS;
    return status;
}

// Makes the logon start-up the one the release and mode want: exactly one start-up in
// preload mode, none in normal mode. A path the program could not read whole is never
// registered: it would start a wrong file, or none, at logon. removed says whether the pass
// deleted a start-up.
Status bringStartupInLine(const WantedStartup& wanted, const wchar_t* modulePath, bool haveModulePath, bool& removed)
{
    if (registersStartup(wanted) && !haveModulePath) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    Status status = ERROR_SUCCESS;
    // One deadline for the question and the registering or deleting together: a slow answer
    // leaves the next call only what remains.
    startTaskSchedulerDeadline();
    if (wanted.task == TaskWanted::InPlace) {
        status = keepTaskInPlace(modulePath);
    } else if (wanted.task == TaskWanted::NoActiveTask) {
        status = removeActiveTask(removed);
    }
    bool runRemoved = false;
    const Status run = wanted.runValue ? registerRunEntry(modulePath) : unregisterRunEntry(&runRemoved);
    bool nativeRemoved = false;
    const Status native = removeNativeRunEntry(&nativeRemoved);
    removed = removed || runRemoved || nativeRemoved;
    PassResult startup;
    startup.note(PassStep::Startup, status);
    startup.note(PassStep::Startup, run);
    startup.note(PassStep::Startup, native);
    return startup.status();
}

// What became of the logon start-up, as the pass's event tells it: "removed" only for what
// the pass deleted, so that a Task Scheduler out of reach never reads as a removal.
void describeStartup(const WantedStartup& wanted, Status status, bool removed, const wchar_t* startupPath,
                     const wchar_t* modulePath, wchar_t (&text)[2 * MAX_PATH + 64])
{
    // Room for the longest: two paths and the words around them.
    TextBuilder out(text, 2 * MAX_PATH + 64);
    if (status == kTaskSchedulerTimedOut) {
        out << L"failed: " << kTaskSchedulerSilent;
    } else if (status != ERROR_SUCCESS) {
        out << L"failed";
    } else if (registersStartup(wanted)) {
        out << (wanted.runValue ? L"registered as the Run value \"Tarvel\" for "
                                : L"registered as the task \"Ombrix Tarvel\" for ")
            << startupPath;
        // A path of this logon session alone (a subst or mapped drive) is not what was registered.
        if (!samePath(startupPath, modulePath)) {
            out << L" (started as " << modulePath << L")";
        }
    } else {
        out << (removed ? L"removed" : L"absent: no logon start-up found");
    }
}
}  // namespace

CTarvelApp theApp;

BOOL CTarvelApp::InitInstance()
{
    wchar_t modulePath[MAX_PATH];
    // What logon starts must exist at the next logon: not a drive letter of this session.
    wchar_t startupPath[MAX_PATH] = {};
    const bool haveModulePath = readModulePath(modulePath) && lastingPath(modulePath, startupPath);
    const char* marker = markerPath();
    // From the probe until the logon start-up is in line, no other pass may run.
    const PassLock passLock;
    Status probeFailure = ERROR_SUCCESS;
    const bool preload = markerPresent(marker, &probeFailure);
    const OsClass os = classifyOs();

    // A probe that could not create the marker for another reason than its presence still
    // means preload mode, but the machine may not be as the marker asks: the probe is the
    // first step. The ports come next, so that a failing start-up registration cannot hold
    // them back; every step is attempted whatever failed before it.
    passResult.note(PassStep::Probe, probeFailure);
    const DWORD portValue = preload ? kPortsOff : kPortsOn;
    passResult.note(PassStep::Ports, applyPortPowerSettings(portValue));
    const WantedStartup wanted = wantedStartup(os, isVistaOrLater(), preload);
    bool removed = false;
    const Status startupStatus = bringStartupInLine(wanted, startupPath, haveModulePath, removed);
    passResult.note(PassStep::Startup, startupStatus);

    wchar_t startup[2 * MAX_PATH + 64] = {};
    describeStartup(wanted, startupStatus, removed, startupPath, modulePath, startup);
    PassOutcome outcome;
    outcome.preload = preload;
    outcome.markerPath = marker;
    outcome.portValue = portValue;
    outcome.startup = startup;
    outcome.result = passResult;
    reportPassOutcome(outcome);
    return FALSE;
}

// What configuration managers, the Task Scheduler's "Last Run Result" and the installer's
// log show: whether the pass did its whole job. A probe directory left for the next restart,
// or a pass lock that could not be had, took nothing from the job and are no failure.
int CTarvelApp::ExitInstance()
{
    CWinApp::ExitInstance();
    return static_cast<int>(passResult.status());
}
