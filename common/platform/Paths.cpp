#include "common/platform/Paths.h"

#include "common/platform/Owners.h"
#include "common/platform/SystemFacts.h"
#include "common/text/Text.h"

#include <cwchar>

size_t pathRootLength(const wchar_t* path)
{
    if (path[0] != L'\0' && path[1] == L':') {
        return path[2] == L'\\' ? 3 : 2;
    }
    if (path[0] == L'\\' && path[1] == L'\\') {
        const wchar_t* server = std::wcschr(path + 2, L'\\');
        const wchar_t* share = server != nullptr ? std::wcschr(server + 1, L'\\') : nullptr;
        return share != nullptr ? static_cast<size_t>(share - path) + 1 : std::wcslen(path);
    }
    return 0;
}

bool endsWithBackslash(const wchar_t* path)
{
    const size_t length = std::wcslen(path);
    return length > 0 && path[length - 1] == L'\\';
}

bool withClosingBackslash(wchar_t* path, size_t capacity)
{
    return endsWithBackslash(path) || appendText(path, capacity, L"\\");
}

bool isRelativePath(const wchar_t* path)
{
    const size_t root = pathRootLength(path);
    return root == 0 || (root == 2 && path[1] == L':');
}

size_t lengthWithoutClosingBackslashes(const wchar_t* path)
{
    const size_t root = pathRootLength(path);
    size_t length = std::wcslen(path);
    while (length > root && path[length - 1] == L'\\') {
        --length;
    }
    return length;
}

bool toParentFolder(wchar_t* path, ObjectKind& kind)
{
    const size_t root = pathRootLength(path);
    const size_t length = lengthWithoutClosingBackslashes(path);
    path[length] = L'\0';
    wchar_t* slash = length > root ? std::wcsrchr(path, L'\\') : nullptr;
    if (slash == nullptr) {
        return false;
    }
    const size_t at = static_cast<size_t>(slash - path);
    // The root keeps its backslash: "C:" alone names the current folder of drive C:.
    kind = at < root ? ObjectKind::Root : kind == ObjectKind::File ? ObjectKind::Folder : ObjectKind::Above;
    path[at < root ? root : at] = L'\0';
    return true;
}

bool samePath(const wchar_t* left, const wchar_t* right)
{
    const size_t length = lengthWithoutClosingBackslashes(left);
    if (length == 0 || length != lengthWithoutClosingBackslashes(right)) {
        return false;
    }
    const size_t chunk = 64;
    for (size_t at = 0; at < length; at += chunk) {
        const int count = static_cast<int>(length - at < chunk ? length - at : chunk);
        wchar_t upperLeft[chunk] = {};
        wchar_t upperRight[chunk] = {};
        if (LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, left + at, count, upperLeft, count) != count ||
            LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, right + at, count, upperRight, count) != count ||
            std::wmemcmp(upperLeft, upperRight, static_cast<size_t>(count)) != 0) {
            return false;
        }
    }
    return true;
}

bool fullPath(const wchar_t* path, wchar_t (&full)[MAX_PATH])
{
    const DWORD length = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return length != 0 && length < MAX_PATH;
}

namespace {

const wchar_t kVerbatim[] = L"\\\\?\\";

// A name whose last part has no dot gets ".exe", as CreateProcess searches it. False when the
// result does not fit.
bool withExtension(const wchar_t* start, size_t length, wchar_t (&program)[MAX_PATH + 1])
{
    if (length > MAX_PATH) {
        return false;
    }
    lstrcpynW(program, start, static_cast<int>(length) + 1);
    asWindowsReadsIt(program);
    const wchar_t* name = std::wcsrchr(program, L'\\');
    name = name != nullptr ? name + 1 : program;
    return std::wcschr(name, L'.') != nullptr || appendText(program, MAX_PATH + 1, L".exe");
}

}  // namespace

void asWindowsReadsIt(wchar_t* path)
{
    if (std::wcsncmp(path, kVerbatim, 4) == 0) {
        return;
    }
    for (wchar_t* at = path; *at != L'\0'; ++at) {
        if (*at == L'/') {
            *at = L'\\';
        }
    }
}

