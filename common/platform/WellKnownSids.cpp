#include "common/platform/WellKnownSids.h"

namespace {
UniqueSid makeSid(SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD first, DWORD second)
{
    PSID made = nullptr;
    if (!AllocateAndInitializeSid(&authority, count, first, second, 0, 0, 0, 0, 0, 0, &made)) {
        return UniqueSid();
    }
    return UniqueSid(made);
}
}  // namespace

UniqueSid builtinGroupSid(DWORD rid) { return makeSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, rid); }

UniqueSid ntAuthoritySid(DWORD rid) { return makeSid(SECURITY_NT_AUTHORITY, 1, rid, 0); }
