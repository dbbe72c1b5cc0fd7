#include "kit/Journal.h"

#include "common/platform/Owners.h"
#include "common/platform/Paths.h"
#include "common/product/TarvelProgram.h"
#include "common/platform/WellKnownSids.h"

#include <msi.h>
#include <sddl.h>

#include <cwchar>

const wchar_t kJournalKey[] = L"SOFTWARE\\Ombrix\\Tarvel\\Acceptance";
const wchar_t kRecordName[] = L"Run";
const wchar_t kPortsName[] = L"Ports";

namespace {

bool isOwnedByAdministrators(PSECURITY_DESCRIPTOR descriptor)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
        return false;
    }
    const UniqueSid system = ntAuthoritySid(SECURITY_LOCAL_SYSTEM_RID);
    const UniqueSid administrators = builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS);
    return (system && EqualSid(owner, system.get())) || (administrators && EqualSid(owner, administrators.get()));
}

bool isProtected(PSECURITY_DESCRIPTOR descriptor)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED) != 0;
}

}  // namespace

JournalJudgement judgeJournalKey(PSECURITY_DESCRIPTOR descriptor, bool holdsRecord)
{
    JournalJudgement judgement;
    // A key's rights to set a value, make a subkey, delete it or re-permission it are the bits
    // of a file's write, append, delete and permission rights: judged as a file is, with Power
    // Users, who may write HKLM\SOFTWARE before Windows 6.0, counted as anyone else.
    RightsReader judge;
    judge.powerUsersTrusted = false;
    judgement.changer = untrustedChanger(descriptor, ObjectKind::File, judge);
    if (!isOwnedByAdministrators(descriptor)) {
        judgement.verdict = JournalVerdict::Foreign;
        if (!judgement.changer.found || lstrcmpA(judgement.changer.how, "owned by") != 0) {
            // An administrator's own account: still not how the kit makes its key.
            judgement.changer = Changer();
            judgement.changer.found = true;
            judgement.changer.how = "owned by";
            lstrcpynW(judgement.changer.account, L"an account other than Administrators and SYSTEM", 256);
        }
        return judgement;
    }
    if (judgement.changer.found) {
        judgement.verdict = holdsRecord ? JournalVerdict::Foreign : JournalVerdict::Adopt;
        return judgement;
    }
    // Nobody else may change it now; an inherited DACL would follow a change above it.
    judgement.verdict = isProtected(descriptor) ? JournalVerdict::Own : JournalVerdict::Adopt;
    return judgement;
}

JournalSecurity::JournalSecurity()
{
    // Inherited by whatever a kit makes below, and by a subkey Windows makes itself.
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", SDDL_REVISION_1,
                                                              &descriptor_, nullptr)) {
        descriptor_ = nullptr;
    }
}

JournalSecurity::~JournalSecurity() { LocalFree(descriptor_); }

namespace {

bool isOneOf(const wchar_t* text, const wchar_t* const* words, size_t count)
{
    for (size_t at = 0; at < count; ++at) {
        if (std::wcscmp(text, words[at]) == 0) {
            return true;
        }
    }
    return false;
}

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case hex digits, as a kit writes it.
bool isProductCode(const wchar_t* text)
{
    if (lstrlenW(text) != 38 || text[0] != L'{' || text[37] != L'}') {
        return false;
    }
    for (int at = 1; at < 37; ++at) {
        const bool dash = at == 9 || at == 14 || at == 19 || at == 24;
        const wchar_t c = text[at];
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F');
        if (dash ? c != L'-' : !hex) {
            return false;
        }
    }
    return true;
}

struct RecordValue {
    const wchar_t* name;
    wchar_t* text;
    DWORD capacity;  // characters, the NUL included
    const char* malformed;
    bool seen;
};

// A value's text when it is a REG_SZ that fits; ERROR_INVALID_DATA for any other type or a
// text too long to be the kit's.
Status readText(HKEY key, const wchar_t* name, wchar_t* text, DWORD capacity)
{
    DWORD type = REG_NONE;
    DWORD size = capacity * sizeof(wchar_t);
    ZeroMemory(text, size);
    const Status status =
        registryStatus(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size));
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && type != REG_SZ)) {
        return ERROR_INVALID_DATA;
    }
    if (status == ERROR_SUCCESS && (size >= capacity * sizeof(wchar_t) && text[capacity - 1] != L'\0')) {
        return ERROR_INVALID_DATA;
    }
    if (status == ERROR_SUCCESS) {
        text[capacity - 1] = L'\0';
    }
    return status;
}

