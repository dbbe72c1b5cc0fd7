// The three operations: what they refuse, one worker at a time, and a worker that cannot start.
#include "tests/module/StandInRegistration.h"
#include "common/product/Deadlines.h"
#include "tests/support/WinTestHost.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

const wchar_t kTask[] = L"Ombrix Tarvel";
const wchar_t kExe[] = L"C:\\tarvel\\tarvel.exe";

TEST_F(LogonStartTest, AbsentArgumentsAreRefusedAndAnEmptyNameIsNot)
{
    EXPECT_EQ(-1, EnableLogonStartup(nullptr, L"a", L"d", kExe, 1));
    EXPECT_EQ(-1, EnableLogonStartup(kTask, L"a", L"d", nullptr, 1));
    EXPECT_EQ(-1, DisableLogonStartup(nullptr));
    EXPECT_EQ(0, IsLogonStartupEnabled(nullptr));
    EXPECT_EQ(traces().size(), 4u) << messages();
    EXPECT_EQ(2, std::count_if(traces().begin(), traces().end(), [](const Trace& t) {
                  return t.message == L"<LogonStart> EnableLogonStartup - Parameter is invalided";
              }));
    EXPECT_TRUE(reported(L"<LogonStart> DisableLogonStartup - Parameter is invalided", S_OK));
    EXPECT_TRUE(reported(L"<LogonStart> IsLogonStartupEnabled - Parameter is invalided", S_OK));
    EXPECT_TRUE(standin::taskNames().empty());

    traces().clear();
    // Admitted: it is the service that refuses a name naming no task.
    EXPECT_EQ(E_INVALIDARG, DisableLogonStartup(L""));
    EXPECT_EQ(0, IsLogonStartupEnabled(L""));
    EXPECT_TRUE(traces().empty()) << messages();
}

// Calls every operation from inside a running worker, where the module is busy.
struct BusyProbe {
    static LONG enable, disable, query;
    static HRESULT WINAPI security(PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*, DWORD, DWORD, void*,
                                   DWORD, void*)
    {
        enable = EnableLogonStartup(kTask, nullptr, nullptr, kExe, 1);
        disable = DisableLogonStartup(kTask);
        query = IsLogonStartupEnabled(kTask);
        return RPC_E_TOO_LATE;
    }
};
LONG BusyProbe::enable, BusyProbe::disable, BusyProbe::query;

TEST_F(LogonStartTest, ASecondRequestWhileAWorkerRunsIsRefused)
{
    logonStartPlatform.coInitializeSecurity = &BusyProbe::security;
    EXPECT_EQ(0, EnableLogonStartup(kTask, L"Kelm, Feldane", nullptr, kExe, 1)) << messages();

    EXPECT_EQ(-1, BusyProbe::enable);
    EXPECT_EQ(-1, BusyProbe::disable);
    EXPECT_EQ(0, BusyProbe::query);
    EXPECT_TRUE(reported(L"<LogonStart> EnableLogonStartup - The module is busy in handling other request", S_OK));
    EXPECT_TRUE(reported(L"<LogonStart> DisableLogonStartup - The module is busy in handling other request", S_OK));
    EXPECT_TRUE(reported(L"<LogonStart> IsLogonStartupEnabled( - The module is busy in handling other request", S_OK));

    // The refused requests did not overwrite the running one, and the module is idle again.
    standin::Task task;
    ASSERT_TRUE(standin::loadTask(kTask, task));
    EXPECT_EQ(L"Kelm, Feldane", task.author);
    logonStartPlatform.coInitializeSecurity = &CoInitializeSecurity;
    EXPECT_EQ(1, IsLogonStartupEnabled(kTask)) << messages();
}

HANDLE lastWorker = nullptr;

HANDLE WINAPI noThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

HANDLE WINAPI recordedThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE routine,
                             LPVOID parameter, DWORD flags, LPDWORD id)
{
    lastWorker = CreateThread(attributes, stack, routine, parameter, flags, id);
    return lastWorker;
}

