#include "kit/Journal.h"

#include "common/platform/Registry.h"
#include "common/platform/SystemFacts.h"
#include "common/platform/WellKnownSids.h"
#include "common/text/Text.h"

#include <sddl.h>

#include <cwchar>

const wchar_t kJournalKey[] = L"SOFTWARE\\Ombrix\\Tarvel\\Acceptance";
const wchar_t kRecordName[] = L"Run";
const wchar_t kPortsName[] = L"Ports";
const wchar_t kWholeValue[] = L"Whole";

JournalSecurity::JournalSecurity()
{
    // Inherited by whatever a kit makes below, and by a subkey Windows makes itself.
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", SDDL_REVISION_1,
                                                              &descriptor_, nullptr)) {
        descriptor_ = nullptr;
    }
}

JournalSecurity::~JournalSecurity() { LocalFree(descriptor_); }

Status makeJournalKey(HKEY parent, const wchar_t* name, UniqueHkey& key)
{
    const JournalSecurity security;
    if (!security.ok()) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    bool createdNew = false;
    const Status status =
        createKeyWithDescriptor(parent, name, KEY_ALL_ACCESS | KEY_WOW64_32KEY, security.descriptor(), key, createdNew);
    if (status == ERROR_SUCCESS && !createdNew) {
        // Made by someone between the kit's look and its making: not the kit's to write in.
        key.reset();
        return ERROR_ALREADY_EXISTS;
    }
    return status;
}

Status deleteJournalKey(HKEY parent, const wchar_t* name) { return deleteKeyTree(parent, name, KEY_WOW64_32KEY); }

void portCopyName(int port, wchar_t (&name)[8])
{
    const char* path = kPortKeys[port];
    const char* last = path;
    for (const char* at = path; *at != '\0'; ++at) {
        last = *at == '\\' ? at + 1 : last;
    }
    widenText(last, name);
}

Status dropPortsKeys(Journal& journal)
{
    for (UniqueHkey& port : journal.portKeys) {
        port.reset();
    }
    journal.ports.reset();
    return deleteJournalKey(journal.key.get(), kPortsName);
}

Text journalPath(const wchar_t* sub)
{
    // A 64-bit reg.exe reaches the 32-bit view through Wow6432Node.
    const size_t software = sizeof "SOFTWARE\\" - 1;
    Text path;
    path << "HKLM\\SOFTWARE\\" << (isWow64() ? "Wow6432Node\\" : "") << kJournalKey + software;
    if (sub != nullptr) {
        path << "\\" << sub;
    }
    return path;
}

Status writeJournalText(HKEY key, const wchar_t* name, const wchar_t* text)
{
    return registryStatus(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                         (static_cast<DWORD>(lstrlenW(text)) + 1) * sizeof(wchar_t)));
}

namespace {

const wchar_t kWholeText[] = L"yes";

}  // namespace

Status markWhole(HKEY key) { return writeJournalText(key, kWholeValue, kWholeText); }

bool isWhole(HKEY key)
{
    wchar_t whole[8] = {};
    DWORD size = sizeof whole - sizeof whole[0];
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, kWholeValue, nullptr, &type, reinterpret_cast<BYTE*>(whole), &size) == ERROR_SUCCESS &&
           type == REG_SZ && std::wcscmp(whole, kWholeText) == 0;
}

bool openOwnJournal(const KitSession& kit, bool create, Journal& journal)
{
    bool foreign = false;
    const Status status = openJournal(kit, create, journal, foreign);
    if (status != ERROR_SUCCESS) {
        Text line;
        line << journalPath() << " could not be opened, error " << status << ". Nothing was changed.";
        say(kit, line);
    }
    return status == ERROR_SUCCESS && !foreign;
}

