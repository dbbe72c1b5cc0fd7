// The install folder's lock and the choice of folder, on descriptors and folders built here:
// Wine does not keep an owner that a program sets, so the lock is read from its descriptor.
#include "common/trust/Trust.h"
#include "common/platform/Owners.h"
#include "common/trust/FolderTrust.h"
#include "installer/FolderLock.h"
#include "installer/LockList.h"
#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>

#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Windows' own descriptors for what a user made, which Wine cannot keep: the objects whose
// paths end with "user-owned" are a user's, those that end with "open" anyone may change; the
// rest are read from the file system.
const wchar_t kUserOwned[] = L"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;OICI;FA;;;BA)";
const wchar_t kOpen[] = L"O:BAD:(A;OICI;FA;;;WD)(A;OICI;FA;;;BA)";
bool endsWith(const wchar_t* path, const wchar_t* ending)
{
    const size_t length = std::wcslen(path);
    const size_t tail = std::wcslen(ending);
    return length >= tail && _wcsicmp(path + length - tail, ending) == 0;
}
Status readWindowsDescriptor(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor)
{
    const wchar_t* sddl = endsWith(path, L"user-owned") ? kUserOwned : endsWith(path, L"open") ? kOpen : nullptr;
    if (sddl == nullptr) {
        return readDescriptor(path, descriptor);
    }
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
}
StartReader windowsJudge()
{
    StartReader judge = machineStartReader();
    judge.rights.read = readWindowsDescriptor;
    return judge;
}

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
// spelling is a root, a part Windows would make without its last space or dot is refused, and
// so is a device's own name or a name Windows keeps for a device. E: is an empty local fixed
// drive of the test prefix.
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
        {L"\\\\?\\E:\\Tools\\Tarvel\\", L"E:\\Tools\\Tarvel\\", FolderVerdict::OwnFolder},
        {L"C:\\spt\\Tarvel \\", L"C:\\spt\\Tarvel \\", FolderVerdict::EndsInSpaceOrDot},
        {L"C:\\spt \\Tarvel\\", L"C:\\spt \\Tarvel\\", FolderVerdict::EndsInSpaceOrDot},
        // Windows takes one closing dot off a part, as Wine does; a second stays.
        {L"C:\\spt\\Tarvel.\\", L"C:\\spt\\Tarvel\\", FolderVerdict::OwnFolder},
        {L"C:\\spt\\Tarvel..\\", L"C:\\spt\\Tarvel.\\", FolderVerdict::EndsInSpaceOrDot},
        {L"N:\\Tarvel\\", L"N:\\Tarvel\\", FolderVerdict::NotLocalFixed},
        {L"R:\\Tarvel\\", L"R:\\Tarvel\\", FolderVerdict::NotLocalFixed},
        // A device or a volume by its own name is not taken for a folder of drive C:.
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Tools\\", L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Tools\\",
         FolderVerdict::DevicePath},
        {L"\\\\?\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}\\Tools\\",
         L"\\\\?\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}\\Tools\\", FolderVerdict::DevicePath},
        {L"\\\\.\\C:\\Tools\\", L"\\\\.\\C:\\Tools\\", FolderVerdict::DevicePath},
        // Win32 opens the device for each of these names, whatever the case or the extension.
        {L"C:\\Tools\\NUL\\", L"C:\\Tools\\NUL\\", FolderVerdict::ReservedName},
        {L"C:\\Tools\\COM1.txt\\", L"C:\\Tools\\COM1.txt\\", FolderVerdict::ReservedName},
        {L"C:\\con\\Tarvel\\", L"C:\\con\\Tarvel\\", FolderVerdict::ReservedName},
        {L"C:\\Tools\\Lpt\u00B9\\", L"C:\\Tools\\Lpt\u00B9\\", FolderVerdict::ReservedName},
        {L"C:\\Tools\\conout$\\", L"C:\\Tools\\conout$\\", FolderVerdict::ReservedName},
        {L"C:\\Tools\\aux .log\\", L"C:\\Tools\\aux .log\\", FolderVerdict::ReservedName},
        {L"C:\\Tools\\COM10\\", L"C:\\Tools\\COM10\\", FolderVerdict::OwnFolder},
        {L"C:\\Tools\\NULL\\", L"C:\\Tools\\NULL\\", FolderVerdict::OwnFolder},
    };
    for (const Case& item : cases) {
        const std::string what(item.given, item.given + std::wcslen(item.given));
        wchar_t folder[MAX_PATH] = {};
        ASSERT_TRUE(normalInstallFolder(item.given, folder)) << what;
        EXPECT_STREQ(item.folder, folder) << what;
        FolderFindings findings;
        EXPECT_EQ(item.verdict, judgeInstallFolder(folder, false, findings)) << what;
    }
    // A folder of C: that mounts another volume is that volume's root, as Windows answers it.
    StartReader mounted = machineStartReader();
    mounted.volumes.volumePath = [](const wchar_t*, wchar_t* volume, DWORD capacity) -> BOOL {
        lstrcpynW(volume, L"C:\\Mount\\Disk\\", static_cast<int>(capacity));
        return TRUE;
    };
    mounted.volumes.driveType = [](const wchar_t*) -> UINT { return DRIVE_FIXED; };
    FolderFindings findings;
    EXPECT_EQ(FolderVerdict::DriveRoot, judgeInstallFolder(L"C:\\Mount\\Disk\\", false, findings, mounted));
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder(L"C:\\Mount\\Disk\\Tarvel\\", false, findings, mounted));
    // The lock acts only on a folder: never on a file, nor on the device a reserved name opens.
    const std::wstring file = L"C:\\install-folder-file";
    host::makeFile(file);
    EXPECT_EQ(FolderVerdict::NotAFolder, judgeInstallFolder((file + L"\\").c_str(), false, findings));
    FolderLock lock;
    EXPECT_EQ(static_cast<Status>(ERROR_DIRECTORY), lock.lock(file.c_str()));
    EXPECT_NE(ERROR_SUCCESS, lock.lock(L"C:\\NUL"));
    host::clearPath(file);
}

