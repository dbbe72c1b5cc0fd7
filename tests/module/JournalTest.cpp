// The acceptance kit's own decisions, with no cmd run: which journal key it trusts, adopts or
// refuses, judged on Windows' own descriptors built here and on real keys of the prefix; which
// record it follows; and each change as it makes and undoes it: the marker, a port's switch.
#include "common/platform/Owners.h"
#include "common/platform/Registry.h"
#include "kit/Journal.h"
#include "kit/MarkerChange.h"
#include "kit/PackageChange.h"
#include "kit/PortsChange.h"
#include "kit/Record.h"
#include "kit/StartupChange.h"
#include "kit/Programs.h"
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

// The machine's journal, as the kit opens it (32-bit view), and a key a link may lead to.
const wchar_t kJournalPath[] = L"Software\\Ombrix\\Tarvel\\Acceptance";
const wchar_t kElsewhere[] = L"Software\\Ombrix\\KitJournalTestTarget";

void setSecurity(const std::wstring& path, const wchar_t* sddl)
{
    UniqueHkey key;
    ASSERT_EQ(
        static_cast<Status>(ERROR_SUCCESS),
        createKey(HKEY_LOCAL_MACHINE, path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_WOW64_32KEY, key));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    const UniqueLocal owned(descriptor);
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor));
}

// A registry link at path (32-bit view) that leads to kElsewhere.
void makeLink(const std::wstring& path)
{
    HKEY link = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                             KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &link, nullptr));
    const std::wstring target =
        std::wstring(L"\\Registry\\Machine\\") +
        (host::underWow64() ? L"Software\\Wow6432Node\\Ombrix\\KitJournalTestTarget" : kElsewhere);
    RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                   static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(link);
}

void clearJournal()
{
    setSecurity(std::wstring(kJournalPath) + L"\\Run", L"O:BAD:(A;;KA;;;BA)");
    UniqueHkey base;
    ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS),
              openKey(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\Tarvel", KEY_ALL_ACCESS | KEY_WOW64_32KEY, base));
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), deleteKeyTree(base.get(), L"Acceptance", KEY_WOW64_32KEY));
}

bool journalHas(const std::wstring& sub)
{
    UniqueHkey key;
    return openKeyItself(HKEY_LOCAL_MACHINE, (std::wstring(kJournalPath) + sub).c_str(), KEY_READ | KEY_WOW64_32KEY,
                         key) == ERROR_SUCCESS;
}