namespace {

const REGSAM kJournalAccess = KEY_ALL_ACCESS | KEY_WOW64_32KEY;

void sayForeign(const KitSession& kit, const Text& what)
{
    Text line;
    line << what << ". Nothing was changed, and nothing was started.";
    say(kit, line);
    Text how;
    how << "find out who made it; once its record, if any, is undone by hand, remove it as an administrator: reg "
           "delete \""
        << journalPath() << "\" /f";
    say(kit, how);
}

// The journal key, made with its parents where it is missing: the kit's own only when new.
Status makeJournal(UniqueHkey& key, wchar_t (&link)[MAX_PATH])
{
    wchar_t parentPath[MAX_PATH] = {};
    lstrcpynW(parentPath, kJournalKey, MAX_PATH);
    wchar_t* name = std::wcsrchr(parentPath, L'\\');
    *name++ = L'\0';
    UniqueHkey parent;
    Status status =
        openKeyWithoutLinks(HKEY_LOCAL_MACHINE, parentPath, KEY_CREATE_SUB_KEY, KEY_WOW64_32KEY, parent, link);
    if (status == ERROR_FILE_NOT_FOUND) {
        UniqueHkey made;
        status = createKey(HKEY_LOCAL_MACHINE, parentPath, KEY_CREATE_SUB_KEY | KEY_WOW64_32KEY, made);
        if (status == ERROR_SUCCESS) {
            status =
                openKeyWithoutLinks(HKEY_LOCAL_MACHINE, parentPath, KEY_CREATE_SUB_KEY, KEY_WOW64_32KEY, parent, link);
        }
    }
    return status == ERROR_SUCCESS ? makeJournalKey(parent.get(), kJournalKey + (name - parentPath), key) : status;
}

// A key under parent that exists, opened as itself into slot: a link there goes, as the link,
// with a line; one that cannot be opened to be judged is not the kit's. False when it is not.
bool openPart(const KitSession& kit, HKEY parent, const wchar_t* name, const Text& path, UniqueHkey& slot)
{
    const Status status = openKeyItself(parent, name, kJournalAccess, slot);
    if (status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    Text line;
    if (status != ERROR_SUCCESS) {
        line << path << " could not be opened to be judged, error " << status;
        sayForeign(kit, line);
        return false;
    }
    if (!isRegistryLink(slot.get())) {
        return true;
    }
    slot.reset();
    const Status deleted = deleteJournalKey(parent, name);
    line << path << " was a registry link to another key; "
         << (deleted == ERROR_SUCCESS ? "it was deleted, as the link" : "it could not be deleted");
    say(kit, line);
    return deleted == ERROR_SUCCESS;
}

// Judges a key on its handle: a key another account owns or others could have written, with
// a record in it, is not the kit's; adopt says it is an earlier kit's, to make the kit's own.
bool judgePart(const KitSession& kit, HKEY key, bool holdsRecord, const Text& path, bool& adopt)
{
    BYTE descriptor[4096] = {};
    const Status status = readKeyDescriptor(key, descriptor);
    const JournalJudgement judgement = judgeJournalKey(descriptor, holdsRecord);
    if (status != ERROR_SUCCESS || judgement.verdict == JournalVerdict::Foreign) {
        Text line;
        line << path << " is not the kit's: ";
        if (status != ERROR_SUCCESS) {
            line << "its permissions could not be read, error " << status;
        } else {
            line << "it is " << changeWords(judgement.changer.how) << " " << judgement.changer.account;
        }
        sayForeign(kit, line);
        return false;
    }
    adopt = adopt || judgement.verdict == JournalVerdict::Adopt;
    return true;
}

// Whether a key is as the kit makes its own: owned by Administrators or SYSTEM, only they may
// change it.
bool isOwnPart(HKEY key)
{
    BYTE descriptor[4096] = {};
    return readKeyDescriptor(key, descriptor) == ERROR_SUCCESS &&
           judgeJournalKey(descriptor, true).verdict == JournalVerdict::Own;
}

// The port values an earlier kit, or anyone who could change the copy, left: never put back.
void dropPortsCopy(const KitSession& kit, Journal& journal)
{
    Text line;
    line << journalPath(kPortsName);
    line << (dropPortsKeys(journal) == ERROR_SUCCESS
                 ? ", which others could have written, was deleted: restore.cmd ports has nothing to put back"
                 : ", which others could have written, could not be deleted; it is not used");
    say(kit, line);
}

// The ports' copy and each port under it, opened as themselves and judged as keys that hold a
// record; usable only when all are the kit's own.
bool openPorts(const KitSession& kit, Journal& journal, bool& portsOwn)
{
    portsOwn = false;
    if (!openPart(kit, journal.key.get(), kPortsName, journalPath(kPortsName), journal.ports)) {
        return false;
    }
    if (!journal.ports) {
        return true;
    }
    bool own = isOwnPart(journal.ports.get());
    for (int port = 0; port < kPortCount; ++port) {
        wchar_t name[8] = {};
        portCopyName(port, name);
        Text path;
        path << journalPath(kPortsName) << "\\" << name;
        if (!openPart(kit, journal.ports.get(), name, path, journal.portKeys[port])) {
            return false;
        }
        own = own && (!journal.portKeys[port] || isOwnPart(journal.portKeys[port].get()));
    }
    portsOwn = own;
    return true;
}

Status adoptJournal(const KitSession& kit, const Journal& journal)
{
    // Left by an earlier kit, which made it with the permissions of HKLM\SOFTWARE: from now on
    // only administrators may change it, and whatever it holds.
    const JournalSecurity security;
    if (!security.ok()) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    Status status = registryStatus(RegSetKeySecurity(journal.key.get(), what, security.descriptor()));
    if (status == ERROR_SUCCESS && journal.record) {
        status = registryStatus(RegSetKeySecurity(journal.record.get(), what, security.descriptor()));
    }
    if (status == ERROR_SUCCESS) {
        Text line;
        line << journalPath() << ", which an earlier kit left, may now be changed by administrators only";
        say(kit, line);
    }
    return status;
}

// The journal key opened as itself, or made new when create says so: a link on its way is
// refused with foreign set.
Status findJournal(const KitSession& kit, bool create, Journal& journal, bool& foreign)
{
    wchar_t link[MAX_PATH] = {};
    Status status =
        openKeyWithoutLinks(HKEY_LOCAL_MACHINE, kJournalKey, kJournalAccess, KEY_WOW64_32KEY, journal.key, link);
    if (status == ERROR_FILE_NOT_FOUND && create) {
        status = makeJournal(journal.key, link);
        if (status == ERROR_ALREADY_EXISTS) {
            // Made meanwhile by someone else: judged as found.
            status = openKeyWithoutLinks(HKEY_LOCAL_MACHINE, kJournalKey, kJournalAccess, KEY_WOW64_32KEY, journal.key,
                                         link);
        }
    }
    if (status == ERROR_NOT_SUPPORTED) {
        Text line;
        line << "HKLM\\" << link
             << " is a registry link, which may lead to any other key: the journal is not the kit's";
        foreign = true;
        sayForeign(kit, line);
    }
    return status;
}

}  // namespace

Status openJournal(const KitSession& kit, bool create, Journal& journal, bool& foreign)
{
    foreign = false;
    const Status status = findJournal(kit, create, journal, foreign);
    if (foreign || (status == ERROR_FILE_NOT_FOUND && !create)) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    bool adopt = false;
    bool portsOwn = false;
    const bool judged =
        openPart(kit, journal.key.get(), kRecordName, journalPath(kRecordName), journal.record) &&
        judgePart(kit, journal.key.get(), static_cast<bool>(journal.record), journalPath(), adopt) &&
        (!journal.record || judgePart(kit, journal.record.get(), true, journalPath(kRecordName), adopt)) &&
        openPorts(kit, journal, portsOwn);
    if (!judged) {
        journal = Journal();
        foreign = true;
        return ERROR_SUCCESS;
    }
    // A copy in an earlier kit's journal, or one others could have written, is used by no one.
    if (journal.ports && (adopt || !portsOwn)) {
        dropPortsCopy(kit, journal);
    }
    return adopt ? adoptJournal(kit, journal) : ERROR_SUCCESS;
}