// The drive is judged behind the nearest folder that exists, however far up it is: a link on
// drive C: to a network or a removable drive puts the install folder there.
TEST(InstallFolder, AFolderBehindALinkToAnotherDriveIsOnThatDrive)
{
    for (const wchar_t* target : {L"N:\\linked", L"R:\\linked"}) {
        host::makeDirectory(target);
        host::makeLink(L"C:\\install-link", target);
        FolderFindings findings;
        EXPECT_EQ(FolderVerdict::NotLocalFixed, judgeInstallFolder(L"C:\\install-link\\Tarvel\\", false, findings))
            << "one level below";
        EXPECT_EQ(FolderVerdict::NotLocalFixed, judgeInstallFolder(L"C:\\install-link\\a\\Tarvel\\", false, findings))
            << "two levels below";
        host::removeLink(L"C:\\install-link");
        RemoveDirectoryW(target);
    }
}

// What a folder holds is judged by who could have put it there, not by its name; the installed
// product's locked folder keeps what administrators added; a folder above that others may
// rename refuses the install.
TEST(InstallFolder, OnlyAFolderOfItsOwnIsTakenAndEachMissingFolderIsLocked)
{
    FolderFindings findings;
    for (const wchar_t* root : {L"C:\\", L"D:\\", L"C:", L"\\\\server\\share\\"}) {
        EXPECT_EQ(FolderVerdict::DriveRoot, judgeInstallFolder(root, false, findings)) << std::string(root, root + 3);
    }
    const std::wstring folder = L"C:\\install-folder-test";
    CreateDirectoryW(folder.c_str(), nullptr);
    const StartReader judge = windowsJudge();
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((folder + L"\\").c_str(), false, findings, judge))
        << "empty";
    for (const wchar_t* name : {L"\\TARVEL.exe", L"\\tarvel-check.exe", L"\\notes.txt"}) {
        host::makeFile(folder + name);
    }
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder(folder.c_str(), false, findings, judge))
        << "files only administrators can change, whatever their names";
    host::makeDirectory(folder + L"\\logs");
    host::makeFile(folder + L"\\tarvel.exe.user-owned");
    host::makeFile(folder + L"\\open");
    EXPECT_EQ(FolderVerdict::HoldsOthers, judgeInstallFolder(folder.c_str(), false, findings, judge));
    ASSERT_EQ(3u, findings.others.count) << "every entry, not the first";
    std::vector<std::wstring> names(findings.others.names, findings.others.names + 3);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"logs", L"open", L"tarvel.exe.user-owned"}), names);
    // The installed product's folder, while only administrators can change it.
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder(folder.c_str(), true, findings, judge));
    EXPECT_EQ(4u, findings.others.count) << "what administrators added, named";
    for (const wchar_t* name : {L"\\logs", L"\\tarvel.exe.user-owned", L"\\open", L"\\notes.txt"}) {
        host::clearPath(folder + name);
    }
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((folder + L"\\missing").c_str(), false, findings));

    // A folder above that others may rename, one level up or more, on the written way or behind a link.
    host::makeDirectory(folder + L"\\open");
    host::makeDirectory(folder + L"\\open\\closed");
    host::makeLink(L"C:\\install-folder-link", folder + L"\\open\\closed");
    for (const wchar_t* below : {L"\\open\\Tarvel\\", L"\\open\\closed\\Tarvel\\", L"\\open\\closed\\a\\b\\"}) {
        EXPECT_EQ(FolderVerdict::OpenAbove, judgeInstallFolder((folder + below).c_str(), false, findings, judge))
            << std::string(below, below + std::wcslen(below));
        EXPECT_EQ(folder + L"\\open", std::wstring(findings.above));
        EXPECT_FALSE(findings.aboveOnRealWay);
        EXPECT_NE(std::wstring::npos, std::wstring(findings.whyAbove.c_str()).find(L"renamed also by Everyone"));
    }
    EXPECT_EQ(FolderVerdict::OpenAbove,
              judgeInstallFolder(L"C:\\install-folder-link\\Tarvel\\", false, findings, judge));
    EXPECT_TRUE(findings.aboveOnRealWay);
    host::removeLink(L"C:\\install-folder-link");
    host::clearPath(folder + L"\\open\\closed");
    host::clearPath(folder + L"\\open");

    wchar_t list[2 * MAX_PATH] = {};
    ASSERT_GT(foldersToLock((folder + L"\\a\\b\\").c_str(), false, list, 2 * MAX_PATH), 0u);
    EXPECT_EQ(L"+" + folder + L"\\a|+" + folder + L"\\a\\b", std::wstring(list));
    ASSERT_GT(foldersToLock(folder.c_str(), false, list, 2 * MAX_PATH), 0u);
    EXPECT_EQ(L"=" + folder, std::wstring(list)) << "an existing folder is locked, not made";
    ASSERT_GT(foldersToLock(folder.c_str(), true, list, 2 * MAX_PATH), 0u);
    EXPECT_EQ(L"*" + folder, std::wstring(list)) << "the installed product's folder";

    // Twelve new levels whose longest file's path just fits: each listed once, top down, in
    // the room the list needs and not one character more.
    std::wstring deep = folder;
    std::wstring expected;
    for (int level = 0; level < 12; ++level) {
        deep += L"\\" + std::wstring(16, static_cast<wchar_t>(L'a' + level));
        expected += L"+" + deep + L"|";
    }
    const std::wstring padding(kLongestInstallFolder - 1 - deep.size(), L'z');
    deep += padding;
    expected.pop_back();
    expected += padding;
    ASSERT_EQ(static_cast<size_t>(MAX_PATH - 1), (deep + L"\\tarvel-check.exe").size());
    const size_t needed = foldersToLock((deep + L"\\").c_str(), false, nullptr, 0);
    ASSERT_EQ(expected.size() + 1, needed);
    std::vector<wchar_t> room(needed + 1, L'#');
    EXPECT_EQ(needed, foldersToLock((deep + L"\\").c_str(), false, room.data(), needed - 1));
    EXPECT_EQ(L'#', room[0]) << "written with too little room";
    EXPECT_EQ(needed, foldersToLock((deep + L"\\").c_str(), false, room.data(), needed));
    EXPECT_EQ(expected, std::wstring(room.data()));
    EXPECT_EQ(L'#', room[needed]) << "written past the room given";

    EXPECT_EQ(0u, foldersToLock((deep + L"z\\").c_str(), false, room.data(), needed))
        << "tarvel-check.exe's path too long";
    EXPECT_EQ(FolderVerdict::TooLong, judgeInstallFolder((deep + L"z").c_str(), false, findings));
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((deep + L"\\").c_str(), false, findings));

    for (const wchar_t* name : {L"\\TARVEL.exe", L"\\tarvel-check.exe"}) {
        host::clearPath(folder + name);
    }
    RemoveDirectoryW(folder.c_str());
}

