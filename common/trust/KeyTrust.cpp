// Whose a registry key a tool keeps its state in is, judged by its owner and DACL: the acceptance
// kit's journal, which it acts on with administrators' rights.
#include "common/trust/Trust.h"

#include "common/platform/WellKnownSids.h"

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
    RightsReader reader;
    reader.powerUsersTrusted = false;
    judgement.changer = untrustedChanger(descriptor, ObjectKind::File, reader);
    if (!isOwnedByAdministrators(descriptor)) {
        judgement.verdict = JournalVerdict::Foreign;
        if (!judgement.changer.found || judgement.changer.how != ChangeWay::OwnedBy) {
            // An administrator's own account: still not how the kit makes its key.
            judgement.changer = Changer();
            judgement.changer.found = true;
            judgement.changer.how = ChangeWay::OwnedBy;
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
