#include "installer/InstallFolder.h"

#include "common/trust/Trust.h"
#include "common/platform/WellKnownSids.h"

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
    // One handle, so that what is found to be a folder is what gets the lock.
    const UniqueHandle handle =
        ownHandle(CreateFileW(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) {
        return lastErrorStatus();
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(handle.get(), &information)) {
        return lastErrorStatus();
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return ERROR_DIRECTORY;
    }
    const Status locked =
        SetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, reinterpret_cast<PACL>(acl_), nullptr);
    // The owner may always rewrite the permissions: whoever made the folder before the
    // install must not keep that. Set apart, so that a refused owner keeps the lock.
    const Status owned = SetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                         administrators_.get(), nullptr, nullptr, nullptr);
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

namespace {

// Each entry of folder but "." and "..": visit(name, isFolder). False when folder cannot be
// listed (missing, or nothing in it).
template <typename Visit>
bool forEachEntry(const wchar_t* folder, Visit visit)
{
    wchar_t pattern[MAX_PATH + 2] = {};
    lstrcpynW(pattern, folder, MAX_PATH);
    withClosingBackslash(pattern, MAX_PATH + 2);
    appendText(pattern, MAX_PATH + 2, L"*");
    WIN32_FIND_DATAW found = {};
    const UniqueFindHandle search = ownSearch(FindFirstFileW(pattern, &found));
    if (!search) {
        return false;
    }
    do {
        const wchar_t* name = found.cFileName;
        if (std::wcscmp(name, L".") != 0 && std::wcscmp(name, L"..") != 0) {
            visit(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        }
    } while (FindNextFileW(search.get(), &found));
    return true;
}

void addEntry(ForeignEntries& others, const wchar_t* name)
{
    if (others.count < ForeignEntries::kNamed) {
        lstrcpynW(others.names[others.count], name, MAX_PATH);
    }
    ++others.count;
}

// The attributes of what lies at folder, its closing backslash aside; INVALID_FILE_ATTRIBUTES
// when nothing does.
DWORD attributesOf(const wchar_t* folder)
{
    wchar_t path[MAX_PATH] = {};
    lstrcpynW(path, folder, MAX_PATH);
    path[lengthWithoutClosingBackslashes(path)] = L'\0';
    return GetFileAttributesW(path);
}

// The folders above the install folder, from the nearest that exists up, on the written and
// the real way: whoever may rename, delete or re-permission one of them can put another folder
// in the install folder's place after the lock. The install folder itself gets the lock.
bool judgeWayUp(const wchar_t* folder, const StartReader& judge, FolderFindings& findings)
{
    wchar_t existing[MAX_PATH + 1] = {};
    ObjectKind kind = ObjectKind::Folder;
    wchar_t real[MAX_PATH] = {};
    realWayOfNearestFolder(folder, existing, kind, real);
    bool open = false;
    const Status status = judgeStart(existing, kind, judge, [&](const StartFinding& finding) {
        if (finding.isDrive || finding.kind == ObjectKind::Folder || finding.trusted) {
            return true;
        }
        open = true;
        lstrcpynW(findings.above, finding.path, MAX_PATH + 1);
        findings.aboveOnRealWay = finding.realWay;
        if (finding.unfollowedLink) {
            findings.whyAbove << kUnfollowedLink;
        } else {
            findings.whyAbove << finding.changer.how << " " << finding.changer.account;
        }
        return false;
    });
    if (status != ERROR_SUCCESS && !open) {
        // Unread, nothing above may be trusted.
        lstrcpynW(findings.above, existing, MAX_PATH + 1);
        findings.whyAbove << "of permissions that could not be read, error " << static_cast<unsigned long>(status);
        open = true;
    }
    return !open;
}

}  // namespace

void judgeFolderContents(const wchar_t* folder, const wchar_t* expectedFolder, ForeignEntries& others,
                         const RightsReader& judge)
{
    forEachEntry(folder, [&](const wchar_t* name, bool isFolder) {
        if (isFolder) {
            if (expectedFolder == nullptr || !samePath(name, expectedFolder)) {
                addEntry(others, name);
            }
            return;
        }
        // A file is the install's to take over only when no one but administrators can have
        // put it there or changed it since.
        wchar_t path[MAX_PATH + 1] = {};
        lstrcpynW(path, folder, MAX_PATH);
        Changer changer;
        if (!withClosingBackslash(path, MAX_PATH + 1) || !appendText(path, MAX_PATH + 1, name) ||
            untrustedChangerOf(path, ObjectKind::File, changer, judge) != ERROR_SUCCESS || changer.found) {
            addEntry(others, name);
        }
    });
}

FolderVerdict judgeInstallFolder(const wchar_t* folder, bool installedHere, FolderFindings& findings,
                                 const StartReader& judge)
{
    findings.others.count = 0;
    if (isDevicePath(folder)) {
        return FolderVerdict::DevicePath;
    }
    if (namesReservedDevice(folder)) {
        return FolderVerdict::ReservedName;
    }
    if (isDriveRoot(folder, judge.volumes)) {
        return FolderVerdict::DriveRoot;
    }
    if (hasPartEndingInSpaceOrDot(folder)) {
        return FolderVerdict::EndsInSpaceOrDot;
    }
    const DWORD attributes = attributesOf(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return FolderVerdict::NotAFolder;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return FolderVerdict::IsALink;
    }
    if (installFolderDrive(folder, judge.volumes) != DriveKind::LocalFixed) {
        return FolderVerdict::NotLocalFixed;
    }
    if (!programPathFits(folder)) {
        return FolderVerdict::TooLong;
    }
    if (!judgeWayUp(folder, judge, findings)) {
        return FolderVerdict::OpenAbove;
    }
    // The installed product's folder was locked at install: while only administrators can
    // change it, they alone can have added what it holds.
    Changer changer;
    if (installedHere && untrustedChangerOf(folder, ObjectKind::Folder, changer, judge.rights) == ERROR_SUCCESS &&
        !changer.found) {
        forEachEntry(folder, [&](const wchar_t* name, bool isFolder) {
            if (isFolder || !isProductFile(name)) {
                addEntry(findings.others, name);
            }
        });
        return FolderVerdict::OwnFolder;
    }
    judgeFolderContents(folder, nullptr, findings.others, judge.rights);
    return findings.others.count == 0 ? FolderVerdict::OwnFolder : FolderVerdict::HoldsOthers;
}

AppearedFolder judgeAppearedFolder(const wchar_t* folder, const wchar_t* expectedFolder, const RightsReader& judge)
{
    AppearedFolder appeared;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const Status status = judge.read(folder, &descriptor);
    const UniqueLocal owned(descriptor);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (status != ERROR_SUCCESS || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
        appeared.refused = true;
        appeared.owner.found = true;
        appeared.owner.how = "owned by";
        lstrcpynW(appeared.owner.account, L"an owner that could not be read", 256);
        return appeared;
    }
    if (!isTrustedAccount(owner, judge)) {
        // Only the owner counts here: the lock replaces the permissions of a folder that
        // administrators made.
        appeared.owner = untrustedChanger(descriptor, ObjectKind::Folder, judge);
        appeared.refused = true;
        return appeared;
    }
    judgeFolderContents(folder, expectedFolder, appeared.others, judge);
    appeared.refused = appeared.others.count != 0;
    return appeared;
}

const size_t kLongestInstallFolder = MAX_PATH - 1 - (sizeof kLongestFile / sizeof kLongestFile[0] - 1);

bool programPathFits(const wchar_t* folder)
{
    const size_t length = std::wcslen(folder);
    const size_t separator = endsWithBackslash(folder) ? 0 : 1;
    return length > 0 && length + separator <= kLongestInstallFolder;
}

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
            if (!exists(path)) {
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
    const LockEntry last = !exists(path) ? LockEntry::Missing : installed ? LockEntry::Installed : LockEntry::Judged;
    const wchar_t lastEntry[] = {static_cast<wchar_t>(last), L'\0'};
    appendText(list, capacity, lastEntry);
    appendText(list, capacity, path);
    return needed;
}
