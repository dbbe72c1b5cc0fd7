#pragma once
// The logon task as tarvel registers it, checked wherever a test finds one.
#include "standin/taskscheduler/TaskSchedulerStandIn.h"

#include <string>

// One enabled logon trigger, exe started with empty arguments, the highest run level, no
// time limit, parallel instances, battery and idle settings off, registered with
// TASK_CREATE for the group userId.
void expectTarvelLogonTask(const standin::Task& task, const std::wstring& exe, const std::wstring& userId);
