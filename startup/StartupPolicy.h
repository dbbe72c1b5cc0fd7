#pragma once
// Which logon start-up a release and a mode want: the pass makes the machine so and
// tarvel-check reports against it, from this one definition, so that whatever the check
// finds wrong is what a pass puts right.
#include "common/platform/SystemFacts.h"

enum class TaskWanted {
    NotLookedAt,   // no Task Scheduler 2.0 (before 6.0): no COM at all
    InPlace,       // see taskInPlace
    NoActiveTask,  // absent, disabled, or not started at logon
};

struct WantedStartup {
    bool runValue;  // the Run value "Tarvel": present (true) or absent (false)
    TaskWanted task;
};

// Whether a start-up is to be registered, for which the program needs its whole path.
inline bool registersStartup(const WantedStartup& wanted)
{
    return wanted.runValue || wanted.task == TaskWanted::InPlace;
}

// taskSchedulerPresent: Windows 6.0 or later, where a task left by another release (an
// in-place upgrade from Windows 7) still starts the program.
WantedStartup wantedStartup(OsClass os, bool taskSchedulerPresent, bool preload);

// What a registered task "Ombrix Tarvel" holds, as far as the start-up asks.
struct TaskFacts {
    bool enabled = false;
    bool logonTriggerFirst = false;  // its first trigger is an enabled logon trigger
    bool highestRights = false;
    bool forAdministrators = false;  // its group is the local Administrators group
    bool startsProgram = false;      // its first action starts the program wanted
};

// A task that starts the program at every logon of an administrator.
inline bool taskActive(const TaskFacts& task) { return task.enabled && task.logonTriggerFirst; }
// The one a preload pass registers: a task that differs in any of these is replaced.
inline bool taskInPlace(const TaskFacts& task)
{
    return taskActive(task) && task.highestRights && task.forAdministrators && task.startsProgram;
}

// Whether a task's group is the local Administrators group, whatever the language of Windows
// calls it: a SID string, or a name with or without its "BUILTIN\" domain.
bool isAdministratorsGroup(const wchar_t* group);
