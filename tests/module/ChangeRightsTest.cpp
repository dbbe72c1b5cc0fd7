// Who besides administrators may change a start-up's program or a folder above it, decided
// on security descriptors built here: Wine keeps a file's permissions only as a Unix mode.
#include "common/text/TextLine.h"
#include "common/trust/Trust.h"
#include "common/platform/Owners.h"
#include "common/platform/WellKnownSids.h"
#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const wchar_t kDomainUsers[] = L"S-1-5-21-1004336348-1177238915-682003330-513";
const wchar_t kNamedUser[] = L"S-1-5-21-1004336348-1177238915-682003330-1013";

Changer changerOf(const std::wstring& sddl, ObjectKind kind)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        ADD_FAILURE() << "cannot build " << std::string(sddl.begin(), sddl.end());
        return Changer();
    }
    const UniqueLocal owned(descriptor);
    return untrustedChanger(descriptor, kind);
}

TEST(ChangeRights, OnlyTrustedAccountsMayOwnOrChangeWhatAStartupStarts)
{
    // The package's lock, and what only trusted accounts hold.
    const std::wstring locked = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    EXPECT_FALSE(changerOf(locked, ObjectKind::Folder).found);
    EXPECT_FALSE(changerOf(locked, ObjectKind::File).found);
    const std::wstring installer = kTrustedInstaller;
    EXPECT_FALSE(
        changerOf(L"O:" + installer + L"D:(A;;FA;;;" + installer + L")(A;OICIIO;FA;;;CO)", ObjectKind::Folder).found);
    const std::wstring me = host::currentUserSid();
    ASSERT_FALSE(me.empty());
    EXPECT_FALSE(changerOf(L"O:" + me + L"D:(A;;FA;;;" + me + L")", ObjectKind::File).found)
        << "a member of Administrators";

    struct Case {
        const char* what;
        std::wstring sddl;
        ObjectKind kind;
        ChangeWay how;
    };
    const Case open[] = {
        {"owned by Users", L"O:BUD:(A;;FA;;;BA)", ObjectKind::File, ChangeWay::OwnedBy},
        {"a named non-administrator writes", L"O:BAD:(A;;FW;;;" + std::wstring(kNamedUser) + L")", ObjectKind::File,
         ChangeWay::ChangedBy},
        {"Domain Users append", L"O:BAD:(A;;0x4;;;" + std::wstring(kDomainUsers) + L")", ObjectKind::Folder,
         ChangeWay::ChangedBy},
        {"Authenticated Users rewrite the permissions", L"O:BAD:(A;;WD;;;AU)", ObjectKind::File, ChangeWay::ChangedBy},
        {"Everyone takes the owner", L"O:BAD:(A;;WO;;;WD)", ObjectKind::Folder, ChangeWay::ChangedBy},
        {"Everyone renames the folder", L"O:BAD:(A;;SD;;;WD)", ObjectKind::Folder, ChangeWay::RenamedBy},
        // 0x40 is FILE_DELETE_CHILD; SDDL's "DC" is the directory service's right of that name.
        {"Users empty the folder", L"O:BAD:(A;;0x40;;;BU)", ObjectKind::Folder, ChangeWay::RenamedBy},
        {"INTERACTIVE deletes the program", L"O:BAD:(A;;SD;;;IU)", ObjectKind::File, ChangeWay::DeletedBy},
        {"generic write", L"O:BAD:(A;;GW;;;BU)", ObjectKind::File, ChangeWay::ChangedBy},
        {"a root whose Users may delete what it holds", L"O:SYD:(A;;0x40;;;BU)", ObjectKind::Root,
         ChangeWay::RenamedBy},
    };
    for (const Case& item : open) {
        const Changer changer = changerOf(item.sddl, item.kind);
        EXPECT_TRUE(changer.found) << item.what;
        EXPECT_EQ(item.how, changer.how) << item.what;
        EXPECT_NE(L'\0', changer.account[0]) << item.what;
    }
    EXPECT_STREQ(L"Users", changerOf(L"O:BUD:(A;;FA;;;BA)", ObjectKind::File).account);

    // No DACL at all lets everyone do anything.
    SECURITY_DESCRIPTOR unprotected = {};
    InitializeSecurityDescriptor(&unprotected, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&unprotected, TRUE, nullptr, FALSE);
    EXPECT_TRUE(untrustedChanger(&unprotected, ObjectKind::File).found);
    EXPECT_TRUE(changerOf(L"O:BA", ObjectKind::File).found) << "no DACL present: Windows lets everyone in";

    // An allow entry of any other kind grants what its mask says: a conditional (callback) or
    // an object entry to its account, one the judge does not know to someone it cannot name.
    // Deny entries, of any kind, grant nothing.
    struct Entry {
        BYTE type;
        bool found;
        const wchar_t* account;
    };
    const Entry entries[] = {
        {ACCESS_ALLOWED_CALLBACK_ACE_TYPE, true, L"Everyone"},
        {ACCESS_ALLOWED_OBJECT_ACE_TYPE, true, L"Everyone"},
        {ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, true, L"Everyone"},
        {ACCESS_ALLOWED_COMPOUND_ACE_TYPE, true, L"an entry the judge cannot read"},
        {0x20, true, L"an entry the judge cannot read"},
        {ACCESS_DENIED_CALLBACK_ACE_TYPE, false, L""},
        {ACCESS_DENIED_OBJECT_ACE_TYPE, false, L""},
    };
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    const UniqueSid everyoneOwned(everyone);
    const UniqueSid administrators = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    for (const Entry& item : entries) {
        DWORD aclBuffer[64] = {};
        auto* acl = reinterpret_cast<PACL>(aclBuffer);
        ASSERT_TRUE(InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION_DS));
        const bool object = item.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || item.type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
                            item.type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
        // The bytes Windows keeps for an entry of that kind: an allow entry's layout, or an
        // object entry's with its object type present, under the kind's number.
        DWORD entryBuffer[16] = {};
        auto* header = reinterpret_cast<ACE_HEADER*>(entryBuffer);
        auto* objectEntry = reinterpret_cast<ACCESS_ALLOWED_OBJECT_ACE*>(entryBuffer);
        const size_t sidAt = object ? offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType) + sizeof(GUID)
                                    : offsetof(ACCESS_ALLOWED_ACE, SidStart);
        header->AceType = item.type;
        header->AceSize = static_cast<WORD>(sidAt + GetLengthSid(everyone));
        objectEntry->Mask = FILE_ALL_ACCESS;
        if (object) {
            objectEntry->Flags = ACE_OBJECT_TYPE_PRESENT;
            objectEntry->ObjectType = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
        }
        ASSERT_TRUE(CopySid(GetLengthSid(everyone), reinterpret_cast<BYTE*>(entryBuffer) + sidAt, everyone));
        ASSERT_TRUE(AddAce(acl, ACL_REVISION_DS, MAXDWORD, entryBuffer, header->AceSize)) << GetLastError();
        SECURITY_DESCRIPTOR descriptor = {};
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorOwner(&descriptor, administrators.get(), FALSE);
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        const Changer changer = untrustedChanger(&descriptor, ObjectKind::File);
        EXPECT_EQ(item.found, changer.found) << static_cast<int>(item.type);
        EXPECT_STREQ(item.account, changer.account) << static_cast<int>(item.type);
    }

    // Entries only for what a folder holds, and rights that change nothing, leave it closed.
    EXPECT_FALSE(changerOf(L"O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;AU)", ObjectKind::Folder).found);
    EXPECT_FALSE(changerOf(L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;WD)", ObjectKind::Folder).found);

    // Windows 7's C:\: Authenticated Users may add folders to the root itself, which makes a
    // folder open, but the root holds.
    const std::wstring root = L"O:" + installer +
                              L"D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
                              L"(A;;0x4;;;AU)";
    EXPECT_FALSE(changerOf(root, ObjectKind::Root).found);
    EXPECT_TRUE(changerOf(root, ObjectKind::Folder).found);
}

