// tarvel-check: tells whether this machine is as its marker asks, without changing it. It
// looks at the marker rather than probing it, reads the port switches and the logon
// start-up, and prints one line per check. Exit status: 0 as asked, 1 when anything
// differs, else the status of what kept it from checking.
#include "check/MachineCheck.h"
#include "common/platform/SystemFacts.h"
#include "common/product/Marker.h"
#include "common/product/Deadlines.h"
#include "storage/PortPower.h"

namespace {

// Judging a start-up looks up accounts; the Task Scheduler has its own deadline. The whole
// check ends within the two together.
const DWORD kWholeCheckMs = kTaskSchedulerAnswerMs + kAccountLookupsMs;
const char kLookupsSilent[] = "tarvel-check: " TARVEL_ACCOUNT_LOOKUPS_SILENT;
const char kTaskSchedulerSilentLine[] = "tarvel-check: " TARVEL_TASK_SCHEDULER_SILENT;

// Outside any function, as what the checking thread reads: left running past the bound, it
// may still read them while the process ends.
Report report;
struct Checking {
    bool preload;
    Status failure;
} checkingState;

DWORD WINAPI checkMachine(LPVOID parameter)
{
    auto* checking = static_cast<Checking*>(parameter);
    Status failure = checkPorts(report, checking->preload ? kPortsOff : kPortsOn);
    // The start-up a pass would leave: what it does not make so, the check does not ask.
    const WantedStartup wanted = wantedStartup(classifyOs(), isVistaOrLater(), checking->preload);
    if (failure == ERROR_SUCCESS) {
        failure = checkRunValue(report, wanted.runValue);
    }
    if (failure == ERROR_SUCCESS && wanted.task != TaskWanted::NotLookedAt) {
        failure = checkLogonTask(report, wanted.task);
    }
    checking->failure = failure;
    return 0;
}

}  // namespace

int main()
{
    // Anything of the marker's name counts, as the pass's probe counts it.
    const char* marker = markerPath();
    const bool preload = GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES;
    const char* mode = preload ? "preload mode" : "normal mode";
    Text line;
    line << "marker " << marker << ": " << (preload ? "present" : "absent") << " (" << mode << ")";
    report.note(line);

    checkingState.preload = preload;
    Status status = 0;
    UniqueHandle leftRunning;
    const WorkerEnd end = runWorker(checkMachine, &checkingState, kWholeCheckMs, status, leftRunning);
    if (end == WorkerEnd::NotStarted) {
        return report.finish(mode, status);
    }
    if (end == WorkerEnd::LeftRunning) {
        // What ran out is what the checking thread waits for now: slow lookups may have left the
        // Task Scheduler less than its own deadline.
        const bool taskScheduler = waitingForTaskScheduler();
        report.closeToOtherThreads();
        report.note(taskScheduler ? kTaskSchedulerSilentLine : kLookupsSilent);
        return report.finish(mode, kTaskSchedulerTimedOut);
    }
    return report.finish(mode, checkingState.failure);
}