bool fileExists(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool pathExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool programOfCommand(const wchar_t* command, wchar_t (&program)[MAX_PATH + 1], const wchar_t*& arguments)
{
    const bool quoted = command[0] == L'"';
    const wchar_t* start = quoted ? command + 1 : command;
    const wchar_t* end = nullptr;
    if (quoted) {
        end = std::wcschr(start, L'"');
        end = end != nullptr ? end : start + std::wcslen(start);
        arguments = *end == L'"' ? end + 1 : end;
    } else {
        for (const wchar_t* space = start; *space != L'\0' && end == nullptr; ++space) {
            // A tab ends a part as a space does.
            if ((*space == L' ' || *space == L'\t') &&
                withExtension(start, static_cast<size_t>(space - start), program) && fileExists(program)) {
                end = space;
            }
        }
        end = end != nullptr ? end : start + std::wcslen(start);
        arguments = end;
    }
    while (*arguments == L' ' || *arguments == L'\t') {
        ++arguments;
    }
    return withExtension(start, static_cast<size_t>(end - start), program);
}

DWORD readDosDevice(const wchar_t* drive, wchar_t* target, DWORD capacity)
{
    return QueryDosDeviceW(drive, target, capacity);
}

namespace {

// path with its first skip characters replaced by prefix; false when it does not fit.
bool replaceStart(const wchar_t* path, size_t skip, const wchar_t* prefix, wchar_t (&out)[MAX_PATH])
{
    const size_t prefixLength = std::wcslen(prefix);
    const size_t rest = std::wcslen(path) - skip;
    if (prefixLength + rest >= MAX_PATH) {
        return false;
    }
    std::wmemcpy(out, prefix, prefixLength);
    std::wmemcpy(out + prefixLength, path + skip, rest + 1);
    return true;
}

}  // namespace

bool lastingPath(const wchar_t* path, wchar_t (&lasting)[MAX_PATH], DosDeviceReader read)
{
    const wchar_t drive[3] = {path[0], L':', L'\0'};
    wchar_t device[MAX_PATH + 8] = {};
    if (path[0] == L'\0' || path[1] != L':' || read(drive, device, MAX_PATH + 8) == 0) {
        return replaceStart(path, 0, L"", lasting);
    }
    // subst: the device is the folder behind the letter, "\??\C:\sub".
    if (std::wcsncmp(device, L"\\??\\", 4) == 0 && device[4] != L'\0' && device[5] == L':') {
        return replaceStart(path, 2, device + 4, lasting);
    }
    // A network redirector: what follows its ";Q:<session>" part is "\server\share".
    const wchar_t* session = std::wcsstr(device, L"\\;");
    for (const wchar_t* next = session; next != nullptr; next = std::wcsstr(next + 2, L"\\;")) {
        session = next;
    }
    const wchar_t* share = session != nullptr ? std::wcschr(session + 2, L'\\') : nullptr;
    if (std::wcsncmp(device, L"\\Device\\", 8) == 0 && share != nullptr) {
        wchar_t unc[MAX_PATH + 8] = L"\\";
        lstrcpynW(unc + 1, share, MAX_PATH + 7);
        return replaceStart(path, 2, unc, lasting);
    }
    return replaceStart(path, 0, L"", lasting);
}

bool finalPath(const wchar_t* path, wchar_t (&final)[MAX_PATH], DosDeviceReader read)
{
    using FinalPathReader = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    const auto reader = isVistaOrLater() ? reinterpret_cast<FinalPathReader>(reinterpret_cast<void*>(GetProcAddress(
                                               GetModuleHandleA("kernel32"), "GetFinalPathNameByHandleW")))
                                         : nullptr;
    if (reader == nullptr) {
        return lastingPath(path, final, read);
    }
    // Opened for nothing but its name; a folder needs backup semantics to be opened at all.
    const UniqueHandle file = ownHandle(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        return false;
    }
    wchar_t named[MAX_PATH + 8] = {};
    const DWORD length = reader(file.get(), named, MAX_PATH + 8, 0);
    if (length == 0 || length >= MAX_PATH + 8) {
        return false;
    }
    // "\\?\UNC\server\share" is "\\server\share"; "\\?\C:\..." is "C:\...".
    if (std::wcsncmp(named, L"\\\\?\\UNC\\", 8) == 0) {
        return replaceStart(named, 7, L"\\", final);
    }
    return replaceStart(named, std::wcsncmp(named, kVerbatim, 4) == 0 ? 4 : 0, L"", final);
}