// Windows' own descriptors, path by path, which Wine keeps only as Unix modes.
const std::vector<std::pair<std::wstring, std::wstring>>* windowsDescriptors = nullptr;

DWORD readWindowsDescriptor(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor)
{
    for (const auto& entry : *windowsDescriptors) {
        if (lstrcmpiW(entry.first.c_str(), path) == 0) {
            return ConvertStringSecurityDescriptorToSecurityDescriptorW(entry.second.c_str(), SDDL_REVISION_1,
                                                                        descriptor, nullptr)
                       ? ERROR_SUCCESS
                       : GetLastError();
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

// The walk from a program up to its root on Windows' own default permissions: a package in
// its default folder holds on every release, and what only adds files above it replaces
// nothing.
TEST(ChangeRights, OnWindowsOwnDefaultsOnlyWhatReplacesTheWayDownIsReported)
{
    const std::wstring installer = kTrustedInstaller;
    const std::wstring lock = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    const std::wstring locked = L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)";
    const std::wstring root10 = L"O:" + installer +
                                L"D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
                                L"(A;;LC;;;AU)";
    const std::wstring programData10 =
        L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";
    const std::wstring madeInProgramData10 =
        L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)(A;CIID;0x116;;;BU)";
    const std::wstring madeInRoot10 =
        L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;OICIID;SDGXGWGR;;;AU)";
    const std::wstring rootXp =
        L"O:BAD:AI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;FA;;;CO)(A;OICI;0x1200a9;;;BU)"
        L"(A;CI;LC;;;BU)(A;CIIO;DC;;;BU)(A;;0x1200a9;;;WD)";
    const std::wstring programFilesXp =
        L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICI;FA;;;SY)"
        L"(A;OICI;0x1301bf;;;S-1-5-32-547)(A;OICI;0x1200a9;;;BU)";
    const std::wstring madeInRootXp =
        L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;CIID;LC;;;BU)(A;CIID;DC;;;BU)";
    struct Case {
        const char* what;
        bool beforeVista;
        const wchar_t* program;
        std::vector<std::pair<std::wstring, std::wstring>> descriptors;
        // The one path reported, and by whom; none when the start-up holds.
        std::wstring reported;
        std::wstring account;
    };
    const Case cases[] = {
        {"XP: the package's default folder",
         true,
         L"C:\\Program Files\\Tarvel\\tarvel.exe",
         {{L"C:\\Program Files\\Tarvel\\tarvel.exe", locked},
          {L"C:\\Program Files\\Tarvel", lock},
          {L"C:\\Program Files", programFilesXp},
          {L"C:\\", rootXp}},
         L"",
         L""},
        {"XP: a locked folder in a folder made in the root",
         true,
         L"C:\\Company\\Tarvel\\tarvel.exe",
         {{L"C:\\Company\\Tarvel\\tarvel.exe", locked},
          {L"C:\\Company\\Tarvel", lock},
          {L"C:\\Company", madeInRootXp},
          {L"C:\\", rootXp}},
         L"",
         L""},
        {"10: the package locked in ProgramData",
         false,
         L"C:\\ProgramData\\Tarvel\\tarvel.exe",
         {{L"C:\\ProgramData\\Tarvel\\tarvel.exe", locked},
          {L"C:\\ProgramData\\Tarvel", lock},
          {L"C:\\ProgramData", programData10},
          {L"C:\\", root10}},
         L"",
         L""},
        {"10: the program in a folder made in ProgramData",
         false,
         L"C:\\ProgramData\\Tools\\tarvel.exe",
         {{L"C:\\ProgramData\\Tools\\tarvel.exe", locked},
          {L"C:\\ProgramData\\Tools", madeInProgramData10},
          {L"C:\\ProgramData", programData10},
          {L"C:\\", root10}},
         L"C:\\ProgramData\\Tools",
         L"Users"},
        {"10: a locked folder in a folder made in the root",
         false,
         L"C:\\Company\\Tarvel\\tarvel.exe",
         {{L"C:\\Company\\Tarvel\\tarvel.exe", locked},
          {L"C:\\Company\\Tarvel", lock},
          {L"C:\\Company", madeInRoot10},
          {L"C:\\", root10}},
         L"C:\\Company",
         L"Authenticated Users"},
        {"10: Users may re-permission a folder above, and nothing else",
         false,
         L"C:\\Company\\Tarvel\\tarvel.exe",
         {{L"C:\\Company\\Tarvel\\tarvel.exe", locked},
          {L"C:\\Company\\Tarvel", lock},
          {L"C:\\Company", L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;WD;;;BU)"},
          {L"C:\\", root10}},
         L"C:\\Company",
         L"Users"},
        {"10: Power Users may change a folder above",
         false,
         L"C:\\Company\\Tarvel\\tarvel.exe",
         {{L"C:\\Company\\Tarvel\\tarvel.exe", locked},
          {L"C:\\Company\\Tarvel", lock},
          {L"C:\\Company", programFilesXp},
          {L"C:\\", root10}},
         L"C:\\Company",
         L"Power Users"},
    };
    for (const Case& item : cases) {
        windowsDescriptors = &item.descriptors;
        RightsReader judge;
        judge.read = readWindowsDescriptor;
        judge.powerUsersTrusted = item.beforeVista;
        std::vector<std::wstring> walked;
        std::wstring reported;
        std::wstring account;
        walkUp(item.program, ObjectKind::File, judge,
               [&](const wchar_t* path, ObjectKind, DWORD status, const Changer& changer) {
                   EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), status) << item.what;
                   walked.emplace_back(path);
                   if (changer.found) {
                       reported += (reported.empty() ? L"" : L"; ") + std::wstring(path);
                       account = changer.account;
                   }
                   return true;
               });
        EXPECT_EQ(item.descriptors.size(), walked.size()) << item.what;
        EXPECT_EQ(item.reported, reported) << item.what;
        EXPECT_EQ(item.account, account) << item.what;
    }
    windowsDescriptors = nullptr;
}

