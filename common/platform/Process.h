#pragma once
// A program started and waited for within a bound, one way for the kit's steps and the package's
// first pass: a wait on anything outside the process has a bound and a status for when it runs
// out.
#include <windows.h>

// The standard handles a started program gets, inherited: for one that must never wait for
// console input, or whose output is kept.
struct StandardHandles {
    HANDLE input;
    HANDLE output;
    HANDLE error;
};

enum class ProgramEnd { Ended, NotStarted, StillRunning };

// Starts application with line (CreateProcessW may write into it; handles, when given, its
// inherited standard handles) and waits for it at most waitMs. Ended with its exit status in
// status; NotStarted with the error in status; StillRunning once the bound has run out (it is
// left running).
ProgramEnd startProgramAndWait(const wchar_t* application, wchar_t* line, DWORD waitMs, const StandardHandles* handles,
                               DWORD& status);
