// The install folder's lock and the choice of folder, on descriptors and folders built here:
// Wine does not keep an owner that a program sets, so the lock is read from its descriptor.
#include "common/trust/Trust.h"
#include "common/platform/Owners.h"
#include "common/trust/FolderTrust.h"
#include "installer/FolderLock.h"
#include "installer/LockList.h"
#include "common/product/TarvelProgram.h"
#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>

#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

// Windows' own descriptors for what a user made, which Wine cannot keep: the objects whose
// paths end with "user-owned" are a user's, those that end with "open" anyone may change, those
// that end with "unreadable" cannot be read; the rest are read from the file system.
const wchar_t kUserOwned[] = L"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;OICI;FA;;;BA)";
const wchar_t kOpen[] = L"O:BAD:(A;OICI;FA;;;WD)(A;OICI;FA;;;BA)";
bool endsWith(const wchar_t* path, const wchar_t* ending)
{
    const size_t length = std::wcslen(path);
    const size_t tail = std::wcslen(ending);
    return length >= tail && _wcsicmp(path + length - tail, ending) == 0;
}
Status readWindowsDescriptor(const wchar_t* given, PSECURITY_DESCRIPTOR* descriptor)
{
    std::wstring folder = given;
    while (folder.size() > 3 && folder.back() == L'\\') {
        folder.pop_back();
    }
    const wchar_t* path = folder.c_str();
    if (endsWith(path, L"unreadable")) {
        return ERROR_ACCESS_DENIED;
    }
    const wchar_t* sddl = endsWith(path, L"user-owned") ? kUserOwned : endsWith(path, L"open") ? kOpen : nullptr;
    if (sddl == nullptr) {
        return readDescriptor(path, descriptor);
    }
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
}
// The package's files as its File table gives them: the build's programs, in their version.
PackageFiles packageFiles()
{
    PackageFiles package;
    const std::wstring programs[] = {host::tarvelExe(), host::tarvelCheck()};
    for (const std::wstring& program : programs) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(program.c_str(), GetFileExInfoStandard, &data);
        PackageFile& file = package.files[package.count++];
        lstrcpynW(file.name, program.substr(program.rfind(L'\\') + 1).c_str(), MAX_PATH);
        file.size = data.nFileSizeLow;
    }
    wchar_t version[kVersionText] = {};
    isTarvelProgram(host::tarvelExe().c_str(), version);
    lstrcpynW(package.version, version, 32);
    return package;
}
const PackageFiles kPackage = packageFiles();