// What Windows answers for one volume: GetVolumePathNameW for any path, and GetDriveTypeW for that
// volume path alone, with its closing backslash, so that a judge asking the written drive's root
// instead is caught.
struct WindowsVolume {
    const wchar_t* volume;  // nullptr: Windows cannot tell it
    UINT type;
};
const WindowsVolume* windowsVolume = nullptr;

BOOL readWindowsVolumePath(const wchar_t*, wchar_t* volume, DWORD capacity)
{
    if (windowsVolume->volume == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    lstrcpynW(volume, windowsVolume->volume, static_cast<int>(capacity));
    return TRUE;
}

UINT readWindowsDriveType(const wchar_t* volume)
{
    const size_t length = std::wcslen(volume);
    if (length == 0 || volume[length - 1] != L'\\') {
        return DRIVE_NO_ROOT_DIR;
    }
    const std::wstring answered = windowsVolume->volume;
    return std::wstring(volume) == answered || std::wstring(volume) == answered + L"\\" ? windowsVolume->type
                                                                                        : DRIVE_FIXED;
}

PSECURITY_DESCRIPTOR lockedDescriptor = nullptr;
DWORD readLockedDescriptor(const wchar_t*, PSECURITY_DESCRIPTOR* descriptor)
{
    const DWORD size = GetSecurityDescriptorLength(lockedDescriptor);
    *descriptor = LocalAlloc(LMEM_FIXED, size);
    std::memcpy(*descriptor, lockedDescriptor, size);
    return ERROR_SUCCESS;
}

// A program may start with administrators' rights only from a local fixed drive, judged on the
// volume it lies on: a folder of C: mounting a USB stick is the stick, a share is the file
// server's, whatever the folders there allow.
TEST(ChangeRights, OnlyAProgramOnALocalFixedVolumeMayStartAsAnAdministrator)
{
    struct Case {
        const wchar_t* program;
        WindowsVolume answer;
        DriveKind kind;
        const wchar_t* volume;
    };
    const Case cases[] = {
        {L"C:\\Tools\\tarvel.exe", {L"C:\\", DRIVE_FIXED}, DriveKind::LocalFixed, L"C:\\"},
        {L"N:\\Tools\\tarvel.exe", {L"N:\\", DRIVE_REMOTE}, DriveKind::Network, L"N:\\"},
        {L"R:\\tarvel.exe", {L"R:\\", DRIVE_REMOVABLE}, DriveKind::Removable, L"R:\\"},
        {L"D:\\tarvel.exe", {L"D:\\", DRIVE_CDROM}, DriveKind::CdRom, L"D:\\"},
        {L"M:\\tarvel.exe", {L"M:\\", DRIVE_RAMDISK}, DriveKind::RamDisk, L"M:\\"},
        {L"Q:\\tarvel.exe", {L"Q:\\", DRIVE_UNKNOWN}, DriveKind::Unknown, L"Q:\\"},
        {L"Q:\\tarvel.exe", {L"Q:\\", DRIVE_NO_ROOT_DIR}, DriveKind::Unknown, L"Q:\\"},
        {L"C:\\Tools\\tarvel.exe", {nullptr, DRIVE_FIXED}, DriveKind::Unknown, L"C:\\Tools\\tarvel.exe"},
        // A mounted folder: the volume path is the folder, and its drive is what counts.
        {L"C:\\Mount\\Usb\\tarvel.exe",
         {L"C:\\Mount\\Usb\\", DRIVE_REMOVABLE},
         DriveKind::Removable,
         L"C:\\Mount\\Usb\\"},
        // Answered without its closing backslash, which GetDriveTypeW needs for a mounted folder.
        {L"C:\\Mount\\Share\\tarvel.exe",
         {L"C:\\Mount\\Share", DRIVE_REMOTE},
         DriveKind::Network,
         L"C:\\Mount\\Share\\"},
        {L"\\\\server\\share\\tarvel.exe",
         {L"\\\\server\\share\\", DRIVE_FIXED},
         DriveKind::Unc,
         L"\\\\server\\share\\"},
        {L"\\\\?\\UNC\\server\\share\\tarvel.exe",
         {L"\\\\?\\UNC\\server\\share\\", DRIVE_FIXED},
         DriveKind::Unc,
         L"\\\\?\\UNC\\server\\share\\"},
        {L"\\\\?\\C:\\Tools\\tarvel.exe", {L"\\\\?\\C:\\", DRIVE_FIXED}, DriveKind::LocalFixed, L"\\\\?\\C:\\"},
    };
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1, &lockedDescriptor, nullptr));
    const UniqueLocal locked(lockedDescriptor);
    StartReader judge;
    judge.rights.read = readLockedDescriptor;
    // Machines of Windows' answers only: no path here is a link.
    judge.rights.readLink = [](const wchar_t*, PSECURITY_DESCRIPTOR*) -> Status { return ERROR_NOT_A_REPARSE_POINT; };
    judge.volumes.volumePath = readWindowsVolumePath;
    judge.volumes.driveType = readWindowsDriveType;
    for (const Case& item : cases) {
        const std::string what(item.program, item.program + std::wcslen(item.program));
        windowsVolume = &item.answer;
        wchar_t volume[MAX_PATH] = {};
        EXPECT_EQ(item.kind, driveKindOf(item.program, volume, judge.volumes)) << what;
        EXPECT_STREQ(item.volume, volume) << what;
        std::vector<std::string> untrusted;
        bool driveFirst = false;
        const DWORD status = judgeStart(item.program, ObjectKind::File, judge, [&](const StartFinding& finding) {
            driveFirst = driveFirst || (untrusted.empty() && finding.isDrive && finding.drive == item.kind);
            if (!finding.trusted) {
                untrusted.emplace_back(driveKindWords(finding.drive));
            }
            return true;
        });
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), status) << what;
        EXPECT_TRUE(driveFirst) << what << ": the drive is judged first";
        EXPECT_EQ(item.kind == DriveKind::LocalFixed ? std::vector<std::string>{}
                                                     : std::vector<std::string>{driveKindWords(item.kind)},
                  untrusted)
            << what;
    }
    // "\\.\C:\" names drive C: of this machine, not a server's share.
    WindowsVolume driveC = {L"\\\\.\\C:\\", DRIVE_FIXED};
    windowsVolume = &driveC;
    wchar_t volume[MAX_PATH] = {};
    EXPECT_EQ(DriveKind::LocalFixed, driveKindOf(L"\\\\.\\C:\\Tools\\tarvel.exe", volume, judge.volumes));
    // A descriptor that cannot be read ends the walk with its status, and trusts nothing.
    judge.rights.read = [](const wchar_t*, PSECURITY_DESCRIPTOR*) -> Status { return ERROR_ACCESS_DENIED; };
    EXPECT_EQ(static_cast<Status>(ERROR_ACCESS_DENIED),
              judgeStart(L"C:\\Tools\\tarvel.exe", ObjectKind::File, judge, [](const StartFinding&) { return true; }));
    Text reason;
    EXPECT_FALSE(trustedToStart(L"C:\\Tools\\tarvel.exe", ObjectKind::File, judge, reason));
    EXPECT_STREQ(L"its permissions could not be read, error 5", reason.c_str());
    windowsVolume = nullptr;
    lockedDescriptor = nullptr;
}

