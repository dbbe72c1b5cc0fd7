// What a path names: a device or a volume by its own name, a device Windows keeps a name for,
// the same object as another path.
#include "common/platform/Paths.h"

#include "common/platform/Owners.h"
#include "common/text/Text.h"

#include <cwchar>

namespace {

// Whether text begins with name, without regard to case.
bool startsWithName(const wchar_t* text, const wchar_t* name)
{
    const size_t length = std::wcslen(name);
    wchar_t start[8] = {};
    if (length >= 8 || std::wcslen(text) < length) {
        return false;
    }
    lstrcpynW(start, text, static_cast<int>(length) + 1);
    return samePath(start, name);
}

// One part, up to its end or a backslash: its name before any extension, spaces at its end
// aside, is what Windows compares with its devices.
bool isReservedDevicePart(const wchar_t* part, size_t length)
{
    size_t name = 0;
    while (name < length && part[name] != L'.') {
        ++name;
    }
    while (name > 0 && part[name - 1] == L' ') {
        --name;
    }
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (name == std::wcslen(device) && startsWithName(part, device)) {
            return true;
        }
    }
    if (name != 4 || (!startsWithName(part, L"COM") && !startsWithName(part, L"LPT"))) {
        return false;
    }
    const wchar_t digit = part[3];
    // Superscript one, two and three count as digits to Windows.
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

// The file's identity: its volume and its index there, which every spelling of it shares.
bool fileIdentity(const wchar_t* path, BY_HANDLE_FILE_INFORMATION& identity)
{
    const UniqueHandle file = ownHandle(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), &identity) != FALSE;
}

}  // namespace

bool isDevicePath(const wchar_t* path)
{
    if (std::wcsncmp(path, L"\\\\.\\", 4) == 0 || std::wcsncmp(path, L"\\??\\", 4) == 0) {
        return true;
    }
    if (std::wcsncmp(path, L"\\\\?\\", 4) != 0) {
        return false;
    }
    const wchar_t* rest = path + 4;
    const bool drive = rest[0] != L'\0' && rest[1] == L':' && (rest[2] == L'\\' || rest[2] == L'\0');
    return !drive && !(startsWithName(rest, L"UNC") && rest[3] == L'\\');
}

bool namesReservedDevice(const wchar_t* path)
{
    const wchar_t* part = path + pathRootLength(path);
    while (*part != L'\0') {
        const wchar_t* end = std::wcschr(part, L'\\');
        const size_t length = end != nullptr ? static_cast<size_t>(end - part) : std::wcslen(part);
        if (length > 0 && isReservedDevicePart(part, length)) {
            return true;
        }
        part += length;
        while (*part == L'\\') {
            ++part;
        }
    }
    return false;
}

bool sameObject(const wchar_t* left, const wchar_t* right)
{
    BY_HANDLE_FILE_INFORMATION one = {};
    BY_HANDLE_FILE_INFORMATION other = {};
    if (fileIdentity(left, one) && fileIdentity(right, other) && (one.nFileIndexHigh != 0 || one.nFileIndexLow != 0) &&
        one.dwVolumeSerialNumber == other.dwVolumeSerialNumber && one.nFileIndexHigh == other.nFileIndexHigh &&
        one.nFileIndexLow == other.nFileIndexLow) {
        return true;
    }
    wchar_t leftFinal[MAX_PATH] = {};
    wchar_t rightFinal[MAX_PATH] = {};
    return finalPath(left, leftFinal) && finalPath(right, rightFinal) && samePath(leftFinal, rightFinal);
}

bool normalInstallFolder(const wchar_t* given, wchar_t (&folder)[MAX_PATH])
{
    // "\\?\E:\" is "E:\" and "\\?\UNC\server\share" is "\\server\share" to every other call
    // the package makes. Any other "\\?\" path names a device or a volume, and stays so.
    const bool verbatim = std::wcsncmp(given, L"\\\\?\\", 4) == 0 && !isDevicePath(given);
    const bool verbatimUnc = verbatim && given[5] != L':';
    const wchar_t* rest = verbatimUnc ? given + 8 : verbatim ? given + 4 : given;
    wchar_t plain[MAX_PATH + 1] = {};
    if ((verbatimUnc && !appendText(plain, MAX_PATH + 1, L"\\\\")) || !appendText(plain, MAX_PATH + 1, rest)) {
        return false;
    }
    if (!fullPath(plain, folder)) {
        return false;
    }
    // Past the root, a run of backslashes names what one names.
    const size_t root = pathRootLength(folder);
    size_t kept = root;
    for (size_t at = root; folder[at] != L'\0'; ++at) {
        if (folder[at] != L'\\' || (kept > 0 && folder[kept - 1] != L'\\')) {
            folder[kept++] = folder[at];
        }
    }
    folder[kept] = L'\0';
    return withClosingBackslash(folder, MAX_PATH);
}

bool holdsNamelessCharacter(const wchar_t* path)
{
    for (size_t at = 0; path[at] != L'\0'; ++at) {
        const wchar_t c = path[at];
        const bool driveColon =
            at == 1 && c == L':' && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
        if (c < 32 || (c == L':' && !driveColon) || std::wcschr(L"<>\"|?*", c) != nullptr) {
            return true;
        }
    }
    return false;
}
