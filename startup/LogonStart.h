#pragma once
// Starts the program at logon through a Task Scheduler 2.0 task (Windows 6.0 and later).
// Each operation runs its work on a worker thread of its own and waits for it, at most what
// remains of the caller's deadline (startTaskSchedulerDeadline, common/product/Deadlines.h);
// at most one runs at a time. The module copies the strings it is given: a worker that did
// not end in time may read them until the process ends.
//
// Its conventions are the module's own, older than the rest of the program, and kept for its
// callers: LONG results with -1 for a refused request, and a question that answers 1 or 0 rather
// than a status (logonStartTimedOut() tells its 0 after a deadline apart). Each worker joins
// COM itself; the caller initialises COM on its own thread around the calls, as the module has
// always been used, and balances it with CoUninitialize only when its CoInitialize succeeded.
#include <windows.h>

struct LogonStartRequest {
    const wchar_t* taskName;
    const wchar_t* author;
    const wchar_t* description;
    const wchar_t* exePath;
    LONG parallelInstances;
};

// 0 on success, -1 when refused, else the failing status: kTaskSchedulerTimedOut when the
// Task Scheduler did not answer in time.
LONG EnableLogonStartup(const wchar_t* taskName, const wchar_t* author, const wchar_t* description,
                        const wchar_t* exePath, LONG parallelInstances);
// 0 when the task is gone (or was never there), -1 when refused, else the failing status.
LONG DisableLogonStartup(const wchar_t* taskName);
// 1 when the task exists, is enabled and starts at logon, and, when exePath is given, it is
// in place for that program: highest rights for Administrators, its first action starting
// exePath; else 0, also when the Task Scheduler did not answer in time (logonStartTimedOut()).
LONG IsLogonStartupEnabled(const wchar_t* taskName, const wchar_t* exePath = nullptr);

// True once a worker did not end within the bound: it was left running, and the module refuses
// every later request as busy. The question's 0 does not tell it from "no active task".
bool logonStartTimedOut();

// The module's diagnostics: a message whose "%x" stands for status, handed to a listener that
// only the module's tests set (LogonStartInternals.h), which match the texts word for word.
// The program sets none: nothing is written anywhere, and no behaviour depends on them.
void traceLogonStart(const wchar_t* message, HRESULT status = S_OK);
