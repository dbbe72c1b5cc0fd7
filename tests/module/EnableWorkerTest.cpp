// The task that EnableLogonStartup leaves, and every way building it can fail.
#include "tests/module/StandInRegistration.h"
#include "tests/support/LogonTaskExpectations.h"

namespace {

const wchar_t kTask[] = L"Ombrix Tarvel";
const wchar_t kAuthor[] = L"Kelm, Feldane";
const wchar_t kDescription[] = L"A tool for handle Intel storage settings";
const wchar_t kExe[] = L"C:\\Program Files\\Tarvel\\tarvel.exe";
const std::wstring kPrefix = L"<LogonStart> EnableLogonStartup - ";

// Looked up here with the wide call, independently of the module's narrow one.
std::wstring administratorsName()
{
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID sid = nullptr;
    EXPECT_TRUE(
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid));
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use;
    EXPECT_TRUE(LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use));
    FreeSid(sid);
    return name;
}

// An older task of the same name, unlike anything the module builds.
void seedOldTask()
{
    standin::Task old;
    old.enabled = false;
    old.triggers = {{TASK_TRIGGER_BOOT, true}, {TASK_TRIGGER_LOGON, false}};
    old.actions = {{TASK_ACTION_EXEC, L"C:\\old.exe", true, L"--old"}};
    old.authorSet = true;
    old.author = L"someone else";
    standin::storeTask(kTask, old);
}

TEST_F(LogonStartTest, EnableReplacesTheTaskWithTheLogonTask)
{
    seedOldTask();
    ASSERT_EQ(0, EnableLogonStartup(kTask, kAuthor, kDescription, kExe, 1)) << messages();
    EXPECT_TRUE(traces().empty()) << messages();

    standin::Task task;
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_TRUE(task.enabled);
    expectTarvelLogonTask(task, kExe, administratorsName());
    EXPECT_FALSE(task.userId.empty());
    EXPECT_EQ(std::vector<std::wstring>{kTask}, standin::taskNames());
}

TEST_F(LogonStartTest, EnableWithoutAuthorOrDescriptionLeavesTheRegistrationInfoAlone)
{
    // Touching the registration info at all would fail here.
    standin::failCall(L"ITaskDefinition::get_RegistrationInfo", E_UNEXPECTED);
    ASSERT_EQ(0, EnableLogonStartup(kTask, nullptr, nullptr, kExe, 0)) << messages();
    standin::Task task;
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_FALSE(task.authorSet);
    EXPECT_FALSE(task.descriptionSet);
    // Without parallel instances the service's own policy stays.
    EXPECT_EQ(TASK_INSTANCES_IGNORE_NEW, task.multipleInstances);

    // Only the author, then only the description.
    standin::clearFaults();
    ASSERT_EQ(0, EnableLogonStartup(kTask, kAuthor, nullptr, kExe, 1));
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_TRUE(task.authorSet);
    EXPECT_FALSE(task.descriptionSet);
    ASSERT_EQ(0, EnableLogonStartup(kTask, nullptr, kDescription, kExe, 1));
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_FALSE(task.authorSet);
    EXPECT_EQ(kDescription, task.description);
}

struct FailurePoint {
    const wchar_t* call;
    const wchar_t* message;  // after the prefix
};

// Each of these ends the build: the status comes back, the message carries it, and since the
// old task was deleted first, no task of that name is left.
const FailurePoint kFatal[] = {
    {L"ITaskService::NewTask", L"Failed to CoCreate an instance of the TaskService class: %x"},
    {L"ITaskDefinition::get_RegistrationInfo", L"Cannot get identification pointer: %x"},
    {L"IRegistrationInfo::put_Author", L"Cannot put identification info: %x"},
    {L"IRegistrationInfo::put_Description", L"Cannot put task description: %x"},
    {L"ITaskDefinition::get_Triggers", L"Cannot get trigger collection: %x"},
    {L"ITriggerCollection::Create", L"Cannot add logon trigger to the Task %x"},
    {L"ITaskDefinition::get_Principal", L"Cannot get principal pointer: %x"},
    {L"IPrincipal::put_RunLevel", L"Cannot put principal run level: %x"},
    {L"ITaskDefinition::get_Settings", L"Cannot get settings pointer: %x"},
    {L"ITaskSettings::get_IdleSettings", L"Cannot put setting info: %x"},
    {L"ITaskDefinition::get_Actions", L"Cannot get Task collection pointer: %x"},
    {L"IActionCollection::Create", L"Cannot create ActionCollection: %x"},
    {L"IAction::QueryInterface(IExecAction)", L"Cannot get IID_IExecAction Interface: %x"},
    {L"IExecAction::put_Path", L"Cannot set path of executable: %x"},
    {L"IExecAction::put_Arguments", L"Cannot set arguments of executable: %x"},
    {L"ITaskFolder::RegisterTaskDefinition", L"Error saving the Task : %x"},
    // The connection's own failures.
    {L"IClassFactory::CreateInstance", L"Failed to CoCreate an instance of the TaskService class: %x"},
    {L"ITaskService::Connect", L"ITaskService::Connect failed: %x"},
    {L"ITaskService::GetFolder", L"Cannot get Root Folder pointer: %x"},
};

