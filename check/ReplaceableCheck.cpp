// Whether the program a start-up names, or any folder it lies in, can be changed by others
// than administrators: whoever can replace the program, or rename a folder above it and put
// their own in its place, runs their own program at logon, on 6.0/6.1 with the highest rights.
#include "check/MachineCheck.h"

#include "common/ChangeRights.h"

namespace {

DWORD checkOne(Report& report, const char* kind, const wchar_t* path, ObjectKind objectKind)
{
    Changer changer;
    const DWORD status = untrustedChangerOf(path, objectKind, changer);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Text what;
    what << "start-up: " << kind << " " << path;
    Text found;
    if (changer.found) {
        found << changer.how << " " << changer.account;
    } else {
        found << "changed by administrators only";
    }
    report.line(what.c_str(), "changed by administrators only", found.c_str(), !changer.found);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD checkNotReplaceable(Report& report, const wchar_t* program)
{
    DWORD status = checkOne(report, "program", program, ObjectKind::File);
    wchar_t folder[MAX_PATH + 1] = {};
    lstrcpynW(folder, program, MAX_PATH + 1);
    ObjectKind kind = ObjectKind::Folder;
    while (status == ERROR_SUCCESS && toParentFolder(folder, kind)) {
        status = checkOne(report, "folder", folder, kind);
    }
    return status;
}
