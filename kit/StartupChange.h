#pragma once
// The kit's change to the start-up: its passes make and take away the machine's logon start-up,
// so the run reads the program the start-up named before it changes anything, records it, and
// ends with a pass of that program (or of the installed product's) that puts the start-up back
// as the marker asks. A start-up into the kit's own folder is never put back: it would leave
// with the engineer.
#include "common/platform/Status.h"
#include "kit/Kit.h"

extern const wchar_t kNoProgram[];  // "-": the record's Program when the start-up named none to put back

// Why a record's program is not in the form a kit writes (a full path of an .exe, as Windows
// spells it, or "-"); null when it is.
const char* programFormRefusal(const wchar_t* program);

// The program the machine's start-up names now (the logon task on 6.0 and 6.1, else the Run
// value), as Windows would start it; empty when there is none. ERROR_SUCCESS, else why it could
// not be read (kTaskSchedulerTimedOut for a Task Scheduler that did not answer in time).
Status readStartupProgram(wchar_t (&program)[MAX_PATH + 1]);
// The start-up's program to put back: the one it names now when the kit may start it and it lies
// outside the kit, else "-". Says what it found; false, with a line, when it could not be read.
bool findStartupProgram(const KitSession& kit, wchar_t (&program)[MAX_PATH + 1]);

// The last pass's program when the start-up named none the kit may start: the installed
// product's, when the kit may start it (a line says why not), else, with the marker found
// absent, where a pass leaves no start-up, the kit's own copy; empty when none. installed says
// whether Ombrix Tarvel is installed; a status other than ERROR_SUCCESS, that the installed
// product's program could not be read.
Status lastProgramOtherwise(const KitSession& kit, bool foundAbsent, bool& installed, wchar_t (&program)[MAX_PATH]);
// The same when a record names program: it, when it is there and the kit may start it (a FAIL
// line says why not), else as above. False when a FAIL line was said.
bool lastProgramOf(const KitSession& kit, const wchar_t* recorded, bool foundAbsent, wchar_t (&program)[MAX_PATH]);

// A pass of program that puts the start-up as the marker asks; says how it ended, false with a
// FAIL line when not with 0.
bool putStartupBack(const KitSession& kit, const wchar_t* program);
// With no program outside the kit to keep a start-up, the run may have left one pointing at the
// kit: a pass of the kit's copy with the marker aside takes it away. False with a FAIL line.
bool takeStartupAway(const KitSession& kit);
