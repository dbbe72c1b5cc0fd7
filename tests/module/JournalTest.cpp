// The acceptance kit's journal: which key it trusts, adopts or refuses, judged on Windows' own
// descriptors built here, and which record it follows, read back from a real key.
#include "common/platform/Owners.h"
#include "kit/Journal.h"
#include "kit/Record.h"
#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>
#include <utility>
#include <vector>

namespace {

JournalJudgement judged(const wchar_t* sddl, bool holdsRecord)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        ADD_FAILURE() << "cannot build the descriptor";
        return JournalJudgement();
    }
    const UniqueLocal owned(descriptor);
    return judgeJournalKey(descriptor, holdsRecord);
}

TEST(Journal, OnlyAKeyNobodyButAdministratorsCouldHaveWrittenIsFollowed)
{
    // HKLM\SOFTWARE's defaults, which a key made with reg.exe inherits: Windows 7, and XP,
    // where Power Users may set values, make subkeys and delete.
    const wchar_t windows7[] = L"O:BAD:AI(A;CIIOID;GA;;;CO)(A;ID;KA;;;SY)(A;ID;KA;;;BA)(A;ID;KR;;;BU)";
    const wchar_t windowsXp[] =
        L"O:BAD:AI(A;CIIOID;GA;;;CO)(A;ID;KA;;;SY)(A;ID;KA;;;BA)(A;ID;0x3001f;;;PU)(A;ID;KR;;;BU)";
    struct Case {
        const char* what;
        const wchar_t* sddl;
        bool holdsRecord;
        JournalVerdict verdict;
    };
    const Case cases[] = {
        {"as the kit makes it", L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", true, JournalVerdict::Own},
        {"owned by SYSTEM", L"O:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", true, JournalVerdict::Own},
        {"an inherit-only entry for users, no right on the key itself",
         L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CIIO;KA;;;BU)", true, JournalVerdict::Own},
        {"an earlier kit's on Windows 7, with a record", windows7, true, JournalVerdict::Adopt},
        {"an earlier kit's on XP, no record", windowsXp, false, JournalVerdict::Adopt},
        {"an earlier kit's on XP, with a record", windowsXp, true, JournalVerdict::Foreign},
        {"owned by Users", L"O:BUD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", false, JournalVerdict::Foreign},
        {"owned by a user", L"O:S-1-5-21-1-2-3-1013D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", false, JournalVerdict::Foreign},
        {"users may set a value", L"O:BAD:P(A;;KA;;;BA)(A;;0x2;;;BU)", true, JournalVerdict::Foreign},
        {"users may make a subkey", L"O:BAD:P(A;;KA;;;BA)(A;;0x4;;;BU)", true, JournalVerdict::Foreign},
        {"everyone may delete it", L"O:BAD:P(A;;KA;;;BA)(A;;SD;;;WD)", true, JournalVerdict::Foreign},
        {"everyone may re-permission it", L"O:BAD:P(A;;KA;;;BA)(A;;WD;;;WD)", true, JournalVerdict::Foreign},
        {"authenticated users may take it", L"O:BAD:P(A;;KA;;;BA)(A;;WO;;;AU)", true, JournalVerdict::Foreign},
        {"everyone may read it", L"O:BAD:P(A;;KA;;;BA)(A;;KR;;;WD)", true, JournalVerdict::Own},
    };
    // An administrator's own account is not how the kit makes its key: anyone who becomes that
    // account may change it.
    const std::wstring ownedByMe = L"O:" + host::currentUserSid() + L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";
    EXPECT_EQ(static_cast<int>(JournalVerdict::Foreign), static_cast<int>(judged(ownedByMe.c_str(), false).verdict))
        << "owned by an administrator's own account";
    for (const Case& c : cases) {
        const JournalJudgement judgement = judged(c.sddl, c.holdsRecord);
        EXPECT_EQ(static_cast<int>(c.verdict), static_cast<int>(judgement.verdict)) << c.what;
        // Whoever else may change it is named, for the administrator to look at.
        const bool opened = c.verdict == JournalVerdict::Foreign || c.sddl == windowsXp;
        EXPECT_EQ(opened, judgement.changer.found) << c.what;
    }
    // A null DACL lets everyone do anything (Wine's SDDL makes an empty one of it).
    SECURITY_DESCRIPTOR open = {};
    ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    const UniqueSid administrators = [] {
        PSID sid = nullptr;
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid);
        return UniqueSid(sid);
    }();
    ASSERT_TRUE(SetSecurityDescriptorOwner(&open, administrators.get(), FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_EQ(static_cast<int>(JournalVerdict::Foreign), static_cast<int>(judgeJournalKey(&open, true).verdict));
    // What the kit gives its own keys is what it then trusts.
    const JournalSecurity security;
    ASSERT_TRUE(security.ok());
    EXPECT_EQ(static_cast<int>(JournalVerdict::Own),
              static_cast<int>(judgeJournalKey(security.descriptor(), true).verdict));
}

const wchar_t kRecordKey[] = L"Software\\Ombrix\\TarvelJournalTest\\Run";

bool never(const wchar_t*) { return false; }
bool always(const wchar_t*) { return true; }

TEST(Journal, ARecordIsFollowedOnlyWhenItsFormAndWhatItNamesAreAKits)
{
    // A file that is there: this test program, no tarvel program.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const wchar_t kOwnProduct[] = L"{525E52FA-6147-5940-BF5F-6E3D22A10B7B}";
    const std::vector<std::pair<const wchar_t*, std::wstring>> whole = {
        {L"Kit", L"C:\\kit\\"}, {L"Found", L"directory"}, {L"Program", L"C:\\Tools\\tarvel.exe"}, {L"Whole", L"yes"}};
    struct Case {
        const char* what;
        const wchar_t* name;
        std::wstring value;  // empty: the value is taken away
        RecordFacts facts;
        bool refused;
    };
    const RecordFacts tarvel = {always, always, always};
    const Case cases[] = {
        {"whole, as a kit writes it", nullptr, L"", tarvel, false},
        {"its product, which the Installer lists for the package", L"Product", kOwnProduct, tarvel, false},
        // A cut install registered nothing: there is nothing to uninstall, and nothing to refuse.
        {"a product nobody installed", L"Product", kOwnProduct, {always, never, never}, false},
        {"another vendor's product", L"Product", kOwnProduct, {always, never, always}, true},
        {"a product code in lower case", L"Product", L"{525e52fa-6147-5940-bf5f-6e3d22a10b7b}", tarvel, true},
        {"a program that is no tarvel program", L"Program", self, {never, always, always}, true},
        // Gone since: nothing to start, and the rest of the record is still followed.
        {"a program no longer there", L"Program", L"C:\\gone\\tarvel.exe", {never, always, always}, false},
        {"a script", L"Program", L"C:\\Tools\\tarvel.cmd", tarvel, true},
        {"a relative program", L"Program", L"Tools\\tarvel.exe", tarvel, true},
        {"a program on the current folder of C:", L"Program", L"C:Tools\\tarvel.exe", tarvel, true},
        {"a program in a spelling Windows changes", L"Program", L"C:\\Tools\\..\\Tools\\tarvel.exe", tarvel, true},
        {"a program with a quote", L"Program", L"C:\\Tools\\tarvel.exe\" & calc.exe", tarvel, true},
        {"no program", L"Program", L"", tarvel, true},
        {"no program to put back", L"Program", L"-", tarvel, false},
        {"a marker state outside the list", L"Found", L"gone", tarvel, true},
        {"not whole", L"Whole", L"", tarvel, true},
        {"a name no kit writes", L"Last", L"C:\\Tools\\tarvel.exe", tarvel, true},
    };
    for (const Case& c : cases) {
        host::deleteTree(HKEY_CURRENT_USER, kRecordKey);
        for (const auto& fact : whole) {
            host::writeString(HKEY_CURRENT_USER, kRecordKey, fact.first, fact.second);
        }
        if (c.name != nullptr && c.value.empty()) {
            host::deleteValue(HKEY_CURRENT_USER, kRecordKey, c.name);
        } else if (c.name != nullptr) {
            host::writeString(HKEY_CURRENT_USER, kRecordKey, c.name, c.value);
        }
        HKEY opened = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kRecordKey, 0, KEY_READ, &opened));
        const UniqueHkey key(opened);
        RunRecord record;
        ASSERT_EQ(ERROR_SUCCESS, readRunRecord(key.get(), record)) << c.what;
        const char* refusal = record.refused != nullptr ? record.refused : recordRefusal(record, c.facts);
        EXPECT_EQ(c.refused, refusal != nullptr) << c.what << ": " << (refusal != nullptr ? refusal : "followed");
    }
    // A value of another type is no kit's, whatever its text.
    host::deleteTree(HKEY_CURRENT_USER, kRecordKey);
    for (const auto& fact : whole) {
        host::writeString(HKEY_CURRENT_USER, kRecordKey, fact.first, fact.second);
    }
    for (const DWORD type :
         {static_cast<DWORD>(REG_DWORD), static_cast<DWORD>(REG_EXPAND_SZ), static_cast<DWORD>(REG_MULTI_SZ)}) {
        // The text of a path, under a type no kit writes.
        const wchar_t text[] = L"C:\\Tools\\tarvel.exe\0";
        HKEY written = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kRecordKey, 0, KEY_SET_VALUE, &written));
        RegSetValueExW(written, L"Program", 0, type, reinterpret_cast<const BYTE*>(text), sizeof text);
        RegCloseKey(written);
        HKEY opened = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kRecordKey, 0, KEY_READ, &opened));
        const UniqueHkey key(opened);
        RunRecord record;
        ASSERT_EQ(ERROR_SUCCESS, readRunRecord(key.get(), record));
        EXPECT_NE(nullptr, record.refused) << "type " << type;
    }
    host::deleteTree(HKEY_CURRENT_USER, L"Software\\Ombrix\\TarvelJournalTest");
}

}  // namespace
