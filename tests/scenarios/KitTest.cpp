// The acceptance kit under Wine's cmd, as an engineer runs it on a reference machine: it
// passes the program and the package and leaves the machine as its marker asks, and it
// fails, naming the step, for a program that does nothing.
#include "common/platform/Registry.h"
#include "standin/taskscheduler/TaskSchedulerStandIn.h"
#include "tests/scenarios/TarvelState.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t kKit[] = L"C:\\kit";
const wchar_t kMsiexec[] = L"C:\\windows\\system32\\msiexec.exe";
const wchar_t kCmd[] = L"C:\\windows\\system32\\cmd.exe";
const wchar_t kUpgradeCode[] = L"{6C1D7E52-3B8A-4F0E-9D2A-5E4B7C9A1F30}";
// The machine's journal of kit runs (32-bit view), and the record of the unfinished one.
const wchar_t kJournal[] = L"Software\\Ombrix\\Tarvel\\Acceptance";
const wchar_t kRecord[] = L"Software\\Ombrix\\Tarvel\\Acceptance\\Run";
// Where a test puts the kit's package while a run must not find it.
const wchar_t kAside[] = L"C:\\kit-package-aside.msi";

// Everything of the machine that a kit run or restore.cmd may change.
std::wstring machine();

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
        host::deleteTree(HKEY_LOCAL_MACHINE, kJournal, KEY_WOW64_32KEY);
        host::clearPath(state::ownMarker());
        state::clearDriverKeys();
        state::clearRunValues();
    }
    static void copyKit(const std::wstring& to)
    {
        const std::wstring from = host::tarvelKit();
        CreateDirectoryW(to.c_str(), nullptr);
        for (const std::wstring& file :
             {std::wstring(L"acceptance.cmd"), std::wstring(L"restore.cmd"), std::wstring(L"tarvel-kit.exe"),
              std::wstring(L"tarvel.exe"), std::wstring(L"tarvel-check.exe"), packageName()}) {
            ASSERT_TRUE(CopyFileW((from + L"\\" + file).c_str(), (to + L"\\" + file).c_str(), FALSE)) << GetLastError();
        }
    }
    // Whatever a test left half-way: a product the kit installed, the stand-in stopped, the
    // kit's copies and their logs, its package put aside.
    void TearDown() override
    {
        wchar_t product[39] = {};
        if (MsiEnumRelatedProductsW(kUpgradeCode, 0, 0, product) == ERROR_SUCCESS) {
            host::runProgram(kMsiexec, std::wstring(L"/x ") + product + L" /qn");
        }
        host::clearPath(state::ownMarker());
        host::deleteTree(HKEY_LOCAL_MACHINE, kJournal, KEY_WOW64_32KEY);
        state::clearRunValues();
        standin::setStopped(false);
        standin::deleteAllTasks();
        state::useTaskScheduler(state::kWineTaskScheduler);
        for (const wchar_t* exe : {L"tarvel.exe", L"tarvel-check.exe", L"tarvel-kit.exe", L"msiexec.exe"}) {
            host::deleteTree(HKEY_CURRENT_USER, std::wstring(L"Software\\Wine\\AppDefaults\\") + exe);
        }
        host::removeLink(L"C:\\kitlink");
        for (const wchar_t* kit : {kKit, L"C:\\kit!1 & (normal mode)", L"C:\\kit2", L"C:\\kit moved", L"C:\\Tools",
                                   L"C:\\open", L"N:\\Tarvel"}) {
            host::removeTree(kit);
        }
        DeleteFileW(kAside);
    }
    static void asRelease(const wchar_t* release)
    {
        // Wine gives a custom action the Windows version of its own host program.
        for (const wchar_t* exe : {L"tarvel.exe", L"tarvel-check.exe", L"tarvel-kit.exe", L"msiexec.exe"}) {
            host::setWindowsVersion(exe, release);
        }
    }
    // A kit that waits for console input never ends: it is stopped and fails. Its console
    // lines go to a file when output names one, else nowhere: its log holds them, and the
    // test's own output keeps to what failed.
    static DWORD runKit(const std::wstring& kit = kKit, const std::wstring& output = L"NUL", const wchar_t* cmd = kCmd)
    {
        // From its own folder, as an engineer starts it there.
        const HANDLE process = host::startProgram(cmd, L"/c acceptance.cmd > " + output, kit);
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
    // The processes of the prefix that run one of these programs.
    static std::vector<DWORD> processesOf(std::initializer_list<const wchar_t*> programs)
    {
        std::vector<DWORD> found;
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            for (const wchar_t* program : programs) {
                if (lstrcmpiW(entry.szExeFile, program) == 0) {
                    found.push_back(entry.th32ProcessID);
                }
            }
        }
        CloseHandle(snapshot);
        return found;
    }
    static bool aStepRuns() { return !processesOf({L"tarvel.exe", L"tarvel-check.exe", L"msiexec.exe"}).empty(); }
    // A step's program that has loaded its modules: the kit waits for it. Before that the
    // kit is still starting it, and a kit ended then leaves Wine's program half-started, for
    // good.
    static bool aStepWaitedFor()
    {
        for (const DWORD id : processesOf({L"tarvel.exe", L"tarvel-check.exe"})) {
            const HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, id);
            MODULEENTRY32W entry = {};
            entry.dwSize = sizeof entry;
            int count = 0;
            for (BOOL more = Module32FirstW(modules, &entry); more; more = Module32NextW(modules, &entry)) {
                ++count;
            }
            CloseHandle(modules);
            if (count > 2) {
                return true;
            }
        }
        return false;
    }
    // Waits until nothing the kit started runs any more: a cut kit leaves them running.
    static void waitForItsPrograms()
    {
        for (int tries = 0; tries < 600; ++tries) {
            if (!aStepRuns()) {
                endWaiters();
                return;
            }
            Sleep(100);
        }
        std::string left;
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            left += std::string(entry.szExeFile, entry.szExeFile + lstrlenW(entry.szExeFile)) + " ";
        }
        CloseHandle(snapshot);
        ADD_FAILURE() << "what the cut kit started did not end: " << left;
    }
    // Wine's start.exe, left by the cut cmd, may wait on for what has ended, holding the
    // test's output open: as a power cut would, it goes.
    static void endWaiters()
    {
        for (const DWORD id : processesOf({L"start.exe"})) {
            if (const HANDLE waiter = OpenProcess(PROCESS_TERMINATE, FALSE, id)) {
                TerminateProcess(waiter, 1);
                CloseHandle(waiter);
            }
        }
    }
    // Holds a process still (each of its threads), or lets it go on again.
    static void hold(HANDLE process, bool still)
    {
        using ProcessCall = LONG(WINAPI*)(HANDLE);
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        const auto call = reinterpret_cast<ProcessCall>(
            reinterpret_cast<void (*)()>(GetProcAddress(ntdll, still ? "NtSuspendProcess" : "NtResumeProcess")));
        ASSERT_NE(nullptr, call);
        call(process);
    }
    // The kit's own processes: its cmd and the program that makes its decisions, as a closed
    // console window ends them both.
    static std::vector<HANDLE> kitProcesses(HANDLE cmd)
    {
        std::vector<HANDLE> kit{cmd};
        for (const DWORD id : processesOf({L"tarvel-kit.exe"})) {
            if (const HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, id)) {
                kit.push_back(process);
            }
        }
        return kit;
    }
    // Starts the kit and, once reached says so, acts on it until act says done (cuts it short,
    // as a closed window does, or takes something away); answers its exit status, or
    // STILL_ACTIVE when it ended before the act was done. The kit is held still while the test
    // looks and acts, so that the act lands where the kit was seen, however late a loaded
    // machine lets the test look.
    static DWORD runKitActing(bool (*reached)(), bool (*act)(const std::vector<HANDLE>& kit))
    {
        const HANDLE process = host::startProgram(kCmd, L"/c acceptance.cmd > NUL", kKit);
        bool done = false;
        while (!done && WaitForSingleObject(process, 2) == WAIT_TIMEOUT) {
            const std::vector<HANDLE> kit = kitProcesses(process);
            for (const HANDLE part : kit) {
                hold(part, true);
            }
            done = reached() && act(kit);
            for (const HANDLE part : kit) {
                hold(part, false);
            }
            for (size_t at = 1; at < kit.size(); ++at) {
                CloseHandle(kit[at]);
            }
        }
        DWORD status = STILL_ACTIVE;
        WaitForSingleObject(process, 3 * 60 * 1000);
        GetExitCodeProcess(process, &status);
        CloseHandle(process);
        return done ? status : STILL_ACTIVE;
    }
    // The kit ends with 2 before any change, and says why in line.
    static void expectRefusedUnchanged(const std::string& line)
    {
        const std::wstring found = machine();
        EXPECT_EQ(2u, runKit(kKit, L"C:\\kit\\out.txt"));
        const std::string said = host::readText("C:\\kit\\out.txt");
        EXPECT_NE(std::string::npos, said.find(line)) << said;
        EXPECT_EQ(found, machine());
    }
    static DWORD restore(const std::wstring& kit = kKit, const wchar_t* arguments = L"", const wchar_t* cmd = kCmd)
    {
        return host::runProgram(cmd, L"/c restore.cmd" + std::wstring(arguments), kit);
    }
    // On 64-bit Windows the 64-bit cmd, which reaches the 32-bit view of the registry only
    // through Wow6432Node: every kit copy, whichever cmd runs it, keeps one journal.
    static const wchar_t* nativeCmd() { return host::underWow64() ? L"C:\\windows\\sysnative\\cmd.exe" : kCmd; }
    static bool recorded() { return host::keyExists(HKEY_LOCAL_MACHINE, kRecord, KEY_WOW64_32KEY); }
    static std::string log() { return host::readText("C:\\kit\\logs\\acceptance.log"); }
    static bool has(const std::string& line) { return log().find(line) != std::string::npos; }
};

