// tarvel-check.exe after real passes of tarvel.exe: it says 0 only when the machine is as its
// marker asks, 1 for each kind of difference a pass mends, 0x20000001 where only what no pass
// mends differs, and changes nothing while it looks.
#include "standin/taskscheduler/TaskSchedulerStandIn.h"
#include "tests/scenarios/TarvelState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t kTask[] = L"Ombrix Tarvel";
// What differs is only what no pass mends: an administrator must act.
const DWORD kForAdministrator = 0x20000001;

// A copy of tarvel.exe that says it is "tarvel.exe" of another product: its version resource
// with the product name "Tarvel" rewritten in place.
std::wstring placeAnotherProductNamedTarvel(const std::wstring& dir)
{
    const std::wstring exe = host::placeTarvel(dir);
    host::editVersionResource(exe, [](std::vector<BYTE>& version) {
        std::wstring text(reinterpret_cast<const wchar_t*>(version.data()), version.size() / sizeof(wchar_t));
        const size_t key = text.find(L"ProductName");
        const size_t value = key == std::wstring::npos ? key : text.find(L"Tarvel", key);
        EXPECT_NE(std::wstring::npos, value) << "no product name in tarvel.exe's version resource";
        if (value != std::wstring::npos) {
            std::copy_n(L"Ombrix", 6, reinterpret_cast<wchar_t*>(version.data()) + value);
        }
    });
    return exe;
}

// Everything a check could change: the twelve switches, the Run value and the marker.
std::wstring machineState()
{
    std::wstring state = state::portSwitches();
    state += state::runValue().present ? state::runValue().text() : L"<no Run value>";
    state += L" marker:" + std::to_wstring(static_cast<int>(host::pathKind(state::ownMarker())));
    return state;
}

class Check : public testing::Test {
protected:
    void place(const wchar_t* release)
    {
        host::setWindowsVersion(L"tarvel.exe", release);
        host::setWindowsVersion(L"tarvel-check.exe", release);
        exe_ = host::placeTarvel(L"C:\\checked");
        check_ = L"C:\\checked\\tarvel-check.exe";
        ASSERT_TRUE(CopyFileW(host::tarvelCheck().c_str(), check_.c_str(), FALSE)) << GetLastError();
        host::clearPath(state::ownMarker());
        state::clearDriverKeys();
        state::clearRunValues();
    }
    void TearDown() override
    {
        host::clearPath(state::ownMarker());
        state::clearRunValues();
        standin::setStopped(false);
        standin::deleteAllTasks();
        state::useTaskScheduler(state::kWineTaskScheduler);
        for (const wchar_t* folder : {L"C:\\checked", L"C:\\open", L"C:\\Up"}) {
            host::removeTree(folder);
        }
    }

    // The program placed, the marker present, and a preload pass: a machine as its marker asks.
    void preloadPass(const wchar_t* release = L"winxp")
    {
        place(release);
        host::makeDirectory(state::ownMarker());
        ASSERT_EQ(0u, host::runProgram(exe_));
    }

    // The check's status, with the machine exactly as it was before it.
    DWORD check(const std::wstring& arguments = std::wstring())
    {
        const std::wstring before = machineState();
        const DWORD status = host::runProgram(check_, arguments);
        EXPECT_EQ(before, machineState()) << "the check changed the machine";
        return status;
    }

    // What the check prints, through cmd as a script would take it.
    std::string report(const std::wstring& arguments = std::wstring())
    {
        const std::wstring out = L"C:\\checked\\report.txt";
        host::runProgram(L"C:\\windows\\system32\\cmd.exe", L"/c " + check_ + L" " + arguments + L" > " + out);
        return host::readText("C:\\checked\\report.txt");
    }
    static int count(const std::string& text, const std::string& part)
    {
        int found = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++found;
        }
        return found;
    }

    std::wstring exe_;
    std::wstring check_;
};

