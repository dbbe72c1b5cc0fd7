#pragma once
// The programs the kit starts with an administrator's rights, and the one way it decides which
// it may start: the kit's own folder and files judged before any change, each step's program
// judged on the handle it holds until the step has ended.
#include "kit/Kit.h"

// Whether this process runs with the Administrators group in force (elevated from Windows 6.0);
// when not, a line says how to start it.
bool runsAsAdministrator(const KitSession& kit);

// The kit's files beside acceptance.cmd; false, with a line, when one is missing.
bool kitIsWhole(const KitSession& kit);
// The kit's folder and what it runs or reads there (its programs, which must be tarvel's, and
// package when given), judged by the one judge before any change: false, with a line saying
// what to do, when others may change any of them.
bool kitIsTrusted(const KitSession& kit, const wchar_t* package);

// Opens path for reading, sharing only reading (no write, rename or delete while held), and
// judges it: by the one judge on its way, and by the descriptor of the very file the handle
// holds. False with why in problem; else held holds it until the caller is done with it.
bool holdJudged(const wchar_t* path, UniqueHandle& held, Text& problem);

// Starts application with arguments (quoted by the caller) and waits for it, at most the time
// a step may take; only when the one judge trusts it, judged while it is held open against
// change until its process has ended; output, when given, receives its standard output and
// errors. False when it could not be started or did not end, with why in problem; else its exit
// status in status.
bool runStep(const wchar_t* application, const wchar_t* arguments, HANDLE output, DWORD& status, Text& problem);
// Runs this Windows' msiexec.exe with arguments, as runStep runs a step.
bool runMsiexec(const wchar_t* arguments, DWORD& status, Text& problem);

// Whether program may be started with an administrator's rights: a tarvel program that the
// judge of start-ups trusts, on its written and its real way. False with why in reason.
bool mayStart(const wchar_t* program, Text& reason);
// Whether program lies in the kit's own folder, under whatever spelling, or is the kit's own
// copy behind a link: a start-up there would leave with the engineer.
bool isInKitFolder(const KitSession& kit, const wchar_t* program);
