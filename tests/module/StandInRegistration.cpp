#include "tests/module/StandInRegistration.h"

#include "common/product/Deadlines.h"

#include <process.h>

namespace {

std::vector<Trace> collected;

void collect(const wchar_t* message, HRESULT status) { collected.push_back({message, status}); }

// Wine looks registered class objects up per apartment: the registration has to come from
// a thread in the multithreaded apartment, which stays there while the tests run.
class InProcessServer : public testing::Environment {
public:
    void SetUp() override
    {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &InProcessServer::serve, this, 0, nullptr));
        ASSERT_NE(nullptr, thread_);
        WaitForSingleObject(ready_, INFINITE);
        ASSERT_EQ(S_OK, registered_) << "cannot register the Task Scheduler stand-in";
        setLogonStartListener(collect);
    }
    void TearDown() override
    {
        setLogonStartListener(nullptr);
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(stop_);
        CloseHandle(ready_);
    }

private:
    static unsigned __stdcall serve(void* self)
    {
        auto* server = static_cast<InProcessServer*>(self);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        DWORD cookie = 0;
        server->registered_ = CoRegisterClassObject(standin::kTaskSchedulerClsid, standin::classFactory(),
                                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        SetEvent(server->ready_);
        WaitForSingleObject(server->stop_, INFINITE);
        if (SUCCEEDED(server->registered_)) {
            CoRevokeClassObject(cookie);
        }
        CoUninitialize();
        return 0;
    }

    HANDLE ready_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
    HRESULT registered_ = E_FAIL;
};

const LogonStartPlatform realPlatform = logonStartPlatform;

}  // namespace

std::vector<Trace>& traces() { return collected; }

void LogonStartTest::SetUp()
{
    // Each test is a pass of its own: one whole deadline.
    startTaskSchedulerDeadline();
    standin::deleteAllTasks();
    standin::clearFaults();
    standin::setStopped(false);
    logonStartPlatform = realPlatform;
    collected.clear();
}

void LogonStartTest::TearDown()
{
    EXPECT_EQ(0, standin::liveObjects()) << "a Task Scheduler reference was not released";
    logonStartPlatform = realPlatform;
    standin::clearFaults();
    standin::setStopped(false);
}

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        out += c < 128 ? static_cast<char>(c) : '?';
    }
    return out;
}

std::wstring LogonStartTest::messages()
{
    std::wstring all;
    for (const Trace& trace : collected) {
        wchar_t status[16];
        swprintf(status, 16, L"%08lx", static_cast<unsigned long>(trace.status));
        all += trace.message + L" [" + status + L"]\n";
    }
    return all;
}

bool LogonStartTest::reported(const std::wstring& message, HRESULT status)
{
    for (const Trace& trace : collected) {
        if (trace.message == message && trace.status == status) {
            return true;
        }
    }
    return false;
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new InProcessServer());
    return RUN_ALL_TESTS();
}