TEST_F(Check, OnTheRunKeyReleasesAMachineAsItsMarkerAsksHoldsAndTheModeExpectedIsJudged)
{
    preloadPass();
    EXPECT_EQ(0u, check());

    // A script, or the policy a fleet sets (in the 64-bit view on 64-bit Windows, where Group
    // Policy writes it; from Windows 7 on, as in Wine, both views share the key), names the mode
    // expected: the other one differs, which no pass mends. Each argument is read whole; the
    // marker of the other kind of Windows is noted, never read.
    const wchar_t* kPolicy = L"SOFTWARE\\Policies\\Ombrix\\Tarvel";
    const DWORD kUsage = ERROR_INVALID_PARAMETER;
    const struct {
        const wchar_t* policy;  // "ExpectedMode", or none
        REGSAM view;
        std::wstring arguments;
        DWORD status;
        const char* line;
    } modes[] = {
        {nullptr, 0, L"/expect:preload", 0, nullptr},
        {nullptr, 0, L"/EXPECT:Preload ", 0, nullptr},
        {nullptr, 0, L"/expect:normal", kForAdministrator, "mode: wants normal mode, found preload mode: DIFFERS"},
        {nullptr, 0, L"/expect:later", kUsage, "usage: tarvel-check.exe [/expect:preload | /expect:normal | /?]"},
        {nullptr, 0, L"/expect:normal" + std::wstring(18, L' ') + L"--fix-everything", kUsage, nullptr},
        {nullptr, 0, L"/expect:preload" + std::wstring(40, L' ') + L"/expect:normal", kUsage, nullptr},
        {nullptr, 0, L"/?", 0, "usage: tarvel-check.exe"},
        {L"normal", KEY_WOW64_64KEY, L"", kForAdministrator,
         "mode, as the policy \"ExpectedMode\" asks: wants normal mode, found preload mode: DIFFERS"},
        {L"PreLoad", KEY_WOW64_64KEY, L"", 0, "mode, as the policy \"ExpectedMode\" asks: wants preload mode"},
        {L"weird", KEY_WOW64_64KEY, L"", kForAdministrator,
         "mode, as the policy \"ExpectedMode\" asks: wants preload or normal, found \"weird\": DIFFERS"},
        {L"normal", KEY_WOW64_64KEY, L"/expect:preload", 0, "note: /expect: wins over the policy \"ExpectedMode\""},
    };
    for (const auto& row : modes) {
        if (row.policy != nullptr) {
            host::writeString(HKEY_LOCAL_MACHINE, kPolicy, L"ExpectedMode", row.policy, row.view);
        }
        EXPECT_EQ(row.status, check(row.arguments)) << std::string(row.arguments.begin(), row.arguments.end());
        if (row.line != nullptr) {
            EXPECT_EQ(1, count(report(row.arguments), row.line)) << row.line << "\n" << report(row.arguments);
        }
        host::deleteTree(HKEY_LOCAL_MACHINE, kPolicy, row.view);
    }
    const std::wstring other = state::otherMarker();
    host::makeDirectory(other);
    const std::string noted = report();
    EXPECT_EQ(1, count(noted, "note: " + std::string(other.begin(), other.end()) +
                                  " is present, but it is not the marker this machine reads"))
        << noted;
    EXPECT_EQ(0u, check()) << "the other marker counted";
    host::clearPath(state::otherMarker());
}

TEST_F(Check, APortSwitchOrRunValueAPassMendsDiffersWithOne)
{
    preloadPass();
    host::deleteValue(HKEY_LOCAL_MACHINE, state::portKey(4), L"LPM");
    EXPECT_EQ(1u, check()) << "a port value missing";
    EXPECT_EQ(1u, check(L"/expect:normal")) << "a pass mends part of what differs";
    ASSERT_EQ(0u, host::runProgram(exe_));
    HKEY port = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, state::portKey(2).c_str(), 0, KEY_SET_VALUE, &port));
    const DWORD off = 0;
    RegSetValueExW(port, L"DIPM", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&off), sizeof off);
    RegCloseKey(port);
    EXPECT_EQ(1u, check()) << "the right value as REG_BINARY, which the driver does not read";
    ASSERT_EQ(0u, host::runProgram(exe_));
    // Its original file name says tarvel.exe, its product name another product.
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue,
                      placeAnotherProductNamedTarvel(L"C:\\checked\\other"), KEY_WOW64_32KEY);
    EXPECT_EQ(1u, check()) << "another product's tarvel.exe";
    ASSERT_EQ(0u, host::runProgram(exe_));
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"\"C:\\gone\\tarvel.exe\"",
                      KEY_WOW64_32KEY);
    EXPECT_EQ(1u, check()) << "a Run value naming a missing file";
    ASSERT_EQ(0u, host::runProgram(exe_));
}

