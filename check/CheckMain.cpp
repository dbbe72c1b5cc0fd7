// tarvel-check: tells whether this machine is as its marker asks, without changing it. It
// looks at the marker rather than probing it, reads the port switches and the logon
// start-up, and prints one line per check. Exit status: 0 as asked, 1 when anything
// differs, else the status of what kept it from checking.
#include "check/MachineCheck.h"
#include "common/SystemFacts.h"
#include "storage/PortPower.h"

int main()
{
    // Anything of the marker's name counts, as the pass's probe counts it.
    const char* marker = markerPath();
    const bool preload = GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES;
    const char* mode = preload ? "preload mode" : "normal mode";
    Report report;
    Text line;
    line << "marker " << marker << ": " << (preload ? "present" : "absent") << " (" << mode << ")";
    report.note(line);

    DWORD failure = checkPorts(report, preload ? kPortsOff : kPortsOn);
    // The start-up a pass would leave: what it does not make so, the check does not ask.
    const WantedStartup wanted = wantedStartup(classifyOs(), isVistaOrLater(), preload);
    if (failure == ERROR_SUCCESS) {
        failure = checkRunValue(report, wanted.runValue);
    }
    if (failure == ERROR_SUCCESS && wanted.task != TaskWanted::NotLookedAt) {
        failure = static_cast<DWORD>(checkLogonTask(report, wanted.task));
    }
    return report.finish(mode, failure);
}
