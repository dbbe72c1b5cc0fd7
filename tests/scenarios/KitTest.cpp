// The acceptance kit under Wine's cmd, as an engineer runs it on a reference machine: it
// passes the program and the package and leaves the machine as its marker asks, and it
// fails, naming the step, for a program that does nothing.
#include "standin/taskscheduler/TaskSchedulerStandIn.h"
#include "tests/scenarios/TarvelState.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kKit[] = L"C:\\kit";

class Kit : public testing::Test {
protected:
    // A copy of the kit, so that its logs stay in the prefix; as release, with the marker as
    // an engineer might have left it.
    void SetUp() override
    {
        const std::wstring from = host::tarvelKit();
        for (const wchar_t* file : {L"acceptance.cmd", L"tarvel.exe", L"tarvel-check.exe", L"tarvel-1.0.0.1.msi"}) {
            CreateDirectoryW(kKit, nullptr);
            ASSERT_TRUE(CopyFileW((from + L"\\" + file).c_str(), (std::wstring(kKit) + L"\\" + file).c_str(), FALSE))
                << GetLastError();
        }
        host::clearPath(state::ownMarker());
        state::clearDriverKeys();
        state::clearRunValues();
    }
    void TearDown() override
    {
        host::clearPath(state::ownMarker());
        state::clearRunValues();
        for (const wchar_t* exe : {L"tarvel.exe", L"tarvel-check.exe", L"msiexec.exe"}) {
            host::deleteTree(HKEY_CURRENT_USER, std::wstring(L"Software\\Wine\\AppDefaults\\") + exe);
        }
    }
    static void asRelease(const wchar_t* release)
    {
        // Wine gives a custom action the Windows version of its own host program.
        for (const wchar_t* exe : {L"tarvel.exe", L"tarvel-check.exe", L"msiexec.exe"}) {
            host::setWindowsVersion(exe, release);
        }
    }
    static DWORD runKit() { return host::runProgram(L"C:\\windows\\system32\\cmd.exe", L"/c C:\\kit\\acceptance.cmd"); }
    static std::string log() { return host::readText("C:\\kit\\logs\\acceptance.log"); }
};

TEST_F(Kit, OnTheRunKeyReleasesItPassesAndLeavesTheMachineAsItsMarkerAsks)
{
    asRelease(L"winxp");
    host::makeDirectory(state::ownMarker());
    EXPECT_EQ(0u, runKit()) << log();
    EXPECT_NE(std::string::npos, log().find("12 passed, 0 failed")) << log();
    EXPECT_EQ(host::PathKind::Directory, host::pathKind(state::ownMarker()));
    state::expectPorts(0);
    EXPECT_EQ(L"C:\\kit\\tarvel.exe", state::runValue().text());
}

TEST_F(Kit, OnWindows7ItPassesWithTheLogonTask)
{
    state::useTaskScheduler(host::standInDll());
    standin::deleteAllTasks();
    asRelease(L"win7");
    EXPECT_EQ(0u, runKit()) << log();
    EXPECT_NE(std::string::npos, log().find("12 passed, 0 failed")) << log();
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(state::ownMarker()));
    state::expectPorts(1);
    EXPECT_TRUE(standin::taskNames().empty());
    state::useTaskScheduler(state::kWineTaskScheduler);
}

TEST_F(Kit, AProgramThatDoesNothingFailsAndTheLogNamesTheStep)
{
    asRelease(L"winxp");
    ASSERT_TRUE(CopyFileW(host::doNothingExe().c_str(), L"C:\\kit\\tarvel.exe", FALSE)) << GetLastError();
    DeleteFileW(L"C:\\kit\\tarvel-1.0.0.1.msi");
    EXPECT_EQ(1u, runKit()) << log();
    EXPECT_NE(std::string::npos, log().find("FAIL  check after the first preload pass (exit status 1)")) << log();
    EXPECT_EQ(std::string::npos, log().find(" 0 failed")) << log();
}

}  // namespace