TEST_F(Check, AStartupOthersCouldReplaceIsForAnAdministrator)
{
    preloadPass();
    // A start-up that others than administrators could replace.
    host::setPermissions(L"C:\\checked", host::kWorldWritable);
    EXPECT_EQ(kForAdministrator, check()) << "a world-writable folder";
    host::setPermissions(L"C:\\checked", host::kAdministratorsOnly);
    host::setPermissions(exe_, host::kWorldWritable);
    EXPECT_EQ(kForAdministrator, check()) << "a world-writable program";
    host::setPermissions(exe_, host::kAdministratorsOnly);
    EXPECT_EQ(0u, check());
    const std::wstring bare = host::placeTarvel(L"C:\\open");
    host::setPermissions(L"C:\\open", host::kWorldWritable);
    ASSERT_EQ(0u, host::runProgram(bare));
    EXPECT_EQ(kForAdministrator, check()) << "a bare copy run from a world-writable folder";
    // Forward slashes name the same program and folders, as Windows reads them.
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"C:/open/tarvel.exe", KEY_WOW64_32KEY);
    EXPECT_EQ(kForAdministrator, check()) << "a forward-slash value in a world-writable folder";
    EXPECT_EQ(1, count(report(),
                       "start-up: folder C:\\open: wants changed by administrators only, found renamed also by "
                       "Everyone: DIFFERS"));
    host::setPermissions(L"C:\\open", host::kAdministratorsOnly);
    EXPECT_EQ(0u, check()) << "a forward-slash value";
}

TEST_F(Check, TheRunValueIsReadAsExplorerAndCreateProcessReadIt)
{
    preloadPass();
    host::placeTarvel(L"C:\\open");
    // As Explorer reads the value: arguments after the program, an environment variable expanded.
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"C:\\open\\tarvel.exe /quiet",
                      KEY_WOW64_32KEY);
    EXPECT_EQ(0u, check()) << "an unquoted value with an argument";
    EXPECT_EQ(1, count(report(), ", with the arguments /quiet: holds")) << report();
    HKEY run = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, state::kRunKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &run));
    const wchar_t expandable[] = L"\"%SystemDrive%\\open\\tarvel.exe\"";
    RegSetValueExW(run, state::kRunValue, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expandable),
                   sizeof expandable);
    RegCloseKey(run);
    EXPECT_EQ(0u, check()) << "a REG_EXPAND_SZ value";
    if (host::underWow64()) {
        // The 64-bit Explorer expands a value with its own environment, and runs the native
        // view's Run key as well.
        host::placeTarvel(L"C:\\Program Files (x86)\\TarvelX");
        const wchar_t programFiles[] = L"\"%ProgramFiles%\\TarvelX\\tarvel.exe\"";
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, state::kRunKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &run));
        RegSetValueExW(run, state::kRunValue, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(programFiles),
                       sizeof programFiles);
        RegCloseKey(run);
        EXPECT_EQ(1u, check()) << "%ProgramFiles% names the native folder at logon";
        host::placeTarvel(L"C:\\Program Files\\TarvelX");
        EXPECT_EQ(0u, check()) << "the native folder, as the 64-bit Explorer expands it";
        host::removeTree(L"C:\\Program Files (x86)\\TarvelX");
        host::removeTree(L"C:\\Program Files\\TarvelX");
        ASSERT_EQ(0u, host::runProgram(exe_));
        host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, exe_, KEY_WOW64_64KEY);
        EXPECT_EQ(1u, check()) << "a second start-up in the native view";
        ASSERT_EQ(0u, host::runProgram(exe_));
        EXPECT_FALSE(state::runValue(KEY_WOW64_64KEY).present) << "the pass left the native view's start-up";
        EXPECT_EQ(0u, check());
    }
    // As CreateProcess starts it: ".exe" added to a name without one. A relative program is
    // looked for in the system folder at logon, not in the folder the check runs from.
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"\"C:\\open\\tarvel\"", KEY_WOW64_32KEY);
    EXPECT_EQ(0u, check()) << "a quoted program without its extension";
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"tarvel.exe", KEY_WOW64_32KEY);
    EXPECT_EQ(1u, host::runProgram(check_, L"", L"C:\\checked")) << "a relative program, checked from its folder";
    // A path in another language comes out in the code page of the console it is redirected
    // from: Wine gives the check none, so the OEM code page, as Windows' own tools write.
    const std::wstring foreign = host::placeTarvel(L"C:\\open\\T\u00e4st");
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, foreign, KEY_WOW64_32KEY);
    char encoded[MAX_PATH] = {};
    WideCharToMultiByte(GetOEMCP(), 0, foreign.c_str(), -1, encoded, MAX_PATH, nullptr, nullptr);
    ASSERT_NE(std::string(encoded), std::string(foreign.begin(), foreign.end())) << "no letter outside ASCII";
    EXPECT_EQ(2, count(report(), encoded)) << "the program and its folder, as the console reads them";
}