// Each key of the journal that exists is judged on the handle the kit then uses: a record it
// cannot open to judge, or a link at the journal's name, makes the journal not the kit's; a
// link below it goes as the link, never followed; a ports copy others could write is deleted.
TEST(Journal, EachKeyIsJudgedOnTheHandleTheKitUses)
{
    struct Case {
        const char* what;
        const wchar_t* link;       // a link made here under the journal (empty: the journal itself)
        const wchar_t* runSddl;    // the record's permissions, when there is one
        const wchar_t* portsSddl;  // the ports copy's, when there is one
        bool theKits;
        const wchar_t* gone;                // what is deleted under the journal as the kit opens it
        const wchar_t* portSddl = nullptr;  // Port1's copy's, where it differs from the ports copy's
    };
    const wchar_t own[] = L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";
    const Case cases[] = {
        {"as the kit makes it", nullptr, own, own, true, nullptr},
        {"a record administrators may only read", nullptr, L"O:BAD:P(A;;KR;;;BA)(A;;KA;;;PU)", nullptr, false, nullptr},
        {"a ports copy others may write", nullptr, nullptr, L"O:BAD:P(A;;KA;;;BA)(A;;KA;;;BU)", true, L"\\Ports"},
        {"a port's copy others may write", nullptr, nullptr, own, true, L"\\Ports", L"O:BAD:P(A;;KA;;;BA)(A;;KA;;;BU)"},
        {"a link at the journal's name", L"", nullptr, nullptr, false, nullptr},
        {"a link at the record", L"\\Run", nullptr, nullptr, true, L"\\Run"},
        {"a link at the ports copy", L"\\Ports", nullptr, nullptr, true, L"\\Ports"},
        {"a link at a port's copy", L"\\Ports\\Port0", nullptr, own, true, L"\\Ports\\Port0"},
    };
    host::writeString(HKEY_LOCAL_MACHINE, kElsewhere, L"Other", L"kept", KEY_WOW64_32KEY);
    KitSession kit;
    for (const Case& c : cases) {
        clearJournal();
        if (c.link == nullptr || c.link[0] != L'\0') {
            setSecurity(kJournalPath, own);
        }
        if (c.portsSddl != nullptr) {
            setSecurity(std::wstring(kJournalPath) + L"\\Ports", c.portsSddl);
            setSecurity(std::wstring(kJournalPath) + L"\\Ports\\Port1", c.portSddl ? c.portSddl : c.portsSddl);
        }
        if (c.link != nullptr) {
            makeLink(std::wstring(kJournalPath) + c.link);
        }
        if (c.runSddl != nullptr) {
            setSecurity(std::wstring(kJournalPath) + L"\\Run", c.runSddl);
        }
        Journal journal;
        bool foreign = false;
        EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), openJournal(kit, false, journal, foreign)) << c.what;
        EXPECT_EQ(c.theKits, !foreign) << c.what;
        EXPECT_EQ(c.theKits, static_cast<bool>(journal.key)) << c.what << ": a key kept to act through";
        if (c.gone != nullptr) {
            EXPECT_FALSE(journalHas(c.gone)) << c.what;
        }
        if (c.runSddl != nullptr) {
            EXPECT_TRUE(journalHas(L"\\Run")) << c.what << ": a record deleted";
        }
        EXPECT_EQ(L"kept", host::readValue(HKEY_LOCAL_MACHINE, kElsewhere, L"Other", KEY_WOW64_32KEY).text())
            << c.what << ": the link was followed";
    }
    clearJournal();
    host::deleteTree(HKEY_LOCAL_MACHINE, kElsewhere, KEY_WOW64_32KEY);
}

// What a run records before its first change is read back whole, and every key of it carries
// the kit's own permissions, read back from the keys themselves.
TEST(Journal, ARecordIsWrittenWholeUnderTheKitsPermissions)
{
    clearJournal();
    KitSession kit;
    lstrcpynW(kit.folder, L"C:\\kit\\", MAX_PATH);
    Journal journal;
    ASSERT_TRUE(openOwnJournal(kit, true, journal));
    // A key someone made between the kit's look and its making is not the kit's to write in.
    setSecurity(std::wstring(kJournalPath) + L"\\Early", L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
    UniqueHkey early;
    EXPECT_EQ(static_cast<Status>(ERROR_ALREADY_EXISTS), makeJournalKey(journal.key.get(), L"Early", early));
    EXPECT_FALSE(early);
    ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), startRecord(kit, journal));
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), recordMarker(journal.record.get(), MarkerState::File));
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), recordStartup(journal.record.get(), L"C:\\Tools\\tarvel.exe"));
    // The product recorded is the one the package holds: the next version's is its own.
    wchar_t product[39] = {};
    wchar_t next[39] = {};
    ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), packageProductCode(host::tarvelPackage().c_str(), product));
    ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), packageProductCode(host::tarvelNextPackage().c_str(), next));
    EXPECT_NE(std::wstring(product), std::wstring(next));
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), recordProduct(journal.record.get(), next));
    RunRecord unfinished;
    ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), readRunRecord(journal.record.get(), unfinished));
    EXPECT_NE(nullptr, unfinished.refused) << "followed before it is whole";
    ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), finishRecord(journal));
    RunRecord record;
    ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), readRunRecord(journal.record.get(), record));
    EXPECT_EQ(nullptr, record.refused) << record.refused;
    EXPECT_EQ(std::wstring(L"C:\\kit\\"), record.kit);
    EXPECT_EQ(static_cast<int>(MarkerState::File), static_cast<int>(record.marker));
    EXPECT_EQ(std::wstring(L"C:\\Tools\\tarvel.exe"), record.program);
    EXPECT_TRUE(record.hasProduct) << "no product";
    EXPECT_EQ(std::wstring(next), record.product);
    EXPECT_TRUE(recordPorts(kit, journal));
    // A copy cut while it was made is never put back, by restore or by the run: the ports stay.
    const wchar_t port0[] = L"SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters\\Port0";
    host::writeDword(HKEY_LOCAL_MACHINE, port0, L"DIPM", 9);
    RegDeleteValueW(journal.ports.get(), kWholeValue);
    EXPECT_FALSE(putPortsBack(kit, journal));
    EXPECT_FALSE(putPortsAsFound(kit, journal));
    EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, port0, L"DIPM").isDword(9)) << "a copy not whole put back";
    host::deleteValue(HKEY_LOCAL_MACHINE, port0, L"DIPM");
    for (const HKEY key : {journal.key.get(), journal.record.get(), journal.ports.get()}) {
        BYTE descriptor[4096] = {};
        ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), readKeyDescriptor(key, descriptor));
        EXPECT_EQ(static_cast<int>(JournalVerdict::Own), static_cast<int>(judgeJournalKey(descriptor, true).verdict));
    }
    EXPECT_EQ(static_cast<Status>(ERROR_SUCCESS), removeRecord(journal));
    EXPECT_FALSE(journalHas(L"\\Run"));
    journal = Journal();
    clearJournal();
}

