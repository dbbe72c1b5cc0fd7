#pragma once
// The machine's journal of acceptance runs: HKLM\SOFTWARE\Ombrix\Tarvel\Acceptance in the
// 32-bit view, shared by every kit copy. Run holds the record of an unfinished run, Ports the
// port keys as they were before the last run. What restore does with the record's values is
// done with administrators' rights, so the key is trusted only while nobody else can have
// written it, and each value is read as data and judged before anything acts on it.
#include "common/trust/Trust.h"
#include "common/platform/Status.h"

#include <windows.h>

extern const wchar_t kJournalKey[];  // under HKEY_LOCAL_MACHINE
extern const wchar_t kRecordName[];  // "Run"
extern const wchar_t kPortsName[];   // "Ports"

// What the kit makes of a journal key as it finds it.
enum class JournalVerdict {
    Own,      // owned by Administrators or SYSTEM, and only they may change it
    Adopt,    // owned by them, holding no record: its permissions are made the kit's own
    Foreign,  // another account owns it, or it holds a record others could have written
};
struct JournalJudgement {
    JournalVerdict verdict = JournalVerdict::Own;
    Changer changer;  // for Adopt and Foreign: who else owns it or may change it
};

// Judges a key by its owner and DACL; holdsRecord: it is, or holds, a record of a run.
JournalJudgement judgeJournalKey(PSECURITY_DESCRIPTOR descriptor, bool holdsRecord);

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

// The record of an unfinished run as read from the journal. Each value is checked for its
// form before any is used; refused names why the record is not a kit's, else it is null.
struct RunRecord {
    wchar_t kit[MAX_PATH] = {};
    wchar_t found[16] = {};  // "absent", "file" or "directory"
    wchar_t program[MAX_PATH + 1] = {};
    wchar_t product[40] = {};
    bool hasProduct = false;
    const char* refused = nullptr;
};

// Reads the record under key: ERROR_SUCCESS with record filled (refused set when its form is
// not a kit's), else the registry's status.
Status readRunRecord(HKEY key, RunRecord& record);

// What the kit asks the machine about a record's program and product: in a test, its answers.
struct RecordFacts {
    bool (*isTarvelProgram)(const wchar_t* path);
    // The Installer lists product among the products of the package's own upgrade code.
    bool (*isOwnProduct)(const wchar_t* product);
    // The Installer knows product at all, as any vendor's.
    bool (*isInstalled)(const wchar_t* product);
};
RecordFacts machineRecordFacts();

// Why a record whose form is a kit's is still not the kit's: a program that is no tarvel
// program, a product another package installed. Null when nothing refuses it.
const char* recordRefusal(const RunRecord& record, const RecordFacts& facts);
