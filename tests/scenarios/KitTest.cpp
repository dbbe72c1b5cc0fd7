// The acceptance kit under Wine's cmd, as an engineer runs it on a reference machine: it
// passes the program and the package and leaves the machine as its marker asks, and it
// fails, naming the step, for a program that does nothing.
#include "standin/taskscheduler/TaskSchedulerStandIn.h"
#include "tests/scenarios/TarvelState.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <tlhelp32.h>

#include <string>

namespace {

const wchar_t kKit[] = L"C:\\kit";
const wchar_t kMsiexec[] = L"C:\\windows\\system32\\msiexec.exe";
const wchar_t kUpgradeCode[] = L"{6C1D7E52-3B8A-4F0E-9D2A-5E4B7C9A1F30}";

// The package's file name, tarvel-<version>.msi.
std::wstring packageName()
{
    const std::wstring package = host::tarvelPackage();
    return package.substr(package.rfind(L'\\') + 1);
}

class Kit : public testing::Test {
protected:
    // A copy of the kit, so that its logs stay in the prefix; as release, with the marker as
    // an engineer might have left it.
    void SetUp() override
    {
        copyKit(kKit);
        host::clearPath(state::ownMarker());
        state::clearDriverKeys();
        state::clearRunValues();
    }
    static void copyKit(const std::wstring& to)
    {
        const std::wstring from = host::tarvelKit();
        CreateDirectoryW(to.c_str(), nullptr);
        for (const std::wstring& file :
             {std::wstring(L"acceptance.cmd"), std::wstring(L"restore.cmd"), std::wstring(L"tarvel.exe"),
              std::wstring(L"tarvel-check.exe"), packageName()}) {
            ASSERT_TRUE(CopyFileW((from + L"\\" + file).c_str(), (to + L"\\" + file).c_str(), FALSE)) << GetLastError();
        }
    }
    // Whatever a test left half-way: a product the kit installed, the stand-in stopped, the
    // kit's copies and their logs.
    void TearDown() override
    {
        wchar_t product[39] = {};
        if (MsiEnumRelatedProductsW(kUpgradeCode, 0, 0, product) == ERROR_SUCCESS) {
            host::runProgram(kMsiexec, std::wstring(L"/x ") + product + L" /qn");
        }
        host::clearPath(state::ownMarker());
        state::clearRunValues();
        standin::setStopped(false);
        standin::deleteAllTasks();
        state::useTaskScheduler(state::kWineTaskScheduler);
        for (const wchar_t* exe : {L"tarvel.exe", L"tarvel-check.exe", L"msiexec.exe"}) {
            host::deleteTree(HKEY_CURRENT_USER, std::wstring(L"Software\\Wine\\AppDefaults\\") + exe);
        }
        for (const wchar_t* kit : {kKit, L"C:\\kit!1 & (b)"}) {
            host::removeTree(kit);
        }
    }
    static void asRelease(const wchar_t* release)
    {
        // Wine gives a custom action the Windows version of its own host program.
        for (const wchar_t* exe : {L"tarvel.exe", L"tarvel-check.exe", L"msiexec.exe"}) {
            host::setWindowsVersion(exe, release);
        }
    }
    // A kit that waits for console input never ends: it is stopped and fails.
    static DWORD runKit(const std::wstring& kit = kKit)
    {
        // From its own folder, as an engineer starts it there.
        const HANDLE process = host::startProgram(L"C:\\windows\\system32\\cmd.exe", L"/c acceptance.cmd", kit);
        if (process == nullptr) {
            return STILL_ACTIVE + 1;
        }
        DWORD status = STILL_ACTIVE;
        if (WaitForSingleObject(process, 3 * 60 * 1000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the kit did not end: it waits for console input";
            TerminateProcess(process, STILL_ACTIVE);
        }
        GetExitCodeProcess(process, &status);
        CloseHandle(process);
        return status;
    }
    // Waits until nothing the kit started runs any more: a cut kit leaves them running.
    static void waitForItsPrograms()
    {
        for (int tries = 0; tries < 600; ++tries) {
            bool running = false;
            const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
            PROCESSENTRY32W entry = {};
            entry.dwSize = sizeof entry;
            for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
                for (const wchar_t* name : {L"tarvel.exe", L"tarvel-check.exe", L"msiexec.exe"}) {
                    running = running || lstrcmpiW(entry.szExeFile, name) == 0;
                }
            }
            CloseHandle(snapshot);
            if (!running) {
                endWaiters();
                return;
            }
            Sleep(100);
        }
        ADD_FAILURE() << "what the cut kit started did not end";
    }
    // Wine's start.exe, left by the cut cmd, may wait on for what has ended, holding the
    // test's output open: as a power cut would, it goes.
    static void endWaiters()
    {
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            if (lstrcmpiW(entry.szExeFile, L"start.exe") == 0) {
                if (HANDLE waiter = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID)) {
                    TerminateProcess(waiter, 1);
                    CloseHandle(waiter);
                }
            }
        }
        CloseHandle(snapshot);
    }
    // Starts the kit and cuts it short (its cmd killed, as by a closed window) once reached
    // says so; false when it ended before.
    static bool cutKitWhen(bool (*reached)())
    {
        const HANDLE process = host::startProgram(L"C:\\windows\\system32\\cmd.exe", L"/c acceptance.cmd", kKit);
        bool cut = false;
        while (!cut && WaitForSingleObject(process, 2) == WAIT_TIMEOUT) {
            cut = reached() && TerminateProcess(process, 1);
        }
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
        return cut;
    }
    static std::string log() { return host::readText("C:\\kit\\logs\\acceptance.log"); }
    static bool has(const std::string& line) { return log().find(line) != std::string::npos; }
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

    // A negative status is a failure, however a script compares it.
    standin::setStopped(true);
    EXPECT_EQ(1u, runKit()) << log();
    EXPECT_TRUE(has("FAIL  first preload pass (exit status -2147216619)")) << log();
    standin::setStopped(false);
    state::useTaskScheduler(state::kWineTaskScheduler);
}