TEST_F(LogonStartTest, EveryFailureWhileBuildingEndsWithItsStatusAndMessage)
{
    const HRESULT injected = static_cast<HRESULT>(0x80041234);
    for (const FailurePoint& point : kFatal) {
        SCOPED_TRACE(narrow(point.call));
        standin::clearFaults();
        traces().clear();
        seedOldTask();
        standin::failCall(point.call, injected);

        EXPECT_EQ(injected, EnableLogonStartup(kTask, kAuthor, kDescription, kExe, 1));
        EXPECT_EQ(1u, traces().size()) << messages();
        EXPECT_TRUE(reported(kPrefix + point.message, injected)) << messages();
        EXPECT_EQ(0, standin::liveObjects());
        standin::Task left;
        const bool connected = std::wstring(point.call).find(L"ITaskService::GetFolder") == std::wstring::npos &&
                               std::wstring(point.call).find(L"IClassFactory") == std::wstring::npos &&
                               std::wstring(point.call).find(L"Connect") == std::wstring::npos;
        // Once the root folder was open the old task is gone, whatever failed after.
        EXPECT_EQ(!connected, standin::loadTask(kTask, left));
    }
}

TEST_F(LogonStartTest, ThePrincipalIdAndLogonTypeFailuresAreReportedAndTheTaskStillBuilt)
{
    const HRESULT injected = E_ACCESSDENIED;
    standin::failCall(L"IPrincipal::put_Id", injected);
    standin::failCall(L"IPrincipal::put_LogonType", injected);
    EXPECT_EQ(0, EnableLogonStartup(kTask, kAuthor, kDescription, kExe, 1));
    EXPECT_TRUE(reported(kPrefix + L"Cannot put the principal ID: %x", injected)) << messages();
    EXPECT_TRUE(reported(kPrefix + L"Cannot put principal logon type: %x", injected)) << messages();
    standin::Task task;
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_EQ(TASK_RUNLEVEL_HIGHEST, task.runLevel);
}

TEST_F(LogonStartTest, FailuresThatDoNotMatterAreIgnored)
{
    seedOldTask();
    for (const wchar_t* call : {L"ITaskFolder::DeleteTask", L"ITaskSettings::put_AllowHardTerminate",
                                L"ITaskSettings::put_DisallowStartIfOnBatteries",
                                L"ITaskSettings::put_StopIfGoingOnBatteries", L"ITaskSettings::put_ExecutionTimeLimit",
                                L"ITaskSettings::put_MultipleInstances", L"IIdleSettings::put_StopOnIdleEnd"}) {
        standin::failCall(call, E_FAIL);
    }
    // The old task could not be deleted, so registering with TASK_CREATE meets it.
    const HRESULT exists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    EXPECT_EQ(exists, EnableLogonStartup(kTask, kAuthor, kDescription, kExe, 1));
    EXPECT_TRUE(reported(kPrefix + L"Error saving the Task : %x", exists)) << messages();

    standin::deleteAllTasks();
    traces().clear();
    EXPECT_EQ(0, EnableLogonStartup(kTask, kAuthor, kDescription, kExe, 1)) << messages();
    EXPECT_TRUE(traces().empty()) << messages();
}

TEST_F(LogonStartTest, ARootFolderLookupThatYieldsNothingIsAFailureWhateverItsStatus)
{
    standin::failCall(L"ITaskService::GetFolder", S_FALSE);
    EXPECT_EQ(E_POINTER, EnableLogonStartup(kTask, kAuthor, kDescription, kExe, 1));
    EXPECT_TRUE(reported(kPrefix + L"Cannot get Root Folder pointer: %x", S_FALSE)) << messages();
    EXPECT_EQ(E_POINTER, DisableLogonStartup(kTask));
    EXPECT_TRUE(reported(L"<LogonStart> DisableLogonStartup - Cannot get Root Folder pointer: %x", S_FALSE));
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask));
    EXPECT_TRUE(reported(L"<LogonStart> IsLogonStartupEnabled - Cannot get Root Folder pointer: %x", S_FALSE));
}

}  // namespace
