// The shipping tarvel.exe started as its own process, as each Windows release, with the
// real registry and file system read back afterwards.
#include "standin/taskscheduler/TaskSchedulerStandIn.h"
#include "tests/scenarios/TarvelState.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdlib>

#include <string>
#include <vector>

namespace {

const wchar_t kInstallDir[] = L"C:\\tarvel";

using state::ownMarker;
using state::portKey;
using state::runValue;

void clearMarkers()
{
    host::clearPath(state::ownMarker());
    host::clearPath(state::otherMarker());
}

// Leaves the registry as a machine might have it: no driver keys at all, or stale values.
void seedRegistry(bool withStaleValues)
{
    state::clearDriverKeys();
    state::clearRunValues();
    if (withStaleValues) {
        host::writeString(HKEY_LOCAL_MACHINE, portKey(0), L"DIPM", L"stale");
        host::writeDword(HKEY_LOCAL_MACHINE, portKey(1), L"LPM", 7);
        host::writeDword(HKEY_LOCAL_MACHINE, portKey(6), L"DIPM", 5);
        // A start-up in the native view, which the 64-bit Explorer runs as well: a pass of any
        // release and mode leaves none there.
        if (host::underWow64()) {
            host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"C:\\other\\tarvel.exe",
                              KEY_WOW64_64KEY);
        }
    }
}

void expectNoRunValueInNativeView()
{
    if (host::underWow64()) {
        EXPECT_FALSE(runValue(KEY_WOW64_64KEY).present);
    }
}

enum class Marker { Absent, Directory, File };

struct Case {
    const wchar_t* version;
    bool logonTask;  // 6.0 and 6.1 start through the Task Scheduler, not the Run key
    Marker marker;
};

std::string caseName(const testing::TestParamInfo<Case>& info)
{
    std::string name;
    for (const wchar_t* c = info.param.version; *c; ++c) {
        name += static_cast<char>(*c);
    }
    const char* markers[] = {"_markerAbsent", "_markerDirectory", "_markerFile"};
    return name + markers[static_cast<int>(info.param.marker)];
}

class EveryRelease : public testing::TestWithParam<Case> {};

TEST_P(EveryRelease, PortsAndLogonStartFollowTheMarker)
{
    const Case& c = GetParam();
    // Wine's own Task Scheduler cannot hold a logon task; the stand-in can.
    if (c.logonTask) {
        state::useTaskScheduler(host::standInDll());
        standin::deleteAllTasks();
    }
    const std::wstring exe = host::placeTarvel(kInstallDir);
    host::setWindowsVersion(L"tarvel.exe", c.version);
    clearMarkers();
    seedRegistry(true);
    if (c.marker == Marker::Directory) {
        host::makeDirectory(ownMarker());
    } else if (c.marker == Marker::File) {
        host::makeFile(ownMarker());
    }

    EXPECT_EQ(0u, host::runProgram(exe));

    // A file of the marker's name blocks the probe as well as the directory does.
    const bool preload = c.marker != Marker::Absent;
    state::expectPorts(preload ? 0 : 1);
    EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, portKey(6), L"DIPM").isDword(5)) << "Port6 was touched";
    EXPECT_FALSE(host::readValue(HKEY_LOCAL_MACHINE, portKey(6), L"LPM").present) << "Port6 was touched";

    const host::RegValue run = runValue();
    if (preload && !c.logonTask) {
        EXPECT_EQ(exe, run.text());
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), run.type);
    } else {
        EXPECT_FALSE(run.present) << "unexpected Run value: " << testing::PrintToString(run.text());
    }
    expectNoRunValueInNativeView();

    const host::PathKind expected[] = {host::PathKind::Missing, host::PathKind::Directory, host::PathKind::File};
    EXPECT_EQ(expected[static_cast<int>(c.marker)], host::pathKind(ownMarker())) << "the probe changed the marker";
    clearMarkers();
    if (c.logonTask) {
        EXPECT_EQ(preload, standin::taskNames().size() == 1);
        standin::deleteAllTasks();
        state::useTaskScheduler(state::kWineTaskScheduler);
    }
}

