#include "installer/InstallFolder.h"

#include "common/ChangeRights.h"
#include "common/WellKnownSids.h"

#include <aclapi.h>

#include <cwchar>

namespace {

// What the package installs: an earlier version's files are the product's own too.
const wchar_t kProgramFile[] = L"tarvel.exe";
// The longest name of what it installs, which sets how long its folder may be.
const wchar_t kLongestFile[] = L"tarvel-check.exe";
const wchar_t* const kProductFiles[] = {kProgramFile, kLongestFile};

// A folder equal to its own volume path, however it is written: its permissions are the
// whole drive's, or the whole mounted volume's.
bool isDriveRoot(const wchar_t* folder, const VolumeReader& reader)
{
    const size_t length = lengthWithoutClosingBackslashes(folder);
    if (length > 0 && pathRootLength(folder) >= length) {
        return true;
    }
    wchar_t volume[MAX_PATH] = {};
    return volumePathOf(folder, volume, reader) && samePath(volume, folder);
}

// Win32 makes "Tarvel " and "Tarvel." as "Tarvel": the folder locked under that name would
// not be the folder installed into.
bool hasPartEndingInSpaceOrDot(const wchar_t* folder)
{
    const size_t length = lengthWithoutClosingBackslashes(folder);
    for (size_t at = pathRootLength(folder); at < length; ++at) {
        const bool partEnds = at + 1 == length || folder[at + 1] == L'\\';
        if (partEnds && (folder[at] == L' ' || folder[at] == L'.')) {
            return true;
        }
    }
    return false;
}

bool isProductFile(const wchar_t* name)
{
    for (const wchar_t* file : kProductFiles) {
        if (samePath(name, file)) {
            return true;
        }
    }
    return false;
}

bool exists(const wchar_t* folder) { return GetFileAttributesW(folder) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

FolderLock::FolderLock()
    : system_(ntAuthoritySid(SECURITY_LOCAL_SYSTEM_RID)), administrators_(builtinGroupSid(DOMAIN_ALIAS_RID_ADMINS)),
      users_(builtinGroupSid(DOMAIN_ALIAS_RID_USERS))
{
    auto* acl = reinterpret_cast<PACL>(acl_);
    const DWORD inherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    ok_ = system_ && administrators_ && users_ && InitializeAcl(acl, sizeof acl_, ACL_REVISION) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, system_.get()) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, administrators_.get()) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, users_.get()) &&
          InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorOwner(&descriptor_, administrators_.get(), FALSE) &&
          SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!ok_ && GetLastError() == ERROR_SUCCESS) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
}

Status FolderLock::lock(const wchar_t* folder)
{
    if (!ok_) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // A copy, since the call takes a writable string; never a cut one, which names another folder.
    wchar_t path[MAX_PATH + 1] = {};
    if (std::wcslen(folder) > MAX_PATH) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    lstrcpynW(path, folder, MAX_PATH + 1);
    const Status locked =
        SetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, reinterpret_cast<PACL>(acl_), nullptr);
    // The owner may always rewrite the permissions: whoever made the folder before the
    // install must not keep that. Set apart, so that a refused owner keeps the lock.
    const Status owned = SetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, administrators_.get(),
                                               nullptr, nullptr, nullptr);
    return locked != ERROR_SUCCESS ? locked : owned;
}

Status FolderLock::create(const wchar_t* folder)
{
    if (!ok_) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor_, FALSE};
    return CreateDirectoryW(folder, &attributes) ? ERROR_SUCCESS : lastErrorStatus();
}

