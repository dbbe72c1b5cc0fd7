// Undoes what an acceptance run changed and did not undo itself, because it was cut short or a
// step of its undoing failed, as the run recorded it in the journal: the package uninstalled
// by its product code if the kit installed it, a marker the kit made removed (what someone put
// in it kept aside), a marker the kit moved aside put back, and one pass so that the start-up
// is as the marker asks. Then the record goes, and a new run may start. Each line says what it
// saw after the step, not what it meant to do.
#include "kit/Restore.h"

#include "common/platform/Paths.h"
#include "kit/Journal.h"
#include "kit/MarkerChange.h"
#include "kit/PackageChange.h"
#include "kit/PortsChange.h"
#include "kit/Record.h"
#include "kit/StartupChange.h"
#include "kit/Programs.h"

namespace {

struct Restore {
    KitSession& kit;
    Journal journal;
    RunRecord record;
    wchar_t last[MAX_PATH] = {};
    bool allUndone = true;

    explicit Restore(KitSession& k) : kit(k) {}
};

// Nothing changed yet: an administrator, a kit only administrators can change, a journal that
// is the kit's. True, with the exit status in status, when one is missing.
bool refusedBeforeAnyChange(Restore& restore, int& status)
{
    KitSession& kit = restore.kit;
    if (!runsAsAdministrator(kit)) {
        return stopsWith(status, kKitNotElevated);
    }
    if (!kitIsTrusted(kit, nullptr)) {
        return stopsWith(status, kKitRefused);
    }
    if (!openOwnJournal(kit, false, restore.journal)) {
        return stopsWith(status, kKitRefused);
    }
    return false;
}

// What a pass would need read before any change: the installed product's program.
bool installedProductIsReadable(const KitSession& kit)
{
    bool installed = false;
    wchar_t program[MAX_PATH] = {};
    const Status status = installedProgram(installed, program);
    if (status == ERROR_SUCCESS) {
        return true;
    }
    Text line;
    line << "the installed product's program could not be read, error " << status << ". Nothing was changed.";
    say(kit, line);
    return false;
}

int restorePorts(Restore& restore)
{
    if (restore.journal.record) {
        sayFailure(restore.kit,
                   Text("an unfinished run is recorded: run restore.cmd without ports first. Nothing was changed."));
        return kKitFailed;
    }
    return putPortsBack(restore.kit, restore.journal) ? kKitPassed : kKitFailed;
}

int withoutRecord(Restore& restore)
{
    const KitSession& kit = restore.kit;
    say(kit, Text("no unfinished run is recorded; the marker goes back if it was left aside"));
    bool well = !pathExists(kit.aside) || undoMarker(kit, MarkerState::Directory);
    well = lastProgramOf(kit, kNoProgram, false, restore.last) && well;
    if (restore.last[0] != L'\0') {
        well = putStartupBack(kit, restore.last) && well;
    } else {
        say(kit, Text("no pass: Ombrix Tarvel is not installed here"));
    }
    return well ? kKitPassed : kKitFailed;
}

int refuse(Restore& restore, const char* why)
{
    const HKEY record = restore.journal.record.get();
    Text line;
    line << "the record of an unfinished run is refused, and nothing was changed: " << why << ". It holds:";
    say(restore.kit, line);
    sayRecord(restore.kit, record);
    Text how;
    how << "undo by hand what it names, then remove it: reg delete \"" << journalPath(kRecordName) << "\" /f";
    say(restore.kit, how);
    return kKitRefused;
}

// The record judged with the journal, read only through that handle, and followed only when
// nothing refuses it.
const char* recordRefused(Restore& restore)
{
    if (readRunRecord(restore.journal.record.get(), restore.record) != ERROR_SUCCESS) {
        return "it could not be read";
    }
    return restore.record.refused != nullptr ? restore.record.refused
                                             : recordRefusal(restore.record, machineRecordFacts());
}

// Each change the record names undone, the package first, the start-up last.
void undoChanges(Restore& restore)
{
    const KitSession& kit = restore.kit;
    const RunRecord& record = restore.record;
    bool& well = restore.allUndone;
    if (record.hasProduct && isOwnProduct(record.product)) {
        well = uninstallProduct(kit, record.product) && well;
    }
    const bool foundAbsent = record.marker == MarkerState::Absent;
    well = lastProgramOf(kit, record.program, foundAbsent, restore.last) && well;
    if (!foundAbsent && restore.last[0] == L'\0') {
        well = takeStartupAway(kit) && well;
    }
    well = undoMarker(kit, record.marker) && well;
    if (restore.last[0] != L'\0') {
        well = putStartupBack(kit, restore.last) && well;
    } else if (foundAbsent) {
        Text line;
        line << kit.own << " is not there to take the start-up away";
        sayFailure(kit, line);
        well = false;
    }
}

int undoRun(Restore& restore)
{
    const KitSession& kit = restore.kit;
    if (const char* why = recordRefused(restore)) {
        return refuse(restore, why);
    }
    Text heading;
    heading << "undoing the unfinished run recorded in " << journalPath(kRecordName) << ":";
    say(kit, heading);
    sayRecord(kit, restore.journal.record.get());
    undoChanges(restore);
    Text line;
    if (!restore.allUndone) {
        line << journalPath(kRecordName) << " stays: a new acceptance run waits until all is undone";
        say(kit, line);
        return kKitFailed;
    }
    if (removeRecord(restore.journal) != ERROR_SUCCESS) {
        line << journalPath(kRecordName) << " could not be removed";
        sayFailure(kit, line);
        return kKitFailed;
    }
    say(kit, Text("all is undone; the record is removed"));
    return kKitPassed;
}

}  // namespace

int runRestore(KitSession& kit, bool portsOnly)
{
    kit.prefix = "restore: ";
    Restore restore(kit);
    int status = kKitPassed;
    if (refusedBeforeAnyChange(restore, status)) {
        return status;
    }
    if (portsOnly) {
        return restorePorts(restore);
    }
    if (!installedProductIsReadable(kit)) {
        return kKitRefused;
    }
    return restore.journal.record ? undoRun(restore) : withoutRecord(restore);
}
