// Whether the logon task counts as active, and its removal.
#include "tests/module/StandInRegistration.h"

namespace {

const wchar_t kTask[] = L"Ombrix Tarvel";

standin::Task activeTask()
{
    standin::Task task;
    task.triggers = {{TASK_TRIGGER_LOGON, true}};
    task.actions = {{TASK_ACTION_EXEC, L"C:\\tarvel\\tarvel.exe", true, L""}};
    task.runLevel = TASK_RUNLEVEL_HIGHEST;
    task.registrationLogonType = TASK_LOGON_GROUP;
    task.userId = L"Administrators";
    return task;
}

TEST_F(LogonStartTest, OnlyAnEnabledTaskWhoseFirstTriggerIsAnEnabledLogonTriggerIsActive)
{
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask)) << "absent";
    EXPECT_TRUE(traces().empty()) << messages();

    standin::storeTask(kTask, activeTask());
    EXPECT_EQ(1, IsLogonStartupEnabled(kTask));

    struct Variant {
        const char* what;
        void (*change)(standin::Task&);
    };
    const Variant inactive[] = {
        {"disabled", [](standin::Task& t) { t.enabled = false; }},
        {"logon trigger second",
         [](standin::Task& t) {
             t.triggers.insert(t.triggers.begin(), {TASK_TRIGGER_BOOT, true});
         }},
        {"first trigger disabled", [](standin::Task& t) { t.triggers[0].enabled = false; }},
        {"another trigger type", [](standin::Task& t) { t.triggers[0].type = TASK_TRIGGER_DAILY; }},
        {"no trigger", [](standin::Task& t) { t.triggers.clear(); }},
    };
    for (const Variant& variant : inactive) {
        standin::Task task = activeTask();
        variant.change(task);
        standin::storeTask(kTask, task);
        EXPECT_EQ(0, IsLogonStartupEnabled(kTask)) << variant.what;
        EXPECT_EQ(0, standin::liveObjects()) << variant.what;
    }

    // Given the program's path, the task must also start that program, as Windows compares
    // paths; a program elsewhere, or none at all, is not this program's start-up.
    standin::storeTask(kTask, activeTask());
    EXPECT_EQ(1, IsLogonStartupEnabled(kTask, L"c:\\TARVEL\\tarvel.EXE"));
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask, L"C:\\elsewhere\\tarvel.exe"));
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask, L"C:\\tarvel\\tarvel.ex"));
    // Nor is one with other rights than the pass registers: it is replaced, while normal mode
    // still finds it active and deletes it.
    const Variant otherRights[] = {
        {"least privilege", [](standin::Task& t) { t.runLevel = TASK_RUNLEVEL_LUA; }},
        {"for Users", [](standin::Task& t) { t.userId = L"Users"; }},
        {"for Users by SID", [](standin::Task& t) { t.userId = L"S-1-5-32-545"; }},
        {"for no group", [](standin::Task& t) { t.registrationLogonType = TASK_LOGON_INTERACTIVE_TOKEN; }},
    };
    for (const Variant& variant : otherRights) {
        standin::Task task = activeTask();
        variant.change(task);
        standin::storeTask(kTask, task);
        EXPECT_EQ(0, IsLogonStartupEnabled(kTask, L"C:\\tarvel\\tarvel.exe")) << variant.what;
        EXPECT_EQ(1, IsLogonStartupEnabled(kTask)) << variant.what;
    }
    standin::Task bySid = activeTask();
    bySid.userId = L"S-1-5-32-544";
    standin::storeTask(kTask, bySid);
    EXPECT_EQ(1, IsLogonStartupEnabled(kTask, L"C:\\tarvel\\tarvel.exe")) << "Administrators by SID";
    standin::Task actionless = activeTask();
    actionless.actions.clear();
    standin::storeTask(kTask, actionless);
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask, L"C:\\tarvel\\tarvel.exe"));
    EXPECT_EQ(0, standin::liveObjects());
    EXPECT_TRUE(traces().empty()) << messages();
}