TEST_F(LogonStartTest, AWorkerThatCannotStartIsAFailure)
{
    logonStartPlatform.createThread = &noThread;
    const HRESULT noMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(noMemory, EnableLogonStartup(kTask, nullptr, nullptr, kExe, 1));
    EXPECT_EQ(noMemory, DisableLogonStartup(kTask));
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask));
    EXPECT_TRUE(reported(L"<LogonStart> EnableLogonStartup - Cannot create worker thread: %x", noMemory)) << messages();
    EXPECT_TRUE(reported(L"<LogonStart> DisableLogonStartup - Cannot create worker thread: %x", noMemory));
    EXPECT_TRUE(reported(L"<LogonStart> IsLogonStartupEnabled - Cannot create worker thread: %x", noMemory));

    // Nothing was left busy.
    logonStartPlatform.createThread = &CreateThread;
    EXPECT_EQ(0, EnableLogonStartup(kTask, nullptr, nullptr, kExe, 1)) << messages();
}

TEST_F(LogonStartTest, EveryWorkerThreadHandleIsClosed)
{
    logonStartPlatform.createThread = &recordedThread;
    DWORD flags = 0;
    EXPECT_EQ(0, EnableLogonStartup(kTask, nullptr, nullptr, kExe, 1));
    EXPECT_FALSE(GetHandleInformation(lastWorker, &flags)) << "the enable worker's handle is still open";
    EXPECT_EQ(1, IsLogonStartupEnabled(kTask));
    EXPECT_FALSE(GetHandleInformation(lastWorker, &flags)) << "the query worker's handle is still open";
    EXPECT_EQ(0, DisableLogonStartup(kTask));
    EXPECT_FALSE(GetHandleInformation(lastWorker, &flags)) << "the disable worker's handle is still open";
}

int threadsStarted = 0;

HANDLE WINAPI countedThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE routine,
                            LPVOID parameter, DWORD flags, LPDWORD id)
{
    ++threadsStarted;
    return CreateThread(attributes, stack, routine, parameter, flags, id);
}

// The version is per program in Wine, so this runs again as a copy of the test program set
// to each release; the copy finds what it is to check in LOGONSTART_CHILD.
TEST_F(LogonStartTest, TheVersionGateRefusesWindows5AndAdmitsLaterReleases)
{
    const char* child = std::getenv("LOGONSTART_CHILD");
    if (child != nullptr) {
        logonStartPlatform.createThread = &countedThread;
        if (std::string(child) == "refused") {
            ASSERT_EQ(5, LOBYTE(LOWORD(GetVersion())));
            EXPECT_EQ(-1, EnableLogonStartup(kTask, nullptr, nullptr, kExe, 1));
            EXPECT_EQ(-1, DisableLogonStartup(kTask));
            EXPECT_EQ(0, IsLogonStartupEnabled(kTask));
            EXPECT_EQ(0, threadsStarted);
            EXPECT_TRUE(reported(L"<LogonStart> EnableLogonStartup - The function is unsupported for this OS", S_OK));
            EXPECT_TRUE(reported(L"<LogonStart> DisableLogonStartup - The function is unsupported for this OS", S_OK));
            EXPECT_TRUE(
                reported(L"<LogonStart> IsLogonStartupEnabled - The function is unsupported for this OS", S_OK));
        } else {
            // 6.2 and later pass the gate, although the start-up policy never asks there.
            ASSERT_GE(LOBYTE(LOWORD(GetVersion())), 6);
            EXPECT_EQ(0, IsLogonStartupEnabled(kTask));
            EXPECT_EQ(1, threadsStarted);
            EXPECT_TRUE(traces().empty()) << messages();
        }
        return;
    }
    wchar_t self[MAX_PATH] = {};
    ASSERT_LT(GetModuleFileNameW(nullptr, self, MAX_PATH), static_cast<DWORD>(MAX_PATH));
    const std::wstring copy = L"C:\\tarvel-tests\\logonstart_version.exe";
    CreateDirectoryW(L"C:\\tarvel-tests", nullptr);
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE)) << GetLastError();
    const std::pair<const wchar_t*, const wchar_t*> releases[] = {
        {L"win2k", L"refused"}, {L"winxp", L"refused"}, {L"win8", L"admitted"}, {L"win10", L"admitted"}};
    for (const auto& release : releases) {
        host::setWindowsVersion(L"logonstart_version.exe", release.first);
        SetEnvironmentVariableW(L"LOGONSTART_CHILD", release.second);
        EXPECT_EQ(0u, host::runProgram(copy, L"--gtest_filter=*TheVersionGate*")) << narrow(release.first);
    }
    SetEnvironmentVariableW(L"LOGONSTART_CHILD", nullptr);
}