// The marker's four cases as a run makes them (found absent or there; wanted present or
// absent), and as restore puts it back: what someone put in a marker the kit made is kept.
TEST(KitChanges, TheMarkerIsMadeAsEachStepNeedsAndPutBackAsFound)
{
    KitSession kit;
    lstrcpynW(kit.marker, L"C:\\KitMarkerTest", MAX_PATH);
    lstrcpynW(kit.aside, L"C:\\KitMarkerTest.acceptance", MAX_PATH);
    const std::wstring marker = kit.marker;
    const std::wstring aside = kit.aside;
    using host::PathKind;
    struct Case {
        const char* what;
        MarkerState found;
        PathKind markerBefore, asideBefore;
        bool undo;  // restore's undoing, else a step's setMarker
        bool present;
        bool done;
        PathKind markerAfter, asideAfter;
    };
    const Case cases[] = {
        {"absent, made present", MarkerState::Absent, PathKind::Missing, PathKind::Missing, false, true, true,
         PathKind::Directory, PathKind::Missing},
        {"absent, the kit's own removed", MarkerState::Absent, PathKind::Directory, PathKind::Missing, false, false,
         true, PathKind::Missing, PathKind::Missing},
        {"a directory, moved aside", MarkerState::Directory, PathKind::Directory, PathKind::Missing, false, false, true,
         PathKind::Missing, PathKind::Directory},
        {"a file, moved back", MarkerState::File, PathKind::Missing, PathKind::File, false, true, true, PathKind::File,
         PathKind::Missing},
        {"a directory with another beside it: never merged", MarkerState::Directory, PathKind::Directory,
         PathKind::Directory, false, false, false, PathKind::Directory, PathKind::Directory},
        {"restore: the kit's own removed", MarkerState::Absent, PathKind::Directory, PathKind::Missing, true, false,
         true, PathKind::Missing, PathKind::Missing},
        {"restore: a found file back", MarkerState::File, PathKind::Missing, PathKind::File, true, false, true,
         PathKind::File, PathKind::Missing},
        {"restore: a found one gone", MarkerState::Directory, PathKind::Missing, PathKind::Missing, true, false, false,
         PathKind::Missing, PathKind::Missing},
    };
    for (const Case& c : cases) {
        for (const std::wstring& path : {marker, aside}) {
            host::removeTree(path);
            host::clearPath(path);
        }
        for (const auto& made : {std::make_pair(marker, c.markerBefore), std::make_pair(aside, c.asideBefore)}) {
            if (made.second == PathKind::Directory) {
                host::makeDirectory(made.first);
            } else if (made.second == PathKind::File) {
                host::makeFile(made.first);
            }
        }
        const bool done = c.undo ? undoMarker(kit, c.found) : setMarker(kit, c.found, c.present);
        EXPECT_EQ(c.done, done) << c.what;
        EXPECT_EQ(static_cast<int>(c.markerAfter), static_cast<int>(host::pathKind(marker))) << c.what;
        EXPECT_EQ(static_cast<int>(c.asideAfter), static_cast<int>(host::pathKind(aside))) << c.what;
    }
    // A marker the kit made that someone filled: removed from the way, its contents kept.
    host::makeDirectory(marker);
    host::makeFile(marker + L"\\notes.txt");
    EXPECT_TRUE(undoMarker(kit, MarkerState::Absent));
    EXPECT_EQ(static_cast<int>(PathKind::Missing), static_cast<int>(host::pathKind(marker)));
    EXPECT_EQ(static_cast<int>(PathKind::File), static_cast<int>(host::pathKind(marker + L".kit-contents\\notes.txt")));
    for (const std::wstring& path : {marker, aside, marker + L".kit-contents"}) {
        host::removeTree(path);
    }
}

