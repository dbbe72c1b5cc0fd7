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
    const Case cases[] = {
        {REG_SZ, L"\"C:\\Tools\\tarvel.exe\" /quiet", ERROR_SUCCESS, L"\"C:\\Tools\\tarvel.exe\" /quiet"},
        {REG_SZ, L"C:\\" + std::wstring(2000, L'x') + L"\\tarvel.exe", ERROR_SUCCESS,
         L"C:\\" + std::wstring(2000, L'x') + L"\\tarvel.exe"},
        {REG_EXPAND_SZ, L"%SystemDrive%\\Tools\\tarvel.exe", ERROR_SUCCESS,
         std::wstring(systemDrive) + L"\\Tools\\tarvel.exe"},
        {REG_BINARY, L"C:\\Tools\\tarvel.exe", ERROR_INVALID_DATA, L""},
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
