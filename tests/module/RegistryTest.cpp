// Registry keys as the kit's journal uses them, on real keys of the prefix: a link is never
// followed, a key made is given its permissions and read back, a value is read as its type.
#include "common/platform/Registry.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <winternl.h>

#include <string>

namespace {

const wchar_t kBase[] = L"Software\\Ombrix\\RegistryTest";

// A registry link at name under kBase that leads to target (under kBase too).
void makeLink(const std::wstring& name, const std::wstring& target)
{
    HKEY link = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kBase) + L"\\" + name).c_str(), 0,
                                             nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, &link, nullptr));
    wchar_t user[256] = {};
    DWORD size = 256;
    ASSERT_TRUE(GetUserNameW(user, &size));
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[256] = {};
    GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid);
    const std::wstring path = L"\\Registry\\User\\" + std::wstring(sid) + L"\\" + kBase + L"\\" + target;
    LocalFree(sid);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(path.c_str()),
                             static_cast<DWORD>(path.size() * sizeof(wchar_t))));
    RegCloseKey(link);
}

bool exists(const std::wstring& name)
{
    HKEY key = nullptr;
    const bool found = RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kBase) + L"\\" + name).c_str(),
                                     REG_OPTION_OPEN_LINK, KEY_READ, &key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

// deleteKeyTree of kBase, on a thread of its own: a deletion that loops must not hold the test.
DWORD WINAPI deleteBase(LPVOID status)
{
    *static_cast<Status*>(status) = deleteKeyTree(HKEY_CURRENT_USER, kBase, 0);
    return 0;
}

TEST(Registry, ALinkIsNeverFollowedAndAKeyMadeIsGivenItsPermissions)
{
    deleteKeyTree(HKEY_CURRENT_USER, kBase, 0);
    HKEY made = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kBase) + L"\\Target\\Inner").c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr));
    RegCloseKey(made);
    makeLink(L"Link", L"Target");
    ASSERT_TRUE(exists(L"Link\\Inner")) << "the link does not lead to its target";

    UniqueHkey key;
    wchar_t link[MAX_PATH] = {};
    EXPECT_EQ(static_cast<Status>(ERROR_NOT_SUPPORTED),
              openKeyWithoutLinks(HKEY_CURRENT_USER, (std::wstring(kBase) + L"\\Link\\Inner").c_str(), KEY_READ, 0, key,
                                  link));
    EXPECT_EQ(std::wstring(kBase) + L"\\Link", std::wstring(link));
    EXPECT_FALSE(key);
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS),
              openKeyWithoutLinks(HKEY_CURRENT_USER, (std::wstring(kBase) + L"\\Target\\Inner").c_str(), KEY_READ, 0,
                                  key, link));
    EXPECT_TRUE(key);

    // The link goes, as the link: what it leads to stays.
    UniqueHkey base;
    ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), openKeyItself(HKEY_CURRENT_USER, kBase, KEY_ALL_ACCESS, base));
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), deleteKeyTree(base.get(), L"Link", 0));
    EXPECT_FALSE(exists(L"Link"));
    EXPECT_TRUE(exists(L"Target\\Inner")) << "the link was followed";

    // A key made is new, its permissions set and read back; one that is there is said so.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)",
                                                                     SDDL_REVISION_1, &descriptor, nullptr));
    bool createdNew = false;
    UniqueHkey fresh;
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS),
              createKeyWithDescriptor(base.get(), L"Made", KEY_ALL_ACCESS, descriptor, fresh, createdNew));
    EXPECT_TRUE(createdNew);
    BYTE readBack[4096] = {};
    ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), readKeyDescriptor(fresh.get(), readBack));
    wchar_t* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        readBack, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_EQ(std::wstring(L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)"), std::wstring(text));
    LocalFree(text);
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS),
              createKeyWithDescriptor(base.get(), L"Target", KEY_ALL_ACCESS, descriptor, fresh, createdNew));
    EXPECT_FALSE(createdNew) << "a key that was there taken for a new one";
    LocalFree(descriptor);

    // A value read as the type it must be.
    const DWORD four = 4;
    RegSetValueExW(base.get(), L"Dword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&four), sizeof four);
    RegSetValueExW(base.get(), L"Binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&four), sizeof four);
    DWORD value = 0;
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), readDwordValue(base.get(), L"Dword", value));
    EXPECT_EQ(4u, value);
    EXPECT_EQ(static_cast<Status>(ERROR_INVALID_DATA), readDwordValue(base.get(), L"Binary", value));
    // A REG_DWORD of two bytes is no switch the driver reads.
    RegSetValueExW(base.get(), L"Short", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&four), 2);
    EXPECT_EQ(static_cast<Status>(ERROR_INVALID_DATA), readDwordValue(base.get(), L"Short", value));

    // A subkey whose name holds a NUL, which only the native API makes, is listed but cannot be
    // opened by its Win32 name: the deletion stops with a failure, never listing it for ever.
    using NativeKeyCall =
        LONG(WINAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG, PUNICODE_STRING, ULONG, PULONG);
    const auto createKeyNative = reinterpret_cast<NativeKeyCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateKey")));
    wchar_t nulName[] = L"Nul\0Name";
    UNICODE_STRING nulText = {sizeof nulName - sizeof(wchar_t), sizeof nulName, nulName};
    OBJECT_ATTRIBUTES nulAttributes = {sizeof nulAttributes, base.get(), &nulText, 0, nullptr, nullptr};
    HANDLE nul = nullptr;
    ASSERT_EQ(0, createKeyNative(&nul, KEY_ALL_ACCESS, &nulAttributes, 0, nullptr, 0, nullptr));
    Status deleted = ERROR_SUCCESS;
    const HANDLE deletion = CreateThread(nullptr, 0, deleteBase, &deleted, 0, nullptr);
    ASSERT_NE(nullptr, deletion);
    if (WaitForSingleObject(deletion, 10000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the deletion lists the key it cannot open for ever";
        TerminateThread(deletion, 1);
    }
    CloseHandle(deletion);
    EXPECT_NE(static_cast<Status>(ERROR_SUCCESS), deleted) << "a key it could not open counted as deleted";
    const auto deleteKeyNative = reinterpret_cast<LONG(WINAPI*)(HANDLE)>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    EXPECT_EQ(0, deleteKeyNative(nul));
    CloseHandle(nul);
    base.reset();
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), deleteKeyTree(HKEY_CURRENT_USER, kBase, 0));
    EXPECT_FALSE(exists(L""));
}

}  // namespace