TEST_F(Kit, AProgramThatDoesNothingFailsAndTheLogNamesTheStep)
{
    asRelease(L"winxp");
    ASSERT_TRUE(CopyFileW(host::doNothingExe().c_str(), L"C:\\kit\\tarvel.exe", FALSE)) << GetLastError();
    DeleteFileW((L"C:\\kit\\" + packageName()).c_str());
    EXPECT_EQ(1u, runKit()) << log();
    EXPECT_NE(std::string::npos, log().find("FAIL  check after the first preload pass (exit status 1)")) << log();
    EXPECT_EQ(std::string::npos, log().find(" 0 failed")) << log();
}

// A cmd that takes itself for WOW64 on 32-bit Windows (or the other way round) toggles
// another marker than the program reads: every check then sees the other mode, and
// that is a failure, never a pass.
TEST_F(Kit, AChecksModeOtherThanTheStepMeantFails)
{
    // Wine sets PROCESSOR_ARCHITEW6432 itself in every WOW64 process, whatever its parent
    // hands down: there the kit always finds the program's marker.
    if (host::underWow64()) {
        GTEST_SKIP() << "a WOW64 cmd always knows it runs under WOW64 here";
    }
    asRelease(L"winxp");
    DeleteFileW((L"C:\\kit\\" + packageName()).c_str());
    SetEnvironmentVariableW(L"PROCESSOR_ARCHITEW6432", L"AMD64");
    const DWORD status = runKit();
    SetEnvironmentVariableW(L"PROCESSOR_ARCHITEW6432", nullptr);
    EXPECT_EQ(1u, status) << log();
    EXPECT_TRUE(has("FAIL  check after the first preload pass (the check did not see preload mode")) << log();
    EXPECT_EQ(std::string::npos, log().find("PASS  check after the first preload pass")) << log();
}

