#include "kit/Programs.h"

#include "common/platform/Paths.h"
#include "common/platform/Process.h"
#include "common/platform/SystemFacts.h"
#include "common/platform/WellKnownSids.h"
#include "common/product/TarvelProgram.h"
#include "common/trust/Trust.h"

#include <initializer_list>

namespace {

// A pass ends within its own bounds, an install within the Installer's; past this the step
// is taken to hang and the kit goes on, so that a run always ends with its summary.
const DWORD kStepMs = 10 * 60 * 1000;

// Says why what the kit would run with an administrator's rights is refused.
void sayRefused(const KitSession& kit, const wchar_t* path, const Text& reason, bool package)
{
    Text line;
    if (package) {
        line << path << ", the package the kit installs, is refused: " << reason
             << ". Copy the whole kit into a folder that only administrators can change. Nothing was changed.";
    } else {
        line << path << ", which the kit runs with an administrator's rights, is refused: " << reason
             << ". Copy the whole kit into a folder on a local fixed drive that only administrators can change, "
                "and run it from there. Nothing was changed.";
    }
    say(kit, line);
}

// The kit's folder (name null) or a tarvel program of it, judged as the kit will run it.
bool kitPartIsTrusted(const KitSession& kit, const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    lstrcpynW(path, kit.folder, MAX_PATH);
    if (name != nullptr) {
        appendText(path, MAX_PATH, name);
    }
    wchar_t version[kVersionText] = {};
    Text reason;
    if (name != nullptr && !isTarvelProgram(path, version, name)) {
        reason << "it is no tarvel program";
    } else if (trustedToStart(path, name != nullptr ? ObjectKind::File : ObjectKind::Folder, machineStartReader(),
                              reason)) {
        return true;
    }
    sayRefused(kit, path, reason, false);
    return false;
}

// "application" arguments, whole: CreateProcessW may write into the command line.
bool commandLine(const wchar_t* application, const wchar_t* arguments, wchar_t (&line)[2 * MAX_PATH + 64])
{
    const size_t room = sizeof line / sizeof line[0];
    lstrcpynW(line, L"\"", static_cast<int>(room));
    return appendText(line, room, application) && appendText(line, room, L"\" ") && appendText(line, room, arguments);
}

// Starts line's program with no console input and waits for it.
bool startAndWait(const wchar_t* application, wchar_t* line, HANDLE output, DWORD& status, Text& problem)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const UniqueHandle nothing =
        ownHandle(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              OPEN_EXISTING, 0, nullptr));
    // No step waits for console input: it reads from NUL.
    const HANDLE kept = output != nullptr ? output : nothing.get();
    const StandardHandles handles = {nothing.get(), kept, kept};
    const ProgramEnd end = startProgramAndWait(application, line, kStepMs, &handles, status);
    if (end == ProgramEnd::NotStarted) {
        wchar_t code[kNumberText] = {};
        writeDecimal(status, code);
        problem << "it could not be started, error " << code;
    } else if (end == ProgramEnd::StillRunning) {
        problem << "it did not end within 10 minutes";
    }
    return end == ProgramEnd::Ended;
}

}  // namespace

bool holdJudged(const wchar_t* path, UniqueHandle& held, Text& problem)
{
    held = ownHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held) {
        problem << "it could not be opened to be judged, error " << static_cast<int>(lastErrorStatus());
        return false;
    }
    Text reason;
    if (!trustedHeldFile(path, held.get(), machineStartReader(), reason)) {
        problem << "it may not be started with an administrator's rights: " << reason;
        held.reset();
        return false;
    }
    return true;
}

bool runsAsAdministrator(const KitSession& kit)
{
    const UniqueSid administrators = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    BOOL member = FALSE;
    if (administrators && CheckTokenMembership(nullptr, administrators.get(), &member) && member) {
        return true;
    }
    say(kit, Text("run this from an elevated command prompt (Run as administrator)."));
    return false;
}

bool kitIsWhole(const KitSession& kit)
{
    for (const wchar_t* file : {kKitProgram, kKitCheck, kKitRestore}) {
        wchar_t path[MAX_PATH] = {};
        if (!kitFile(kit, file, path) || !fileExists(path)) {
            Text line;
            line << file << " is not beside acceptance.cmd.";
            say(kit, line);
            return false;
        }
    }
    return true;
}

bool kitIsTrusted(const KitSession& kit, const wchar_t* package)
{
    for (const wchar_t* name : {static_cast<const wchar_t*>(nullptr), kKitProgram, kKitCheck}) {
        if (!kitPartIsTrusted(kit, name)) {
            return false;
        }
    }
    Text reason;
    if (package != nullptr && package[0] != L'\0' &&
        !trustedToStart(package, ObjectKind::File, machineStartReader(), reason)) {
        sayRefused(kit, package, reason, true);
        return false;
    }
    return true;
}

bool runStep(const wchar_t* application, const wchar_t* arguments, HANDLE output, DWORD& status, Text& problem)
{
    wchar_t line[2 * MAX_PATH + 64] = {};
    if (!commandLine(application, arguments, line)) {
        problem << "its command line is too long";
        return false;
    }
    // The file judged is the file started: held against writes, renames and deletion from before
    // its judgement until its process has ended.
    UniqueHandle held;
    if (!holdJudged(application, held, problem)) {
        return false;
    }
    return startAndWait(application, line, output, status, problem);
}

bool runMsiexec(const wchar_t* arguments, DWORD& status, Text& problem)
{
    wchar_t msiexec[MAX_PATH] = {};
    if (!systemFolderPath(L"msiexec.exe", msiexec)) {
        problem << "the system folder's msiexec.exe has no path that fits";
        return false;
    }
    return runStep(msiexec, arguments, nullptr, status, problem);
}

bool mayStart(const wchar_t* program, Text& reason)
{
    wchar_t version[kVersionText] = {};
    if (!fileExists(program)) {
        reason << "it is not there";
        return false;
    }
    if (!isTarvelProgram(program, version)) {
        reason << "it is no tarvel program";
        return false;
    }
    return trustedToStart(program, ObjectKind::File, machineStartReader(), reason);
}

bool isInKitFolder(const KitSession& kit, const wchar_t* program)
{
    wchar_t folder[MAX_PATH + 1] = {};
    lstrcpynW(folder, program, MAX_PATH + 1);
    ObjectKind kind = ObjectKind::File;
    if (samePath(folder, kit.own) ||
        (toParentFolder(folder, kind) && (samePath(folder, kit.folder) || sameObject(folder, kit.folder)))) {
        return true;
    }
    // Behind a symbolic link or a junction the file is the kit's own, which leaves with the
    // engineer; a hard link has a path of its own, and outlives the kit's folder.
    wchar_t real[MAX_PATH] = {};
    wchar_t realOwn[MAX_PATH] = {};
    return finalPath(program, real) && finalPath(kit.own, realOwn) && samePath(real, realOwn);
}
