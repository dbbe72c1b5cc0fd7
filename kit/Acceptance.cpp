// Acceptance of tarvel on a reference machine: the program through preload and normal mode, the
// package through install and uninstall, the machine checked with tarvel-check.exe after each
// step; then the marker as it was found and a last pass, and, when no product of the family is
// installed, the port switches as it found them. Before its first change the run records in the
// journal what restore needs to undo it, and it removes the record once its own undoing passed.
#include "kit/Acceptance.h"

#include "common/platform/Paths.h"
#include "kit/Journal.h"
#include "kit/MarkerChange.h"
#include "kit/PackageChange.h"
#include "kit/PortsChange.h"
#include "kit/Record.h"
#include "kit/StartupChange.h"
#include "kit/Programs.h"

#include <cwchar>

namespace {

struct AcceptanceRun {
    Kit& kit;
    MarkerState found = MarkerState::Absent;
    wchar_t program[MAX_PATH + 1] = {};  // the start-up's program to put back, or kNoProgram
    wchar_t last[MAX_PATH] = {};         // the last pass's program, or empty
    bool installed = false;
    wchar_t package[MAX_PATH] = {};
    int passed = 0;
    int failed = 0;
    // Set by a step whose failure may leave the machine unlike it was found: the record stays.
    bool keep = false;
    bool markerOk = true;
    bool preload = false;
    Journal journal;

