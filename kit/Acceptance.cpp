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

// What acceptance found before its first change, and the journal that records it.
struct AcceptanceRun {
    KitSession& kit;
    MarkerState found = MarkerState::Absent;
    wchar_t program[MAX_PATH + 1] = {};  // the start-up's program to put back, or kNoProgram
    wchar_t last[MAX_PATH] = {};         // the last pass's program, or empty
    bool installed = false;
    wchar_t package[MAX_PATH] = {};
    Journal journal;

    explicit AcceptanceRun(KitSession& k) : kit(k) {}
};

// What a step hands back.
enum class Outcome {
    Passed,
    Failed,
    // Failed, and the machine may be left unlike the run found it: the record stays for restore.
    FailedChanged,
};

// The steps' outcomes, as the summary counts them.
struct Tally {
    int passed = 0;
    int failed = 0;
    bool keep = false;

    void add(Outcome outcome)
    {
        ++(outcome == Outcome::Passed ? passed : failed);
        keep = keep || outcome == Outcome::FailedChanged;
    }
};

// The marker as the steps after its change need it.
struct MarkerSet {
    bool present = false;  // the mode the checks expect: preload when present
    bool ok = true;        // false when it could not be made so: the steps that need it do not run
};

Outcome result(const KitSession& kit, const wchar_t* what, DWORD status)
{
    // Signed, as %errorlevel% shows an HRESULT.
    Text line;
    line << (status == 0 ? "PASS  " : "FAIL  ") << what << " (exit status " << static_cast<int>(status) << ")";
    say(kit, line);
    return status == 0 ? Outcome::Passed : Outcome::Failed;
}

Outcome failure(const KitSession& kit, const wchar_t* what, const Text& why)
{
    Text line;
    line << what << " (" << why << ")";
    sayFailure(kit, line);
    return Outcome::Failed;
}

// Each step's heading in the log; true when the step cannot run, with a FAIL line.
bool skipped(const KitSession& kit, const MarkerSet& marker, const wchar_t* heading, const wchar_t* what)
{
    Text line;
    line << "--- " << heading;
    logLine(kit, line);
    if (marker.ok) {
        return false;
    }
    failure(kit, what, Text("not run: the marker is not as the step needs"));
    return true;
}

MarkerSet putMarker(const AcceptanceRun& run, Tally& tally, bool present)
{
    const MarkerSet marker = {present, setMarker(run.kit, run.found, present)};
    if (!marker.ok) {
        tally.add(Outcome::FailedChanged);
    }
    return marker;
}

Outcome pass(const KitSession& kit, const MarkerSet& marker, const wchar_t* what, const wchar_t* program)
{
    if (skipped(kit, marker, what, what)) {
        return Outcome::Failed;
    }
    DWORD status = 0;
    Text problem;
    if (!runStep(program, L"", nullptr, status, problem)) {
        failure(kit, what, problem);
        return Outcome::FailedChanged;
    }
    return result(kit, what, status) == Outcome::Passed ? Outcome::Passed : Outcome::FailedChanged;
}

// What the check printed, for people, to the log.
void copyToLog(const KitSession& kit, HANDLE output)
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
Outcome check(const KitSession& kit, const MarkerSet& marker, const wchar_t* what, bool noPorts = false)
{
    if (skipped(kit, marker, what, what)) {
        return Outcome::Failed;
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
        return failure(kit, what, Text("its lines could not be kept in logs\\check.txt"));
    }
    DWORD status = 0;
    Text problem;
    const bool ended =
        runStep(kit.check, marker.present ? L"/expect:preload" : L"/expect:normal", output.get(), status, problem);
    copyToLog(kit, output.get());
    return ended ? result(kit, what, status) : failure(kit, what, problem);
}

Outcome package(const AcceptanceRun& run, const MarkerSet& marker, const wchar_t* what, bool install)
{
    if (skipped(run.kit, marker, install ? L"install" : L"uninstall", what)) {
        return Outcome::Failed;
    }
    DWORD status = 0;
    Text problem;
    if (!runPackage(run.kit, run.package, install, status, problem)) {
        return failure(run.kit, what, problem);
    }
    return result(run.kit, what, status);
}

void installAndUninstall(const AcceptanceRun& run, Tally& tally)
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
        recorded = recordProduct(run.journal.record.get(), product);
    }
    if (recorded != ERROR_SUCCESS) {
        Text why;
        why << "not run: its product code could not be read from the package and recorded in "
            << journalPath(kRecordName) << ", error " << recorded;
        tally.add(failure(run.kit, L"install of the package", why));
        return;
    }
    const MarkerSet preload = putMarker(run, tally, true);
    tally.add(package(run, preload, L"install of the package", true));
    tally.add(check(run.kit, preload, L"check after the install"));
    tally.add(package(run, preload, L"uninstall of the package", false));
    // The package the kit installed is gone again: nothing for restore to uninstall.
    if (!familyInstalled()) {
        forgetProduct(run.journal.record.get());
    } else {
        // A FAIL line like any other: the run does not end with 0 having left a product behind.
        tally.add(Outcome::FailedChanged);
        sayFailure(run.kit,
                   Text("Ombrix Tarvel, which the kit installed, is still installed: restore.cmd uninstalls it"));
    }
    const MarkerSet normal = putMarker(run, tally, false);
    tally.add(check(run.kit, normal, L"no start-up left after the uninstall", true));
}