// A port's switch goes back only as the 4-byte REG_DWORD it was; one that was absent is
// deleted; whatever else a copy holds is no port's value and changes nothing.
TEST(KitChanges, APortSwitchIsPutBackOnlyAsTheDwordItWas)
{
    const wchar_t before[] = L"Software\\Ombrix\\KitPortsTest\\Before";
    const wchar_t now[] = L"Software\\Ombrix\\KitPortsTest\\Now";
    const BYTE seven[8] = {7, 0, 0, 0, 0, 0, 0, 0};
    const wchar_t on[] = L"1";
    struct Case {
        const char* what;
        DWORD type;  // REG_NONE: absent before the run
        const BYTE* data;
        DWORD size;
        bool putBack;
        DWORD after;  // the switch after; 0xFFFFFFFF: absent
    };
    const Case cases[] = {
        {"a REG_DWORD", REG_DWORD, seven, 4, true, 7},
        {"absent", REG_NONE, nullptr, 0, true, 0xFFFFFFFF},
        {"a REG_SZ", REG_SZ, reinterpret_cast<const BYTE*>(on), sizeof on, false, 0},
        {"a REG_BINARY of four bytes", REG_BINARY, seven, 4, false, 0},
        {"a REG_DWORD of eight bytes", REG_DWORD, seven, 8, false, 0},
        {"a REG_QWORD", REG_QWORD, seven, 8, false, 0},
    };
    KitSession kit;
    for (const Case& c : cases) {
        host::deleteTree(HKEY_CURRENT_USER, L"Software\\Ombrix\\KitPortsTest");
        host::writeDword(HKEY_CURRENT_USER, now, L"DIPM", 0);
        UniqueHkey recorded;
        UniqueHkey target;
        ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), createKey(HKEY_CURRENT_USER, before, KEY_ALL_ACCESS, recorded));
        ASSERT_EQ(static_cast<Status>(ERROR_SUCCESS), openKey(HKEY_CURRENT_USER, now, KEY_ALL_ACCESS, target));
        if (c.type != REG_NONE) {
            RegSetValueExW(recorded.get(), L"DIPM", 0, c.type, c.data, c.size);
        }
        EXPECT_EQ(c.putBack, putSwitchBack(kit, recorded.get(), target.get(), 0, L"DIPM")) << c.what;
        const host::RegValue after = host::readValue(HKEY_CURRENT_USER, now, L"DIPM");
        if (c.after == 0xFFFFFFFF) {
            EXPECT_FALSE(after.present) << c.what;
        } else {
            EXPECT_TRUE(after.isDword(c.after)) << c.what;
        }
    }
    host::deleteTree(HKEY_CURRENT_USER, L"Software\\Ombrix\\KitPortsTest");
}

