#pragma once
// Who counts as an administrator when a start-up's program or folder is judged: SYSTEM,
// Administrators, TrustedInstaller, CREATOR OWNER (a placeholder, not an account), the users
// who are members of Administrators, directly or through another group, and Power Users where
// the release makes them so (before Windows 6.0).
#include <windows.h>

bool isTrustedAccount(PSID sid, bool powerUsersTrusted);