// The folders a list names, read back as the lock reads them, "|" between them; its package
// files last, each read back whole.
std::wstring listed(const wchar_t* folder, bool installed)
{
    LockList list;
    EXPECT_TRUE(foldersToLock(folder, installed, kPackage, list));
    LockListReader reader(list.text());
    LockEntry kind = LockEntry::Missing;
    wchar_t text[MAX_PATH + 1] = {};
    std::wstring folders;
    size_t files = 0;
    for (LockListReader::Read read = reader.next(kind, text); read == LockListReader::Read::Entry;
         read = reader.next(kind, text)) {
        PackageFile file;
        if (kind == LockEntry::PackageFile) {
            EXPECT_TRUE(readPackageFile(text, file));
            EXPECT_STREQ(kPackage.files[files].name, file.name);
            EXPECT_EQ(kPackage.files[files++].size, file.size);
            continue;
        }
        folders += (folders.empty() ? L"" : L"|") + std::wstring(1, static_cast<wchar_t>(kind)) + text;
    }
    EXPECT_EQ(kPackage.count, files);
    return folders;
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
        {L"C:\\Custom\\..\\TarvelSpelling\\", L"C:\\TarvelSpelling\\", FolderVerdict::OwnFolder},
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
        // No name holds these, and the list the lock reads could take them for entries of its own.
        {L"C:\\Victim|*C:\\Important\\", L"C:\\Victim|*C:\\Important\\", FolderVerdict::NamelessCharacter},
        {L"C:\\Tools\\a<b\\", L"C:\\Tools\\a<b\\", FolderVerdict::NamelessCharacter},
        {L"C:\\Tools\\a>b\\", L"C:\\Tools\\a>b\\", FolderVerdict::NamelessCharacter},
        {L"C:\\Tools\\a\"b\\", L"C:\\Tools\\a\"b\\", FolderVerdict::NamelessCharacter},
        {L"C:\\Tools\\a?b\\", L"C:\\Tools\\a?b\\", FolderVerdict::NamelessCharacter},
        {L"C:\\Tools\\a*b\\", L"C:\\Tools\\a*b\\", FolderVerdict::NamelessCharacter},
        {L"C:\\Tools\\a\tb\\", L"C:\\Tools\\a\tb\\", FolderVerdict::NamelessCharacter},
        {L"C:\\Tools\\Tarvel:x\\", L"C:\\Tools\\Tarvel:x\\", FolderVerdict::NamelessCharacter},
    };
    for (const Case& item : cases) {
        const std::string what(item.given, item.given + std::wcslen(item.given));
        wchar_t folder[MAX_PATH] = {};
        ASSERT_TRUE(normalInstallFolder(item.given, folder)) << what;
        EXPECT_STREQ(item.folder, folder) << what;
        FolderFindings findings;
        EXPECT_EQ(item.verdict, judgeInstallFolder(folder, false, kPackage, findings)) << what;
    }
    // A folder of C: that mounts another volume is that volume's root, as Windows answers it.
    StartReader mounted = machineStartReader();
    mounted.volumes.volumePath = [](const wchar_t*, wchar_t* volume, DWORD capacity) -> BOOL {
        lstrcpynW(volume, L"C:\\Mount\\Disk\\", static_cast<int>(capacity));
        return TRUE;
    };
    mounted.volumes.driveType = [](const wchar_t*) -> UINT { return DRIVE_FIXED; };
    FolderFindings findings;
    EXPECT_EQ(FolderVerdict::DriveRoot, judgeInstallFolder(L"C:\\Mount\\Disk\\", false, kPackage, findings, mounted));
    EXPECT_EQ(FolderVerdict::OwnFolder,
              judgeInstallFolder(L"C:\\Mount\\Disk\\Tarvel\\", false, kPackage, findings, mounted));
    // The lock acts only on a folder: never on a file, nor on the device a reserved name opens.
    const std::wstring file = L"C:\\install-folder-file";
    host::makeFile(file);
    EXPECT_EQ(FolderVerdict::NotAFolder, judgeInstallFolder((file + L"\\").c_str(), false, kPackage, findings));
    FolderLock lock;
    EXPECT_EQ(static_cast<Status>(ERROR_DIRECTORY), lock.lock(file.c_str()));
    EXPECT_NE(ERROR_SUCCESS, lock.lock(L"C:\\NUL"));
    host::clearPath(file);
    // Nor on a link standing in the folder's place: its target keeps its permissions.
    host::makeDirectory(L"C:\\lock-target");
    host::setPermissions(L"C:\\lock-target", host::kWorldWritable);
    host::makeLink(L"C:\\lock-link", L"C:\\lock-target");
    EXPECT_EQ(FolderVerdict::IsALink, judgeInstallFolder(L"C:\\lock-link\\", false, kPackage, findings));
    EXPECT_EQ(static_cast<Status>(ERROR_DIRECTORY), lock.lock(L"C:\\lock-link"));
    EXPECT_TRUE(host::worldWritable(L"C:\\lock-target")) << "the lock followed the link";
    host::removeLink(L"C:\\lock-link");
    host::clearPath(L"C:\\lock-target");
}