// The start-up's program is recorded, and a record's followed, only in the form a kit writes:
// "-" for none, else a full path of an .exe as Windows spells it, with nothing no name may hold.
TEST(KitChanges, AStartupsProgramIsTakenOnlyInTheFormAKitWrites)
{
    const std::pair<const wchar_t*, const char*> forms[] = {
        {L"-", nullptr},
        {L"C:\\Tools\\tarvel.exe", nullptr},
        {L"", "it names no Program"},
        {L"C:\\Tools\\tarvel.exe\" & \"C:\\x.exe", "its Program is not a path"},
        {L"C:\\Tools\\tar|vel.exe", "its Program is not a path"},
        {L"C:\\Tools\\tarvel.exe:stream.exe", "its Program is not a path"},
        {L"C:\\Tools\\tarvel.cmd", "its Program is not a program"},
        {L"Tools\\tarvel.exe", "its Program is not a full path"},
        {L"C:\\Tools\\..\\tarvel.exe", "its Program is not a full path"},
    };
    for (const auto& form : forms) {
        const char* refusal = programFormRefusal(form.first);
        EXPECT_STREQ(form.second, refusal) << std::string(form.first, form.first + lstrlenW(form.first));
    }
}

// What the kit starts or installs with an administrator's rights is judged on its whole way
// before it runs: the file it holds, and its drive and every folder above it.
TEST(KitChanges, WhatTheKitStartsOrInstallsIsJudgedOnItsWholeWay)
{
    const std::wstring program = host::placeTarvel(L"C:\\KitHeld\\Low");
    const std::wstring package = L"C:\\KitHeld\\Low\\tarvel-held.msi";
    ASSERT_TRUE(CopyFileW(host::tarvelPackage().c_str(), package.c_str(), FALSE));
    const struct {
        const char* what;
        const wchar_t* open;  // what others may change
        bool isPackage;
        bool taken;
    } cases[] = {
        {"a program only administrators may change", nullptr, false, true},
        {"a program in a folder above others may rename", L"C:\\KitHeld", false, false},
        {"a package others may change", package.c_str(), true, false},
        {"a package in a folder above others may rename", L"C:\\KitHeld", true, false},
    };
    KitSession kit;
    lstrcpynW(kit.folder, L"C:\\KitHeld\\", MAX_PATH);
    for (const auto& c : cases) {
        if (c.open != nullptr) {
            host::setPermissions(c.open, host::kWorldWritable);
        }
        UniqueHandle held;
        Text problem;
        DWORD status = 0;
        const bool taken = c.isPackage ? runPackage(kit, package.c_str(), true, status, problem)
                                       : holdJudged(program.c_str(), held, problem);
        EXPECT_EQ(c.taken, taken) << c.what;
        if (c.open != nullptr) {
            host::setPermissions(c.open, host::kAdministratorsOnly);
        }
    }
    EXPECT_FALSE(familyInstalled()) << "a package others may change was installed";
    host::removeTree(L"C:\\KitHeld");
}

// The scripts hand the kit all they are given, each argument read whole: only what they take
// starts anything; /? prints the usage and ends with 0, anything else with 87, and neither
// makes the journal or the marker.
TEST(KitArguments, OnlyWhatTheScriptsTakeStartsARun)
{
    clearJournal();
    const std::pair<const wchar_t*, DWORD> forms[] = {
        {L"acceptance.cmd /?", 0},         {L"acceptance.cmd now", 87},
        {L"acceptance.cmd ports", 87},     {L"restore.cmd /?", 0},
        {L"restore.cmd port", 87},         {L"restore.cmd ports now", 87},
        {L"restore.cmd \"ports /?\"", 87},
    };
    for (const auto& form : forms) {
        const std::wstring command = std::wstring(L"/c ") + form.first + L" > NUL";
        EXPECT_EQ(form.second, host::runProgram(L"C:\\windows\\system32\\cmd.exe", command, host::tarvelKit()))
            << std::string(form.first, form.first + lstrlenW(form.first));
        EXPECT_FALSE(journalHas(L"")) << "a run or a restore started";
        EXPECT_EQ(host::PathKind::Missing, host::pathKind(L"C:\\Preload.acceptance"));
    }
}

}  // namespace
