#pragma once
// Accounts by their well-known SIDs, which are the same on every language of Windows, where
// their names are not.
#include "common/platform/Owners.h"

// S-1-5-32-rid: a builtin group (DOMAIN_ALIAS_RID_ADMINS, DOMAIN_ALIAS_RID_USERS). Null when
// it cannot be made.
UniqueSid builtinGroupSid(DWORD rid);
// S-1-5-rid: an NT authority account (SECURITY_LOCAL_SYSTEM_RID, SECURITY_INTERACTIVE_RID,
// SECURITY_AUTHENTICATED_USER_RID).
UniqueSid ntAuthoritySid(DWORD rid);
