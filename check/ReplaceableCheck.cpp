// Whether the program a start-up names, or any folder it lies in, can be changed by others
// than administrators: whoever can replace the program, or rename a folder above it and put
// their own in its place, runs their own program at logon, on 6.0/6.1 with the highest rights.
#include "check/MachineCheck.h"

#include "common/ChangeRights.h"

#include <cwchar>

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
    const size_t root = pathRootLength(folder);
    while (status == ERROR_SUCCESS) {
        wchar_t* slash = std::wcsrchr(folder, L'\\');
        if (slash == nullptr) {
            break;
        }
        if (root != 0 && static_cast<size_t>(slash - folder) < root) {
            // The root keeps its backslash: "C:" alone names the current folder of drive C:.
            folder[root] = L'\0';
            return checkOne(report, "folder", folder, ObjectKind::Root);
        }
        *slash = L'\0';
        status = checkOne(report, "folder", folder, ObjectKind::Folder);
    }
    return status;
}
