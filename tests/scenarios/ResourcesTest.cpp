// What the executable says of itself: the release's version, and nothing that makes Windows
// elevate it (an execution level, or installer words in its names); and the check's version.
#include "tests/scenarios/TarvelState.h"
#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

namespace {

std::wstring lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

// Windows' installer detection elevates a 32-bit program without an execution level whose
// names carry one of these.
const wchar_t* const kElevatingWords[] = {L"install", L"setup", L"update", L"patch"};

// The version resource's fixed version as a.b.c.d, and its texts by name.
struct VersionInfo {
    std::wstring fixed;
    std::vector<std::wstring> names;
};

VersionInfo versionInfo(const std::wstring& exe)
{
    VersionInfo read;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<BYTE> info(size);
    if (size == 0 || !GetFileVersionInfoW(exe.c_str(), 0, size, info.data())) {
        ADD_FAILURE() << "no version resource";
        return read;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
        read.fixed = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                     std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                     std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                     std::to_wstring(LOWORD(fixed->dwFileVersionLS));
        EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
        EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    }
    for (const wchar_t* field : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                                 L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + field;
        EXPECT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            << testing::PrintToString(std::wstring(field));
        read.names.push_back(value != nullptr ? value : L"");
    }
    return read;
}

TEST(Resources, TheProgramAndTheCheckStateTheReleaseAndNoNameAsksForElevation)
{
    for (const std::wstring& exe : {host::tarvelExe(), host::tarvelCheck()}) {
        const VersionInfo info = versionInfo(exe);
        ASSERT_EQ(7u, info.names.size());
        EXPECT_EQ(TARVEL_PROJECT_VERSION, info.fixed);
        EXPECT_EQ(TARVEL_PROJECT_VERSION, info.names[2]);
        EXPECT_EQ(TARVEL_PROJECT_VERSION, info.names[6]);
        EXPECT_EQ(L"Tarvel", info.names[5]);
        std::vector<std::wstring> names = info.names;
        names.push_back(exe.substr(exe.rfind(L'\\') + 1));
        for (const std::wstring& name : names) {
            for (const wchar_t* word : kElevatingWords) {
                EXPECT_EQ(std::wstring::npos, lower(name).find(word)) << testing::PrintToString(name);
            }
        }
    }
}

TEST(Resources, TheManifestDeclaresNoExecutionLevelAndNoAssembly)
{
    HMODULE image = LoadLibraryExW(host::tarvelExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, image);
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(nullptr, found) << "no application manifest";
    const char* text = static_cast<const char*>(LockResource(LoadResource(image, found)));
    const std::string manifest(text, SizeofResource(image, found));
    EXPECT_NE(std::string::npos, manifest.find("<assembly"));
    EXPECT_EQ(std::string::npos, manifest.find("requestedExecutionLevel"));
    EXPECT_EQ(std::string::npos, manifest.find("dependentAssembly"));
    // The program's own icon (RT_GROUP_ICON).
    EXPECT_NE(nullptr, FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)));
    FreeLibrary(image);
}

