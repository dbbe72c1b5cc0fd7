// Whether the program a start-up names, or any folder it lies in, can be changed by others
// than administrators: whoever can replace the program, or rename a folder above it and put
// their own in its place, runs their own program at logon, on 6.0/6.1 with the highest rights.
#include "check/MachineCheck.h"

#include "common/ChangeRights.h"

namespace {

const char* kindName(ObjectKind kind) { return kind == ObjectKind::File ? "program" : "folder"; }

}  // namespace

DWORD checkNotReplaceable(Report& report, const wchar_t* program)
{
    DWORD failure = ERROR_SUCCESS;
    walkUp(program, ObjectKind::File, machineJudge(),
           [&](const wchar_t* path, ObjectKind kind, DWORD status, const Changer& changer) {
               if (status != ERROR_SUCCESS) {
                   failure = status;
                   return false;
               }
               Text what;
               what << "start-up: " << kindName(kind) << " " << path;
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