TEST_F(LogonStartTest, AnyFailureWhileQueryingAnswersNotActive)
{
    standin::storeTask(kTask, activeTask());
    const wchar_t program[] = L"C:\\tarvel\\tarvel.exe";
    for (const wchar_t* call :
         {L"ITaskFolder::GetTask", L"IRegisteredTask::get_Enabled", L"IRegisteredTask::get_Definition",
          L"ITaskDefinition::get_Triggers", L"ITriggerCollection::get_Item", L"ITrigger::get_Enabled",
          L"ITrigger::get_Type", L"ITaskDefinition::get_Principal", L"IPrincipal::get_RunLevel",
          L"IPrincipal::get_GroupId", L"ITaskDefinition::get_Actions", L"IActionCollection::get_Item",
          L"IAction::QueryInterface(IExecAction)", L"IExecAction::get_Path"}) {
        standin::clearFaults();
        standin::failCall(call, E_FAIL);
        EXPECT_EQ(0, IsLogonStartupEnabled(kTask, program)) << narrow(call);
        EXPECT_EQ(0, standin::liveObjects()) << narrow(call);
        // A call that claims success without handing anything out is no answer either.
        standin::failCall(call, S_FALSE);
        EXPECT_EQ(0, IsLogonStartupEnabled(kTask, program)) << narrow(call) << " yielding nothing";
        EXPECT_EQ(0, standin::liveObjects()) << narrow(call);
    }
    EXPECT_TRUE(traces().empty()) << messages();
}

TEST_F(LogonStartTest, DisableDeletesTheTaskSucceedsWhenThereIsNoneAndFailsWhenRefused)
{
    standin::storeTask(kTask, activeTask());
    standin::storeTask(L"Neighbour", activeTask());
    EXPECT_EQ(0, DisableLogonStartup(kTask));
    EXPECT_EQ(std::vector<std::wstring>{L"Neighbour"}, standin::taskNames());
    EXPECT_EQ(0, DisableLogonStartup(kTask));

    // A task the service will not delete still starts the program: that is a failure.
    standin::storeTask(kTask, activeTask());
    standin::failCall(L"ITaskFolder::DeleteTask", E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, DisableLogonStartup(kTask));
    standin::Task left;
    EXPECT_TRUE(standin::loadTask(kTask, left));
    EXPECT_TRUE(traces().empty()) << messages();
}

TEST_F(LogonStartTest, ConnectionFailuresEndDisableWithTheStatusAndQueryWithNo)
{
    standin::storeTask(kTask, activeTask());
    const HRESULT notRunning = static_cast<HRESULT>(0x80041315);
    standin::setStopped(true);
    EXPECT_EQ(notRunning, DisableLogonStartup(kTask));
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask));
    EXPECT_TRUE(reported(L"<LogonStart> DisableLogonStartup - ITaskService::Connect failed: %x", notRunning));
    EXPECT_TRUE(reported(L"<LogonStart> IsLogonStartupEnabled - ITaskService::Connect failed: %x", notRunning));
    standin::setStopped(false);

    standin::failCall(L"IClassFactory::CreateInstance", E_OUTOFMEMORY);
    EXPECT_EQ(E_OUTOFMEMORY, DisableLogonStartup(kTask));
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask));
    EXPECT_TRUE(
        reported(L"<LogonStart> DisableLogonStartup - Failed to CoCreate an instance of the TaskService class: %x",
                 E_OUTOFMEMORY));
    EXPECT_TRUE(
        reported(L"<LogonStart> IsLogonStartupEnabled - Failed to CoCreate an instance of the TaskService class: %x",
                 E_OUTOFMEMORY));
    standin::clearFaults();

    standin::failCall(L"ITaskService::GetFolder", E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, DisableLogonStartup(kTask));
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask));
    EXPECT_TRUE(reported(L"<LogonStart> DisableLogonStartup - Cannot get Root Folder pointer: %x", E_ACCESSDENIED));
    standin::clearFaults();

    standin::Task left;
    EXPECT_TRUE(standin::loadTask(kTask, left)) << "a failed connection deleted the task";
    EXPECT_EQ(1, IsLogonStartupEnabled(kTask));
}

}  // namespace
