// Whether the program a start-up names may be started with administrators' rights: on a local
// fixed drive, and changed by administrators only, itself and every folder it lies in. Whoever
// can replace the program, or rename a folder above it and put their own in its place, runs
// their own program at logon, on 6.0/6.1 with the highest rights. No pass mends any of it: the
// pass registers its own path, wherever that lies.
#include "check/MachineCheck.h"

#include "common/trust/Trust.h"

namespace {

const char* kindName(ObjectKind kind) { return kind == ObjectKind::File ? "program" : "folder"; }

void reportFinding(Report& report, const StartFinding& finding)
{
    const char* way = finding.realWay ? ", on the real path" : "";
    Text what;
    Text found;
    if (finding.isDrive) {
        what << "start-up: drive " << finding.path << way;
        report.line(what, driveKindWords(DriveKind::LocalFixed), driveKindWords(finding.drive), finding.trusted,
                    Mender::Administrator);
        return;
    }
    what << "start-up: " << kindName(finding.kind) << " " << finding.path << way;
    if (finding.unfollowedLink) {
        found << kUnfollowedLink;
    } else if (finding.changer.found) {
        found << changeWords(finding.changer.how) << " " << finding.changer.account;
    } else {
        found << "changed by administrators only";
    }
    report.line(what, "changed by administrators only", found, finding.trusted, Mender::Administrator);
}

}  // namespace

Status checkNotReplaceable(Report& report, const wchar_t* program)
{
    return judgeStart(program, ObjectKind::File, machineStartReader(), [&](const StartFinding& finding) {
        reportFinding(report, finding);
        return true;
    });
}