// A folder judged missing that someone made before the lock: taken only when administrators
// own it and it holds only what the install writes (the next level, files only they can change).
TEST(InstallFolder, AFolderThatAppearedSinceItWasJudgedIsTakenOnlyWhenAdministratorsMadeIt)
{
    const std::wstring folder = L"C:\\appeared";
    host::makeDirectory(folder);
    host::makeDirectory(folder + L"\\Tarvel");
    host::makeFile(folder + L"\\tarvel.exe");
    const RightsReader judge = windowsJudge().rights;
    AppearedFolder appeared = judgeAppearedFolder(folder.c_str(), L"tarvel", judge);
    EXPECT_FALSE(appeared.refused) << "the next level and a file of administrators'";
    appeared = judgeAppearedFolder(folder.c_str(), nullptr, judge);
    EXPECT_TRUE(appeared.refused) << "a folder the install does not make";
    ASSERT_EQ(1u, appeared.others.count);
    EXPECT_STREQ(L"Tarvel", appeared.others.names[0]);
    host::makeFile(folder + L"\\planted-open");
    appeared = judgeAppearedFolder(folder.c_str(), L"Tarvel", judge);
    EXPECT_TRUE(appeared.refused);
    ASSERT_EQ(1u, appeared.others.count);
    EXPECT_STREQ(L"planted-open", appeared.others.names[0]);

    host::makeDirectory(folder + L"\\Tarvel\\user-owned");
    appeared = judgeAppearedFolder((folder + L"\\Tarvel\\user-owned").c_str(), nullptr, judge);
    EXPECT_TRUE(appeared.refused) << "an empty folder a user made";
    EXPECT_TRUE(appeared.owner.found);
    EXPECT_STREQ(L"S-1-5-21-1-2-3-1001", appeared.owner.account);
    for (const wchar_t* name : {L"\\Tarvel\\user-owned", L"\\Tarvel", L"\\tarvel.exe", L"\\planted-open", L""}) {
        host::clearPath(folder + name);
    }
}

