#pragma once
#include "common/platform/Status.h"

#include <windows.h>

// Starts the program at every logon through the machine's Run key (releases without the
// logon task). modulePath must be the executable's whole path; a path that is empty or too
// long for one is refused with ERROR_FILENAME_EXCED_RANGE. Both answer the registry's status.
Status registerRunEntry(const wchar_t* modulePath);
// A value already absent is success; removed, when given, says whether there was one.
Status unregisterRunEntry(bool* removed = nullptr);
// On 64-bit Windows Explorer runs the native view's Run key as well as the 32-bit one, which
// is all this program's own calls reach: a "Tarvel" value there (a 64-bit tool's, or one
// written by hand) would be a second start-up, so every pass removes it. Elsewhere there is
// no such view, and nothing to do. As unregisterRunEntry otherwise.
Status removeNativeRunEntry(bool* removed = nullptr);

// Under HKEY_LOCAL_MACHINE; a 32-bit program's view of it on 64-bit Windows.
extern const char kRunKey[];
extern const char kRunValueName[];
extern const wchar_t kRunValueNameW[];