TEST_F(Check, OnlyALocalFixedDriveAndFoldersAdministratorsAloneChangeHoldBeforeVista)
{
    preloadPass();
    // A folder further up: whoever renames it puts a program of their own in its place.
    const std::wstring deep = host::placeTarvel(L"C:\\Up\\Low");
    host::setPermissions(L"C:\\Up", host::kWorldWritable);
    ASSERT_EQ(0u, host::runProgram(deep));
    EXPECT_EQ(kForAdministrator, check()) << "a world-writable folder above the program's";
    EXPECT_EQ(1, count(report(),
                       "start-up: folder C:\\Up: wants changed by administrators only, found renamed also by "
                       "Everyone: DIFFERS"));
    host::setPermissions(L"C:\\Up", host::kAdministratorsOnly);
    // Only from a local fixed drive: a share is its file server's administrators' to change, a
    // removable drive whoever holds it. E:, N: and R: are drives of those kinds in the prefix.
    const std::pair<const wchar_t*, const char*> drives[] = {
        {L"E:\\Tarvel", "start-up: drive E:\\: wants a local fixed drive, found a local fixed drive: holds"},
        {L"N:\\Tarvel", "start-up: drive N:\\: wants a local fixed drive, found a network drive: DIFFERS"},
        {L"R:\\Tarvel", "start-up: drive R:\\: wants a local fixed drive, found a removable drive: DIFFERS"},
    };
    for (const auto& drive : drives) {
        host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, host::placeTarvel(drive.first),
                          KEY_WOW64_32KEY);
        EXPECT_EQ(drive.first[0] == L'E' ? 0u : kForAdministrator, check()) << drive.second;
        EXPECT_EQ(1, count(report(), drive.second)) << report();
        host::removeTree(drive.first);
    }
    // Before Windows 6.0 the real folders behind a link cannot be asked: a link is refused.
    host::placeTarvel(L"C:\\Up\\Open\\Inner");
    host::setPermissions(L"C:\\Up\\Open", host::kWorldWritable);
    host::makeLink(L"C:\\checked\\link", L"C:\\Up\\Open\\Inner");
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"C:\\checked\\link\\tarvel.exe",
                      KEY_WOW64_32KEY);
    EXPECT_EQ(kForAdministrator, check()) << "as XP, a link into a folder anyone may rename";
    EXPECT_EQ(1, count(report(),
                       "start-up: folder C:\\checked\\link: wants changed by administrators only, found a link the "
                       "check cannot follow before Windows Vista: DIFFERS"))
        << report();
    host::removeLink(L"C:\\checked\\link");
    ASSERT_EQ(0u, host::runProgram(exe_));
}

TEST_F(Check, FromVistaOnTheFoldersBehindALinkAreJudgedToo)
{
    preloadPass();
    host::clearPath(state::ownMarker());
    EXPECT_EQ(1u, check()) << "the marker gone before the normal pass";
    ASSERT_EQ(0u, host::runProgram(exe_));
    EXPECT_EQ(0u, check());
    // From Windows 6.0 on a link is followed: the folders behind it are judged too, each line
    // saying so.
    host::setWindowsVersion(L"tarvel.exe", L"win10");
    host::setWindowsVersion(L"tarvel-check.exe", L"win10");
    host::placeTarvel(L"C:\\Up\\Open\\Inner");
    host::setPermissions(L"C:\\Up\\Open", host::kWorldWritable);
    host::makeLink(L"C:\\checked\\link", L"C:\\Up\\Open\\Inner");
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, host::runProgram(L"C:\\checked\\link\\tarvel.exe"));
    EXPECT_EQ(kForAdministrator, check()) << "a link to a folder in a folder anyone may rename";
    const std::string linked = report();
    EXPECT_EQ(1, count(linked,
                       "start-up: folder C:\\checked\\link: wants changed by administrators only, found "
                       "changed by administrators only: holds"))
        << linked;
    EXPECT_EQ(1, count(linked,
                       "start-up: folder C:\\Up\\Open, on the real path: wants changed by administrators only, "
                       "found renamed also by Everyone: DIFFERS"))
        << linked;
    host::clearPath(state::ownMarker());
    ASSERT_EQ(0u, host::runProgram(exe_));
    host::removeLink(L"C:\\checked\\link");
    host::setWindowsVersion(L"tarvel.exe", L"winxp");
    host::setWindowsVersion(L"tarvel-check.exe", L"winxp");
}