std::vector<Case> everyCase()
{
    const std::pair<const wchar_t*, bool> releases[] = {
        {L"win2k", false}, {L"winxp", false}, {L"win2003", false}, {L"vista", true},
        {L"win7", true},   {L"win8", false},  {L"win10", false},
    };
    std::vector<Case> cases;
    for (const auto& release : releases) {
        for (Marker marker : {Marker::Absent, Marker::Directory, Marker::File}) {
            cases.push_back({release.first, release.second, marker});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Releases, EveryRelease, testing::ValuesIn(everyCase()), caseName);

TEST(Marker, OnlyTheMarkerOfTheProcessKindCounts)
{
    const std::wstring exe = host::placeTarvel(kInstallDir);
    host::setWindowsVersion(L"tarvel.exe", L"winxp");
    const std::wstring other = state::otherMarker();

    clearMarkers();
    seedRegistry(false);
    host::makeDirectory(other);
    EXPECT_EQ(0u, host::runProgram(exe));
    state::expectPorts(1);
    EXPECT_FALSE(runValue().present);
    EXPECT_EQ(host::PathKind::Directory, host::pathKind(other));

    host::makeDirectory(ownMarker());
    EXPECT_EQ(0u, host::runProgram(exe));
    state::expectPorts(0);
    EXPECT_EQ(exe, runValue().text());
    clearMarkers();
}

TEST(Marker, NormalModeRemovesTheRunValueAndKeepsOtherStartupEntries)
{
    const std::wstring exe = host::placeTarvel(kInstallDir);
    host::setWindowsVersion(L"tarvel.exe", L"win10");
    clearMarkers();
    seedRegistry(false);
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"C:\\old\\tarvel.exe", KEY_WOW64_32KEY);
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, L"Neighbour", L"C:\\n.exe", KEY_WOW64_32KEY);

    EXPECT_EQ(0u, host::runProgram(exe));
    EXPECT_FALSE(runValue().present);
    EXPECT_EQ(L"C:\\n.exe", host::readValue(HKEY_LOCAL_MACHINE, state::kRunKey, L"Neighbour", KEY_WOW64_32KEY).text());
    host::deleteValue(HKEY_LOCAL_MACHINE, state::kRunKey, L"Neighbour", KEY_WOW64_32KEY);
}

// Drive C: made immutable on the Unix side (root only), so that it takes no new folder, as a
// full or write-protected disk would not; undone when it goes out of scope.
class FrozenDriveC {
public:
    FrozenDriveC() { frozen_ = chattr(L"+i"); }
    ~FrozenDriveC()
    {
        if (frozen_) {
            chattr(L"-i");
        }
    }
    FrozenDriveC(const FrozenDriveC&) = delete;
    FrozenDriveC& operator=(const FrozenDriveC&) = delete;
    bool frozen() const { return frozen_; }

private:
    // Wine starts a Unix program given by its Unix path, but does not wait for it with the
    // handle it gives; the drive itself is asked, until it answers as the flag asks.
    static bool chattr(const wchar_t* flag)
    {
        const char* prefix = std::getenv("WINEPREFIX");
        if (prefix == nullptr) {
            return false;
        }
        std::wstring command = std::wstring(L"/usr/bin/chattr ") + flag + L" ";
        for (const char* c = prefix; *c != '\0'; ++c) {
            command += static_cast<wchar_t>(static_cast<unsigned char>(*c));
        }
        command += L"/drive_c";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            return false;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        const bool wantFolders = flag[0] == L'-';
        for (int tries = 0; tries < 100; ++tries) {
            const wchar_t probe[] = L"C:\\frozen-probe";
            const bool takesFolders = CreateDirectoryW(probe, nullptr) != FALSE;
            RemoveDirectoryW(probe);
            if (takesFolders == wantFolders) {
                return true;
            }
            Sleep(50);
        }
        return false;
    }
    bool frozen_ = false;
};

