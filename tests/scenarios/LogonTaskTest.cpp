// The shipping tarvel.exe as Windows Vista and 7: the logon task, kept through the Task
// Scheduler stand-in registered under the real class id, and Wine's own Task Scheduler.
#include "tests/scenarios/TarvelState.h"
#include "standin/taskscheduler/TaskSchedulerStandIn.h"
#include "tests/support/LogonTaskExpectations.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

namespace {

const wchar_t kTask[] = L"Ombrix Tarvel";

standin::Task activeTask(const std::wstring& path)
{
    standin::Task task;
    task.triggers = {{TASK_TRIGGER_LOGON, true}};
    task.actions = {{TASK_ACTION_EXEC, path, true, L""}};
    task.authorSet = true;
    task.author = L"seeded";
    return task;
}

class LogonTask : public testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override
    {
        state::useTaskScheduler(host::standInDll());
        standin::deleteAllTasks();
        standin::clearFaults();
        standin::setStopped(false);
        host::setWindowsVersion(L"tarvel.exe", GetParam());
        exe_ = host::placeTarvel(L"C:\\Program Files\\Tarvel");
        marker_ = state::ownMarker();
        host::clearPath(marker_);
        state::clearDriverKeys();
        state::clearRunValues();
    }
    // The prefix as the test found it: Program Files\Tarvel is where the package installs.
    void TearDown() override
    {
        host::clearPath(marker_);
        standin::deleteAllTasks();
        standin::clearFaults();
        standin::setStopped(false);
        state::useTaskScheduler(state::kWineTaskScheduler);
        host::clearPath(exe_);
        RemoveDirectoryW(exe_.substr(0, exe_.rfind(L'\\')).c_str());
        host::deleteTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\tarvel.exe");
    }

    // A pass that, whatever the Task Scheduler does, writes the ports and no Run value; its
    // exit status is the first failure, or 0.
    void pass(bool preload, HRESULT status = S_OK)
    {
        host::clearPath(marker_);
        if (preload) {
            host::makeDirectory(marker_);
        }
        EXPECT_EQ(static_cast<DWORD>(status), host::runProgram(exe_));
        state::expectPorts(preload ? 0 : 1);
        EXPECT_FALSE(state::runValue().present);
    }

    std::wstring exe_;
    std::wstring marker_;
};

TEST_P(LogonTask, PreloadRegistersTheTaskForTheProgramAndASecondPassKeepsIt)
{
    pass(true);
    standin::Task task;
    ASSERT_TRUE(standin::loadTask(kTask, task));
    expectTarvelLogonTask(task, exe_, L"Administrators");
    ASSERT_EQ(1u, task.actions.size());
    EXPECT_EQ(TASK_ACTION_EXEC, task.actions[0].type);

    // An active task is not rebuilt: what the second pass finds, it leaves.
    task.author = L"left as it was";
    standin::storeTask(kTask, task);
    pass(true);
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_EQ(L"left as it was", task.author);
}

// The task must start the copy that ran last: a copy that was moved or deleted would leave
// nothing to start at logon, so nothing would ever turn the ports back on.
TEST_P(LogonTask, ACopyElsewhereTakesTheTaskOverAndThenKeepsIt)
{
    const std::wstring first = host::placeTarvel(L"C:\\a");
    host::clearPath(marker_);
    host::makeDirectory(marker_);
    EXPECT_EQ(0u, host::runProgram(first));
    DeleteFileW(first.c_str());
    pass(true);
    standin::Task task;
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_EQ(exe_, task.actions.at(0).path);

    // Windows compares paths without regard to case: the same program, not rebuilt.
    for (wchar_t& c : task.actions.at(0).path) {
        c = static_cast<wchar_t>(towupper(c));
    }
    task.author = L"left as it was";
    standin::storeTask(kTask, task);
    pass(true);
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_EQ(L"left as it was", task.author);
}

// A client nobody here wrote finds and removes the task the program registered.
TEST_P(LogonTask, WinesSchtasksDeletesTheTaskTarvelRegistered)
{
    pass(true);
    standin::storeTask(L"Neighbour", activeTask(L"C:\\n.exe"));
    ASSERT_EQ(2u, standin::taskNames().size());
    EXPECT_EQ(0u, host::runProgram(L"C:\\windows\\system32\\schtasks.exe", L"/Delete /TN \"Ombrix Tarvel\" /F"));
    EXPECT_EQ(std::vector<std::wstring>{L"Neighbour"}, standin::taskNames());
}

TEST_P(LogonTask, ADisabledTaskIsReplacedInPreloadModeAndLeftInNormalMode)
{
    standin::Task disabled = activeTask(L"C:\\elsewhere\\tarvel.exe");
    disabled.enabled = false;
    standin::storeTask(kTask, disabled);
    pass(false);
    standin::Task task;
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_FALSE(task.enabled);
    EXPECT_EQ(L"seeded", task.author);

    pass(true);
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_TRUE(task.enabled);
    EXPECT_EQ(L"Kelm, Feldane", task.author);
    EXPECT_EQ(exe_, task.actions.at(0).path);
}

TEST_P(LogonTask, NormalModeDeletesAnActiveTask)
{
    standin::storeTask(kTask, activeTask(exe_));
    standin::storeTask(L"Neighbour", activeTask(L"C:\\n.exe"));
    pass(false);
    EXPECT_EQ(std::vector<std::wstring>{L"Neighbour"}, standin::taskNames());
}