TEST_F(Check, ALineLongerThanTheRoomKeepsItsVerdict)
{
    place(L"winxp");
    ASSERT_EQ(0u, host::runProgram(exe_));
    // A value longer than a line: the line is cut, never its verdict.
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue,
                      L"C:\\" + std::wstring(1100, L'x') + L"\\tarvel.exe", KEY_WOW64_32KEY);
    EXPECT_EQ(1u, check()) << "a long Run value left in normal mode";
    const std::string lines = report();
    const size_t start = lines.find("start-up: Run value \"Tarvel\": wants absent, found C:\\xxx");
    ASSERT_NE(std::string::npos, start) << lines;
    const std::string line = lines.substr(start, lines.find("\r\n", start) - start);
    EXPECT_EQ(1023u, line.size()) << line;
    const std::string end = "xxx...: DIFFERS";
    EXPECT_EQ(line.size() - end.size(), line.rfind(end)) << line;
}

TEST_F(Check, OnWindows7ItSaysWhetherTheLogonTaskIsInPlace)
{
    state::useTaskScheduler(host::standInDll());
    standin::deleteAllTasks();
    place(L"win7");
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, host::runProgram(exe_));
    const DWORD writes = standin::serviceWrites();
    EXPECT_EQ(0u, check());
    // One line per check: the task, its trigger, rights, group, program and the program's
    // file and folder, then the summary.
    const std::string lines = report();
    for (const char* line : {"start-up: task \"Ombrix Tarvel\": wants enabled, started at logon, found enabled",
                             "start-up: task's run level: wants highest, found highest: holds",
                             "start-up: task's group: wants Administrators (S-1-5-32-544)",
                             "start-up: program C:\\checked\\tarvel.exe: wants changed by administrators only",
                             "start-up: folder C:\\checked: wants changed by administrators only",
                             "tarvel-check: the machine is as its marker asks (preload mode"}) {
        EXPECT_EQ(1, count(lines, line)) << line << "\n" << lines;
    }

    standin::Task registered;
    ASSERT_TRUE(standin::loadTask(kTask, registered));
    struct Variant {
        const char* what;
        void (*change)(standin::Task&);
        const char* line;  // the line that says why, where one must
    };
    const Variant differing[] = {
        {"disabled", [](standin::Task& t) { t.enabled = false; }, nullptr},
        {"without highest rights", [](standin::Task& t) { t.runLevel = TASK_RUNLEVEL_LUA; }, nullptr},
        {"for another group", [](standin::Task& t) { t.userId = L"Users"; }, nullptr},
        {"starting a missing file", [](standin::Task& t) { t.actions.at(0).path = L"C:\\gone\\tarvel.exe"; }, nullptr},
        {"starting another program", [](standin::Task& t) { t.actions.at(0).path = L"C:\\windows\\system32\\cmd.exe"; },
         nullptr},
        {"for Users by SID", [](standin::Task& t) { t.userId = L"S-1-5-32-545"; }, nullptr},
        {"without triggers", [](standin::Task& t) { t.triggers.clear(); }, nullptr},
        // Cut at MAX_PATH, it would name another file.
        {"starting a path longer than MAX_PATH",
         [](standin::Task& t) { t.actions.at(0).path = L"C:\\checked\\" + std::wstring(300, L'a') + L".exe"; },
         "start-up: task's program: wants an existing tarvel program, found a path too long to start: DIFFERS"},
    };
    for (const Variant& variant : differing) {
        standin::Task task = registered;
        variant.change(task);
        standin::storeTask(kTask, task);
        EXPECT_EQ(1u, check()) << variant.what;
        if (variant.line != nullptr) {
            EXPECT_EQ(1, count(report(), variant.line)) << variant.what << "\n" << report();
        }
    }
    standin::deleteAllTasks();
    EXPECT_EQ(1u, check()) << "absent";
    EXPECT_EQ(writes, standin::serviceWrites()) << "a check wrote through the Task Scheduler";

    // The task left behind once the marker is gone still starts the program at logon.
    host::clearPath(state::ownMarker());
    ASSERT_EQ(0u, host::runProgram(exe_));
    standin::storeTask(kTask, registered);
    EXPECT_EQ(1u, check()) << "the task left in normal mode";
    standin::Task bootFirst = registered;
    bootFirst.triggers.insert(bootFirst.triggers.begin(), {TASK_TRIGGER_BOOT, true});
    standin::storeTask(kTask, bootFirst);
    EXPECT_EQ(0u, check()) << "a task that does not start at logon first is not active";

    // The Task Scheduler out of reach: no answer, and its status says why.
    standin::setStopped(true);
    EXPECT_EQ(0x80041315u, check());
    standin::setStopped(false);
    standin::deleteAllTasks();
    EXPECT_EQ(0u, check());
    state::useTaskScheduler(state::kWineTaskScheduler);
}

