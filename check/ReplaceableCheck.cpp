// Whether the program a start-up names, or any folder it lies in, can be changed by others
// than administrators: whoever can replace the program, or rename a folder above it and put
// their own in its place, runs their own program at logon, on 6.0/6.1 with the highest rights.
#include "check/MachineCheck.h"

#include "common/ChangeRights.h"

namespace {

const char* kindName(ObjectKind kind) { return kind == ObjectKind::File ? "program" : "folder"; }

}  // namespace

namespace {

// The program and every folder above it, on one way to it; way names it in each line.
DWORD judgeWay(Report& report, const wchar_t* program, const char* way)
{
    DWORD failure = ERROR_SUCCESS;
    walkUp(program, ObjectKind::File, machineJudge(),
           [&](const wchar_t* path, ObjectKind kind, DWORD status, const Changer& changer) {
               if (status != ERROR_SUCCESS) {
                   failure = status;
                   return false;
               }
               Text what;
               what << "start-up: " << kindName(kind) << " " << path << way;
               Text found;
               if (changer.found) {
                   found << changer.how << " " << changer.account;
               } else {
                   found << "changed by administrators only";
               }
               report.line(what, "changed by administrators only", found, !changer.found);
               return true;
           });
    return failure;
}

}  // namespace

DWORD checkNotReplaceable(Report& report, const wchar_t* program)
{
    const DWORD failure = judgeWay(report, program, "");
    // Behind a link, a junction, a mounted folder or a subst drive lie other folders: whoever
    // may rename one of those puts another program in this one's place just as well.
    wchar_t real[MAX_PATH] = {};
    if (failure != ERROR_SUCCESS || !finalPath(program, real) || samePath(real, program)) {
        return failure;
    }
    return judgeWay(report, real, ", on the real path");
}