// A link, a junction or a mounted folder is judged as itself too: whoever may change the link
// may point it elsewhere after any judgement of its target, which here only administrators may
// change. A volume mounted where only administrators may change the mount point stays trusted.
const wchar_t* linkDescriptor = nullptr;
DWORD readLinkAs(const wchar_t*, PSECURITY_DESCRIPTOR* descriptor)
{
    if (linkDescriptor == nullptr) {
        return ERROR_NOT_A_REPARSE_POINT;
    }
    if (lstrcmpW(linkDescriptor, L"unreadable") == 0) {
        return ERROR_ACCESS_DENIED;
    }
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(linkDescriptor, SDDL_REVISION_1, descriptor, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
}

TEST(ChangeRights, ALinkIsJudgedAsItselfAsWellAsItsTarget)
{
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1, &lockedDescriptor, nullptr));
    const UniqueLocal locked(lockedDescriptor);
    RightsReader judge;
    judge.read = readLockedDescriptor;
    judge.readLink = readLinkAs;
    struct Case {
        const char* what;
        const wchar_t* link;
        bool found;
        ChangeWay how;
        Status status = ERROR_SUCCESS;
    };
    const std::wstring user = L"O:" + std::wstring(kNamedUser) + L"D:(A;;FA;;;BA)";
    const Case cases[] = {
        {"no link", nullptr, false, ChangeWay::None},
        {"a link a user owns", user.c_str(), true, ChangeWay::LinkOwnedBy},
        {"a link Everyone may change", L"O:BAD:(A;;FA;;;BA)(A;;FA;;;WD)", true, ChangeWay::LinkChangedBy},
        {"a mount point only administrators may change", L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;WD)", false,
         ChangeWay::None},
        // Never judged for want of its descriptor: the walk ends with why.
        {"a link whose own descriptor cannot be read", L"unreadable", false, ChangeWay::None, ERROR_ACCESS_DENIED},
    };
    for (const Case& item : cases) {
        linkDescriptor = item.link;
        Changer changer;
        EXPECT_EQ(item.status, untrustedChangerOf(L"C:\\Tools\\link", ObjectKind::Above, changer, judge)) << item.what;
        EXPECT_EQ(item.found, changer.found) << item.what;
        EXPECT_EQ(item.how, changer.how) << item.what;
    }
    linkDescriptor = nullptr;
    lockedDescriptor = nullptr;
}