// The probe's own refusal, other than the marker's presence, is preload mode all the same,
// but the pass cannot know the machine is as a marker asks: its exit status says so.
TEST(Marker, AProbeRefusedForAnotherReasonKeepsPreloadModeAndIsTheExitStatus)
{
    const std::wstring exe = host::placeTarvel(kInstallDir);
    host::setWindowsVersion(L"tarvel.exe", L"winxp");
    clearMarkers();
    seedRegistry(false);
    // A copy that cannot read its own path whole fails later steps too; the probe comes first.
    const std::wstring cut = host::placeTarvelAtPathLength(MAX_PATH);
    const FrozenDriveC frozen;
    if (!frozen.frozen()) {
        GTEST_SKIP() << "drive C: cannot be made immutable here (chattr needs root)";
    }
    const std::wstring wideMarker = ownMarker();
    const std::string marker(wideMarker.begin(), wideMarker.end());
    const int refusal = SHCreateDirectoryExA(nullptr, marker.c_str(), nullptr);
    ASSERT_NE(ERROR_SUCCESS, refusal);
    ASSERT_NE(ERROR_ALREADY_EXISTS, refusal);

    // Windows starts a program by a path this long only from its own folder.
    const std::wstring folder = cut.substr(0, cut.rfind(L'\\'));
    EXPECT_EQ(static_cast<DWORD>(refusal), host::runProgram(L"tarvel.exe", L"", folder)) << "the cut path came first";
    EXPECT_EQ(static_cast<DWORD>(refusal), host::runProgram(exe));
    state::expectPorts(0);
    EXPECT_EQ(exe, runValue().text());
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(ownMarker()));
    state::clearRunValues();
}

// Wine checks key security as Windows does: a key that denies setting values cannot be
// opened with the access the port writer asks for.
void setKeySecurity(const std::wstring& key, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    HKEY opened = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, WRITE_DAC, &opened));
    if (opened != nullptr) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(opened, DACL_SECURITY_INFORMATION, descriptor));
        RegCloseKey(opened);
    }
    LocalFree(descriptor);
}

const wchar_t kDenySetValue[] = L"D:(D;;0x2;;;WD)(A;;KA;;;WD)";
const wchar_t kAllowAll[] = L"D:(A;;KA;;;WD)";

using state::printed;
using state::PrintedEvent;
using state::printedEvents;

// Every pass ends with one event in the Application log, whatever happened: on the Run-key
// releases nobody else reads its outcome.
TEST(Events, EveryPassTellsItsOutcomeInOneEvent)
{
    const std::wstring exe = host::placeTarvel(kInstallDir);
    host::setWindowsVersion(L"tarvel.exe", L"winxp");
    clearMarkers();
    seedRegistry(false);
    const std::wstring channels = L"-all,+eventlog,fixme+advapi";
    const std::wstring marker = ownMarker();

    host::makeDirectory(marker);
    std::string log = host::wineDebugOutput(exe, channels);
    std::vector<PrintedEvent> events = printedEvents(log);
    ASSERT_EQ(1u, events.size()) << log;
    EXPECT_EQ(0u, events[0].call.find("CAFE4242,0x0004,0x0000,0x000003e8,")) << "information, 1000: " << log;
    EXPECT_EQ((std::vector<std::string>{printed("trace", L"preload"), printed("trace", marker), printed("trace", L"0"),
                                        printed("trace", L"registered as the Run value \"Tarvel\" for " + exe)}),
              events[0].strings);

    clearMarkers();
    log = host::wineDebugOutput(exe, channels);
    events = printedEvents(log);
    ASSERT_EQ(1u, events.size()) << log;
    EXPECT_EQ(0u, events[0].call.find("CAFE4242,0x0004,0x0000,0x000003e9,")) << "information, 1001: " << log;
    EXPECT_EQ((std::vector<std::string>{printed("trace", L"normal"), printed("trace", marker), printed("trace", L"1"),
                                        printed("trace", L"removed")}),
              events[0].strings);

    // A port that refuses its writes: an error, with the step and the status.
    setKeySecurity(portKey(3), kDenySetValue);
    log = host::wineDebugOutput(exe, channels);
    setKeySecurity(portKey(3), kAllowAll);
    events = printedEvents(log);
    ASSERT_EQ(1u, events.size()) << log;
    EXPECT_EQ(0u, events[0].call.find("CAFE4242,0x0001,0x0000,0x000003ea,")) << "error, 1002: " << log;
    // The system's words follow a space of their own: " Access is denied." on Windows, as Wine
    // words it here.
    EXPECT_EQ((std::vector<std::string>{printed("err", L"normal"), printed("err", marker), printed("err", L"1"),
                                        printed("err", L"absent: no logon start-up found"),
                                        printed("err", L"port values"), printed("err", L"5"),
                                        printed("err", L"0x00000005"), printed("err", L" Access denied.")}),
              events[0].strings);
    state::clearDriverKeys();

    // An HRESULT, as %errorlevel% and as the Task Scheduler's documentation show it.
    state::useTaskScheduler(host::standInDll());
    standin::setStopped(true);
    host::setWindowsVersion(L"tarvel.exe", L"win7");
    host::makeDirectory(marker);
    log = host::wineDebugOutput(exe, channels);
    clearMarkers();
    events = printedEvents(log);
    ASSERT_EQ(1u, events.size()) << log;
    ASSERT_LE(7u, events[0].strings.size()) << log;
    EXPECT_EQ(printed("err", L"-2147216619"), events[0].strings[5]);
    EXPECT_EQ(printed("err", L"0x80041315"), events[0].strings[6]);

    // Out of reach, the Task Scheduler holds a task the pass could not see: nothing removed.
    standin::Task task;
    task.triggers = {{TASK_TRIGGER_LOGON, true}};
    task.actions = {{TASK_ACTION_EXEC, exe, true, L""}};
    standin::storeTask(L"Ombrix Tarvel", task);
    log = host::wineDebugOutput(exe, channels);
    standin::setStopped(false);
    EXPECT_FALSE(standin::taskNames().empty());
    events = printedEvents(log);
    ASSERT_EQ(1u, events.size()) << log;
    EXPECT_EQ(0u, events[0].call.find("CAFE4242,0x0004,0x0000,0x000003e9,")) << "information, 1001: " << log;
    ASSERT_EQ(4u, events[0].strings.size()) << log;
    EXPECT_EQ(printed("trace", L"absent: no logon start-up found"), events[0].strings[3]);
    // Reached, the pass deletes the task, with no Run value to delete: a removal all the same.
    log = host::wineDebugOutput(exe, channels);
    EXPECT_TRUE(standin::taskNames().empty());
    events = printedEvents(log);
    ASSERT_EQ(1u, events.size()) << log;
    ASSERT_EQ(4u, events[0].strings.size()) << log;
    EXPECT_EQ(printed("trace", L"removed"), events[0].strings[3]);
    standin::deleteAllTasks();
    state::useTaskScheduler(state::kWineTaskScheduler);
    state::clearDriverKeys();
}