    explicit AcceptanceRun(Kit& k) : kit(k) {}
};

void result(AcceptanceRun& run, const wchar_t* what, DWORD status)
{
    // Signed, as %errorlevel% shows an HRESULT.
    Text line;
    line << (status == 0 ? "PASS  " : "FAIL  ") << what << " (exit status " << static_cast<int>(status) << ")";
    ++(status == 0 ? run.passed : run.failed);
    say(run.kit, line);
}

void failure(AcceptanceRun& run, const wchar_t* what, const Text& why)
{
    ++run.failed;
    Text line;
    line << what << " (" << why << ")";
    sayFailure(run.kit, line);
}

// Each step's heading in the log; true when the step cannot run, with a FAIL line.
bool skipped(AcceptanceRun& run, const wchar_t* heading, const wchar_t* what)
{
    Text line;
    line << "--- " << heading;
    logLine(run.kit, line);
    if (run.markerOk) {
        return false;
    }
    failure(run, what, Text("not run: the marker is not as the step needs"));
    return true;
}

void marker(AcceptanceRun& run, bool present)
{
    run.preload = present;
    run.markerOk = setMarker(run.kit, run.found, present);
    if (!run.markerOk) {
        ++run.failed;
        run.keep = true;
    }
}

void pass(AcceptanceRun& run, const wchar_t* what, const wchar_t* program)
{
    if (skipped(run, what, what)) {
        return;
    }
    DWORD status = 0;
    Text problem;
    if (!runStep(program, L"", nullptr, status, problem)) {
        run.keep = true;
        failure(run, what, problem);
        return;
    }
    run.keep = run.keep || status != 0;
    result(run, what, status);
}

// What the check printed, for people, to the log.
void copyToLog(const Kit& kit, HANDLE output)
{
    if (!kit.log) {
        return;
    }
    SetFilePointer(output, 0, nullptr, FILE_BEGIN);
    // Piece by piece, however much the check printed.
    char printed[4096];
    DWORD length = 0;
    while (ReadFile(output, printed, sizeof printed, &length, nullptr) && length != 0) {
        DWORD written = 0;
        WriteFile(kit.log.get(), printed, length, &written, nullptr);
    }
}

// The check is given the mode the step expects and judged by its exit status alone, its lines
// kept in the log. noPorts: the ports are first set as a normal pass sets them, so that the
// check can say 0 only when no start-up of the program is left.
void check(AcceptanceRun& run, const wchar_t* what, bool noPorts = false)
{
    const Kit& kit = run.kit;
    if (skipped(run, what, what)) {
        return;
    }
    if (noPorts) {
        setPortsOn();
    }
    wchar_t lines[MAX_PATH] = {};
    kitFile(kit, L"logs\\check.txt", lines);
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const UniqueHandle output = ownHandle(CreateFileW(lines, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                                      &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) {
        failure(run, what, Text("its lines could not be kept in logs\\check.txt"));
        return;
    }
    DWORD status = 0;
    Text problem;
    const bool ended =
        runStep(kit.check, run.preload ? L"/expect:preload" : L"/expect:normal", output.get(), status, problem);
    copyToLog(kit, output.get());
    if (!ended) {
        failure(run, what, problem);
        return;
    }
    result(run, what, status);
}

void package(AcceptanceRun& run, const wchar_t* what, bool install)
{
    if (skipped(run, install ? L"install" : L"uninstall", what)) {
        return;
    }
    DWORD status = 0;
    Text problem;
    if (!runPackage(run.kit, run.package, install, status, problem)) {
        failure(run, what, problem);
        return;
    }
    result(run, what, status);
}

void installAndUninstall(AcceptanceRun& run)
{
    if (run.installed) {
        say(run.kit, Text("install and uninstall skipped: the product installed here stays as it is"));
        return;
    }
    if (run.package[0] == L'\0') {
        say(run.kit, Text("no package beside the kit: install and uninstall skipped"));
        return;
    }
    // Recorded before it is installed, or not installed: a run cut during the install leaves
    // restore the very product the package holds.
    wchar_t product[39] = {};
    Status recorded = packageProductCode(run.package, product);
    if (recorded == ERROR_SUCCESS) {
        recorded = recordProduct(run.journal.run.get(), product);
    }
    if (recorded != ERROR_SUCCESS) {
        Text why;
        why << "not run: its product code could not be read from the package and recorded in "
            << journalPath(kRecordName) << ", error " << recorded;
        failure(run, L"install of the package", why);
        return;
    }
    marker(run, true);
    package(run, L"install of the package", true);
    check(run, L"check after the install");
    package(run, L"uninstall of the package", false);
    // The package the kit installed is gone again: nothing for restore to uninstall.
    if (!familyInstalled()) {
        forgetProduct(run.journal.run.get());
    } else {
        run.keep = true;
        sayFailure(run.kit,
                   Text("Ombrix Tarvel, which the kit installed, is still installed: restore.cmd uninstalls it"));
    }
    marker(run, false);
    check(run, L"no start-up left after the uninstall", true);
}

// Nothing changed yet: an administrator, a whole kit that only administrators can change, a
// journal that is the kit's with no unfinished run in it, and a log.
int refusedBeforeAnyChange(AcceptanceRun& run)
{
    Kit& kit = run.kit;
    if (!runsAsAdministrator(kit)) {
        return kKitNotElevated;
    }
    findPackage(kit, run.package);
    if (!kitIsWhole(kit) || !kitIsTrusted(kit, run.package)) {
        return kKitRefused;
    }
    if (!openOwnJournal(kit, false, run.journal)) {
        return kKitRefused;
    }
    if (run.journal.run) {
        say(kit, Text("an earlier run, from the kit folder its record names, was cut short or could not undo its "
                      "changes:"));
        sayRecord(kit, run.journal.run.get());
        say(kit,
            Text("run restore.cmd first, as an administrator: this kit's, or that folder's. Nothing was changed."));
        return kKitUnfinished;
    }
    if (pathExists(kit.aside)) {
        Text line;
        line << kit.aside << " is there: an earlier run was cut short. Run restore.cmd first.";
        say(kit, line);
        return kKitUnfinished;
    }
    return kKitGoesOn;
}

// The program of the last pass: the start-up's, else the installed product's when the kit may
// start it; with the marker absent a pass leaves no start-up, and the kit's own copy will do.
bool findLastProgram(AcceptanceRun& run)
{
    const Kit& kit = run.kit;
    wchar_t otherwise[MAX_PATH] = {};
    const Status status = lastProgramOtherwise(kit, run.found == MarkerState::Absent, run.installed, otherwise);
    if (status != ERROR_SUCCESS) {
        Text line;
        line << "the installed product's program could not be read, error " << status << ". Nothing was changed.";
        say(kit, line);
        return false;
    }
    lstrcpynW(run.last, std::wcscmp(run.program, kNoProgram) != 0 ? run.program : otherwise, MAX_PATH);
    if (run.installed) {
        say(kit, Text("Ombrix Tarvel is installed here: the kit leaves it installed"));
    }
    Text line;
    if (run.last[0] != L'\0') {
        line << "the last pass runs " << run.last;
    } else {
        line << "no last pass: no start-up named a program outside the kit before the run, and Ombrix Tarvel is "
                "not installed";
    }
    say(kit, line);
    return true;
}

// What restore needs to undo a run cut short at any later point, whole before the first change.
bool recordRun(AcceptanceRun& run)
{
    const Kit& kit = run.kit;
    Status status = startRecord(kit, run.journal);
    if (status == ERROR_SUCCESS) {
        status = recordMarker(run.journal.run.get(), run.found);
    }
    if (status == ERROR_SUCCESS) {
        status = recordStartup(run.journal.run.get(), run.program);
    }
    if (status == ERROR_SUCCESS) {
        status = finishRecord(run.journal);
    }
    Text line;
    if (status != ERROR_SUCCESS) {
        removeRecord(run.journal);
        line << journalPath(kRecordName) << " could not be written. Nothing was changed.";
        say(kit, line);
        return false;
    }
    if (!recordPorts(kit, run.journal)) {
        removeRecord(run.journal);
        say(kit, Text("the run could not put the ports back as it found them. Nothing was changed."));
        return false;
    }
    line << "if the run is cut short, restore.cmd undoes what it changed, as " << journalPath(kRecordName)
         << " records it";
    say(kit, line);
    return true;
}

// All the run reads before it changes anything, then the journal made and the run recorded.
int prepare(AcceptanceRun& run)
{
    Kit& kit = run.kit;
    if (!openLog(kit)) {
        say(kit, Text("it cannot write its log in its logs folder (read-only media, or a file of that name). Copy the "
                      "kit to a writable folder and run it there. Nothing was changed."));
        return kKitRefused;
    }
    kit.prefix = "";
    run.found = markerState(kit);
    sayMarkerFound(kit, run.found);
    if (!findStartupProgram(kit, run.program) || !findLastProgram(run)) {
        return kKitRefused;
    }
    if (!run.journal.key && !openOwnJournal(kit, true, run.journal)) {
        return kKitRefused;
    }
    return recordRun(run) ? kKitGoesOn : kKitRefused;
}

void runSteps(AcceptanceRun& run)
{
    const wchar_t* own = run.kit.own;
    marker(run, true);
    pass(run, L"first preload pass", own);
    check(run, L"check after the first preload pass");
    pass(run, L"second preload pass", own);
    check(run, L"check after the second preload pass");
    marker(run, false);
    pass(run, L"normal pass", own);
    check(run, L"check after the normal pass");
    installAndUninstall(run);
    marker(run, run.found != MarkerState::Absent);
    if (run.last[0] != L'\0') {
        pass(run, L"last pass, with the marker as it was found", run.last);
        check(run, L"check with the marker as it was found");
    }
    // A product installed keeps the switches as its last pass set them; without one, the
    // machine ends with them as the run found them.
    if (familyInstalled()) {
        say(run.kit, Text("Ombrix Tarvel is installed: the port switches stay as its last pass set them"));
    } else if (!putPortsAsFound(run.kit, run.journal)) {
        ++run.failed;
    }
}

int finish(AcceptanceRun& run)
{
    const Kit& kit = run.kit;
    // A step that failed may have left the machine unlike it was found: restore finishes.
    Text line;
    if (run.keep) {
        line << journalPath(kRecordName) << " stays, since a step above failed: run restore.cmd as an administrator";
        say(kit, line);
    } else if (removeRecord(run.journal) != ERROR_SUCCESS) {
        ++run.failed;
        line << journalPath(kRecordName) << " could not be removed";
        sayFailure(kit, line);
    }
    Text summary;
    summary << run.passed << " passed, " << run.failed << " failed";
    say(kit, summary);
    Text ports;
    ports << kit.folder
          << "restore.cmd ports puts the port values recorded before the run back (run it as an "
             "administrator)";
    say(kit, ports);
    return run.failed == 0 ? kKitPassed : kKitFailed;
}

}  // namespace

int runAcceptance(Kit& kit)
{
    kit.prefix = "acceptance: ";
    AcceptanceRun run(kit);
    int status = refusedBeforeAnyChange(run);
    if (status == kKitGoesOn) {
        status = prepare(run);
    }
    if (status != kKitGoesOn) {
        return status;
    }
    runSteps(run);
    return finish(run);
}
