#pragma once
// A Task Scheduler 2.0 stand-in for Wine, whose own service cannot hold a logon task.
// It answers what tarvel calls with the real service's semantics, keeps its tasks in the
// registry (one key per task, one value per property) where tests and `wine reg query`
// read them, fails any call on demand, and counts its live objects.
#include <windows.h>
#include <taskschd.h>

#include <string>
#include <vector>

namespace standin {

// The class it stands in for: CLSID_TaskScheduler.
extern const CLSID kTaskSchedulerClsid;

// HKLM (32-bit view), the stand-in's own key: Tasks\<name>, Faults, and "Stopped".
extern const wchar_t kRootKey[];

struct Trigger {
    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_LOGON;
    bool enabled = true;
};

struct Action {
    TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
    std::wstring path;
    bool argumentsSet = false;
    std::wstring arguments;
};

// A task definition, and once registered, how it was registered.
struct Task {
    bool enabled = true;
    bool authorSet = false;
    std::wstring author;
    bool descriptionSet = false;
    std::wstring description;
    std::vector<Trigger> triggers;
    std::wstring principalId;
    TASK_LOGON_TYPE principalLogonType = TASK_LOGON_NONE;
    TASK_RUNLEVEL_TYPE runLevel = TASK_RUNLEVEL_LUA;
    bool allowHardTerminate = true;
    bool disallowStartIfOnBatteries = true;
    bool stopIfGoingOnBatteries = true;
    std::wstring executionTimeLimit = L"PT72H";
    TASK_INSTANCES_POLICY multipleInstances = TASK_INSTANCES_IGNORE_NEW;
    bool stopOnIdleEnd = true;
    std::vector<Action> actions;
    // Registration
    LONG registrationFlags = 0;
    VARTYPE userIdType = VT_EMPTY;
    std::wstring userId;
    VARTYPE passwordType = VT_EMPTY;
    TASK_LOGON_TYPE registrationLogonType = TASK_LOGON_NONE;
    VARTYPE sddlType = VT_EMPTY;
    std::wstring sddl;
};

bool loadTask(const std::wstring& name, Task& task);
void storeTask(const std::wstring& name, const Task& task);
void deleteAllTasks();
std::vector<std::wstring> taskNames();

// Makes the named call ("ITaskFolder::GetTask", "IClassFactory::CreateInstance", ...) answer
// status without doing anything; a status that is not a failure still yields nothing. Given a
// program ("tarvel.exe"), only that program's calls, which then meet none of the shared faults.
void failCall(const std::wstring& call, HRESULT status, const std::wstring& program = std::wstring());
// Keeps program ("tarvel.exe") clear of every fault, whatever the shared ones.
void noFaults(const std::wstring& program);
// Makes the named call answer, as it would, only after lateMs.
void answerLate(const std::wstring& call, DWORD lateMs, const std::wstring& program = std::wstring());
// Given to failCall, ends the calling process inside the call, with this exit code.
const HRESULT kEndTheProcess = static_cast<HRESULT>(0x8EAD0001);
// Given to failCall, the call never returns: a service stuck on a damaged task store. In a
// process that made the event kReleaseHungCalls, it returns E_ABORT once the event is set.
const HRESULT kNeverReturn = static_cast<HRESULT>(0x8EAD0002);
extern const wchar_t kReleaseHungCalls[];
void clearFaults();
// Connect then fails as with the service stopped.
void setStopped(bool stopped);

LONG liveObjects();

// Registrations and deletions the service has carried out for its clients, ever.
DWORD serviceWrites();

// Creates the service object itself, as the class factory does.
HRESULT createTaskService(REFIID iid, void** object);
IClassFactory* classFactory();

}  // namespace standin
