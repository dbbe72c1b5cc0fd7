// Who besides administrators may change a start-up's program or a folder above it, decided
// on security descriptors built here: Wine keeps a file's permissions only as a Unix mode.
#include "common/ChangeRights.h"
#include "common/Owners.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <cwchar>
#include <string>
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

// The prefix's own user, a member of Administrators as on a factory machine.
std::wstring currentUser()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[256] = {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    const std::wstring sid = text != nullptr ? text : L"";
    LocalFree(text);
    return sid;
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
    const std::wstring me = currentUser();
    ASSERT_FALSE(me.empty());
    EXPECT_FALSE(changerOf(L"O:" + me + L"D:(A;;FA;;;" + me + L")", ObjectKind::File).found)
        << "a member of Administrators";

    struct Case {
        const char* what;
        std::wstring sddl;
        ObjectKind kind;
        const char* how;
    };
    const Case open[] = {
        {"owned by Users", L"O:BUD:(A;;FA;;;BA)", ObjectKind::File, "owned by"},
        {"a named non-administrator writes", L"O:BAD:(A;;FW;;;" + std::wstring(kNamedUser) + L")", ObjectKind::File,
         "changed also by"},
        {"Domain Users append", L"O:BAD:(A;;0x4;;;" + std::wstring(kDomainUsers) + L")", ObjectKind::Folder,
         "changed also by"},
        {"Authenticated Users rewrite the permissions", L"O:BAD:(A;;WD;;;AU)", ObjectKind::File, "changed also by"},
        {"Everyone takes the owner", L"O:BAD:(A;;WO;;;WD)", ObjectKind::Folder, "changed also by"},
        {"Everyone renames the folder", L"O:BAD:(A;;SD;;;WD)", ObjectKind::Folder, "renamed also by"},
        // 0x40 is FILE_DELETE_CHILD; SDDL's "DC" is the directory service's right of that name.
        {"Users empty the folder", L"O:BAD:(A;;0x40;;;BU)", ObjectKind::Folder, "renamed also by"},
        {"INTERACTIVE deletes the program", L"O:BAD:(A;;SD;;;IU)", ObjectKind::File, "deleted also by"},
        {"generic write", L"O:BAD:(A;;GW;;;BU)", ObjectKind::File, "changed also by"},
        {"a root whose Users may delete what it holds", L"O:SYD:(A;;0x40;;;BU)", ObjectKind::Root, "renamed also by"},
    };
    for (const Case& item : open) {
        const Changer changer = changerOf(item.sddl, item.kind);
        EXPECT_TRUE(changer.found) << item.what;
        EXPECT_STREQ(item.how, changer.how) << item.what;
        EXPECT_NE(L'\0', changer.account[0]) << item.what;
    }
    EXPECT_STREQ(L"Users", changerOf(L"O:BUD:(A;;FA;;;BA)", ObjectKind::File).account);

    // No DACL at all lets everyone do anything.
    SECURITY_DESCRIPTOR unprotected = {};
    InitializeSecurityDescriptor(&unprotected, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&unprotected, TRUE, nullptr, FALSE);
    EXPECT_TRUE(untrustedChanger(&unprotected, ObjectKind::File).found);

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

// The walk from a start-up's program up to its drive's root, each folder once, the root with
// its backslash ("C:" names the current folder of drive C:) and told from a folder.
TEST(ChangeRights, TheWalkUpNamesEveryFolderAboveAndEndsAtTheRoot)
{
    struct Step {
        std::wstring path;
        ObjectKind kind;
    };
    struct Case {
        const wchar_t* start;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {L"C:\\Up\\Low\\tarvel.exe",
         {{L"C:\\Up\\Low", ObjectKind::Folder}, {L"C:\\Up", ObjectKind::Folder}, {L"C:\\", ObjectKind::Root}}},
        // An install folder as Windows Installer gives it: the closing backslash is cut first.
        {L"C:\\Up\\Low\\", {{L"C:\\Up", ObjectKind::Folder}, {L"C:\\", ObjectKind::Root}}},
        {L"C:\\", {}},
        {L"\\\\server\\share\\Tarvel\\tarvel.exe",
         {{L"\\\\server\\share\\Tarvel", ObjectKind::Folder}, {L"\\\\server\\share\\", ObjectKind::Root}}},
    };
    for (const Case& item : cases) {
        const std::string start(item.start, item.start + std::wcslen(item.start));
        wchar_t path[MAX_PATH] = {};
        lstrcpynW(path, item.start, MAX_PATH);
        ObjectKind kind = ObjectKind::File;
        for (const Step& step : item.steps) {
            ASSERT_TRUE(toParentFolder(path, kind)) << start;
            EXPECT_EQ(step.path, std::wstring(path)) << start;
            EXPECT_EQ(step.kind, kind) << start << ": " << std::string(step.path.begin(), step.path.end());
        }
        EXPECT_FALSE(toParentFolder(path, kind)) << start << " walks on above its root";
    }
}

}  // namespace