// A pass asks the question, then registers or deletes, within one deadline: wherever the
// service hangs, and however late it answered before, the pass ends when the deadline does.
// The hung call is let go afterwards, so that the next row finds the module free.
LONG workerRan = 0;
DWORD WINAPI markWorkerRan(LPVOID)
{
    InterlockedIncrement(&workerRan);
    return 0;
}

// Once the deadline has passed, its time left stays 0 and no worker starts: a registration
// started then would happen after the pass said the Task Scheduler did not answer.
TEST_F(LogonStartTest, NoWorkerStartsOnceTheDeadlineHasPassed)
{
    startTaskSchedulerDeadline(20);
    Sleep(60);
    EXPECT_EQ(0u, taskSchedulerTimeLeftMs()) << "the time left wrapped";
    Status status = 0;
    UniqueHandle leftRunning;
    EXPECT_EQ(WorkerEnd::NotStarted, runTaskSchedulerWorker(markWorkerRan, nullptr, status, leftRunning));
    EXPECT_EQ(kTaskSchedulerTimedOut, status);
    EXPECT_EQ(kTaskSchedulerTimedOut, static_cast<Status>(EnableLogonStartup(kTask, nullptr, nullptr, kExe, 1)));
    Sleep(50);
    EXPECT_EQ(0, workerRan) << "a worker ran";
    EXPECT_TRUE(standin::taskNames().empty()) << "registered after the deadline";
    startTaskSchedulerDeadline();
}

TEST_F(LogonStartTest, AHangAtAnyCallEndsThePassAtItsOneDeadline)
{
    const DWORD deadlineMs = 1000;
    // Late enough that a bound per call would run a second whole bound past the deadline.
    const DWORD lateMs = 900;
    struct Case {
        const char* what;
        bool taskActive;  // a pass in normal mode, which deletes it; else one that registers
        const wchar_t* late;
        const wchar_t* hung;
    };
    const Case cases[] = {
        {"a hang at Connect", false, nullptr, L"ITaskService::Connect"},
        {"a hang at GetFolder", false, nullptr, L"ITaskService::GetFolder"},
        {"a hang at GetTask", true, nullptr, L"ITaskFolder::GetTask"},
        {"a hang at NewTask", false, nullptr, L"ITaskService::NewTask"},
        {"a hang at RegisterTaskDefinition", false, nullptr, L"ITaskFolder::RegisterTaskDefinition"},
        {"a hang at DeleteTask", true, nullptr, L"ITaskFolder::DeleteTask"},
        {"a slow question, then a hang at registering", false, L"ITaskFolder::GetTask",
         L"ITaskFolder::RegisterTaskDefinition"},
        {"a slow question, then a hang at deleting", true, L"ITaskFolder::GetTask", L"ITaskFolder::DeleteTask"},
    };
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, standin::kReleaseHungCalls);
    ASSERT_NE(nullptr, release);
    for (const Case& item : cases) {
        standin::clearFaults();
        standin::deleteAllTasks();
        ResetEvent(release);
        startTaskSchedulerDeadline();
        if (item.taskActive) {
            ASSERT_EQ(0, EnableLogonStartup(kTask, nullptr, nullptr, kExe, 1)) << item.what;
        }
        if (item.late != nullptr) {
            standin::answerLate(item.late, lateMs);
        }
        standin::failCall(item.hung, standin::kNeverReturn);
        startTaskSchedulerDeadline(deadlineMs);
        const DWORD start = GetTickCount();
        const LONG active = IsLogonStartupEnabled(kTask, item.taskActive ? nullptr : kExe);
        LONG status = 0;
        if (!logonStartTimedOut()) {
            EXPECT_EQ(item.taskActive ? 1 : 0, active) << item.what;
            status = item.taskActive ? DisableLogonStartup(kTask) : EnableLogonStartup(kTask, L"a", L"d", kExe, 1);
            EXPECT_EQ(kTaskSchedulerTimedOut, status) << item.what;
        }
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_TRUE(logonStartTimedOut()) << item.what;
        EXPECT_GE(elapsed + 50, deadlineMs) << item.what << ": gave up before the deadline";
        EXPECT_LT(elapsed, deadlineMs + lateMs - 400) << item.what << ": waited past the deadline";
        EXPECT_EQ(0, IsLogonStartupEnabled(kTask)) << item.what << ": a worker left running takes no request";
        SetEvent(release);
        ASSERT_TRUE(reclaimWorkerLeftRunning(10000)) << item.what;
    }
    CloseHandle(release);
    standin::clearFaults();
    standin::deleteAllTasks();
}

}  // namespace
