#pragma once
// What every part of the kit shares: its exit statuses, its names, and its lines, said to the
// console and kept in acceptance's log.
#include "common/platform/Owners.h"
#include "common/text/Text.h"
#include "common/text/TextLine.h"

#include <windows.h>

// Exit statuses of acceptance.cmd and restore.cmd.
const int kKitPassed = 0;
const int kKitFailed = 1;
const int kKitRefused = 2;     // the kit is not whole, has no log, or the journal is not its own
const int kKitUnfinished = 3;  // an earlier run is recorded as unfinished
const int kKitNotElevated = 5;
const int kKitWrongArguments = ERROR_INVALID_PARAMETER;  // 87: an argument it does not take

// For a check before any change that stops the run or restore: its exit status in status; true.
inline bool stopsWith(int& status, int exitStatus)
{
    status = exitStatus;
    return true;
}

struct KitSession {
    wchar_t folder[MAX_PATH] = {};  // with its closing backslash
    wchar_t own[MAX_PATH] = {};     // the kit's own tarvel.exe
    wchar_t check[MAX_PATH] = {};   // the kit's tarvel-check.exe
    wchar_t marker[MAX_PATH] = {};  // the marker the program reads: C:\Preload, or C:\Preload64 under WOW64
    wchar_t aside[MAX_PATH] = {};   // where a found marker waits: the marker's name and ".acceptance"
    const char* prefix = "";        // before each line: "acceptance: " or "restore: " where the cmd had it
    UniqueHandle log;               // acceptance's log, which gets each line too
};

// The files of the kit's folder it runs, and the script that undoes a run.
extern const wchar_t kKitProgram[];  // "tarvel.exe"
extern const wchar_t kKitCheck[];    // "tarvel-check.exe"
extern const wchar_t kKitRestore[];  // "restore.cmd"

// Fills kit's names from where this program lies; false when its path cannot be had.
bool setUpKit(KitSession& kit);
// name in the kit's folder; false when the path does not fit.
bool kitFile(const KitSession& kit, const wchar_t* name, wchar_t (&path)[MAX_PATH]);

// One line to the console and, when there is one, the log.
void say(const KitSession& kit, const Text& line);
// The same line as a failure: "FAIL  " and line.
void sayFailure(const KitSession& kit, const Text& line);
// A line to the log alone.
void logLine(const KitSession& kit, const Text& line);
// Makes logs\acceptance.log afresh with its heading; false when it cannot be written.
bool openLog(KitSession& kit);