// Nothing changed yet: an administrator, a whole kit that only administrators can change, a
// journal that is the kit's with no unfinished run in it. True, with the exit status in status,
// when one is missing.
bool refusedBeforeAnyChange(AcceptanceRun& run, int& status)
{
    KitSession& kit = run.kit;
    if (!runsAsAdministrator(kit)) {
        return stopsWith(status, kKitNotElevated);
    }
    findPackage(kit, run.package);
    if (!kitIsWhole(kit) || !kitIsTrusted(kit, run.package)) {
        return stopsWith(status, kKitRefused);
    }
    if (!openOwnJournal(kit, false, run.journal)) {
        return stopsWith(status, kKitRefused);
    }
    if (run.journal.record) {
        say(kit, Text("an earlier run, from the kit folder its record names, was cut short or could not undo its "
                      "changes:"));
        sayRecord(kit, run.journal.record.get());
        say(kit,
            Text("run restore.cmd first, as an administrator: this kit's, or that folder's. Nothing was changed."));
        return stopsWith(status, kKitUnfinished);
    }
    if (pathExists(kit.aside)) {
        Text line;
        line << kit.aside << " is there: an earlier run was cut short. Run restore.cmd first.";
        say(kit, line);
        return stopsWith(status, kKitUnfinished);
    }
    return false;
}

// The program of the last pass: the start-up's, else the installed product's when the kit may
// start it; with the marker absent a pass leaves no start-up, and the kit's own copy will do.
bool findLastProgram(AcceptanceRun& run)
{
    const KitSession& kit = run.kit;
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
    const KitSession& kit = run.kit;
    Status status = startRecord(kit, run.journal);
    if (status == ERROR_SUCCESS) {
        status = recordMarker(run.journal.record.get(), run.found);
    }
    if (status == ERROR_SUCCESS) {
        status = recordStartup(run.journal.record.get(), run.program);
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

// All the run reads before it changes anything, then the journal made and the run recorded;
// false, with a line, when it cannot be.
bool prepare(AcceptanceRun& run)
{
    KitSession& kit = run.kit;
    if (!openLog(kit)) {
        say(kit, Text("it cannot write its log in its logs folder (read-only media, or a file of that name). Copy the "
                      "kit to a writable folder and run it there. Nothing was changed."));
        return false;
    }
    kit.prefix = "";
    run.found = markerState(kit);
    sayMarkerFound(kit, run.found);
    if (!findStartupProgram(kit, run.program) || !findLastProgram(run)) {
        return false;
    }
    if (!run.journal.key && !openOwnJournal(kit, true, run.journal)) {
        return false;
    }
    return recordRun(run);
}

Tally runSteps(const AcceptanceRun& run)
{
    const wchar_t* own = run.kit.own;
    Tally tally;
    const MarkerSet preload = putMarker(run, tally, true);
    tally.add(pass(run.kit, preload, L"first preload pass", own));
    tally.add(check(run.kit, preload, L"check after the first preload pass"));
    tally.add(pass(run.kit, preload, L"second preload pass", own));
    tally.add(check(run.kit, preload, L"check after the second preload pass"));
    const MarkerSet normal = putMarker(run, tally, false);
    tally.add(pass(run.kit, normal, L"normal pass", own));
    tally.add(check(run.kit, normal, L"check after the normal pass"));
    installAndUninstall(run, tally);
    const MarkerSet found = putMarker(run, tally, run.found != MarkerState::Absent);
    if (run.last[0] != L'\0') {
        tally.add(pass(run.kit, found, L"last pass, with the marker as it was found", run.last));
        tally.add(check(run.kit, found, L"check with the marker as it was found"));
    }
    // A product installed keeps the switches as its last pass set them; without one, the
    // machine ends with them as the run found them.
    if (familyInstalled()) {
        say(run.kit, Text("Ombrix Tarvel is installed: the port switches stay as its last pass set them"));
    } else if (!putPortsAsFound(run.kit, run.journal)) {
        tally.add(Outcome::Failed);
    }
    return tally;
}

int finish(AcceptanceRun& run, Tally tally)
{
    const KitSession& kit = run.kit;
    // A step that failed may have left the machine unlike it was found: restore finishes.
    Text line;
    if (tally.keep) {
        line << journalPath(kRecordName) << " stays, since a step above failed: run restore.cmd as an administrator";
        say(kit, line);
    } else if (removeRecord(run.journal) != ERROR_SUCCESS) {
        tally.add(Outcome::Failed);
        line << journalPath(kRecordName) << " could not be removed";
        sayFailure(kit, line);
    }
    Text summary;
    summary << tally.passed << " passed, " << tally.failed << " failed";
    say(kit, summary);
    Text ports;
    ports << kit.folder
          << "restore.cmd ports puts the port values recorded before the run back (run it as an "
             "administrator)";
    say(kit, ports);
    return tally.failed == 0 ? kKitPassed : kKitFailed;
}

}  // namespace

int runAcceptance(KitSession& kit)
{
    kit.prefix = "acceptance: ";
    AcceptanceRun run(kit);
    int status = kKitPassed;
    if (refusedBeforeAnyChange(run, status)) {
        return status;
    }
    if (!prepare(run)) {
        return kKitRefused;
    }
    return finish(run, runSteps(run));
}