// What the package's actions say to the session, as an administrator reads it in the log.
std::wstring sessionLog;
INT CALLBACK keepMessage(LPVOID, UINT, LPCWSTR message)
{
    sessionLog += message != nullptr ? message : L"";
    sessionLog += L"\n";
    return 0;
}

// The install's first pass, through the package's own action in a Windows Installer session:
// a program others may change is never started, and the install fails.
TEST(InstallFolder, TheFirstPassStartsOnlyAProgramOnlyAdministratorsCanChange)
{
    const std::wstring folder = L"C:\\first-pass";
    host::makeDirectory(folder);
    const std::wstring program = folder + L"\\tarvel.exe";
    ASSERT_TRUE(CopyFileW(host::doNothingExe().c_str(), program.c_str(), FALSE));
    host::setPermissions(program, host::kWorldWritable);
    const UniqueModule actions(LoadLibraryW(host::setupActionsDll().c_str()));
    ASSERT_TRUE(actions) << GetLastError();
    using Action = UINT(WINAPI*)(MSIHANDLE);
    const auto firstPass =
        reinterpret_cast<Action>(reinterpret_cast<void*>(GetProcAddress(actions.get(), "FirstPass")));
    ASSERT_NE(nullptr, firstPass);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIW(keepMessage, INSTALLLOGMODE_ERROR | INSTALLLOGMODE_INFO, nullptr);
    MSIHANDLE session = 0;
    ASSERT_EQ(static_cast<UINT>(ERROR_SUCCESS), MsiOpenPackageW(host::tarvelPackage().c_str(), &session));
    ASSERT_EQ(static_cast<UINT>(ERROR_SUCCESS), MsiSetPropertyW(session, L"CustomActionData", program.c_str()));
    sessionLog.clear();
    EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), firstPass(session)) << "a program anyone may change";
    EXPECT_NE(std::wstring::npos,
              sessionLog.find(L"tarvel: the installed program " + program + L" was not started as the first pass: " +
                              program + L" is deleted also by Everyone"))
        << std::string(sessionLog.begin(), sessionLog.end());
    EXPECT_EQ(std::wstring::npos, sessionLog.find(L"ended with exit status")) << "it ran";
    host::setPermissions(program, host::kAdministratorsOnly);
    sessionLog.clear();
    EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), firstPass(session)) << "only administrators may change it";
    EXPECT_NE(std::wstring::npos, sessionLog.find(L"tarvel: the first pass " + program +
                                                  L" ended with exit status 0: it did its whole job."))
        << std::string(sessionLog.begin(), sessionLog.end());
    // A pass that fails is said so, and the install still succeeds: reg.exe, started without
    // arguments, ends with a failure.
    const std::wstring reg = L"C:\\windows\\system32\\reg.exe";
    const DWORD failed = host::runProgram(reg);
    ASSERT_NE(0u, failed);
    ASSERT_TRUE(CopyFileW(reg.c_str(), program.c_str(), FALSE));
    host::setPermissions(program, host::kAdministratorsOnly);
    sessionLog.clear();
    EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), firstPass(session));
    EXPECT_NE(std::wstring::npos,
              sessionLog.find(L"ended with exit status " + std::to_wstring(failed) + L": it did not do its whole job."))
        << std::string(sessionLog.begin(), sessionLog.end());
    MsiCloseHandle(session);
    MsiSetExternalUIW(nullptr, 0, nullptr);
    host::clearPath(program);
    host::clearPath(folder);
}

}  // namespace