// The drive is judged behind the nearest folder that exists, however far up it is: a link on
// drive C: to a network or a removable drive puts the install folder there.
TEST(InstallFolder, AFolderBehindALinkToAnotherDriveIsOnThatDrive)
{
    for (const wchar_t* target : {L"N:\\linked", L"R:\\linked"}) {
        host::makeDirectory(target);
        host::makeLink(L"C:\\install-link", target);
        FolderFindings findings;
        EXPECT_EQ(FolderVerdict::NotLocalFixed,
                  judgeInstallFolder(L"C:\\install-link\\Tarvel\\", false, kPackage, findings))
            << "one level below";
        EXPECT_EQ(FolderVerdict::NotLocalFixed,
                  judgeInstallFolder(L"C:\\install-link\\a\\Tarvel\\", false, kPackage, findings))
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
        EXPECT_EQ(FolderVerdict::DriveRoot, judgeInstallFolder(root, false, kPackage, findings))
            << std::string(root, root + 3);
    }
    const std::wstring folder = L"C:\\install-folder-test";
    CreateDirectoryW(folder.c_str(), nullptr);
    const StartReader judge = windowsJudge();
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((folder + L"\\").c_str(), false, kPackage, findings, judge))
        << "empty";
    // A file of the package's name only as exactly the package's own: Windows Installer keeps a
    // file of the same or a higher version it finds in place, and the first pass would start it.
    host::makeFile(folder + L"\\notes.txt");
    ASSERT_TRUE(CopyFileW(host::tarvelCheck().c_str(), (folder + L"\\tarvel-check.exe").c_str(), FALSE));
    const std::pair<const char*, void (*)(const std::wstring&)> planted[] = {
        {"an empty file", [](const std::wstring& at) { host::makeFile(at + L"\\tarvel.exe"); }},
        {"a higher version", [](const std::wstring& at) { host::placeTarvelOfVersion(at, 9); }},
        {"a second name of the package's own file",
         [](const std::wstring& at) {
             host::placeTarvel(L"C:\\install-folder-elsewhere");
             CreateHardLinkW((at + L"\\tarvel.exe").c_str(), L"C:\\install-folder-elsewhere\\tarvel.exe", nullptr);
         }},
    };
    for (const auto& file : planted) {
        host::clearPath(folder + L"\\tarvel.exe");
        file.second(folder);
        EXPECT_EQ(FolderVerdict::HoldsOtherFile, judgeInstallFolder(folder.c_str(), false, kPackage, findings, judge))
            << file.first;
        EXPECT_STREQ(L"tarvel.exe", findings.others.names[0]) << file.first;
    }
    host::clearPath(folder + L"\\tarvel.exe");
    host::removeTree(L"C:\\install-folder-elsewhere");
    host::placeTarvel(folder, L"TARVEL.exe");
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder(folder.c_str(), false, kPackage, findings, judge))
        << "the package's own files and others only administrators can change";
    // A folder another account owns, or that others may re-permission: its maker may hold a
    // handle that keeps the right across the lock.
    for (const wchar_t* made : {L"\\user-owned", L"\\open"}) {
        host::makeDirectory(folder + made);
        EXPECT_EQ(FolderVerdict::OthersOwnFolder,
                  judgeInstallFolder((folder + made + L"\\").c_str(), false, kPackage, findings, judge));
        EXPECT_EQ(FolderVerdict::OthersOwnFolder,
                  judgeInstallFolder((folder + made + L"\\").c_str(), true, kPackage, findings, judge))
            << "an installed product's folder others may change, taken as it is";
        host::clearPath(folder + made);
    }
    host::makeDirectory(folder + L"\\logs");
    host::makeFile(folder + L"\\tarvel.exe.user-owned");
    host::makeFile(folder + L"\\open");
    EXPECT_EQ(FolderVerdict::HoldsOthers, judgeInstallFolder(folder.c_str(), false, kPackage, findings, judge));
    ASSERT_EQ(3u, findings.others.count) << "every entry, not the first";
    std::vector<std::wstring> names(findings.others.names, findings.others.names + 3);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"logs", L"open", L"tarvel.exe.user-owned"}), names);
    // The installed product's folder, while only administrators can change it.
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder(folder.c_str(), true, kPackage, findings, judge));
    EXPECT_EQ(4u, findings.others.count) << "what administrators added, named";
    for (const wchar_t* name : {L"\\logs", L"\\tarvel.exe.user-owned", L"\\open", L"\\notes.txt"}) {
        host::clearPath(folder + name);
    }
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((folder + L"\\missing").c_str(), false, kPackage, findings));

    // A folder above that others may rename, one level up or more, on the written way or behind a link.
    host::makeDirectory(folder + L"\\open");
    host::makeDirectory(folder + L"\\open\\closed");
    host::makeLink(L"C:\\install-folder-link", folder + L"\\open\\closed");
    for (const wchar_t* below : {L"\\open\\Tarvel\\", L"\\open\\closed\\Tarvel\\", L"\\open\\closed\\a\\b\\"}) {
        EXPECT_EQ(FolderVerdict::OpenAbove,
                  judgeInstallFolder((folder + below).c_str(), false, kPackage, findings, judge))
            << std::string(below, below + std::wcslen(below));
        EXPECT_EQ(folder + L"\\open", std::wstring(findings.above));
        EXPECT_FALSE(findings.aboveOnRealWay);
        EXPECT_NE(std::wstring::npos, std::wstring(findings.whyAbove.c_str()).find(L"renamed also by Everyone"));
    }
    EXPECT_EQ(FolderVerdict::OpenAbove,
              judgeInstallFolder(L"C:\\install-folder-link\\Tarvel\\", false, kPackage, findings, judge));
    EXPECT_TRUE(findings.aboveOnRealWay);
    host::removeLink(L"C:\\install-folder-link");
    host::clearPath(folder + L"\\open\\closed");
    host::clearPath(folder + L"\\open");

    EXPECT_EQ(L"+" + folder + L"\\a|+" + folder + L"\\a\\b", listed((folder + L"\\a\\b\\").c_str(), false));
    EXPECT_EQ(L"=" + folder, listed(folder.c_str(), false)) << "an existing folder is locked, not made";
    EXPECT_EQ(L"*" + folder, listed(folder.c_str(), true)) << "the installed product's folder";

    // Twelve new levels whose longest file's path just fits: each listed once, top down.
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
    EXPECT_EQ(expected, listed((deep + L"\\").c_str(), false));
    // Whatever a name holds, each entry is read back whole, and no more entries than written.
    LockList flagged;
    ASSERT_TRUE(flagged.add(LockEntry::Missing, L"C:\\a|+C:\\b"));
    ASSERT_TRUE(flagged.add(LockEntry::Judged, L"C:\\=x*y#9:z|"));
    LockListReader reader(flagged.text());
    LockEntry kind = LockEntry::Installed;
    wchar_t text[MAX_PATH + 1] = {};
    ASSERT_EQ(LockListReader::Read::Entry, reader.next(kind, text));
    EXPECT_EQ(LockEntry::Missing, kind);
    EXPECT_STREQ(L"C:\\a|+C:\\b", text);
    ASSERT_EQ(LockListReader::Read::Entry, reader.next(kind, text));
    EXPECT_EQ(LockEntry::Judged, kind);
    EXPECT_STREQ(L"C:\\=x*y#9:z|", text);
    EXPECT_EQ(LockListReader::Read::End, reader.next(kind, text));
    LockListReader cut(L"+12:C:\\a");
    EXPECT_EQ(LockListReader::Read::Malformed, cut.next(kind, text)) << "an entry shorter than it says";
    LockList tooLong;
    EXPECT_FALSE(foldersToLock((deep + L"z\\").c_str(), false, kPackage, tooLong))
        << "tarvel-check.exe's path too long";
    EXPECT_EQ(FolderVerdict::TooLong, judgeInstallFolder((deep + L"z").c_str(), false, kPackage, findings));
    EXPECT_EQ(FolderVerdict::OwnFolder, judgeInstallFolder((deep + L"\\").c_str(), false, kPackage, findings));

    // A folder above whose permissions cannot be read is no closed way up.
    host::makeDirectory(folder + L"\\unreadable");
    EXPECT_EQ(FolderVerdict::OpenAbove,
              judgeInstallFolder((folder + L"\\unreadable\\Tarvel\\").c_str(), false, kPackage, findings, judge));
    host::clearPath(folder + L"\\unreadable");
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
    host::makeFile(folder + L"\\readme.txt");
    host::placeTarvel(folder);
    const RightsReader judge = windowsJudge().rights;
    AppearedFolder appeared = judgeAppearedFolder(folder.c_str(), L"tarvel", kPackage, judge);
    EXPECT_FALSE(appeared.refused) << "the next level, the package's own file and a file of administrators'";
    host::placeTarvelOfVersion(folder, 9);
    appeared = judgeAppearedFolder(folder.c_str(), L"tarvel", kPackage, judge);
    EXPECT_TRUE(appeared.refused && appeared.otherFiles.count == 1) << "another version of tarvel.exe";
    host::placeTarvel(folder);
    appeared = judgeAppearedFolder(folder.c_str(), nullptr, kPackage, judge);
    EXPECT_TRUE(appeared.refused) << "a folder the install does not make";
    ASSERT_EQ(1u, appeared.others.count);
    EXPECT_STREQ(L"Tarvel", appeared.others.names[0]);
    host::makeFile(folder + L"\\planted-open");
    appeared = judgeAppearedFolder(folder.c_str(), L"Tarvel", kPackage, judge);
    EXPECT_TRUE(appeared.refused);
    ASSERT_EQ(1u, appeared.others.count);
    EXPECT_STREQ(L"planted-open", appeared.others.names[0]);

    host::makeDirectory(folder + L"\\Tarvel\\user-owned");
    appeared = judgeAppearedFolder((folder + L"\\Tarvel\\user-owned").c_str(), nullptr, kPackage, judge);
    EXPECT_TRUE(appeared.refused) << "an empty folder a user made";
    EXPECT_TRUE(appeared.owner.found);
    EXPECT_STREQ(L"S-1-5-21-1-2-3-1001", appeared.owner.account);
    host::makeDirectory(folder + L"\\Tarvel\\open");
    appeared = judgeAppearedFolder((folder + L"\\Tarvel\\open").c_str(), nullptr, kPackage, judge);
    EXPECT_TRUE(appeared.refused && appeared.owner.found) << "an empty folder others may re-permission";
    host::clearPath(folder + L"\\Tarvel\\open");
    for (const wchar_t* name :
         {L"\\Tarvel\\user-owned", L"\\Tarvel", L"\\tarvel.exe", L"\\readme.txt", L"\\planted-open", L""}) {
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

// An action of the package run on a thread of its own, while the test looks on.
struct RunningAction {
    UINT(WINAPI* action)(MSIHANDLE);
    MSIHANDLE session;
    UINT status;
};
DWORD WINAPI runAction(LPVOID parameter)
{
    auto* running = static_cast<RunningAction*>(parameter);
    running->status = running->action(running->session);
    return 0;
}

// The install's first pass, through the package's own action in a Windows Installer session:
// a program others may change, or that is not tarvel.exe of this version, is never started, and
// the install fails.
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
    MSIHANDLE msi = 0;
    ASSERT_EQ(static_cast<UINT>(ERROR_SUCCESS), MsiOpenPackageW(host::tarvelPackage().c_str(), &msi));
    ASSERT_EQ(static_cast<UINT>(ERROR_SUCCESS), MsiSetPropertyW(msi, L"CustomActionData", program.c_str()));
    sessionLog.clear();
    EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), firstPass(msi)) << "a program anyone may change";
    EXPECT_NE(std::wstring::npos,
              sessionLog.find(L"tarvel: the installed program " + program + L" was not started as the first pass: " +
                              program + L" is deleted also by Everyone"))
        << std::string(sessionLog.begin(), sessionLog.end());
    EXPECT_EQ(std::wstring::npos, sessionLog.find(L"ended with exit status")) << "it ran";
    // Only tarvel.exe of this version is started: Windows Installer keeps a file of the same or a
    // higher version that it finds in place. An earlier version it left in place until a restart
    // (the file was in use) is no failure of the install: no pass then.
    const std::wstring renames = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    const std::wstring nul(1, L'\0');
    const std::wstring pending = L"\\??\\" + folder + L"\\tarvel.new" + nul + L"!\\??\\" + program + nul + nul;
    const struct {
        const char* what;
        const wchar_t* reg;  // a copy of reg.exe, else tarvel.exe of version
        WORD version;
        bool replacedAtRestart;
        UINT status;
        const wchar_t* line;
    } versions[] = {
        {"another program", L"C:\\windows\\system32\\reg.exe", 0, false, ERROR_INSTALL_FAILURE,
         L"it is not tarvel.exe of version"},
        {"a higher version", nullptr, 9, false, ERROR_INSTALL_FAILURE, L"it is not tarvel.exe of version"},
        {"an earlier version until the restart", nullptr, 1, true, ERROR_SUCCESS,
         L"is still version 1.0.0.0 until Windows restarts"},
    };
    for (const auto& item : versions) {
        if (item.reg != nullptr) {
            ASSERT_TRUE(CopyFileW(item.reg, program.c_str(), FALSE));
        } else {
            host::placeTarvelOfVersion(folder, item.version);
        }
        host::setPermissions(program, host::kAdministratorsOnly);
        HKEY session = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, renames.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &session, nullptr);
        if (item.replacedAtRestart) {
            RegSetValueExW(session, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(pending.c_str()),
                           static_cast<DWORD>(pending.size() * sizeof(wchar_t)));
        }
        sessionLog.clear();
        EXPECT_EQ(item.status, firstPass(msi)) << item.what;
        EXPECT_NE(std::wstring::npos, sessionLog.find(item.line)) << std::string(sessionLog.begin(), sessionLog.end());
        EXPECT_EQ(std::wstring::npos, sessionLog.find(L"ended with exit status")) << item.what << ": it ran";
        RegDeleteValueW(session, L"PendingFileRenameOperations");
        RegCloseKey(session);
    }
    // tarvel.exe itself runs, held against a rename, a deletion or a write until its pass has
    // ended: here the pass waits for the pass lock the test holds while it tries.
    host::placeTarvel(folder);
    host::setPermissions(program, host::kAdministratorsOnly);
    const HANDLE passLock = CreateMutexW(nullptr, TRUE, L"Global\\OmbrixTarvelPass");
    RunningAction running = {firstPass, msi, 0};
    const HANDLE thread = CreateThread(nullptr, 0, runAction, &running, 0, nullptr);
    sessionLog.clear();
    Sleep(3000);
    for (const DWORD access : {static_cast<DWORD>(DELETE), static_cast<DWORD>(GENERIC_WRITE)}) {
        const HANDLE changed =
            CreateFileW(program.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, changed) << "the program it judged opened for " << access;
        if (changed != INVALID_HANDLE_VALUE) {
            CloseHandle(changed);
        }
    }
    ReleaseMutex(passLock);
    WaitForSingleObject(thread, 60000);
    CloseHandle(thread);
    CloseHandle(passLock);
    EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), running.status) << "only administrators may change it";
    EXPECT_NE(std::wstring::npos, sessionLog.find(L"tarvel: the first pass " + program +
                                                  L" ended with exit status 0: it did its whole job."))
        << std::string(sessionLog.begin(), sessionLog.end());
    // A pass that fails is said so, and the install still succeeds: in preload mode as Windows
    // 7, Wine's own Task Scheduler cannot hold the logon task.
    const std::wstring marker = host::underWow64() ? L"C:\\Preload64" : L"C:\\Preload";
    host::clearPath(marker);
    host::makeDirectory(marker);
    host::setWindowsVersion(L"tarvel.exe", L"win7");
    sessionLog.clear();
    EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), firstPass(msi));
    EXPECT_NE(std::wstring::npos, sessionLog.find(L": it did not do its whole job."))
        << std::string(sessionLog.begin(), sessionLog.end());
    host::deleteTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\tarvel.exe");
    host::clearPath(marker);
    // The file held open is judged on its own descriptor too: one that differs from its path's
    // (as Windows hands it when the name led elsewhere since) refuses it.
    StartReader judge = machineStartReader();
    judge.rights.readHeld = [](HANDLE, PSECURITY_DESCRIPTOR* descriptor) -> Status {
        return ConvertStringSecurityDescriptorToSecurityDescriptorW(kOpen, SDDL_REVISION_1, descriptor, nullptr)
                   ? ERROR_SUCCESS
                   : GetLastError();
    };
    {
        const UniqueHandle held =
            ownHandle(CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        Text reason;
        EXPECT_TRUE(trustedHeldFile(program.c_str(), held.get(), machineStartReader(), reason)) << "as it is";
        EXPECT_FALSE(trustedHeldFile(program.c_str(), held.get(), judge, reason));
        EXPECT_NE(std::wstring::npos,
                  std::wstring(reason.c_str()).find(L"the file held open is deleted also by Everyone"));
    }

    // The lock judges again what it takes: a folder that appeared since it was judged missing,
    // or one found whose contents changed before the lock closed it, holding what the install
    // did not write, is refused and left as it is; a list no LockList wrote is refused.
    const auto lockFolders = reinterpret_cast<UINT(WINAPI*)(MSIHANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(actions.get(), "LockInstallFolder")));
    ASSERT_NE(nullptr, lockFolders);
    const std::wstring taken = L"C:\\lock-taken";
    const struct {
        const char* what;
        LockEntry kind;
        bool planted;
        UINT status;
        const wchar_t* line;
    } locks[] = {
        {"a folder that appeared, holding another's file", LockEntry::Missing, true, ERROR_INSTALL_FAILURE,
         L"made since the install found it missing, holds planted"},
        {"a found folder filled before the lock", LockEntry::Judged, true, ERROR_INSTALL_FAILURE,
         L"holds planted since it was judged"},
        {"a found folder holding the package's own file", LockEntry::Judged, false, ERROR_SUCCESS, nullptr},
    };
    for (const auto& item : locks) {
        host::placeTarvel(taken);
        if (item.planted) {
            host::makeFile(taken + L"\\planted");
            host::setPermissions(taken + L"\\planted", host::kWorldWritable);
        }
        LockList list;
        ASSERT_TRUE(list.add(item.kind, taken.c_str()));
        for (size_t index = 0; index < kPackage.count; ++index) {
            const std::wstring file = std::to_wstring(kPackage.files[index].size) + L" " + kPackage.files[index].name;
            ASSERT_TRUE(list.add(LockEntry::PackageFile, file.c_str()));
        }
        MsiSetPropertyW(msi, L"CustomActionData", list.text());
        sessionLog.clear();
        EXPECT_EQ(item.status, lockFolders(msi)) << item.what;
        if (item.line != nullptr) {
            EXPECT_NE(std::wstring::npos, sessionLog.find(item.line))
                << item.what << "\n"
                << std::string(sessionLog.begin(), sessionLog.end());
        }
        host::removeTree(taken);
    }
    MsiSetPropertyW(msi, L"CustomActionData", (L"=" + taken).c_str());
    EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), lockFolders(msi)) << "a list of the old form";
    EXPECT_FALSE(host::pathKind(taken) == host::PathKind::Directory) << "a folder made from it";
    MsiCloseHandle(msi);
    MsiSetExternalUIW(nullptr, 0, nullptr);
    host::clearPath(program);
    host::clearPath(folder);
}

}  // namespace