// A key that refuses its writes costs only its own values; the exit status names the first
// refusal, so that a pass without the rights it needs (UAC) never reads as a success.
TEST(FailedWrites, AKeyThatRefusesWritesHoldsBackNothingElseAndIsTheExitStatus)
{
    const std::wstring exe = host::placeTarvel(kInstallDir);
    host::setWindowsVersion(L"tarvel.exe", L"winxp");
    clearMarkers();
    seedRegistry(false);
    host::writeDword(HKEY_LOCAL_MACHINE, portKey(3), L"DIPM", 7);
    setKeySecurity(portKey(3), kDenySetValue);
    HKEY refused = nullptr;
    ASSERT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(HKEY_LOCAL_MACHINE, portKey(3).c_str(), 0, KEY_ALL_ACCESS, &refused));

    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), host::runProgram(exe));
    EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, portKey(3), L"DIPM").isDword(7));
    EXPECT_FALSE(host::readValue(HKEY_LOCAL_MACHINE, portKey(3), L"LPM").present);
    for (int port : {0, 1, 2, 4, 5}) {
        EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, portKey(port), L"DIPM").isDword(1)) << "Port" << port;
        EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, portKey(port), L"LPM").isDword(1)) << "Port" << port;
    }
    // Two steps fail: the ports first, so theirs is the status, not the cut path's.
    const std::wstring cut = host::placeTarvelAtPathLength(MAX_PATH);
    host::makeDirectory(ownMarker());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
              host::runProgram(L"tarvel.exe", L"", cut.substr(0, cut.rfind(L'\\'))));
    EXPECT_FALSE(runValue().present);
    clearMarkers();
    setKeySecurity(portKey(3), kAllowAll);
    state::clearDriverKeys();

    // The Run key refusing its value: the ports are written all the same, in both modes.
    host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, L"C:\\old\\tarvel.exe");
    setKeySecurity(state::kRunKey, kDenySetValue);
    host::makeDirectory(ownMarker());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), host::runProgram(exe)) << "preload";
    state::expectPorts(0);
    EXPECT_EQ(L"C:\\old\\tarvel.exe", runValue().text());
    clearMarkers();
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), host::runProgram(exe)) << "normal";
    state::expectPorts(1);
    setKeySecurity(state::kRunKey, kAllowAll);
    EXPECT_EQ(L"C:\\old\\tarvel.exe", runValue().text());
    state::clearRunValues();
    state::clearDriverKeys();
}

}  // namespace
