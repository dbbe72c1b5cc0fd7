#pragma once
// The checks of tarvel-check: each reads what a pass of tarvel.exe would have left and puts
// one line per check into the report. Each answers ERROR_SUCCESS when it could look, whatever
// it found, else the status that kept it from looking. None of them writes.
#include "check/Report.h"
#include "common/platform/Paths.h"
#include "common/platform/Status.h"
#include "startup/StartupPolicy.h"

// "DIPM" and "LPM" of ports 0 to 5, each a REG_DWORD of wanted.
Status checkPorts(Report& report, DWORD wanted);

// The Run value "Tarvel": present and naming a tarvel program, or absent.
Status checkRunValue(Report& report, bool wantedPresent);

// The task "Ombrix Tarvel": in place for an existing tarvel program, or not active.
Status checkLogonTask(Report& report, TaskWanted wanted);
// Whether the checking thread is now waiting for the Task Scheduler rather than judging.
bool waitingForTaskScheduler();

// The program a start-up names is there and is a tarvel program, and nobody but
// administrators may replace it; the arguments it is started with are shown, not judged.
Status checkStartedProgram(Report& report, const char* what, const wchar_t* program, const wchar_t* arguments = L"");

// The program a start-up names may start with administrators' rights: on a local fixed drive,
// and its folder and every folder above it up to the drive's root changed by administrators
// only, on the written and the real way.
Status checkNotReplaceable(Report& report, const wchar_t* program);
