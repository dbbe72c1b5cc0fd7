// Each worker's COM set-up: process security once, and the thread's apartment left as found.
#include "tests/module/StandInRegistration.h"

#include <process.h>

namespace {

const wchar_t kTask[] = L"Ombrix Tarvel";
const wchar_t kExe[] = L"C:\\tarvel\\tarvel.exe";

int securityCalls = 0;
// Calls whose arguments were not exactly the process-wide security the workers ask for.
int otherSecurityCalls = 0;
HRESULT securityAnswer = S_OK;

// Wine's CoInitializeSecurity takes any arguments, so they are checked here.
HRESULT WINAPI fakeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG authServices, SOLE_AUTHENTICATION_SERVICE* services,
                            void* reserved1, DWORD authnLevel, DWORD impLevel, void* authList, DWORD capabilities,
                            void* reserved3)
{
    ++securityCalls;
    if (descriptor != nullptr || authServices != -1 || services != nullptr || reserved1 != nullptr ||
        authnLevel != RPC_C_AUTHN_LEVEL_PKT_PRIVACY || impLevel != RPC_C_IMP_LEVEL_IMPERSONATE || authList != nullptr ||
        capabilities != EOAC_NONE || reserved3 != nullptr) {
        ++otherSecurityCalls;
    }
    return securityAnswer;
}

TEST_F(LogonStartTest, LaterWorkersMeetSecurityAlreadySetAndCarryOn)
{
    // Wine's CoInitializeSecurity always agrees; Windows answers RPC_E_TOO_LATE after the first.
    logonStartPlatform.coInitializeSecurity = &fakeSecurity;
    securityCalls = 0;
    otherSecurityCalls = 0;
    securityAnswer = RPC_E_TOO_LATE;
    EXPECT_EQ(0, EnableLogonStartup(kTask, nullptr, nullptr, kExe, 1));
    EXPECT_EQ(1, IsLogonStartupEnabled(kTask));
    EXPECT_EQ(0, DisableLogonStartup(kTask));
    EXPECT_EQ(3, securityCalls);
    EXPECT_EQ(0, otherSecurityCalls) << "not packet privacy with impersonation, no authentication list";
    EXPECT_TRUE(traces().empty()) << messages();
}

TEST_F(LogonStartTest, ARefusedSecurityCallEndsEveryWorker)
{
    logonStartPlatform.coInitializeSecurity = &fakeSecurity;
    securityAnswer = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, EnableLogonStartup(kTask, nullptr, nullptr, kExe, 1));
    EXPECT_EQ(E_ACCESSDENIED, DisableLogonStartup(kTask));
    EXPECT_EQ(0, IsLogonStartupEnabled(kTask));
    for (const wchar_t* operation : {L"EnableLogonStartup", L"DisableLogonStartup", L"IsLogonStartupEnabled"}) {
        EXPECT_TRUE(reported(std::wstring(L"<LogonStart> ") + operation + L" - CoInitializeSecurity failed: %x",
                             E_ACCESSDENIED))
            << messages();
    }
    EXPECT_TRUE(standin::taskNames().empty());
}

// Runs a worker routine directly on a thread of its own that first joins `apartment` (or
// none), then tells what the worker left: how a further CoInitializeEx answers there.
struct DirectRun {
    LPTHREAD_START_ROUTINE worker;
    DWORD apartment;  // COINIT_*, or ~0u for a thread outside COM
    DWORD exitCode = 0;
    HRESULT beforeWorker = E_FAIL;
    HRESULT afterWorker = E_FAIL;
    HRESULT afterOwnRelease = E_FAIL;

