#pragma once
// The machine's journal of acceptance runs: HKLM\SOFTWARE\Ombrix\Tarvel\Acceptance in the
// 32-bit view, shared by every kit copy. Run holds the record of an unfinished run, Ports the
// port keys as they were before the last run. What restore does with them is done with
// administrators' rights, so each key that exists is opened once without following a registry
// link, judged on that handle, and read, changed or deleted only through it; a key is trusted
// only while nobody else can have written it.
#include "common/platform/Owners.h"
#include "common/platform/Status.h"
#include "common/trust/Trust.h"
#include "kit/Kit.h"
#include "storage/PortPower.h"

#include <windows.h>

extern const wchar_t kJournalKey[];  // under HKEY_LOCAL_MACHINE
extern const wchar_t kRecordName[];  // "Run"
extern const wchar_t kPortsName[];   // "Ports"

// The descriptor the kit gives its keys: owner Administrators, and a protected DACL that lets
// SYSTEM and Administrators do anything and nobody else anything. False when it cannot be made.
class JournalSecurity {
public:
    JournalSecurity();
    ~JournalSecurity();
    JournalSecurity(const JournalSecurity&) = delete;
    JournalSecurity& operator=(const JournalSecurity&) = delete;
    bool ok() const { return descriptor_ != nullptr; }
    PSECURITY_DESCRIPTOR descriptor() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// The journal's keys that exist, each opened once as itself and judged on that handle.
struct Journal {
    UniqueHkey key;                   // the journal; null when there is none and none was to be made
    UniqueHkey record;                // the record of an unfinished run (the Run key), when there is one
    UniqueHkey ports;                 // the port values before the last run, when there are
    UniqueHkey portKeys[kPortCount];  // each port's, under ports, when it was there before the run
};

// Each port's copy under Ports is named as the port's own key ("Port0".."Port5"), the last part
// of its path, so that the journal holds no layout of the ports of its own.
void portCopyName(int port, wchar_t (&name)[8]);

// Closes the journal's ports copy and each port's under it, and deletes the copy, a link as the
// link: for a copy made anew, or one that is no longer to be used. Absent is success.
Status dropPortsKeys(Journal& journal);

// The journal, opened for the kit's work: ERROR_SUCCESS with its keys set (none when there is
// no journal and create is false), or the status that kept it from being opened. foreign,
// with the lines said, when a key of it is not the kit's: a link, another's, one that cannot be
// opened to be judged.
Status openJournal(const KitSession& kit, bool create, Journal& journal, bool& foreign);
// The same, for acceptance and restore alike: false, with the lines said, when the journal is
// not the kit's or could not be opened; both then end with kKitRefused, nothing changed.
bool openOwnJournal(const KitSession& kit, bool create, Journal& journal);
// Makes a new key under the journal with the kit's permissions, set and read back; one that
// appeared meanwhile is no key of the kit's (ERROR_ALREADY_EXISTS).
Status makeJournalKey(HKEY parent, const wchar_t* name, UniqueHkey& key);
// Deletes name under the journal with all it holds, a link as the link; absent is success.
Status deleteJournalKey(HKEY parent, const wchar_t* name);
// HKLM\SOFTWARE\...\Acceptance, and "\\" and sub when given, as reg.exe of this Windows names it.
Text journalPath(const wchar_t* sub = nullptr);
// A REG_SZ value, as every value the kit records is.
Status writeJournalText(HKEY key, const wchar_t* name, const wchar_t* text);
// The value a key the kit wrote ends with once all of it is there: Whole, the REG_SZ "yes".
extern const wchar_t kWholeValue[];  // "Whole"
Status markWhole(HKEY key);
bool isWhole(HKEY key);