// Everything of the machine that a kit run or restore.cmd may change.
std::wstring machine()
{
    const std::wstring marker = state::ownMarker();
    std::wstring text = L"marker " + std::to_wstring(static_cast<int>(host::pathKind(marker)));
    text += L" aside " + std::to_wstring(static_cast<int>(host::pathKind(marker + L".acceptance")));
    text += L" run " + (state::runValue().present ? state::runValue().text() : L"-");
    const host::RegValue port = host::readValue(HKEY_LOCAL_MACHINE, state::portKey(0), L"DIPM");
    text += L" port " + (port.present ? std::to_wstring(port.data.at(0)) : L"-");
    wchar_t product[39] = {};
    text += MsiEnumRelatedProductsW(kUpgradeCode, 0, 0, product) == ERROR_SUCCESS ? L" installed" : L" not installed";
    return text;
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A run cut short at any point is never taken for the machine's own state: the next run
// changes nothing, and restore.cmd undoes what the cut run changed, whatever step it was at.
TEST_F(Kit, ARunCutShortIsUndoneByRestoreAndBlocksTheNextRunTillThen)
{
    asRelease(L"winxp");
    const std::wstring marker = state::ownMarker();
    const std::wstring package = L"C:\\kit\\" + packageName();
    const std::wstring aside = L"C:\\kit-package-aside.msi";
    struct Cut {
        const char* what;
        bool markerFound;
        bool withPackage;
        bool (*reached)();
    };
    const Cut cuts[] = {
        {"its own marker in place", false, false,
         [] { return host::pathKind(state::ownMarker()) == host::PathKind::Directory; }},
        {"a found marker moved aside", true, false,
         [] { return host::pathKind(state::ownMarker() + L".acceptance") == host::PathKind::Directory; }},
        {"the package being installed", false, true,
         [] { return host::pathKind(L"C:\\kit\\logs\\install.log") == host::PathKind::File; }},
    };
    for (const Cut& cut : cuts) {
        host::removeTree(marker);
        if (cut.markerFound) {
            host::makeDirectory(marker);
            host::makeFile(marker + L"\\readme.txt");
        }
        state::clearRunValues();
        host::writeDword(HKEY_LOCAL_MACHINE, state::portKey(0), L"DIPM", 7);
        // Without the package the runs are short; its own cut puts it back.
        if (!cut.withPackage) {
            MoveFileW(package.c_str(), aside.c_str());
        }
        const std::wstring found = machine();
        ASSERT_TRUE(cutKitWhen(cut.reached)) << cut.what << ": the kit ended first\n" << log();
        waitForItsPrograms();
        const std::wstring left = machine();
        EXPECT_NE(found, left) << cut.what << ": the cut run changed nothing";

        EXPECT_EQ(3u, runKit()) << cut.what;
        EXPECT_EQ(left, machine()) << cut.what << ": a run after a cut one changed the machine";
        // The first also puts back the port values from before the run, with no pass after them.
        const bool ports = &cut == &cuts[0];
        const DWORD restored =
            host::runProgram(L"C:\\windows\\system32\\cmd.exe",
                             L"/c C:\\kit\\logs\\restore.cmd" + std::wstring(ports ? L" ports" : L""));
        EXPECT_EQ(0u, restored) << cut.what;
        if (ports) {
            EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, state::portKey(0), L"DIPM").isDword(7)) << cut.what;
        }
        EXPECT_EQ(host::PathKind::Missing, host::pathKind(L"C:\\kit\\logs\\run.state")) << cut.what;
        // As found, with the start-up as a run that ended leaves it.
        EXPECT_EQ(cut.markerFound ? host::PathKind::Directory : host::PathKind::Missing, host::pathKind(marker))
            << cut.what;
        if (cut.markerFound) {
            EXPECT_EQ(host::PathKind::File, host::pathKind(marker + L"\\readme.txt")) << cut.what;
            EXPECT_EQ(L"C:\\kit\\tarvel.exe", state::runValue().text()) << cut.what;
        } else {
            EXPECT_FALSE(state::runValue().present) << cut.what;
        }
        EXPECT_EQ(host::PathKind::Missing, host::pathKind(marker + L".acceptance")) << cut.what;
        EXPECT_NE(std::wstring::npos, machine().find(L" not installed")) << cut.what << ": " << narrow(machine());
        MoveFileW(aside.c_str(), package.c_str());
    }
    // And the run after that passes, the package included.
    host::removeTree(marker);
    EXPECT_EQ(0u, runKit()) << log();
    EXPECT_TRUE(has("12 passed, 0 failed")) << log();
}

