#pragma once
// The folders the install's lock takes, worked out before any change and handed to the deferred
// action as its CustomActionData, with the package's files the lock judges again: one list,
// written and read by one type. Each entry carries its own length, so that nothing a folder's
// name holds can end an entry early or add one.
#include "common/platform/Owners.h"
#include "common/trust/FolderTrust.h"

#include <windows.h>

// What an entry is, its first character.
enum class LockEntry : wchar_t {
    Missing = L'+',      // a folder missing when judged: made locked; one that appeared since is judged first
    Judged = L'=',       // a folder found and judged: locked, then what it holds judged again
    Installed = L'*',    // the installed product's own locked folder: locked as it is
    PackageFile = L'#',  // a file the package installs: its size, a space, its name
};

class LockList {
public:
    LockList() = default;
    LockList(const LockList&) = delete;
    LockList& operator=(const LockList&) = delete;

    // Appends kind, text's length in decimal, ':' and text; false when there is no memory.
    bool add(LockEntry kind, const wchar_t* text);
    // The list so far, "" when empty.
    const wchar_t* text() const { return text_ ? text_.get() : L""; }

private:
    UniqueHeapText text_;
    size_t length_ = 0;
    size_t capacity_ = 0;
};

// Reads a list back, entry by entry, each whole as it was written.
class LockListReader {
public:
    enum class Read { Entry, End, Malformed };
    explicit LockListReader(const wchar_t* text) : at_(text) {}
    // The next entry into kind and text; Malformed for an entry no LockList writes, or one whose
    // text does not fit.
    Read next(LockEntry& kind, wchar_t (&text)[MAX_PATH + 1]);

private:
    const wchar_t* at_;
};

// The folders to lock, top down, into list: those of folder's path that do not exist yet, then
// folder itself (as installed, when installed says so), without its closing backslash; then
// the package's files. False when the paths of the files in folder would not fit, or there is
// no memory.
bool foldersToLock(const wchar_t* folder, bool installed, const PackageFiles& package, LockList& list);
// A PackageFile entry's text read back; false when it is not one.
bool readPackageFile(const wchar_t* text, PackageFile& file);