// A logon task as an older release, another copy or an administrator may have left it.
void store(const std::wstring& program, TASK_RUNLEVEL_TYPE level, const wchar_t* group)
{
    standin::Task task;
    task.triggers = {{TASK_TRIGGER_LOGON, true}};
    task.actions = {{TASK_ACTION_EXEC, program, true, L""}};
    task.runLevel = level;
    task.registrationLogonType = TASK_LOGON_GROUP;
    task.userId = group;
    standin::storeTask(kTask, task);
}

// The detect/remediate pair settles: whatever the check finds wrong with the start-up, one
// pass puts right.
TEST_F(Check, WhatTheCheckFindsWrongWithTheStartupOnePassRepairs)
{
    state::useTaskScheduler(host::standInDll());
    struct Case {
        const char* what;
        const wchar_t* release;
        bool preload;
        void (*spoil)(const std::wstring& exe);
    };
    const Case cases[] = {
        {"XP: a Run value naming another program", L"winxp", true,
         [](const std::wstring&) {
             host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"C:\\windows\\notepad.exe",
                               KEY_WOW64_32KEY);
         }},
        {"7: the task at least privilege", L"win7", true,
         [](const std::wstring& exe) { store(exe, TASK_RUNLEVEL_LUA, L"Administrators"); }},
        {"7: the task for Users", L"win7", true,
         [](const std::wstring& exe) { store(exe, TASK_RUNLEVEL_HIGHEST, L"Users"); }},
        {"7: a Run value left", L"win7", true,
         [](const std::wstring& exe) {
             host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, exe, KEY_WOW64_32KEY);
         }},
        {"7 normal: the task at least privilege", L"win7", false,
         [](const std::wstring& exe) { store(exe, TASK_RUNLEVEL_LUA, L"Administrators"); }},
        {"7 normal: the task for Users", L"win7", false,
         [](const std::wstring& exe) { store(exe, TASK_RUNLEVEL_HIGHEST, L"Users"); }},
        {"7 normal: the task of a copy elsewhere", L"win7", false,
         [](const std::wstring&) { store(L"C:\\elsewhere\\tarvel.exe", TASK_RUNLEVEL_HIGHEST, L"Administrators"); }},
        {"7 normal: a Run value left", L"win7", false,
         [](const std::wstring& exe) {
             host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, exe, KEY_WOW64_32KEY);
         }},
        {"10 normal: the task of 7 left", L"win10", false,
         [](const std::wstring& exe) { store(exe, TASK_RUNLEVEL_HIGHEST, L"Administrators"); }},
        // After an in-place upgrade from 7: whoever makes C:\\Gone\\tarvel.exe runs it with the
        // highest rights at an administrator's logon.
        {"10 preload: the task of 7 left, starting a file gone", L"win10", true,
         [](const std::wstring&) { store(L"C:\\Gone\\tarvel.exe", TASK_RUNLEVEL_HIGHEST, L"Administrators"); }},
    };
    for (const Case& item : cases) {
        standin::deleteAllTasks();
        place(item.release);
        if (item.preload) {
            host::makeDirectory(state::ownMarker());
        }
        ASSERT_EQ(0u, host::runProgram(exe_)) << item.what;
        item.spoil(exe_);
        EXPECT_EQ(1u, check()) << item.what;
        EXPECT_EQ(0u, host::runProgram(exe_)) << item.what;
        EXPECT_EQ(0u, check()) << item.what << "\n" << report();
    }
    standin::deleteAllTasks();
    state::useTaskScheduler(state::kWineTaskScheduler);
}

}  // namespace
