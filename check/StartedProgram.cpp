// The program a start-up starts: it must be there and be a tarvel program for the start-up to
// start a pass at all.
#include "check/MachineCheck.h"

#include "common/product/TarvelProgram.h"

Status checkStartedProgram(Report& report, const char* what, const wchar_t* program, const wchar_t* arguments)
{
    // Logon starts it from the system folder, not from wherever the check runs.
    if (program[0] != L'\0' && isRelativePath(program)) {
        Text found;
        found << program << " (a relative path, which logon looks for in the system folder)";
        report.line(what, "an existing tarvel program", found, false);
        return ERROR_SUCCESS;
    }
    const bool exists = program[0] != L'\0' && fileExists(program);
    wchar_t versionText[kVersionText] = {};
    const bool tarvel = exists && isTarvelProgram(program, versionText);
    Text version;
    version << versionText;
    Text found;
    found << program << " (" << (!exists ? Text("missing") : tarvel ? version : Text("not tarvel")) << ")";
    if (arguments[0] != L'\0') {
        found << ", with the arguments " << arguments;
    }
    report.line(what, "an existing tarvel program", found, tarvel);
    return tarvel ? checkNotReplaceable(report, program) : ERROR_SUCCESS;
}
