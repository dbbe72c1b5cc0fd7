#pragma once
// The Run value "Tarvel" as Explorer reads it at logon, for the check: what a start-up of the
// Run key will start.
#include "common/platform/Owners.h"
#include "common/platform/Status.h"

#include <windows.h>

// The value under key as Explorer reads it: REG_SZ, or REG_EXPAND_SZ expanded as the 64-bit
// Explorer expands it on 64-bit Windows, whole whatever its length. ERROR_FILE_NOT_FOUND when
// absent, ERROR_INVALID_DATA for any other type.
Status readRunCommand(HKEY key, UniqueHeapText& command);