// Event Viewer reads each event's sentence from the program's message table, the strings
// inserted: every event the program writes has one, and no insert is left over.
TEST(Resources, TheMessageTableGivesEachEventItsSentence)
{
    HMODULE image = LoadLibraryExW(host::tarvelExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, image);
    struct Event {
        DWORD id;
        std::vector<const wchar_t*> strings;
        const wchar_t* sentence;
    };
    const Event events[] = {
        {1000,
         {L"preload", L"C:\\Preload", L"0", L"registered as the Run value \"Tarvel\" for C:\\Tools\\tarvel.exe"},
         L"The pass did its whole job in preload mode: the marker C:\\Preload is present, the DIPM and LPM switches "
         L"of iaStor ports 0 to 5 are 0, and the logon start-up is registered as the Run value \"Tarvel\" for "
         L"C:\\Tools\\tarvel.exe.\r\n"},
        {1001,
         {L"normal", L"C:\\Preload64", L"1", L"removed"},
         L"The pass did its whole job in normal mode: the marker C:\\Preload64 is absent, the DIPM and LPM switches "
         L"of iaStor ports 0 to 5 are 1, and the logon start-up is removed.\r\n"},
        {1002,
         {L"normal", L"C:\\Preload", L"1", L"removed", L"port values", L"5", L"0x00000005", L" Access is denied."},
         L"The pass in normal mode did not do its whole job: its step \"port values\" failed with status 5 "
         L"(0x00000005). Access is denied. Marker C:\\Preload; DIPM and LPM of iaStor ports 0 to 5 to be 1; logon "
         L"start-up: removed.\r\n"},
        // A status Windows has no text for.
        {1002,
         {L"preload", L"C:\\Preload", L"0", L"failed", L"logon start-up", L"-2147216619", L"0x80041315", L""},
         L"The pass in preload mode did not do its whole job: its step \"logon start-up\" failed with status "
         L"-2147216619 (0x80041315). Marker C:\\Preload; DIPM and LPM of iaStor ports 0 to 5 to be 0; logon start-up: "
         L"failed.\r\n"},
    };
    for (const Event& event : events) {
        wchar_t text[1024] = {};
        std::vector<DWORD_PTR> arguments;
        for (const wchar_t* string : event.strings) {
            arguments.push_back(reinterpret_cast<DWORD_PTR>(string));
        }
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, image,
                                            event.id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 1024,
                                            reinterpret_cast<va_list*>(arguments.data()));
        EXPECT_NE(0u, length) << event.id << ": error " << GetLastError();
        EXPECT_EQ(std::wstring(event.sentence), std::wstring(text)) << event.id;
    }
    FreeLibrary(image);
}

// A DLL that is no KnownDLL, planted beside a program that may run elevated, is never loaded,
// under Windows' search order for it (native DLLs first, as WINEDLLOVERRIDES gives it): the
// programs load Windows' own from the system folder.
TEST(Resources, NoProgramLoadsADllPlantedBesideIt)
{
    struct Case {
        std::wstring program;
        const wchar_t* arguments;
        std::vector<std::wstring> dlls;
        DWORD lowest;  // the statuses of a run to its end: the check's 0 or 1, the kit's usage 87
        DWORD highest;
    };
    const Case cases[] = {
        {host::tarvelCheck(), L"", {L"version.dll", L"netapi32.dll"}, 0, 1},
        {host::tarvelKit() + L"\\tarvel-kit.exe", L"", {L"version.dll", L"netapi32.dll", L"msi.dll"}, 87, 87},
    };
    const std::wstring folder = L"C:\\planted";
    const wchar_t trace[] = L"C:\\planted-dll-ran.txt";
    host::clearPath(trace);
    host::makeDirectory(state::ownMarker());
    host::setWindowsVersion(L"tarvel-check.exe", L"winxp");
    wchar_t overrides[256] = {};
    const bool hadOverrides = GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 256) != 0;
    SetEnvironmentVariableW(L"WINEDLLOVERRIDES", L"version,netapi32,msi=n,b");
    for (const Case& item : cases) {
        const std::string what(item.program.begin(), item.program.end());
        host::makeDirectory(folder);
        const std::wstring program = folder + item.program.substr(item.program.rfind(L'\\'));
        ASSERT_TRUE(CopyFileW(item.program.c_str(), program.c_str(), FALSE)) << what;
        for (const std::wstring& dll : item.dlls) {
            ASSERT_TRUE(CopyFileW(host::plantedDll(dll).c_str(), (folder + L"\\" + dll).c_str(), FALSE)) << what;
        }
        // In preload mode the check judges the start-up: who may change its program (netapi32),
        // whether that is a tarvel program (version).
        const std::wstring started = host::placeTarvel(folder);
        host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, started, KEY_WOW64_32KEY);
        const DWORD status = host::runProgram(program, item.arguments);
        EXPECT_EQ(host::PathKind::Missing, host::pathKind(trace)) << what << ": a planted DLL's code ran";
        EXPECT_TRUE(status >= item.lowest && status <= item.highest) << what << ": it ended with " << status;
        host::clearPath(trace);
        for (const std::wstring& dll : item.dlls) {
            host::clearPath(folder + L"\\" + dll);
        }
        host::clearPath(program);
        host::clearPath(started);
        host::clearPath(folder);
    }
    SetEnvironmentVariableW(L"WINEDLLOVERRIDES", hadOverrides ? overrides : nullptr);
    state::clearRunValues();
    host::clearPath(state::ownMarker());
    host::deleteTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\tarvel-check.exe");
}

}  // namespace
