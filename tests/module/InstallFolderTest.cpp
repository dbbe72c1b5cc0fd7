// The install folder's lock and the choice of folder, on descriptors and folders built here:
// Wine does not keep an owner that a program sets, so the lock is read from its descriptor.
#include "common/ChangeRights.h"
#include "common/Owners.h"
#include "installer/InstallFolder.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

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

// One spelling of each folder, however it is given, judged as Windows makes it: a root in any
// spelling is a root, and a part Windows would make without its last space or dot is refused.
// E: is an empty local fixed drive of the test prefix.
TEST(InstallFolder, EachSpellingOfAFolderIsJudgedAsTheFolderWindowsMakes)
{
    struct Case {
        const wchar_t* given;
        const wchar_t* folder;
        FolderVerdict verdict;
    };
    const Case cases[] = {
        {L"E:\\", L"E:\\", FolderVerdict::DriveRoot},
        {L"E:/", L"E:\\", FolderVerdict::DriveRoot},
        {L"E:\\.", L"E:\\", FolderVerdict::DriveRoot},
        {L"E:\\\\", L"E:\\", FolderVerdict::DriveRoot},
        {L"E:\\.\\", L"E:\\", FolderVerdict::DriveRoot},
        {L"E:/.", L"E:\\", FolderVerdict::DriveRoot},
        {L"\\\\?\\E:\\", L"E:\\", FolderVerdict::DriveRoot},
        {L"\\\\?\\UNC\\server\\share\\", L"\\\\server\\share\\", FolderVerdict::DriveRoot},
        {L"\\\\server\\share\\Tarvel", L"\\\\server\\share\\Tarvel\\", FolderVerdict::NotLocalFixed},
        {L"C:\\Custom\\..\\Tarvel\\", L"C:\\Tarvel\\", FolderVerdict::OwnFolder},
        {L"E:\\Tools\\\\Tarvel", L"E:\\Tools\\Tarvel\\", FolderVerdict::OwnFolder},
        {L"C:\\spt\\Tarvel \\", L"C:\\spt\\Tarvel \\", FolderVerdict::EndsInSpaceOrDot},
        {L"C:\\spt \\Tarvel\\", L"C:\\spt \\Tarvel\\", FolderVerdict::EndsInSpaceOrDot},
        // Windows takes one closing dot off a part, as Wine does; a second stays.
        {L"C:\\spt\\Tarvel.\\", L"C:\\spt\\Tarvel\\", FolderVerdict::OwnFolder},
        {L"C:\\spt\\Tarvel..\\", L"C:\\spt\\Tarvel.\\", FolderVerdict::EndsInSpaceOrDot},
        {L"N:\\Tarvel\\", L"N:\\Tarvel\\", FolderVerdict::NotLocalFixed},
        {L"R:\\Tarvel\\", L"R:\\Tarvel\\", FolderVerdict::NotLocalFixed},
    };
    for (const Case& item : cases) {
        const std::string what(item.given, item.given + std::wcslen(item.given));
        wchar_t folder[MAX_PATH] = {};
        ASSERT_TRUE(normalInstallFolder(item.given, folder)) << what;
        EXPECT_STREQ(item.folder, folder) << what;
        ForeignEntries others;
        EXPECT_EQ(item.verdict, judgeInstallFolder(folder, others)) << what;
    }
    // A folder of C: that mounts another volume is that volume's root, as Windows answers it.
    VolumeReader mounted;
    mounted.volumePath = [](const wchar_t*, wchar_t* volume, DWORD capacity) -> BOOL {
        lstrcpynW(volume, L"C:\\Mount\\Disk\\", static_cast<int>(capacity));
        return TRUE;
    };
    mounted.driveType = [](const wchar_t*) -> UINT { return DRIVE_FIXED; };
    ForeignEntries others;
    EXPECT_EQ(FolderVerdict::DriveRoot, judgeInstallFolder(L"C:\\Mount\\Disk\\", others, mounted));
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder(L"C:\\Mount\\Disk\\Tarvel\\", others, mounted));
}

TEST(InstallFolder, OnlyAFolderOfItsOwnIsTakenAndEachMissingFolderIsLocked)
{
    ForeignEntries others;
    for (const wchar_t* root : {L"C:\\", L"D:\\", L"C:", L"\\\\server\\share\\"}) {
        EXPECT_EQ(FolderVerdict::DriveRoot, judgeInstallFolder(root, others)) << std::string(root, root + 3);
    }
    const std::wstring folder = L"C:\\install-folder-test";
    CreateDirectoryW(folder.c_str(), nullptr);
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((folder + L"\\").c_str(), others)) << "empty";
    for (const wchar_t* name : {L"\\TARVEL.exe", L"\\tarvel-check.exe"}) {
        CloseHandle(CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder(folder.c_str(), others)) << "an earlier version's";
    CreateDirectoryW((folder + L"\\logs").c_str(), nullptr);
    CloseHandle(CreateFileW((folder + L"\\notes.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(FolderVerdict::HoldsOthers, judgeInstallFolder(folder.c_str(), others));
    ASSERT_EQ(2u, others.count) << "every entry, not the first";
    std::vector<std::wstring> names = {others.names[0], others.names[1]};
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"logs", L"notes.txt"}), names);
    RemoveDirectoryW((folder + L"\\logs").c_str());
    DeleteFileW((folder + L"\\notes.txt").c_str());
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((folder + L"\\missing").c_str(), others));

    wchar_t list[2 * MAX_PATH] = {};
    ASSERT_GT(foldersToLock((folder + L"\\a\\b\\").c_str(), list, 2 * MAX_PATH), 0u);
    EXPECT_EQ(folder + L"\\a|" + folder + L"\\a\\b", std::wstring(list));
    ASSERT_GT(foldersToLock(folder.c_str(), list, 2 * MAX_PATH), 0u);
    EXPECT_EQ(folder, std::wstring(list)) << "an existing folder is locked, not made";

    // Twelve new levels whose longest file's path just fits: each listed once, top down, in
    // the room the list needs and not one character more.
    std::wstring deep = folder;
    std::wstring expected;
    for (int level = 0; level < 12; ++level) {
        deep += L"\\" + std::wstring(16, static_cast<wchar_t>(L'a' + level));
        expected += deep + L"|";
    }
    const std::wstring padding(kLongestInstallFolder - 1 - deep.size(), L'z');
    deep += padding;
    expected.pop_back();
    expected += padding;
    ASSERT_EQ(static_cast<size_t>(MAX_PATH - 1), (deep + L"\\tarvel-check.exe").size());
    const size_t needed = foldersToLock((deep + L"\\").c_str(), nullptr, 0);
    ASSERT_EQ(expected.size() + 1, needed);
    std::vector<wchar_t> room(needed + 1, L'#');
    EXPECT_EQ(needed, foldersToLock((deep + L"\\").c_str(), room.data(), needed - 1));
    EXPECT_EQ(L'#', room[0]) << "written with too little room";
    EXPECT_EQ(needed, foldersToLock((deep + L"\\").c_str(), room.data(), needed));
    EXPECT_EQ(expected, std::wstring(room.data()));
    EXPECT_EQ(L'#', room[needed]) << "written past the room given";

    EXPECT_EQ(0u, foldersToLock((deep + L"z\\").c_str(), room.data(), needed)) << "tarvel-check.exe's path too long";
    EXPECT_EQ(FolderVerdict::TooLong, judgeInstallFolder((deep + L"z").c_str(), others));
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((deep + L"\\").c_str(), others));

    for (const wchar_t* name : {L"\\TARVEL.exe", L"\\tarvel-check.exe"}) {
        DeleteFileW((folder + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