// The machine's start-up as Windows would start it: the logon task's program, else the Run
// value's.
std::wstring startupNow()
{
    standin::Task task;
    if (standin::loadTask(L"Ombrix Tarvel", task) && !task.actions.empty()) {
        return L"task " + task.actions.at(0).path;
    }
    return state::runValue().present ? L"Run " + state::runValue().text() : std::wstring(L"none");
}

// Gives the journal key (made when missing) an owner and permissions, as SDDL.
void setJournalSecurity(const wchar_t* sddl, const wchar_t* path = kJournal)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                              READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_WOW64_32KEY, nullptr, &key, nullptr));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor));
    LocalFree(descriptor);
    RegCloseKey(key);
}

std::wstring journalSecurity(const std::wstring& sub = std::wstring(), const wchar_t* journal = kJournal)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (journal + sub).c_str(), REG_OPTION_OPEN_LINK, KEY_READ | KEY_WOW64_32KEY,
                      &key) != ERROR_SUCCESS) {
        return L"";
    }
    BYTE descriptor[4096] = {};
    DWORD size = sizeof descriptor;
    RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, &size);
    RegCloseKey(key);
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr);
    const std::wstring sddl = text != nullptr ? text : L"";
    LocalFree(text);
    return sddl;
}

// The start-up ends at the program it named before the run, never at the kit's copy under any
// spelling, and never at a program the kit may not start with an administrator's rights: with
// the Run value, and as Windows 7 with the logon task.
TEST_F(Kit, OnTheRunKeyReleasesItPassesAndLeavesTheMachineAsItsMarkerAsks)
{
    enum class Link { None, Symbolic, Hard };
    struct Case {
        const char* what;
        const wchar_t* folder;  // where the start-up's program lies
        bool putBack;
        bool asWindows7;         // the task's reading, besides the Run value's
        Link link = Link::None;  // the program, a link to the kit's own copy
    };
    const Case cases[] = {
        {"a program outside the kit", L"C:\\Tools", true, true},
        {"the kit's own copy", kKit, false, false},
        {"the kit's own copy through a link", L"C:\\kitlink", false, true},
        {"a copy in a folder others may change", L"C:\\open", false, false},
        {"a copy on a network drive", L"N:\\Tarvel", false, false},
        // Its own file behind a symbolic link (from Windows 6.0 on) leaves with the engineer; a
        // hard link has a name of its own, which outlives the kit's folder.
        {"a symbolic link to the kit's own copy", L"C:\\linked", false, true, Link::Symbolic},
        {"a hard link to the kit's own copy", L"C:\\hardlinked", true, false, Link::Hard},
    };
    host::makeLink(L"C:\\kitlink", kKit);
    host::makeDirectory(state::ownMarker());
    for (const wchar_t* release : {L"winxp", L"win7"}) {
        const bool task = release == std::wstring(L"win7");
        if (task) {
            state::useTaskScheduler(host::standInDll());
        }
        asRelease(release);
        for (const Case& c : cases) {
            if ((task && !c.asWindows7) || (!task && c.link == Link::Symbolic)) {
                continue;
            }
            state::clearRunValues();
            standin::deleteAllTasks();
            // The package goes through install and uninstall once per release; the other rows are
            // about the start-up alone, and run without it.
            const std::wstring package = std::wstring(kKit) + L"\\" + packageName();
            const bool withPackage = &c == &cases[0];
            if (withPackage != (host::pathKind(package) == host::PathKind::File)) {
                ASSERT_TRUE(withPackage ? MoveFileW(kAside, package.c_str()) : MoveFileW(package.c_str(), kAside));
            }
            const std::wstring program = std::wstring(c.folder) + L"\\tarvel.exe";
            if (c.link != Link::None && host::pathKind(program) != host::PathKind::File) {
                host::makeDirectory(c.folder);
                if (c.link == Link::Symbolic) {
                    host::makeFileLink(program, L"C:\\kit\\tarvel.exe");
                } else {
                    ASSERT_TRUE(CreateHardLinkW(program.c_str(), L"C:\\kit\\tarvel.exe", nullptr)) << GetLastError();
                }
            } else if (host::pathKind(program) != host::PathKind::File) {
                host::placeTarvel(c.folder);
            }
            if (c.folder == std::wstring(L"C:\\open")) {
                host::setPermissions(c.folder, host::kWorldWritable);
            }
            const std::wstring named = (task ? L"task " : L"Run ") + program;
            if (c.link == Link::None) {
                ASSERT_EQ(0u, host::runProgram(program)) << c.what;
            } else if (task) {
                // As a pass started through the link registers it.
                standin::Task linked;
                linked.triggers = {{TASK_TRIGGER_LOGON, true}};
                linked.actions = {{TASK_ACTION_EXEC, program, true, L""}};
                standin::storeTask(L"Ombrix Tarvel", linked);
            } else {
                host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, program, KEY_WOW64_32KEY);
            }
            ASSERT_EQ(named, startupNow()) << c.what;
            const std::wstring switches = state::portSwitches();
            EXPECT_EQ(0u, runKit()) << c.what << "\n" << log();
            // The outcome, not the count of steps: all passed, and a last pass only to put back.
            EXPECT_TRUE(has(" passed, 0 failed")) << c.what << "\n" << log();
            EXPECT_EQ(c.putBack, has("PASS  last pass")) << c.what << "\n" << log();
            EXPECT_EQ(withPackage, has("PASS  uninstall of the package")) << c.what << "\n" << log();
            EXPECT_EQ(host::PathKind::Directory, host::pathKind(state::ownMarker())) << c.what;
            // No product is left installed: the switches end as the run found them. Without a
            // program to put back, the normal pass was the last: no start-up.
            EXPECT_EQ(switches, state::portSwitches()) << c.what;
            EXPECT_EQ(c.putBack ? named : L"none", startupNow()) << c.what;
            EXPECT_FALSE(recorded()) << c.what;
            // The keys a run made carry the kit's permissions, read back, wherever Windows
            // would have ignored them.
            EXPECT_EQ(L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", journalSecurity()) << c.what;
            EXPECT_EQ(L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", journalSecurity(L"\\Ports")) << c.what;
        }
    }
    host::clearPath(L"C:\\linked\\tarvel.exe");
    host::clearPath(L"C:\\hardlinked\\tarvel.exe");
    for (const wchar_t* folder : {L"C:\\linked", L"C:\\hardlinked"}) {
        RemoveDirectoryW(folder);
    }
}

TEST_F(Kit, OnWindows7ItPassesWithTheLogonTask)
{
    state::useTaskScheduler(host::standInDll());
    standin::deleteAllTasks();
    asRelease(L"win7");
    // The driver's other values stay untouched, however long; a switch of another type, or none,
    // is recorded and put back as it was.
    const std::vector<BYTE> long3000(3000, 0x5A);
    HKEY port = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, state::portKey(0).c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &port, nullptr));
    RegSetValueExW(port, L"Extra", 0, REG_BINARY, long3000.data(), 3000);
    RegSetValueExW(port, L"DIPM", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"off"), sizeof L"off");
    RegCloseKey(port);
    const std::wstring switches = state::portSwitches();
    EXPECT_EQ(0u, runKit(kKit, L"C:\\kit\\out.txt")) << log();
    EXPECT_TRUE(has("the port switches are as the run found them")) << log();
    EXPECT_EQ(switches, state::portSwitches());
    EXPECT_EQ(long3000, host::readValue(HKEY_LOCAL_MACHINE, state::portKey(0), L"Extra").data);
    EXPECT_FALSE(host::keyExists(HKEY_LOCAL_MACHINE, state::portKey(1))) << "a port key the run made stays";
    EXPECT_NE(std::string::npos, log().find(" passed, 0 failed")) << log();
    EXPECT_TRUE(has("PASS  install of the package")) << log();
    // The console says nothing the log does not: no line of the check it read was taken
    // for a command (the task's line holds quotes).
    const std::string console = host::readText("C:\\kit\\out.txt");
    for (size_t at = 0, end = 0; at < console.size(); at = end + 1) {
        end = console.find('\n', at);
        end = end == std::string::npos ? console.size() : end;
        EXPECT_NE(std::string::npos, log().find(console.substr(at, end - at))) << console;
    }
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(state::ownMarker()));
    EXPECT_TRUE(standin::taskNames().empty());

    // A negative status is a failure, however a script compares it.
    standin::failCall(L"ITaskService::Connect", SCHED_E_SERVICE_NOT_RUNNING, L"tarvel.exe");
    EXPECT_EQ(1u, runKit()) << log();
    EXPECT_TRUE(has("FAIL  first preload pass (exit status -2147216619)")) << log();
    // Its passes failed: the record stays for restore.cmd.
    EXPECT_TRUE(recorded());
    standin::clearFaults();
    EXPECT_EQ(0u, restore());
    // A start-up it cannot read is one it could not put back: it changes nothing.
    standin::setStopped(true);
    expectRefusedUnchanged("the start-up could not be read");
    EXPECT_FALSE(recorded()) << "a run was recorded";
    standin::setStopped(false);
    state::useTaskScheduler(state::kWineTaskScheduler);
}

