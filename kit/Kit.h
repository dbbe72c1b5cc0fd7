#pragma once
// What acceptance and restore share: the kit's names, its lines, the steps' programs, the
// journal, and the one way it decides which program it may start with an administrator's
// rights.
#include "common/platform/Owners.h"
#include "common/platform/Status.h"
#include "common/text/Text.h"
#include "common/text/TextLine.h"
#include "kit/Journal.h"
#include "storage/PortPower.h"

#include <windows.h>

// Exit statuses of acceptance.cmd and restore.cmd.
const int kKitPassed = 0;
const int kKitFailed = 1;
const int kKitRefused = 2;     // the kit is not whole, has no log, or the journal is not its own
const int kKitUnfinished = 3;  // an earlier run is recorded as unfinished
const int kKitNotElevated = 5;

struct Kit {
    wchar_t folder[MAX_PATH] = {};  // with its closing backslash
    wchar_t own[MAX_PATH] = {};     // the kit's own tarvel.exe
    wchar_t marker[MAX_PATH] = {};  // the marker the program reads: C:\Preload, or C:\Preload64 under WOW64
    wchar_t aside[MAX_PATH] = {};   // where a found marker waits: the marker's name and ".acceptance"
    const char* prefix = "";        // before each line: "acceptance: " or "restore: " where the cmd had it
    HANDLE log = nullptr;           // acceptance's log, which gets each line too
};

// Fills kit's names from where this program lies; false when its path cannot be had.
bool setUpKit(Kit& kit);

// One line to the console and, when there is one, the log.
void say(const Kit& kit, const Text& line);
// A line to the log alone.
void logLine(const Kit& kit, const Text& line);

// Whether this process runs with the Administrators group in force (elevated from Windows 6.0).
bool runsAsAdministrator();

// Runs this Windows' msiexec.exe with arguments, as runStep runs a step.
bool runMsiexec(const wchar_t* arguments, DWORD& status, Text& problem);

// Starts application with arguments (quoted by the caller) and waits for it, at most the time
// a step may take; only when the one judge trusts it, judged while it is held open against
// change until its process has ended; output, when given, receives its standard output and errors. False when it
// could not be started or did not end, with why in problem; else its exit status in status.
bool runStep(const wchar_t* application, const wchar_t* arguments, HANDLE output, DWORD& status, Text& problem);

// The journal's keys that exist, each opened once without following a registry link, judged on
// that handle, and read, changed or deleted only through it.
struct Journal {
    UniqueHkey key;                   // the journal; null when there is none and none was to be made
    UniqueHkey run;                   // the record of an unfinished run, when there is one
    UniqueHkey ports;                 // the port values before the last run, when there are
    UniqueHkey portKeys[kPortCount];  // each port's, under ports, when it was there before the run
};

// The journal, opened for the kit's work: ERROR_SUCCESS with its keys set (none when there is
// no journal and create is false), or the status that kept it from being opened. notTheKits,
// with the lines said, when a key of it is not the kit's: a link, another's, one that cannot be
// opened to be judged.
Status openJournal(const Kit& kit, bool create, Journal& journal, bool& notTheKits);
// Makes a new key under the journal with the kit's permissions, set and read back; one that
// appeared meanwhile is no key of the kit's (ERROR_ALREADY_EXISTS).
Status makeJournalKey(HKEY parent, const wchar_t* name, UniqueHkey& key);
// Deletes name under the journal with all it holds, a link as the link; absent is success.
Status deleteJournalKey(HKEY parent, const wchar_t* name);
// HKLM\SOFTWARE\...\Acceptance, and "\\" and sub when given, as reg.exe of this Windows names it.
Text journalPath(const wchar_t* sub = nullptr);
// Says each value of the record, as it is, for whoever must undo it by hand.
void sayRecord(const Kit& kit, HKEY record);

// The kit's folder and what it runs or reads there (its programs, which must be tarvel's, and
// package when given), judged by the one judge before any change: false, with a line saying
// what to do, when others may change any of them.
bool kitIsTrusted(const Kit& kit, const wchar_t* package);

// Whether program may be started with an administrator's rights: a tarvel program that the
// judge of start-ups trusts, on its written and its real way. False with why in reason.
bool mayStart(const wchar_t* program, Text& reason);
// Whether program lies in the kit's own folder, under whatever spelling, or is the kit's own
// copy behind a link: a start-up there would leave with the engineer.
bool isInKitFolder(const Kit& kit, const wchar_t* program);

// The program the machine's start-up names now (the logon task on 6.0 and 6.1, else the Run
// value), as Windows would start it; empty when there is none. ERROR_SUCCESS, else why it could
// not be read (kTaskSchedulerTimedOut for a Task Scheduler that did not answer in time).
Status readStartupProgram(wchar_t (&program)[MAX_PATH + 1]);

// Whether the Installer lists a product of the package's own upgrade code.
bool familyInstalled();

// Whether Ombrix Tarvel is installed (its family registered, or its folder remembered), and
// its program when that file is there.
bool installedProgram(wchar_t (&program)[MAX_PATH]);

// The last pass's program when the start-up named none the kit may start: the installed
// product's, when the kit may start it (a line says why not), else, with the marker found
// absent, where a pass leaves no start-up, the kit's own copy; empty when none. Answers whether
// Ombrix Tarvel is installed.
bool lastProgramOtherwise(const Kit& kit, bool foundAbsent, wchar_t (&program)[MAX_PATH]);

// The marker as found: "absent", "file" or "directory".
const wchar_t* markerState(const Kit& kit);
bool pathExists(const wchar_t* path);

int runAcceptance(Kit& kit);
int runRestore(Kit& kit, bool portsOnly);