TEST_P(LogonTask, AFailingTaskSchedulerHoldsBackNothingElseAndIsTheExitStatus)
{
    const HRESULT notRunning = static_cast<HRESULT>(0x80041315);
    standin::setStopped(true);
    pass(true, notRunning);
    EXPECT_TRUE(standin::taskNames().empty());
    standin::setStopped(false);

    standin::failCall(L"ITaskFolder::RegisterTaskDefinition", E_ACCESSDENIED);
    pass(true, E_ACCESSDENIED);
    EXPECT_TRUE(standin::taskNames().empty());
    standin::clearFaults();

    // A task the service will not delete goes on starting the program at every logon.
    standin::storeTask(kTask, activeTask(exe_));
    standin::failCall(L"ITaskFolder::DeleteTask", E_ACCESSDENIED);
    pass(false, E_ACCESSDENIED);
    EXPECT_EQ(std::vector<std::wstring>{kTask}, standin::taskNames());
}

TEST_P(LogonTask, ThePortsAreWrittenBeforeTheTaskSchedulerIsAsked)
{
    // A Task Scheduler that never comes back, and the process killed inside the call.
    standin::failCall(L"ITaskService::Connect", standin::kEndTheProcess);
    // Kept open here so that the lock outlives the pass, which must die still holding it:
    // the lock lasts until the start-up step has ended.
    const HANDLE lock = CreateMutexW(nullptr, FALSE, state::kPassLock);
    ASSERT_NE(nullptr, lock);
    for (bool preload : {true, false}) {
        state::clearDriverKeys();
        host::clearPath(marker_);
        if (preload) {
            host::makeDirectory(marker_);
        }
        EXPECT_EQ(static_cast<DWORD>(standin::kEndTheProcess), host::runProgram(exe_)) << "preload " << preload;
        state::expectPorts(preload ? 0 : 1);
        EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(lock, 0)) << "preload " << preload;
        ReleaseMutex(lock);
    }
    CloseHandle(lock);
}

TEST_P(LogonTask, APathCutAtTheBufferNeitherQueriesNorBuildsTheTask)
{
    standin::Task disabled = activeTask(L"C:\\elsewhere\\tarvel.exe");
    disabled.enabled = false;
    standin::storeTask(kTask, disabled);
    const std::wstring tooLong = host::placeTarvelAtPathLength(MAX_PATH);
    const std::wstring folder = tooLong.substr(0, tooLong.rfind(L'\\'));
    host::makeDirectory(marker_);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), host::runProgram(L"tarvel.exe", L"", folder));
    state::expectPorts(0);
    standin::Task task;
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_FALSE(task.enabled) << "the task was rebuilt for a path cut short";
    EXPECT_EQ(L"C:\\elsewhere\\tarvel.exe", task.actions.at(0).path);
}

INSTANTIATE_TEST_SUITE_P(Releases, LogonTask, testing::Values(L"vista", L"win7"),
                         [](const testing::TestParamInfo<const wchar_t*>& release) {
                             return std::string(release.param[0] == L'v' ? "vista" : "win7");
                         });

// Wine's own Task Scheduler cannot hold a logon task: the pass must still write the ports,
// leave no task behind and say it failed, with its service unable to start and running.
class WineTaskScheduler : public testing::Test {
protected:
    static SERVICE_STATUS scheduleStatus()
    {
        SERVICE_STATUS status = {};
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service = manager ? OpenServiceW(manager, L"Schedule", SERVICE_QUERY_STATUS) : nullptr;
        if (service != nullptr) {
            QueryServiceStatus(service, &status);
            CloseServiceHandle(service);
        }
        if (manager != nullptr) {
            CloseServiceHandle(manager);
        }
        return status;
    }
    // Through the service manager, which keeps its own copy of the configuration.
    static void setScheduleStart(DWORD start)
    {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        ASSERT_NE(nullptr, manager);
        SC_HANDLE service = OpenServiceW(manager, L"Schedule", SERVICE_CHANGE_CONFIG);
        EXPECT_NE(nullptr, service);
        if (service != nullptr) {
            EXPECT_TRUE(ChangeServiceConfigW(service, SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr));
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    static std::wstring wineTaskFile()
    {
        // The service keeps its tasks in the native system folder.
        return host::underWow64() ? L"C:\\windows\\sysnative\\tasks\\Ombrix Tarvel"
                                  : L"C:\\windows\\system32\\tasks\\Ombrix Tarvel";
    }
};

TEST_F(WineTaskScheduler, ThePassWritesThePortsAndLeavesNoTask)
{
    state::useTaskScheduler(state::kWineTaskScheduler);
    host::setWindowsVersion(L"tarvel.exe", L"win7");
    const std::wstring exe = host::placeTarvel(L"C:\\tarvel");
    const std::wstring marker = state::ownMarker();
    host::clearPath(marker);
    host::makeDirectory(marker);

    // Wine starts the service on the first connection; while it cannot start, Connect fails.
    ASSERT_NE(static_cast<DWORD>(SERVICE_RUNNING), scheduleStatus().dwCurrentState)
        << "the Schedule service already runs: this test must come first in its prefix";
    setScheduleStart(SERVICE_DISABLED);
    state::clearDriverKeys();
    EXPECT_NE(0u, host::runProgram(exe)) << "a pass that registered nothing reported success";
    state::expectPorts(0);
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), scheduleStatus().dwCurrentState);
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(wineTaskFile()));

    // Running, it connects, then refuses the logon trigger.
    setScheduleStart(SERVICE_DEMAND_START);
    state::clearDriverKeys();
    EXPECT_NE(0u, host::runProgram(exe)) << "a pass that registered nothing reported success";
    state::expectPorts(0);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), scheduleStatus().dwCurrentState);
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(wineTaskFile()));
    host::clearPath(marker);
}

}  // namespace