// Before 6.0 Power Users may change Program Files by design; from 6.0 on a member is an
// ordinary user. The machine's own judgement follows the release it runs on: this test runs
// again in a copy of this program under each release, as Wine gives a release per program.
TEST(ChangeRights, TheMachineTrustsPowerUsersOnlyBeforeWindows6)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;FA;;;BA)(A;OICI;0x1301bf;;;PU)",
                                                                     SDDL_REVISION_1, &descriptor, nullptr));
    const UniqueLocal owned(descriptor);
    const bool before6 = LOBYTE(LOWORD(GetVersion())) < 6;
    EXPECT_EQ(!before6, untrustedChanger(descriptor, ObjectKind::Folder, machineRightsReader()).found)
        << "Windows " << static_cast<int>(LOBYTE(LOWORD(GetVersion())));

    const wchar_t child[] = L"TARVEL_RELEASE_COPY";
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
    if (GetEnvironmentVariableW(child, nullptr, 0) != 0) {
        EXPECT_EQ(std::wcsstr(self, L"judge-winxp.exe") != nullptr, before6) << "the copy runs as another release";
        return;
    }
    CreateDirectoryW(L"C:\\judge", nullptr);
    SetEnvironmentVariableW(child, L"1");
    for (const wchar_t* release : {L"winxp", L"win7"}) {
        const std::wstring name = std::wstring(L"judge-") + release + L".exe";
        const std::wstring copy = L"C:\\judge\\" + name;
        ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE)) << GetLastError();
        host::setWindowsVersion(name, release);
        EXPECT_EQ(0u,
                  host::runProgram(copy, L"--gtest_filter=ChangeRights.TheMachineTrustsPowerUsersOnlyBeforeWindows6"))
            << std::string(name.begin(), name.end());
        host::deleteTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + name);
        DeleteFileW(copy.c_str());
    }
    SetEnvironmentVariableW(child, nullptr);
    RemoveDirectoryW(L"C:\\judge");
}

}  // namespace
