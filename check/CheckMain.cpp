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
    report.note(line.c_str());

    DWORD failure = checkPorts(report, preload ? kPortsOff : kPortsOn);
    if (failure == ERROR_SUCCESS) {
        const OsClass os = classifyOs();
        failure = checkRunValue(report, preload && !usesLogonTask(os));
        // Where there is a Task Scheduler 2.0, a task left by an older release (an in-place
        // upgrade from Windows 7) still starts the program; in preload mode on 6.0 and 6.1
        // the task is the start-up.
        if (failure == ERROR_SUCCESS && usesLogonTask(os) && preload) {
            failure = static_cast<DWORD>(checkLogonTask(report, TaskWanted::InPlace));
        } else if (failure == ERROR_SUCCESS && isVistaOrLater() && !preload) {
            failure = static_cast<DWORD>(checkLogonTask(report, TaskWanted::NoActiveTask));
        }
    }
    return report.finish(mode, failure);
}
