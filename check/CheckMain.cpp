// tarvel-check: tells whether this machine is as its marker asks, without changing it. It
// looks at the marker rather than probing it, reads the port switches and the logon
// start-up, and prints one line per check. Exit status: 0 as asked, 1 when anything a pass
// mends differs, kDiffersForAdministrator when only what no pass mends differs, else the
// status of what kept it from checking. "/expect:preload" or "/expect:normal", or else the
// policy "ExpectedMode", names the mode the machine should be in: a machine in the other one
// differs too, so that no script reads a line.
#include "check/ExpectedMode.h"
#include "check/MachineCheck.h"
#include "common/platform/SystemFacts.h"
#include "common/product/Marker.h"
#include "common/product/AccountLookups.h"
#include "common/product/Deadlines.h"
#include "storage/PortPower.h"

namespace {

// Judging a start-up looks up accounts; the Task Scheduler has its own deadline. The whole
// check ends within the two together.
const DWORD kWholeCheckMs = kTaskSchedulerAnswerMs + kAccountLookupsMs;
const char kLookupsSilent[] = "tarvel-check: " TARVEL_ACCOUNT_LOOKUPS_SILENT;
const char kTaskSchedulerSilentLine[] = "tarvel-check: " TARVEL_TASK_SCHEDULER_SILENT;
const char kUsage[] = "tarvel-check: usage: tarvel-check.exe [/expect:preload | /expect:normal | /?]";
const char kUsagePolicy[] =
    "tarvel-check: without /expect:, the mode the policy HKLM\\SOFTWARE\\Policies\\Ombrix\\Tarvel "
    "\"ExpectedMode\" sets, when it is set";

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

// The marker of the other kind of Windows (C:\Preload64 on 32-bit Windows, C:\Preload on
// 64-bit), which no pass here reads: a note, so that nobody takes it for this machine's.
void noteOtherMarker(const char* marker)
{
    const char* other = isWow64() ? "C:\\Preload" : "C:\\Preload64";
    if (GetFileAttributesA(other) != INVALID_FILE_ATTRIBUTES) {
        Text line;
        line << "note: " << other << " is present, but it is not the marker this machine reads (" << marker << ")";
        report.note(line);
    }
}

}  // namespace

int main()
{
    const CommandLineAsk ask = readCommandLine();
    if (ask.asked != Asked::Check) {
        report.note(kUsage);
        report.note(kUsagePolicy);
        return ask.asked == Asked::Usage ? 0 : ERROR_INVALID_PARAMETER;
    }
    // Anything of the marker's name counts, as the pass's probe counts it.
    const char* marker = markerPath();
    const bool preload = GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES;
    const char* mode = preload ? "preload mode" : "normal mode";
    Text line;
    line << "marker " << marker << ": " << (preload ? "present" : "absent") << " (" << mode << ")";
    report.note(line);
    noteOtherMarker(marker);
    // The marker is an administrator's to set or remove: no pass mends the mode.
    const Status modeRead = checkExpectedMode(report, ask.expected, preload);
    if (modeRead != ERROR_SUCCESS) {
        return report.finish(mode, modeRead);
    }

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