// Read-only media, or a file where its logs folder belongs: without a log it could not say
// what it changed, so it changes nothing.
TEST_F(Kit, WithoutALogItChangesNothing)
{
    asRelease(L"winxp");
    host::removeTree(L"C:\\kit\\logs");
    host::makeFile(L"C:\\kit\\logs");
    const std::wstring found = machine();
    EXPECT_EQ(2u, runKit());
    EXPECT_EQ(found, machine());
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(state::ownMarker() + L".acceptance"));
}

// What the marker holds stays: a directory is moved aside and back, never emptied, and a
// normal pass in preload mode can never pass.
TEST_F(Kit, AMarkerThatHoldsFilesOrIsAReadOnlyFileIsMovedAsideAndBackWhole)
{
    asRelease(L"winxp");
    const std::wstring marker = state::ownMarker();
    host::makeDirectory(marker);
    host::makeFile(marker + L"\\readme.txt");
    EXPECT_EQ(0u, runKit()) << log();
    EXPECT_TRUE(has("12 passed, 0 failed")) << log();
    EXPECT_TRUE(has("logs\\restore.cmd")) << log();
    EXPECT_EQ(host::PathKind::File, host::pathKind(marker + L"\\readme.txt"));
    host::clearPath(marker + L"\\readme.txt");

    host::clearPath(marker);
    host::makeFile(marker);
    ASSERT_TRUE(SetFileAttributesW(marker.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(0u, runKit()) << log();
    EXPECT_TRUE(has("12 passed, 0 failed")) << log();
    EXPECT_EQ(host::PathKind::File, host::pathKind(marker));
    EXPECT_NE(0u, GetFileAttributesW(marker.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(marker.c_str(), FILE_ATTRIBUTE_NORMAL);

    // The restore script, run after a run cut short with the marker aside, puts it back.
    const std::wstring aside = marker + L".acceptance";
    ASSERT_TRUE(MoveFileW(marker.c_str(), aside.c_str()));
    EXPECT_EQ(0u, host::runProgram(L"C:\\windows\\system32\\cmd.exe", L"/c C:\\kit\\logs\\restore.cmd"));
    EXPECT_EQ(host::PathKind::File, host::pathKind(marker));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(aside));
    EXPECT_EQ(L"C:\\kit\\tarvel.exe", state::runValue().text()) << "the restore's pass";
}

// A product deployed to the machine stays installed, and its start-up where it was.
TEST_F(Kit, ADeployedProductIsLeftInstalledWithItsStartup)
{
    asRelease(L"winxp");
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, host::runProgram(kMsiexec,
                                   L"/i \"C:\\kit\\" + packageName() + L"\" /qn INSTALLDIR=C:\\Deployed\\Tarvel\\"));
    const std::wstring before = state::runValue().text();
    ASSERT_EQ(L"C:\\Deployed\\Tarvel\\tarvel.exe", before);
    EXPECT_EQ(0u, runKit()) << log();
    EXPECT_TRUE(has("8 passed, 0 failed")) << log();
    EXPECT_TRUE(has("install and uninstall skipped")) << log();
    EXPECT_EQ(host::PathKind::File, host::pathKind(L"C:\\Deployed\\Tarvel\\tarvel.exe"));
    EXPECT_EQ(before, state::runValue().text());
    EXPECT_EQ(0u, host::runProgram(kMsiexec, L"/x \"C:\\kit\\" + packageName() + L"\" /qn"));
}

// A kit copied to a folder whose name cmd could take for syntax.
TEST_F(Kit, ItRunsFromAnyFolderName)
{
    asRelease(L"winxp");
    const std::wstring kit = L"C:\\kit!1 & (b)";
    copyKit(kit);
    host::makeDirectory(state::ownMarker());
    EXPECT_EQ(0u, runKit(kit)) << host::readText("C:\\kit!1 & (b)\\logs\\acceptance.log");
    EXPECT_NE(std::string::npos, host::readText("C:\\kit!1 & (b)\\logs\\acceptance.log").find("12 passed, 0 failed"));
    EXPECT_EQ(L"\"" + kit + L"\\tarvel.exe\"", state::runValue().text());
}

}  // namespace
