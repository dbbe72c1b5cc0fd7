// The Run value read as Explorer reads it, from a key of the test's own.
#include "startup/RunCommand.h"
#include "startup/RunEntry.h"
#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RunCommand, AValueIsReadWholeAndExpandedAsExplorerDoes)
{
    const wchar_t testKey[] = L"Software\\tarvel-run-command-test";
    host::deleteTree(HKEY_CURRENT_USER, testKey);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, testKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    UniqueHeapText command;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, readRunCommand(key, command)) << "absent";

    struct Case {
        DWORD type;
        std::wstring data;
        LSTATUS status;
        std::wstring command;
    };
    wchar_t systemDrive[MAX_PATH] = {};
    GetEnvironmentVariableW(L"SystemDrive", systemDrive, MAX_PATH);
    // The folders the Explorer of this Windows expands them to: on 64-bit Windows the 64-bit
    // Explorer's, which the registry's 64-bit view holds on every 64-bit release; before
    // Windows 7 no ProgramW6432 names them, as here from now on.
    const wchar_t windowsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    // Whatever this process's own environment says: the 64-bit Explorer's folders are not
    // this 32-bit process's, and on 32-bit Windows Explorer's are the environment's.
    SetEnvironmentVariableW(L"ProgramFiles", L"C:\\Env Program Files");
    SetEnvironmentVariableW(L"CommonProgramFiles", L"C:\\Env Common Files");
    const std::wstring nativeProgramFiles =
        host::underWow64() ? host::readValue(HKEY_LOCAL_MACHINE, windowsKey, L"ProgramFilesDir", KEY_WOW64_64KEY).text()
                           : L"C:\\Env Program Files";
    const std::wstring nativeCommonFiles =
        host::underWow64() ? host::readValue(HKEY_LOCAL_MACHINE, windowsKey, L"CommonFilesDir", KEY_WOW64_64KEY).text()
                           : L"C:\\Env Common Files";
    ASSERT_FALSE(nativeProgramFiles.empty());
    SetEnvironmentVariableW(L"ProgramW6432", nullptr);
    SetEnvironmentVariableW(L"CommonProgramW6432", nullptr);
    const Case cases[] = {
        {REG_SZ, L"\"C:\\Tools\\tarvel.exe\" /quiet", ERROR_SUCCESS, L"\"C:\\Tools\\tarvel.exe\" /quiet"},
        {REG_SZ, L"C:\\" + std::wstring(2000, L'x') + L"\\tarvel.exe", ERROR_SUCCESS,
         L"C:\\" + std::wstring(2000, L'x') + L"\\tarvel.exe"},
        {REG_EXPAND_SZ, L"%SystemDrive%\\Tools\\tarvel.exe", ERROR_SUCCESS,
         std::wstring(systemDrive) + L"\\Tools\\tarvel.exe"},
        {REG_BINARY, L"C:\\Tools\\tarvel.exe", ERROR_INVALID_DATA, L""},
        // Names of variables are compared without regard to case; on 32-bit Windows nothing is
        // renamed.
        {REG_EXPAND_SZ, L"\"%programfiles%\\Tarvel\\tarvel.exe\" /quiet", ERROR_SUCCESS,
         L"\"" + nativeProgramFiles + L"\\Tarvel\\tarvel.exe\" /quiet"},
        {REG_EXPAND_SZ, L"%CommonProgramFiles%\\Ombrix\\tarvel.exe %ProgramFiles%", ERROR_SUCCESS,
         nativeCommonFiles + L"\\Ombrix\\tarvel.exe " + nativeProgramFiles},
    };
    for (const Case& item : cases) {
        const std::string what(item.data.begin(), item.data.begin() + (item.data.size() < 40 ? item.data.size() : 40));
        RegSetValueExW(key, kRunValueNameW, 0, item.type, reinterpret_cast<const BYTE*>(item.data.c_str()),
                       static_cast<DWORD>((item.data.size() + 1) * sizeof(wchar_t)));
        EXPECT_EQ(item.status, readRunCommand(key, command)) << what;
        if (item.status == ERROR_SUCCESS) {
            EXPECT_EQ(item.command, std::wstring(command.get())) << what;
        }
    }
    RegCloseKey(key);
    host::deleteTree(HKEY_CURRENT_USER, testKey);
}

}  // namespace
