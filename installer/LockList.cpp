#include "installer/LockList.h"

#include "common/platform/Paths.h"
#include "common/text/Text.h"
#include "common/text/TextLine.h"

#include <cwchar>
#include <utility>

bool LockList::add(LockEntry kind, const wchar_t* text)
{
    wchar_t length[kNumberText] = {};
    writeDecimal(static_cast<unsigned long>(std::wcslen(text)), length);
    const size_t more = 1 + std::wcslen(length) + 1 + std::wcslen(text);
    if (length_ + more + 1 > capacity_) {
        const size_t capacity = 2 * (length_ + more + 1);
        UniqueHeapText grown = allocateText(capacity);
        if (!grown) {
            return false;
        }
        if (text_) {
            CopyMemory(grown.get(), text_.get(), length_ * sizeof(wchar_t));
        }
        text_ = std::move(grown);
        capacity_ = capacity;
    }
    wchar_t* at = text_.get() + length_;
    *at++ = static_cast<wchar_t>(kind);
    for (const wchar_t* digit = length; *digit != L'\0'; ++digit) {
        *at++ = *digit;
    }
    *at++ = L':';
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        *at++ = *c;
    }
    *at = L'\0';
    length_ += more;
    return true;
}

LockListReader::Read LockListReader::next(LockEntry& kind, wchar_t (&text)[MAX_PATH + 1])
{
    if (*at_ == L'\0') {
        return Read::End;
    }
    const wchar_t first = *at_++;
    if (first != static_cast<wchar_t>(LockEntry::Missing) && first != static_cast<wchar_t>(LockEntry::Judged) &&
        first != static_cast<wchar_t>(LockEntry::Installed) && first != static_cast<wchar_t>(LockEntry::PackageFile)) {
        return Read::Malformed;
    }
    size_t length = 0;
    const wchar_t* digits = at_;
    for (; *at_ >= L'0' && *at_ <= L'9' && length <= MAX_PATH; ++at_) {
        length = length * 10 + static_cast<size_t>(*at_ - L'0');
    }
    if (at_ == digits || *at_ != L':' || length > MAX_PATH) {
        return Read::Malformed;
    }
    ++at_;
    for (size_t index = 0; index < length; ++index) {
        if (at_[index] == L'\0') {
            return Read::Malformed;
        }
    }
    lstrcpynW(text, at_, static_cast<int>(length + 1));
    at_ += length;
    kind = static_cast<LockEntry>(first);
    return Read::Entry;
}

bool foldersToLock(const wchar_t* folder, bool installed, const PackageFiles& package, LockList& list)
{
    if (!programPathFits(folder)) {
        return false;
    }
    wchar_t path[MAX_PATH] = {};
    lstrcpynW(path, folder, MAX_PATH);
    const size_t length = lengthWithoutClosingBackslashes(path);
    const size_t root = pathRootLength(path);
    path[length] = L'\0';
    // Every folder on the way that does not exist yet, top down, then the folder itself.
    for (size_t at = root; at < length; ++at) {
        if (path[at] != L'\\') {
            continue;
        }
        path[at] = L'\0';
        const bool listed = pathExists(path) || list.add(LockEntry::Missing, path);
        path[at] = L'\\';
        if (!listed) {
            return false;
        }
    }
    const LockEntry last = !pathExists(path) ? LockEntry::Missing
                           : installed       ? LockEntry::Installed
                                             : LockEntry::Judged;
    if (!list.add(last, path)) {
        return false;
    }
    for (size_t index = 0; index < package.count && index < PackageFiles::kMost; ++index) {
        wchar_t entry[kNumberText + MAX_PATH + 1] = {};
        TextBuilder(entry, sizeof entry / sizeof entry[0])
            << static_cast<unsigned long>(package.files[index].size) << L" " << package.files[index].name;
        if (!list.add(LockEntry::PackageFile, entry)) {
            return false;
        }
    }
    return true;
}

bool readPackageFile(const wchar_t* text, PackageFile& file)
{
    unsigned long size = 0;
    const wchar_t* at = text;
    for (; *at >= L'0' && *at <= L'9' && size <= 0xFFFFFFFFUL / 10; ++at) {
        size = size * 10 + static_cast<unsigned long>(*at - L'0');
    }
    if (at == text || *at != L' ' || at[1] == L'\0') {
        return false;
    }
    file.size = size;
    lstrcpynW(file.name, at + 1, MAX_PATH);
    return true;
}