// The kit judges what it runs before any change: its programs must be tarvel's, and it gives
// the check the mode it expects and reads its exit status alone, no line meant for people.
TEST_F(Kit, AProgramThatIsNoTarvelProgramIsRefusedBeforeAnyChange)
{
    asRelease(L"winxp");
    DeleteFileW((L"C:\\kit\\" + packageName()).c_str());
    for (const wchar_t* program : {L"C:\\kit\\tarvel.exe", L"C:\\kit\\tarvel-check.exe"}) {
        const std::wstring keep = std::wstring(program) + L".keep";
        ASSERT_TRUE(MoveFileW(program, keep.c_str()));
        ASSERT_TRUE(CopyFileW(host::doNothingExe().c_str(), program, FALSE)) << GetLastError();
        expectRefusedUnchanged(
            ", which the kit runs with an administrator's rights, is refused: it is no tarvel program");
        DeleteFileW(program);
        ASSERT_TRUE(MoveFileW(keep.c_str(), program));
    }
}

// A kit in a folder others may change could have its programs swapped during a run: refused
// before any change, and restore too.
TEST_F(Kit, AKitInAFolderOthersMayChangeChangesNothing)
{
    asRelease(L"winxp");
    host::setPermissions(kKit, host::kWorldWritable);
    const std::wstring found = machine();
    expectRefusedUnchanged("C:\\kit\\, which the kit runs with an administrator's rights, is refused");
    EXPECT_EQ(2u, restore());
    EXPECT_EQ(found, machine());
    EXPECT_FALSE(host::keyExists(HKEY_LOCAL_MACHINE, kJournal, KEY_WOW64_32KEY));
    host::setPermissions(kKit, host::kAdministratorsOnly);
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
    text += host::keyExists(HKEY_LOCAL_MACHINE, kRecord, KEY_WOW64_32KEY) ? L" recorded" : L"";
    return text;
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A run cut short at any point, or whose undoing failed, is never taken for the machine's own
// state: the next run of any kit copy changes nothing and names the kit that wrote the record,
// and restore.cmd of any copy, wherever it has moved, undoes what the run changed.
TEST_F(Kit, ARunCutShortIsUndoneByRestoreAndBlocksTheNextRunTillThen)
{
    asRelease(L"winxp");
    copyKit(L"C:\\kit2");
    const std::wstring marker = state::ownMarker();
    const std::wstring package = L"C:\\kit\\" + packageName();
    const auto cut = [](const std::vector<HANDLE>& kit) {
        bool cutShort = true;
        for (const HANDLE part : kit) {
            cutShort = TerminateProcess(part, 1) != FALSE && cutShort;
        }
        return cutShort;
    };
    struct Case {
        const char* what;
        bool markerFound;
        bool withPackage;
        bool (*reached)();
        bool (*act)(const std::vector<HANDLE>& kit);
        const wchar_t* restoreFrom;
        bool nextPackage = false;  // the next version's package beside the kit, not its own
    };
    // Each cut lands while the kit waits for a step's program, as a window closed then would:
    // a cmd ended while it starts a program leaves Wine's program half-started, for good.
    const Case cases[] = {
        {"its own marker in place", false, false,
         [] { return host::pathKind(state::ownMarker()) == host::PathKind::Directory && aStepWaitedFor(); }, cut, kKit},
        {"a found marker moved aside", true, false,
         [] {
             return host::pathKind(state::ownMarker() + L".acceptance") == host::PathKind::Directory &&
                    aStepWaitedFor();
         },
         cut, kKit},
        // Restored from a kit moved away: by the product code, with none of its files.
        {"the package being installed", false, true,
         [] { return host::pathKind(L"C:\\kit\\logs\\install.log") == host::PathKind::File; }, cut, L"C:\\kit moved"},
        // The product recorded is the package's own, whichever version lies beside the kit.
        {"the next version's package being installed", false, true,
         [] { return host::pathKind(L"C:\\kit\\logs\\install.log") == host::PathKind::File; }, cut, kKit, true},
        // Its uninstall fails: the run ends with 1 and keeps the record.
        {"the package taken away after its install", false, true,
         [] { return host::readText("C:\\kit\\logs\\acceptance.log").find("PASS  install") != std::string::npos; },
         [](const std::vector<HANDLE>&) { return MoveFileW((L"C:\\kit\\" + packageName()).c_str(), kAside) != FALSE; },
         kKit},
    };
    for (const Case& c : cases) {
        host::removeTree(marker);
        if (c.markerFound) {
            host::makeDirectory(marker);
            host::makeFile(marker + L"\\readme.txt");
        }
        state::clearRunValues();
        state::clearDriverKeys();
        host::writeDword(HKEY_LOCAL_MACHINE, state::portKey(0), L"DIPM", 7);
        // Without the package the runs are short; its own cut puts it back.
        if (!c.withPackage || c.nextPackage) {
            MoveFileW(package.c_str(), kAside);
        }
        // What an earlier row's install logged is no sign of this row's.
        DeleteFileW(L"C:\\kit\\logs\\install.log");
        if (c.nextPackage) {
            ASSERT_TRUE(CopyFileW(host::tarvelNextPackage().c_str(), L"C:\\kit\\tarvel-next.msi", FALSE));
        }
        const std::wstring found = machine();
        ASSERT_EQ(1u, runKitActing(c.reached, c.act)) << c.what << ": the kit ended first\n" << log();
        waitForItsPrograms();
        const std::wstring left = machine();
        EXPECT_NE(found, left) << c.what << ": the run left nothing to undo";
        EXPECT_NE(std::wstring::npos, left.find(L" recorded")) << c.what;

        EXPECT_EQ(3u, runKit(L"C:\\kit2", L"C:\\kit2\\out.txt", nativeCmd())) << c.what;
        EXPECT_NE(std::string::npos, host::readText("C:\\kit2\\out.txt").find("C:\\kit\\")) << c.what;
        EXPECT_EQ(left, machine()) << c.what << ": a run after an unfinished one changed the machine";
        EXPECT_EQ(1u, restore(kKit, L" ports")) << c.what << ": the ports before the run is undone";
        if (c.restoreFrom != kKit) {
            ASSERT_TRUE(MoveFileW(kKit, c.restoreFrom)) << GetLastError();
        }
        EXPECT_EQ(0u, restore(c.restoreFrom, L"", nativeCmd())) << c.what;
        if (c.restoreFrom != kKit) {
            ASSERT_TRUE(MoveFileW(c.restoreFrom, kKit)) << GetLastError();
        }
        // As found, and no start-up points at the kit: none named a program outside it.
        EXPECT_FALSE(recorded()) << c.what;
        EXPECT_EQ(c.markerFound ? host::PathKind::Directory : host::PathKind::Missing, host::pathKind(marker))
            << c.what;
        if (c.markerFound) {
            EXPECT_EQ(host::PathKind::File, host::pathKind(marker + L"\\readme.txt")) << c.what;
        }
        EXPECT_FALSE(state::runValue().present) << c.what;
        EXPECT_EQ(host::PathKind::Missing, host::pathKind(marker + L".acceptance")) << c.what;
        EXPECT_NE(std::wstring::npos, machine().find(L" not installed")) << c.what << ": " << narrow(machine());
        DeleteFileW(L"C:\\kit\\tarvel-next.msi");
        MoveFileW(kAside, package.c_str());
    }
    // The ports as they were before the last run, exactly: set back, or deleted.
    EXPECT_EQ(0u, restore(kKit, L" ports", nativeCmd()));
    EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, state::portKey(0), L"DIPM").isDword(7));
    EXPECT_FALSE(host::readValue(HKEY_LOCAL_MACHINE, state::portKey(0), L"LPM").present);
    EXPECT_FALSE(host::readValue(HKEY_LOCAL_MACHINE, state::portKey(5), L"DIPM").present);
    EXPECT_FALSE(host::keyExists(HKEY_LOCAL_MACHINE, state::portKey(5))) << "a port key the run made stays";
    // A value of another type in the record is shown as it is, and never put back as a port's.
    const std::wstring recorded0 = std::wstring(kJournal) + L"\\Ports\\Port0";
    host::writeString(HKEY_LOCAL_MACHINE, recorded0, L"LPM", L"on", KEY_WOW64_32KEY);
    EXPECT_EQ(1u, host::runProgram(kCmd, L"/c restore.cmd ports > C:\\kit\\logs\\ports.txt", kKit));
    EXPECT_NE(std::string::npos,
              host::readText("C:\\kit\\logs\\ports.txt").find("Port0 LPM: the record holds REG_SZ on, no port's value"))
        << host::readText("C:\\kit\\logs\\ports.txt");
    EXPECT_FALSE(host::readValue(HKEY_LOCAL_MACHINE, state::portKey(0), L"LPM").present);
    host::deleteValue(HKEY_LOCAL_MACHINE, recorded0, L"LPM", KEY_WOW64_32KEY);
    // And the run after that passes, the package included.
    host::removeTree(marker);
    EXPECT_EQ(0u, runKit()) << log();
    EXPECT_TRUE(has(" passed, 0 failed")) << log();
    EXPECT_TRUE(has("PASS  install of the package")) << log();
}

