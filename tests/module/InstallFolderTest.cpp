// The install folder's lock and the choice of folder, on descriptors and folders built here:
// Wine does not keep an owner that a program sets, so the lock is read from its descriptor.
#include "common/ChangeRights.h"
#include "common/Owners.h"
#include "installer/InstallFolder.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>

namespace {

TEST(InstallFolder, TheLockIsOwnedByAdministratorsProtectedAndInheritedByAllInside)
{
    FolderLock lock;
    ASSERT_TRUE(lock.ok()) << GetLastError();
    wchar_t* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        lock.descriptor(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr));
    const UniqueLocal owned(text);
    EXPECT_EQ(std::wstring(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"), std::wstring(text));
    EXPECT_FALSE(untrustedChanger(lock.descriptor(), ObjectKind::Folder).found);
}

TEST(InstallFolder, OnlyAFolderOfItsOwnIsTakenAndEachMissingFolderIsLocked)
{
    wchar_t offending[MAX_PATH] = {};
    for (const wchar_t* root : {L"C:\\", L"D:\\", L"C:", L"\\\\server\\share\\"}) {
        EXPECT_EQ(FolderVerdict::DriveRoot, judgeInstallFolder(root, offending)) << std::string(root, root + 3);
    }
    const std::wstring folder = L"C:\\install-folder-test";
    CreateDirectoryW(folder.c_str(), nullptr);
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((folder + L"\\").c_str(), offending)) << "empty";
    for (const wchar_t* name : {L"\\TARVEL.exe", L"\\tarvel-check.exe"}) {
        CloseHandle(CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder(folder.c_str(), offending)) << "an earlier version's";
    CreateDirectoryW((folder + L"\\logs").c_str(), nullptr);
    EXPECT_EQ(FolderVerdict::HoldsOthers, judgeInstallFolder(folder.c_str(), offending));
    EXPECT_STREQ(L"logs", offending);
    RemoveDirectoryW((folder + L"\\logs").c_str());
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((folder + L"\\missing").c_str(), offending));

    wchar_t list[2 * (MAX_PATH + 1)] = {};
    ASSERT_TRUE(foldersToLock((folder + L"\\a\\b\\").c_str(), list, sizeof list / sizeof list[0]));
    EXPECT_EQ(folder + L"\\a|" + folder + L"\\a\\b", std::wstring(list));
    ASSERT_TRUE(foldersToLock(folder.c_str(), list, sizeof list / sizeof list[0]));
    EXPECT_EQ(folder, std::wstring(list)) << "an existing folder is locked, not made";

    for (const wchar_t* name : {L"\\TARVEL.exe", L"\\tarvel-check.exe"}) {
        DeleteFileW((folder + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
