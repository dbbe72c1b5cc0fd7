#include "common/Paths.h"

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
    if (std::wcschr(name, L'.') != nullptr) {
        return true;
    }
    if (length + 4 > MAX_PATH) {
        return false;
    }
    std::wcscat(program, L".exe");
    return true;
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
        for (const wchar_t* space = std::wcschr(start, L' '); space != nullptr && end == nullptr;
             space = std::wcschr(space + 1, L' ')) {
            if (withExtension(start, static_cast<size_t>(space - start), program) && fileExists(program)) {
                end = space;
            }
        }
        end = end != nullptr ? end : start + std::wcslen(start);
        arguments = end;
    }
    while (*arguments == L' ') {
        ++arguments;
    }
    return withExtension(start, static_cast<size_t>(end - start), program);
}