bool normalInstallFolder(const wchar_t* given, wchar_t (&folder)[MAX_PATH])
{
    // "\\?\E:\" is "E:\" and "\\?\UNC\server\share" is "\\server\share" to every other call
    // the package makes.
    const bool verbatimUnc = std::wcsncmp(given, L"\\\\?\\UNC\\", 8) == 0;
    const wchar_t* rest = verbatimUnc ? given + 8 : std::wcsncmp(given, L"\\\\?\\", 4) == 0 ? given + 4 : given;
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

bool realWayOfNearestFolder(const wchar_t* folder, wchar_t (&existing)[MAX_PATH + 1], ObjectKind& kind,
                            wchar_t (&real)[MAX_PATH])
{
    lstrcpynW(existing, folder, MAX_PATH + 1);
    kind = ObjectKind::Folder;
    while (!exists(existing) && toParentFolder(existing, kind)) {
    }
    return finalPath(existing, real) && !samePath(real, existing);
}

DriveKind installFolderDrive(const wchar_t* folder, const VolumeReader& reader)
{
    wchar_t volume[MAX_PATH] = {};
    const DriveKind written = driveKindOf(folder, volume, reader);
    wchar_t existing[MAX_PATH + 1] = {};
    ObjectKind kind = ObjectKind::Folder;
    wchar_t real[MAX_PATH] = {};
    if (written != DriveKind::LocalFixed || !realWayOfNearestFolder(folder, existing, kind, real)) {
        return written;
    }
    return driveKindOf(real, volume, reader);
}

FolderVerdict judgeInstallFolder(const wchar_t* folder, ForeignEntries& others, const VolumeReader& reader)
{
    others.count = 0;
    if (isDriveRoot(folder, reader)) {
        return FolderVerdict::DriveRoot;
    }
    if (hasPartEndingInSpaceOrDot(folder)) {
        return FolderVerdict::EndsInSpaceOrDot;
    }
    if (installFolderDrive(folder, reader) != DriveKind::LocalFixed) {
        return FolderVerdict::NotLocalFixed;
    }
    if (!programPathFits(folder)) {
        return FolderVerdict::TooLong;
    }
    wchar_t pattern[MAX_PATH + 2] = {};
    lstrcpynW(pattern, folder, MAX_PATH);
    withClosingBackslash(pattern, MAX_PATH + 2);
    appendText(pattern, MAX_PATH + 2, L"*");
    WIN32_FIND_DATAW found = {};
    const UniqueFindHandle search = ownSearch(FindFirstFileW(pattern, &found));
    if (!search) {
        // Missing, or nothing in it.
        return FolderVerdict::OwnFolder;
    }
    do {
        const wchar_t* name = found.cFileName;
        if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) {
            continue;
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !isProductFile(name)) {
            if (others.count < ForeignEntries::kNamed) {
                lstrcpynW(others.names[others.count], name, MAX_PATH);
            }
            ++others.count;
        }
    } while (FindNextFileW(search.get(), &found));
    return others.count == 0 ? FolderVerdict::OwnFolder : FolderVerdict::HoldsOthers;
}

const size_t kLongestInstallFolder = MAX_PATH - 1 - (sizeof kLongestFile / sizeof kLongestFile[0] - 1);

bool programPathFits(const wchar_t* folder)
{
    const size_t length = std::wcslen(folder);
    const size_t separator = endsWithBackslash(folder) ? 0 : 1;
    return length > 0 && length + separator <= kLongestInstallFolder;
}

size_t foldersToLock(const wchar_t* folder, wchar_t* list, size_t capacity)
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
    size_t needed = length + 1;
    for (size_t at = root; at < length; ++at) {
        if (path[at] == L'\\') {
            path[at] = L'\0';
            if (!exists(path)) {
                missingEnds[missing++] = at;
                needed += at + 1;
            }
            path[at] = L'\\';
        }
    }
    if (list == nullptr || capacity < needed) {
        return needed;
    }
    list[0] = L'\0';
    for (size_t index = 0; index < missing; ++index) {
        const size_t at = missingEnds[index];
        path[at] = L'\0';
        appendText(list, capacity, path);
        appendText(list, capacity, L"|");
        path[at] = L'\\';
    }
    appendText(list, capacity, path);
    return needed;
}