const char* formRefusal(RunRecord& record, bool whole)
{
    if (!whole) {
        return "it is not whole, no Whole value: its run was cut while recording";
    }
    const wchar_t* const states[] = {L"absent", L"file", L"directory"};
    if (!isOneOf(record.found, states, 3)) {
        return "its Found value is not absent, file or directory";
    }
    const wchar_t* program = record.program;
    if (program[0] == L'\0') {
        return "it names no Program";
    }
    if (std::wcscmp(program, L"-") == 0) {
        return record.hasProduct && !isProductCode(record.product) ? "its Product is not a product code" : nullptr;
    }
    for (const wchar_t* at = program; *at != L'\0'; ++at) {
        if (*at == L'"' || *at == L'|' || *at < L' ') {
            return "its Program is not a path";
        }
    }
    const int length = lstrlenW(program);
    if (length < 4 || lstrcmpiW(program + length - 4, L".exe") != 0) {
        return "its Program is not a program";
    }
    wchar_t full[MAX_PATH] = {};
    if (isRelativePath(program) || !fullPath(program, full) || std::wcscmp(full, program) != 0) {
        return "its Program is not a full path";
    }
    if (record.hasProduct && !isProductCode(record.product)) {
        return "its Product is not a product code";
    }
    return nullptr;
}

}  // namespace

Status readRunRecord(HKEY key, RunRecord& record)
{
    wchar_t whole[8] = {};
    RecordValue values[] = {
        {L"Kit", record.kit, MAX_PATH, "its Kit is not a folder's text", false},
        {L"Found", record.found, 16, "its Found value is not absent, file or directory", false},
        {L"Program", record.program, MAX_PATH + 1, "its Program is not a path", false},
        {L"Product", record.product, 40, "its Product is not a product code", false},
        {L"Whole", whole, 8, "it is not whole, no Whole value: its run was cut while recording", false},
    };
    for (DWORD index = 0;; ++index) {
        wchar_t name[64] = {};
        DWORD nameLength = 64;
        Status status =
            registryStatus(RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr));
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_MORE_DATA) {
            record.refused = "it holds a name it does not know";
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        RecordValue* known = nullptr;
        for (RecordValue& value : values) {
            if (std::wcscmp(name, value.name) == 0) {
                known = &value;
            }
        }
        if (known == nullptr) {
            record.refused = "it holds a name it does not know";
            continue;
        }
        status = readText(key, name, known->text, known->capacity);
        if (status == ERROR_INVALID_DATA) {
            record.refused = known->malformed;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        known->seen = true;
    }
    record.hasProduct = values[3].seen;
    if (record.refused == nullptr) {
        record.refused = formRefusal(record, values[4].seen && std::wcscmp(whole, L"yes") == 0);
    }
    return ERROR_SUCCESS;
}

namespace {

bool machineIsTarvelProgram(const wchar_t* path)
{
    wchar_t version[kVersionText] = {};
    return isTarvelProgram(path, version);
}

bool machineIsOwnProduct(const wchar_t* product)
{
    wchar_t listed[39] = {};
    for (DWORD index = 0; MsiEnumRelatedProductsW(TARVEL_UPGRADE_CODE, 0, index, listed) == ERROR_SUCCESS; ++index) {
        if (lstrcmpiW(listed, product) == 0) {
            return true;
        }
    }
    return false;
}

bool machineIsInstalled(const wchar_t* product)
{
    const INSTALLSTATE state = MsiQueryProductStateW(product);
    return state != INSTALLSTATE_UNKNOWN && state != INSTALLSTATE_INVALIDARG;
}

}  // namespace

RecordFacts machineRecordFacts() { return {machineIsTarvelProgram, machineIsOwnProduct, machineIsInstalled}; }

const char* recordRefusal(const RunRecord& record, const RecordFacts& facts)
{
    // A program no longer there starts nothing; one that is there must be tarvel's.
    if (std::wcscmp(record.program, L"-") != 0 && fileExists(record.program) &&
        !facts.isTarvelProgram(record.program)) {
        return "its Program is no tarvel program";
    }
    // The product a cut install never registered leaves nothing to uninstall; one the Installer
    // knows must be of the package's own family.
    if (record.hasProduct && !facts.isOwnProduct(record.product) && facts.isInstalled(record.product)) {
        return "its Product is not a package of Ombrix Tarvel";
    }
    return nullptr;
}