    static unsigned __stdcall run(void* self)
    {
        auto* r = static_cast<DirectRun*>(self);
        const bool inCom = r->apartment != ~0u;
        if (inCom) {
            r->beforeWorker = CoInitializeEx(nullptr, r->apartment);
        }
        r->exitCode = r->worker(nullptr);
        // What the worker left: asking again for the same apartment answers S_FALSE while a
        // reference is still held, S_OK when COM was fully left.
        const DWORD again = inCom ? r->apartment : static_cast<DWORD>(COINIT_MULTITHREADED);
        r->afterWorker = CoInitializeEx(nullptr, again);
        if (SUCCEEDED(r->afterWorker)) {
            CoUninitialize();
        }
        if (inCom) {
            CoUninitialize();
            // With our own reference gone, the thread must be out of COM altogether.
            r->afterOwnRelease = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(r->afterOwnRelease)) {
                CoUninitialize();
            }
        }
        return 0;
    }

    void start()
    {
        HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &DirectRun::run, this, 0, nullptr));
        ASSERT_NE(nullptr, thread);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
};

TEST_F(LogonStartTest, AWorkerLeavesItsThreadsApartmentAsItFoundIt)
{
    logonStartRequest = {kTask, nullptr, nullptr, kExe, 1};
    logonStartPlatform.coInitializeSecurity = &fakeSecurity;
    securityAnswer = S_OK;

    for (LPTHREAD_START_ROUTINE worker : {&enableWorker, &queryWorker, &disableWorker}) {
        // A thread outside COM: the worker joins the multithreaded apartment and leaves it.
        DirectRun fresh{worker, ~0u};
        fresh.start();
        EXPECT_EQ(S_OK, fresh.afterWorker) << "the worker stayed in COM";

        // Already in the multithreaded apartment (S_FALSE): the process's security was set by
        // whoever put it there, and the worker's extra reference is given back.
        securityCalls = 0;
        DirectRun mta{worker, COINIT_MULTITHREADED};
        mta.start();
        ASSERT_EQ(S_OK, mta.beforeWorker);
        EXPECT_EQ(0, securityCalls);
        EXPECT_EQ(S_FALSE, mta.afterWorker);
        EXPECT_EQ(S_OK, mta.afterOwnRelease) << "the worker kept a COM reference";

        // In a single-threaded apartment (RPC_E_CHANGED_MODE) the worker gained nothing, so
        // it must not leave COM: the apartment is still there after it.
        securityCalls = 0;
        DirectRun sta{worker, COINIT_APARTMENTTHREADED};
        sta.start();
        ASSERT_EQ(S_OK, sta.beforeWorker);
        EXPECT_EQ(1, securityCalls);
        EXPECT_EQ(S_FALSE, sta.afterWorker) << "the worker tore down the thread's apartment";
        EXPECT_EQ(S_OK, sta.afterOwnRelease);
    }
    EXPECT_EQ(0, standin::liveObjects());
}

TEST_F(LogonStartTest, COMIsLeftOnEveryFailurePathOfTheWorker)
{
    logonStartRequest = {kTask, L"a", L"d", kExe, 1};
    const wchar_t* calls[] = {L"IClassFactory::CreateInstance", L"ITaskService::Connect",
                              L"ITaskService::GetFolder",       L"ITaskService::NewTask",
                              L"ITriggerCollection::Create",    L"ITaskFolder::RegisterTaskDefinition"};
    for (const wchar_t* call : calls) {
        standin::clearFaults();
        standin::failCall(call, E_FAIL);
        for (LPTHREAD_START_ROUTINE worker : {&enableWorker, &queryWorker, &disableWorker}) {
            DirectRun fresh{worker, ~0u};
            fresh.start();
            EXPECT_EQ(S_OK, fresh.afterWorker) << narrow(call);
        }
    }
    logonStartPlatform.coInitializeSecurity = &fakeSecurity;
    securityAnswer = E_ACCESSDENIED;
    DirectRun refused{&enableWorker, ~0u};
    refused.start();
    EXPECT_EQ(static_cast<DWORD>(E_ACCESSDENIED), refused.exitCode);
    EXPECT_EQ(S_OK, refused.afterWorker);
}

}  // namespace
