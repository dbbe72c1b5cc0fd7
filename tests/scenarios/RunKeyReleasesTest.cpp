// The shipping tarvel.exe started as its own process, as each Windows release, with the
// real registry and file system read back afterwards.
#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kPortsKey[] = L"SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters";
const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\iaStor";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Tarvel";
const wchar_t kInstallDir[] = L"C:\\tarvel";
const wchar_t kPreload[] = L"C:\\Preload";
const wchar_t kPreload64[] = L"C:\\Preload64";

std::wstring portKey(int port) { return std::wstring(kPortsKey) + L"\\Port" + std::to_wstring(port); }

// The marker this process would look for: tarvel.exe is 32-bit like the tests.
std::wstring ownMarker() { return host::underWow64() ? kPreload64 : kPreload; }

void clearMarkers()
{
    host::clearPath(kPreload);
    host::clearPath(kPreload64);
}

// Leaves the registry as a machine might have it: no driver keys at all, or stale values.
void seedRegistry(bool withStaleValues)
{
    host::deleteTree(HKEY_LOCAL_MACHINE, kServiceKey);
    host::deleteValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, KEY_WOW64_32KEY);
    host::deleteValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, KEY_WOW64_64KEY);
    if (withStaleValues) {
        host::writeString(HKEY_LOCAL_MACHINE, portKey(0), L"DIPM", L"stale");
        host::writeDword(HKEY_LOCAL_MACHINE, portKey(1), L"LPM", 7);
        host::writeDword(HKEY_LOCAL_MACHINE, portKey(6), L"DIPM", 5);
    }
}

void expectPorts(DWORD value)
{
    for (int port = 0; port <= 5; ++port) {
        EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, portKey(port), L"DIPM").isDword(value))
            << "Port" << port << " DIPM";
        EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, portKey(port), L"LPM").isDword(value))
            << "Port" << port << " LPM";
    }
}

// Where a 32-bit program's Run value lands; on 64-bit Windows the native view stays clean.
host::RegValue runValue() { return host::readValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, KEY_WOW64_32KEY); }

void expectNoRunValueInNativeView()
{
    if (host::underWow64()) {
        EXPECT_FALSE(host::readValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, KEY_WOW64_64KEY).present);
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
    expectPorts(preload ? 0 : 1);
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
    const std::wstring other = host::underWow64() ? kPreload : kPreload64;

    clearMarkers();
    seedRegistry(false);
    host::makeDirectory(other);
    EXPECT_EQ(0u, host::runProgram(exe));
    expectPorts(1);
    EXPECT_FALSE(runValue().present);
    EXPECT_EQ(host::PathKind::Directory, host::pathKind(other));

    host::makeDirectory(ownMarker());
    EXPECT_EQ(0u, host::runProgram(exe));
    expectPorts(0);
    EXPECT_EQ(exe, runValue().text());
    clearMarkers();
}

TEST(Marker, NormalModeRemovesTheRunValueAndKeepsOtherStartupEntries)
{
    const std::wstring exe = host::placeTarvel(kInstallDir);
    host::setWindowsVersion(L"tarvel.exe", L"win10");
    clearMarkers();
    seedRegistry(false);
    host::writeString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, L"C:\\old\\tarvel.exe", KEY_WOW64_32KEY);
    host::writeString(HKEY_LOCAL_MACHINE, kRunKey, L"Neighbour", L"C:\\n.exe", KEY_WOW64_32KEY);

    EXPECT_EQ(0u, host::runProgram(exe));
    EXPECT_FALSE(runValue().present);
    EXPECT_EQ(L"C:\\n.exe", host::readValue(HKEY_LOCAL_MACHINE, kRunKey, L"Neighbour", KEY_WOW64_32KEY).text());
    host::deleteValue(HKEY_LOCAL_MACHINE, kRunKey, L"Neighbour", KEY_WOW64_32KEY);
}

}  // namespace
