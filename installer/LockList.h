#pragma once
// The folders the install's lock takes, worked out before any change and handed to the deferred
// action as its CustomActionData: one list, written and read by one type.
#include "common/platform/Owners.h"

#include <windows.h>

// How the lock is to take each folder it is handed, the first character of its entry.
enum class LockEntry : wchar_t {
    Missing = L'+',    // missing when judged: made locked; one that appeared since is judged first
    Judged = L'=',     // found and judged: locked, then what it holds judged again
    Installed = L'*',  // the installed product's own locked folder: locked as it is
};

// The folders to lock, top down, separated by '|', each after its LockEntry: those of folder's
// path that do not exist yet, then folder itself (as installed, when installed says so),
// without its closing backslash. Each missing level is listed in full, so the list grows with
// the square of the depth: it is written to list only when capacity holds it and its NUL, and
// the capacity it needs is answered in any case (0 when the paths of the files in folder would
// not fit).
size_t foldersToLock(const wchar_t* folder, bool installed, wchar_t* list, size_t capacity);
