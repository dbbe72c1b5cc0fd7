#pragma once
// The logon task as the pass's question and the check both read it: one reading, so that
// what the check reports is what the pass acts on. Each keeps its own reading of a failure:
// the pass's question answers "not active", the check reports it.
#include "common/platform/Owners.h"
#include "common/platform/Status.h"
#include "startup/StartupPolicy.h"

#include <windows.h>
#include <taskschd.h>

#include <memory>

struct TaskReading {
    bool found = false;
    // Enabled, its first trigger, its rights and group; startsProgram is the caller's to set,
    // against the program it wants.
    TaskFacts facts;
    bool hasTriggers = false;
    UniqueBstr group;             // the principal's group as the task names it
    bool startsAProgram = false;  // its first action starts a program
    UniqueBstr program;           // that program's path as the task holds it
    // Who reads, for the trace of a failed call: "tarvel-check", "tarvel acceptance".
    const wchar_t* operation = L"";
};

// Reads taskName in rootFolder call by call: S_OK when every call answered (a task that is
// not there included, found false), else the first call's failure, with what was read until
// then. A call that claims success without handing anything out has read nothing.
HRESULT readTask(ITaskFolder* rootFolder, const wchar_t* taskName, TaskReading& reading);

struct TaskReadingFreer {
    void operator()(TaskReading* reading) const;
};
using UniqueTaskReading = std::unique_ptr<TaskReading, TaskReadingFreer>;

// Starts the Task Scheduler's deadline and reads the task "Ombrix Tarvel" on a worker of its
// own, waiting for it at most that long: the worker's status with reading set, or
// kTaskSchedulerTimedOut with none (the worker keeps what it may still write). operation must
// outlive the process's workers: a literal.
Status readTarvelTaskOnWorker(const wchar_t* operation, UniqueTaskReading& reading);