// A record that is not whole, holds what no kit writes, names what the kit may not start or
// act on, or lies in a key others could have written, is refused: restore changes nothing and
// starts nothing it names, and the kit still stops. A whole one is followed.
TEST_F(Kit, ARecordNotWholeOrNotAKitsIsRefusedAndStartsNothing)
{
    asRelease(L"winxp");
    host::makeDirectory(state::ownMarker());
    // A program that points the start-up at itself when it is started.
    const std::wstring program = host::placeTarvel(L"C:\\Tools");
    ASSERT_TRUE(CopyFileW(host::doNothingExe().c_str(), L"C:\\Tools\\evil.exe", FALSE));
    host::makeFile(L"C:\\Tools\\tarvel.cmd");
    host::placeTarvel(L"C:\\open");
    host::setPermissions(L"C:\\open", host::kWorldWritable);
    const std::pair<const wchar_t*, std::wstring> whole[] = {
        {L"Kit", L"C:\\kit\\"}, {L"Found", L"directory"}, {L"Program", program}, {L"Whole", L"yes"}};
    // HKLM\SOFTWARE's permissions on XP, which a key made with reg.exe inherits: Power Users may
    // write it.
    const wchar_t windowsXp[] =
        L"O:BAD:AI(A;CIIOID;GA;;;CO)(A;ID;KA;;;SY)(A;ID;KA;;;BA)(A;ID;0x3001f;;;PU)(A;ID;KR;;;BU)";
    struct Case {
        const char* what;
        const wchar_t* name;
        const wchar_t* value;
        const wchar_t* journal = nullptr;  // the journal key's owner and permissions
        DWORD restored = 2;
        bool asWindows7 = false;          // what the program is, or whose the key is, as Windows 7 too
        const wchar_t* record = nullptr;  // the record key's, where others made it
    };
    const Case cases[] = {
        {"whole, as a kit writes it", nullptr, nullptr},
        {"a name that sets another", L"LAST", L"C:\\Tools\\tarvel.exe"},
        {"cut before it was whole", L"Whole", nullptr},
        {"a marker state outside the list", L"Found", L"gone"},
        {"a program with quotes", L"Program", L"C:\\Tools\\tarvel.exe\" & \"C:\\Tools\\tarvel.exe"},
        {"a relative program", L"Program", L"Tools\\tarvel.exe"},
        {"no product code", L"Product", L"{525E52FA-6147-5940-BF5F-6E3D22A10B7B} & C:\\Tools\\tarvel.exe"},
        {"a script", L"Program", L"C:\\Tools\\tarvel.cmd"},
        {"no tarvel program", L"Program", L"C:\\Tools\\evil.exe", nullptr, 2, true},
        // The rest is undone; the program is named with why, and the record stays.
        {"a tarvel program in a folder others may change", L"Program", L"C:\\open\\tarvel.exe", nullptr, 1, true},
        // Restore never puts a start-up back into the kit's folder, which leaves with the engineer.
        {"a program in the kit's own folder", L"Program", L"C:\\kit\\tarvel.exe", nullptr, 1, false},
        {"a journal owned by Users", nullptr, nullptr, L"O:BUD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", 2, true},
        {"a journal Power Users may write", nullptr, nullptr, windowsXp, 2, true},
        // An earlier kit's journal with no record it could open for all access, but one a
        // Power User owns and lets administrators only read: never followed unjudged.
        {"a record administrators may only read", nullptr, nullptr, windowsXp, 2, false,
         L"O:BAD:P(A;;KR;;;BA)(A;;KA;;;PU)"},
    };
    for (const Case& c : cases) {
        // A record's form is read alike on every release; what it names is judged as Windows 7
        // too, whose start-up is the logon task.
        for (const wchar_t* release : {L"winxp", L"win7"}) {
            const bool followed = c.name == nullptr && c.journal == nullptr;
            if (release != std::wstring(L"winxp") && !c.asWindows7) {
                continue;
            }
            asRelease(release);
            if (c.journal != nullptr) {
                setJournalSecurity(c.journal);
            }
            for (const auto& fact : whole) {
                host::writeString(HKEY_LOCAL_MACHINE, kRecord, fact.first, fact.second, KEY_WOW64_32KEY);
            }
            if (c.name != nullptr && c.value == nullptr) {
                host::deleteValue(HKEY_LOCAL_MACHINE, kRecord, c.name, KEY_WOW64_32KEY);
            } else if (c.name != nullptr) {
                host::writeString(HKEY_LOCAL_MACHINE, kRecord, c.name, c.value, KEY_WOW64_32KEY);
            }
            if (c.record != nullptr) {
                setJournalSecurity(c.record, kRecord);
            }
            const std::wstring found = machine();
            if (followed) {
                EXPECT_EQ(0u, restore()) << c.what;
                EXPECT_FALSE(recorded()) << c.what;
                EXPECT_EQ(program, state::runValue().text()) << c.what << ": the program it names";
                state::clearRunValues();
                continue;
            }
            EXPECT_EQ(c.journal != nullptr ? 2u : 3u, runKit()) << c.what;
            EXPECT_EQ(c.restored, restore()) << c.what;
            // Undoing the rest ran the kit's copy with the marker aside: the ports are on.
            if (c.restored == 2) {
                EXPECT_EQ(found, machine()) << c.what;
            }
            EXPECT_TRUE(recorded()) << c.what;
            EXPECT_FALSE(state::runValue().present) << c.what << ": " << narrow(state::runValue().text());
            if (c.record != nullptr) {
                setJournalSecurity(L"O:BAD:(A;;KA;;;BA)", kRecord);
            }
            host::deleteTree(HKEY_LOCAL_MACHINE, kJournal, KEY_WOW64_32KEY);
        }
    }
    asRelease(L"winxp");
    // The journal an earlier kit left, holding no record, is made the kit's own; a copy of the
    // ports in it, which anyone could have written there, is deleted, never put back.
    setJournalSecurity(windowsXp);
    const std::wstring ports = std::wstring(kJournal) + L"\\Ports";
    host::writeString(HKEY_LOCAL_MACHINE, ports, L"Whole", L"yes", KEY_WOW64_32KEY);
    host::writeString(HKEY_LOCAL_MACHINE, ports + L"\\Port0", L"LPM", L"garbage", KEY_WOW64_32KEY);
    host::writeDword(HKEY_LOCAL_MACHINE, ports + L"\\Port0", L"DIPM", 0, KEY_WOW64_32KEY);
    state::clearDriverKeys();
    EXPECT_EQ(1u, restore(kKit, L" ports")) << "nothing whole to put back";
    EXPECT_FALSE(host::keyExists(HKEY_LOCAL_MACHINE, state::portKey(0))) << "a copy others could write put back";
    EXPECT_FALSE(host::keyExists(HKEY_LOCAL_MACHINE, ports, KEY_WOW64_32KEY));
    EXPECT_EQ(L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", journalSecurity());
    // Restore without a record still says when a step of its own failed: here the marker
    // cannot go back, since one is there beside the one aside.
    ASSERT_EQ(host::PathKind::Directory, host::pathKind(state::ownMarker()));
    host::makeDirectory(state::ownMarker() + L".acceptance");
    EXPECT_EQ(1u, restore());
    // A marker a cut run left aside, with no record, stops the next run before any change.
    const std::wstring leftAside = machine();
    EXPECT_EQ(3u, runKit()) << "a marker left aside taken for an absent one";
    EXPECT_EQ(leftAside, machine());
    // With a record, restore keeps it while the marker cannot go back.
    for (const auto& fact : whole) {
        host::writeString(HKEY_LOCAL_MACHINE, kRecord, fact.first, fact.second, KEY_WOW64_32KEY);
    }
    EXPECT_EQ(1u, restore());
    EXPECT_TRUE(recorded()) << "the record removed though the marker could not go back";
    host::removeTree(state::ownMarker() + L".acceptance");

    // A registry link at the journal's name leads to another product's key, which Power Users
    // may write: neither a run nor restore acts on it, its permissions stay, no record lands
    // there, and the link is never followed.
    const wchar_t other[] = L"Software\\Ombrix\\OtherProduct";
    host::deleteTree(HKEY_LOCAL_MACHINE, kJournal, KEY_WOW64_32KEY);
    setJournalSecurity(windowsXp, other);
    const std::wstring before = journalSecurity(L"", other);
    HKEY link = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kJournal, 0, nullptr, REG_OPTION_CREATE_LINK,
                                             KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &link, nullptr));
    const std::wstring target = std::wstring(L"\\Registry\\Machine\\") +
                                (host::underWow64() ? L"Software\\Wow6432Node\\Ombrix\\OtherProduct" : other);
    RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                   static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(link);
    ASSERT_TRUE(host::keyExists(HKEY_LOCAL_MACHINE, kJournal, KEY_WOW64_32KEY)) << "no link made";
    EXPECT_EQ(2u, restore());
    EXPECT_EQ(2u, runKit());
    EXPECT_EQ(before, journalSecurity(L"", other)) << "the other product's key re-permissioned";
    EXPECT_FALSE(host::keyExists(HKEY_LOCAL_MACHINE, std::wstring(other) + L"\\Run", KEY_WOW64_32KEY));
    HKEY base = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\Tarvel", 0,
                                           KEY_ALL_ACCESS | KEY_WOW64_32KEY, &base));
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), deleteKeyTree(base, L"Acceptance", KEY_WOW64_32KEY));
    RegCloseKey(base);
    EXPECT_TRUE(host::keyExists(HKEY_LOCAL_MACHINE, other, KEY_WOW64_32KEY)) << "the link was followed";
    host::deleteTree(HKEY_LOCAL_MACHINE, other, KEY_WOW64_32KEY);
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
    EXPECT_TRUE(has(" passed, 0 failed")) << log();
    EXPECT_TRUE(has("restore.cmd ports")) << log();
    EXPECT_EQ(host::PathKind::File, host::pathKind(marker + L"\\readme.txt"));
    host::clearPath(marker + L"\\readme.txt");

    host::clearPath(marker);
    host::makeFile(marker);
    ASSERT_TRUE(SetFileAttributesW(marker.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(0u, runKit()) << log();
    EXPECT_TRUE(has(" passed, 0 failed")) << log();
    EXPECT_EQ(host::PathKind::File, host::pathKind(marker));
    EXPECT_NE(0u, GetFileAttributesW(marker.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(marker.c_str(), FILE_ATTRIBUTE_NORMAL);

    // The restore script, run after a run cut short with the marker aside, puts it back; with
    // no program outside the kit, no pass points the start-up at the kit.
    const std::wstring aside = marker + L".acceptance";
    ASSERT_TRUE(MoveFileW(marker.c_str(), aside.c_str()));
    EXPECT_EQ(0u, restore());
    EXPECT_EQ(host::PathKind::File, host::pathKind(marker));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(aside));
    EXPECT_FALSE(state::runValue().present);
}

// A GUID as Windows Installer keys it: each of the first three parts reversed, each byte of
// the rest with its two digits swapped.
std::wstring packedGuid(const std::wstring& guid)
{
    std::wstring digits;
    for (const wchar_t c : guid) {
        if (c != L'{' && c != L'}' && c != L'-') {
            digits += c;
        }
    }
    std::wstring packed = std::wstring(digits.rbegin() + 24, digits.rend()) +
                          std::wstring(digits.rbegin() + 20, digits.rbegin() + 24) +
                          std::wstring(digits.rbegin() + 16, digits.rbegin() + 20);
    for (size_t at = 16; at + 1 < digits.size(); at += 2) {
        packed += digits.substr(at + 1, 1) + digits.substr(at, 1);
    }
    return packed;
}

// Where Windows Installer keeps the installed program's path, per product: the program's
// component, registered for the machine.
std::wstring programRegistration()
{
    return L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\" +
           packedGuid(L"{9A3F2B61-7C4E-4D85-A1B0-2E6F8D4C3B17}");
}

std::wstring packedProduct()
{
    wchar_t product[39] = {};
    MsiEnumRelatedProductsW(kUpgradeCode, 0, 0, product);
    return packedGuid(product);
}

// A product deployed to the machine stays installed, and its start-up where it was: after the
// run, after restore.cmd with nothing to undo, and after restore.cmd ports, which runs no pass.
TEST_F(Kit, ADeployedProductIsLeftInstalledWithItsStartup)
{
    const std::wstring deployed = L"C:\\Deployed\\Tarvel\\tarvel.exe";
    const auto startup = startupNow;
    host::makeDirectory(state::ownMarker());
    for (const wchar_t* release : {L"winxp", L"win7"}) {
        if (release == std::wstring(L"win7")) {
            state::useTaskScheduler(host::standInDll());
            standin::deleteAllTasks();
        }
        asRelease(release);
        ASSERT_EQ(0u, host::runProgram(
                          kMsiexec, L"/i \"C:\\kit\\" + packageName() + L"\" /qn INSTALLDIR=C:\\Deployed\\Tarvel\\"));
        const std::wstring before = startup();
        ASSERT_EQ((release == std::wstring(L"win7") ? L"task " : L"Run ") + deployed, before);
        EXPECT_EQ(0u, runKit()) << log();
        EXPECT_TRUE(has(" passed, 0 failed")) << log();
        EXPECT_TRUE(has("install and uninstall skipped")) << log();
        EXPECT_EQ(host::PathKind::File, host::pathKind(deployed));
        EXPECT_EQ(before, startup()) << "after the run";
        EXPECT_EQ(0u, restore(kKit, L" ports"));
        EXPECT_EQ(before, startup()) << "after restore.cmd ports";
        EXPECT_EQ(0u, restore());
        EXPECT_EQ(before, startup()) << "after restore.cmd";
        if (release == std::wstring(L"winxp")) {
            // Windows Installer lists the product but can no longer tell where its program is: a
            // run and restore, which would start it, read nothing they could act on and change
            // nothing, the marker left aside included.
            const std::wstring registration = programRegistration();
            const host::RegValue where =
                host::readValue(HKEY_LOCAL_MACHINE, registration, packedProduct(), KEY_WOW64_64KEY);
            ASSERT_TRUE(where.present) << "no registration of the program at "
                                       << std::string(registration.begin(), registration.end());
            host::deleteValue(HKEY_LOCAL_MACHINE, registration, packedProduct(), KEY_WOW64_64KEY);
            ASSERT_TRUE(MoveFileW(state::ownMarker().c_str(), (state::ownMarker() + L".acceptance").c_str()));
            const std::wstring found = machine();
            EXPECT_EQ(2u, restore()) << "restore.cmd";
            EXPECT_EQ(found, machine()) << "after restore.cmd";
            ASSERT_TRUE(MoveFileW((state::ownMarker() + L".acceptance").c_str(), state::ownMarker().c_str()));
            expectRefusedUnchanged("the installed product's program could not be read");
            host::writeString(HKEY_LOCAL_MACHINE, registration, packedProduct(), where.text(), KEY_WOW64_64KEY);
        }
        EXPECT_EQ(0u, host::runProgram(kMsiexec, L"/x \"C:\\kit\\" + packageName() + L"\" /qn"));
    }
}

// A kit copied to a folder whose name cmd could take for syntax.
TEST_F(Kit, ItRunsFromAnyFolderName)
{
    asRelease(L"winxp");
    // A name that holds what a check's line says of its mode: the kit reads no line.
    const std::wstring kit = L"C:\\kit!1 & (normal mode)";
    copyKit(kit);
    host::makeDirectory(state::ownMarker());
    const char kitLog[] = "C:\\kit!1 & (normal mode)\\logs\\acceptance.log";
    EXPECT_EQ(0u, runKit(kit)) << host::readText(kitLog);
    // Its passes and checks ran the program from there; with no program outside the kit there
    // is no last pass, and no start-up is left pointing into the kit.
    EXPECT_NE(std::string::npos, host::readText(kitLog).find(" passed, 0 failed"));
    EXPECT_NE(std::string::npos, host::readText(kitLog).find("PASS  check after the second preload pass"));
    EXPECT_NE(std::string::npos, host::readText(kitLog).find("no last pass"));
    EXPECT_FALSE(state::runValue().present);
}

// A Task Scheduler that answers the kit's reading of the start-up only after its deadline (the
// passes it would start are answered at once): the start-up could not be put back, so the kit
// changes nothing. In a prefix of the waiting scenarios.
class HungTaskSchedulerKit : public Kit {};

TEST_F(HungTaskSchedulerKit, ASlowTaskSchedulerMakesTheKitChangeNothing)
{
    state::useTaskScheduler(host::standInDll());
    standin::deleteAllTasks();
    standin::clearFaults();
    asRelease(L"win7");
    const std::wstring program = host::placeTarvel(L"C:\\Tools");
    standin::Task task;
    task.triggers = {{TASK_TRIGGER_LOGON, true}};
    task.actions = {{TASK_ACTION_EXEC, program, true, L""}};
    standin::storeTask(L"Ombrix Tarvel", task);
    standin::answerLate(L"ITaskFolder::GetTask", 35000, L"tarvel-kit.exe");
    expectRefusedUnchanged("the start-up could not be read: the Task Scheduler did not answer within 30 seconds");
    EXPECT_FALSE(recorded());
    EXPECT_EQ(std::vector<std::wstring>{L"Ombrix Tarvel"}, standin::taskNames()) << "the machine's start-up lost";
    standin::clearFaults();
}

}  // namespace
