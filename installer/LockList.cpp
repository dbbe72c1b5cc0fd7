#include "installer/LockList.h"

#include "common/platform/Paths.h"
#include "common/text/Text.h"
#include "common/trust/FolderTrust.h"

size_t foldersToLock(const wchar_t* folder, bool installed, wchar_t* list, size_t capacity)
{
    if (!programPathFits(folder)) {
        return 0;
    }
    wchar_t path[MAX_PATH] = {};
    lstrcpynW(path, folder, MAX_PATH);
    const size_t length = lengthWithoutClosingBackslashes(path);
    const size_t root = pathRootLength(path);
    path[length] = L'\0';
    // Every folder on the way that does not exist yet, top down, then the folder itself; each
    // looked at once, so that the room answered is the room the list takes.
    size_t missingEnds[MAX_PATH] = {};
    size_t missing = 0;
    size_t needed = 1 + length + 1;
    for (size_t at = root; at < length; ++at) {
        if (path[at] == L'\\') {
            path[at] = L'\0';
            if (!pathExists(path)) {
                missingEnds[missing++] = at;
                needed += 1 + at + 1;
            }
            path[at] = L'\\';
        }
    }
    if (list == nullptr || capacity < needed) {
        return needed;
    }
    list[0] = L'\0';
    const wchar_t missingEntry[] = {static_cast<wchar_t>(LockEntry::Missing), L'\0'};
    for (size_t index = 0; index < missing; ++index) {
        const size_t at = missingEnds[index];
        path[at] = L'\0';
        appendText(list, capacity, missingEntry);
        appendText(list, capacity, path);
        appendText(list, capacity, L"|");
        path[at] = L'\\';
    }
    const LockEntry last = !pathExists(path) ? LockEntry::Missing
                           : installed       ? LockEntry::Installed
                                             : LockEntry::Judged;
    const wchar_t lastEntry[] = {static_cast<wchar_t>(last), L'\0'};
    appendText(list, capacity, lastEntry);
    appendText(list, capacity, path);
    return needed;
}
