#include "common/trust/FolderTrust.h"

#include "common/platform/Owners.h"
#include "common/platform/Paths.h"
#include "common/product/TarvelProgram.h"
#include "common/text/Text.h"

#include <cwchar>

namespace {

// The longest name of what the package installs, which sets how long its folder may be.
const wchar_t kLongestFile[] = L"tarvel-check.exe";

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

}  // namespace

bool realWayOfNearestFolder(const wchar_t* folder, wchar_t (&existing)[MAX_PATH + 1], ObjectKind& kind,
                            wchar_t (&real)[MAX_PATH])
{
    lstrcpynW(existing, folder, MAX_PATH + 1);
    kind = ObjectKind::Folder;
    while (!pathExists(existing) && toParentFolder(existing, kind)) {
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
bool judgeWayUp(const wchar_t* folder, const StartReader& reader, FolderFindings& findings)
{
    wchar_t existing[MAX_PATH + 1] = {};
    ObjectKind kind = ObjectKind::Folder;
    wchar_t real[MAX_PATH] = {};
    realWayOfNearestFolder(folder, existing, kind, real);
    bool open = false;
    const Status status = judgeStart(existing, kind, reader, [&](const StartFinding& finding) {
        if (finding.isDrive || finding.kind == ObjectKind::Folder || finding.trusted) {
            return true;
        }
        open = true;
        lstrcpynW(findings.above, finding.path, MAX_PATH + 1);
        findings.aboveOnRealWay = finding.realWay;
        if (finding.unfollowedLink) {
            findings.whyAbove << kUnfollowedLink;
        } else {
            findings.whyAbove << changeWords(finding.changer.how) << " " << finding.changer.account;
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

namespace {

// The package's file of that name, or null.
const PackageFile* packageFileNamed(const PackageFiles& package, const wchar_t* name)
{
    for (size_t index = 0; index < package.count && index < PackageFiles::kMost; ++index) {
        if (samePath(package.files[index].name, name)) {
            return &package.files[index];
        }
    }
    return nullptr;
}

// The owner and who may re-permission a folder found: ERROR_SUCCESS with changer set, else why
// its descriptor could not be read.
Status folderPermissionsChanger(const wchar_t* folder, const RightsReader& reader, Changer& changer)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const Status status = reader.read(folder, &descriptor);
    const UniqueLocal owned(descriptor);
    if (status == ERROR_SUCCESS) {
        changer = permissionsChanger(descriptor, reader);
    }
    return status;
}

}  // namespace

bool isPackageOwnFile(const wchar_t* path, const PackageFile& file, const wchar_t* version)
{
    const UniqueHandle opened =
        ownHandle(CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!opened || !GetFileInformationByHandle(opened.get(), &information) || information.nNumberOfLinks != 1 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || information.nFileSizeHigh != 0 ||
        information.nFileSizeLow != file.size) {
        return false;
    }
    wchar_t stated[kVersionText] = {};
    return isTarvelProgram(path, stated, file.name) && std::wcscmp(stated, version) == 0;
}

void judgeFolderContents(const wchar_t* folder, const wchar_t* expectedFolder, const PackageFiles& package,
                         ForeignEntries& others, ForeignEntries& otherFiles, const RightsReader& reader)
{
    forEachEntry(folder, [&](const wchar_t* name, bool isFolder) {
        if (isFolder) {
            if (expectedFolder == nullptr || !samePath(name, expectedFolder)) {
                addEntry(others, name);
            }
            return;
        }
        // A file is the install's to take over only when no one but administrators can have
        // put it there or changed it since; one of the package's names, only when it is exactly
        // the package's own, which Windows Installer would otherwise keep in its place.
        wchar_t path[MAX_PATH + 1] = {};
        lstrcpynW(path, folder, MAX_PATH);
        Changer changer;
        if (!withClosingBackslash(path, MAX_PATH + 1) || !appendText(path, MAX_PATH + 1, name) ||
            untrustedChangerOf(path, ObjectKind::File, changer, reader) != ERROR_SUCCESS || changer.found) {
            addEntry(others, name);
            return;
        }
        const PackageFile* file = packageFileNamed(package, name);
        if (file != nullptr && !isPackageOwnFile(path, *file, package.version)) {
            addEntry(otherFiles, name);
        }
    });
}

namespace {

// What a path's own form and place say of it as an install folder, before what it holds:
// OwnFolder when nothing refuses it there.
FolderVerdict judgeWhereItIs(const wchar_t* folder, DWORD attributes, FolderFindings& findings,
                             const StartReader& reader)
{
    if (isDevicePath(folder)) {
        return FolderVerdict::DevicePath;
    }
    if (namesReservedDevice(folder)) {
        return FolderVerdict::ReservedName;
    }
    if (holdsNamelessCharacter(folder)) {
        return FolderVerdict::NamelessCharacter;
    }
    if (isDriveRoot(folder, reader.volumes)) {
        return FolderVerdict::DriveRoot;
    }
    if (hasPartEndingInSpaceOrDot(folder)) {
        return FolderVerdict::EndsInSpaceOrDot;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return FolderVerdict::NotAFolder;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return FolderVerdict::IsALink;
    }
    if (installFolderDrive(folder, reader.volumes) != DriveKind::LocalFixed) {
        return FolderVerdict::NotLocalFixed;
    }
    if (!programPathFits(folder)) {
        return FolderVerdict::TooLong;
    }
    return judgeWayUp(folder, reader, findings) ? FolderVerdict::OwnFolder : FolderVerdict::OpenAbove;
}

// A folder found: what it holds, then who owns it and may re-permission it, whose maker may
// hold a handle that keeps that right across the lock.
FolderVerdict judgeFoundFolder(const wchar_t* folder, const PackageFiles& package, FolderFindings& findings,
                               const RightsReader& reader)
{
    ForeignEntries otherFiles;
    judgeFolderContents(folder, nullptr, package, findings.others, otherFiles, reader);
    if (findings.others.count != 0) {
        return FolderVerdict::HoldsOthers;
    }
    if (otherFiles.count != 0) {
        findings.others = otherFiles;
        return FolderVerdict::HoldsOtherFile;
    }
    if (folderPermissionsChanger(folder, reader, findings.folder) != ERROR_SUCCESS) {
        findings.folder.found = true;
        findings.folder.how = ChangeWay::OwnedBy;
        lstrcpynW(findings.folder.account, L"an owner that could not be read", 256);
    }
    return findings.folder.found ? FolderVerdict::OthersOwnFolder : FolderVerdict::OwnFolder;
}

}  // namespace

FolderVerdict judgeInstallFolder(const wchar_t* folder, bool installedHere, const PackageFiles& package,
                                 FolderFindings& findings, const StartReader& reader)
{
    findings.others.count = 0;
    const DWORD attributes = attributesOf(folder);
    const FolderVerdict where = judgeWhereItIs(folder, attributes, findings, reader);
    if (where != FolderVerdict::OwnFolder || attributes == INVALID_FILE_ATTRIBUTES) {
        return where;
    }
    // The installed product's folder was locked at install: while only administrators can
    // change it, they alone can have added what it holds.
    Changer changer;
    if (installedHere && untrustedChangerOf(folder, ObjectKind::Folder, changer, reader.rights) == ERROR_SUCCESS &&
        !changer.found) {
        forEachEntry(folder, [&](const wchar_t* name, bool isFolder) {
            // An earlier version's files bear the package's names: the product's own too.
            if (isFolder || packageFileNamed(package, name) == nullptr) {
                addEntry(findings.others, name);
            }
        });
        return FolderVerdict::OwnFolder;
    }
    return judgeFoundFolder(folder, package, findings, reader.rights);
}

AppearedFolder judgeAppearedFolder(const wchar_t* folder, const wchar_t* expectedFolder, const PackageFiles& package,
                                   const RightsReader& reader)
{
    AppearedFolder appeared;
    const Status status = folderPermissionsChanger(folder, reader, appeared.owner);
    if (status != ERROR_SUCCESS) {
        appeared.refused = true;
        appeared.owner.found = true;
        appeared.owner.how = ChangeWay::OwnedBy;
        lstrcpynW(appeared.owner.account, L"an owner that could not be read", 256);
        return appeared;
    }
    // The lock replaces the permissions of a folder administrators made; one another account
    // owns, or that others may re-permission, its maker keeps.
    if (appeared.owner.found) {
        appeared.refused = true;
        return appeared;
    }
    judgeFolderContents(folder, expectedFolder, package, appeared.others, appeared.otherFiles, reader);
    appeared.refused = appeared.others.count != 0 || appeared.otherFiles.count != 0;
    return appeared;
}

const size_t kLongestInstallFolder = MAX_PATH - 1 - (sizeof kLongestFile / sizeof kLongestFile[0] - 1);

bool programPathFits(const wchar_t* folder)
{
    const size_t length = std::wcslen(folder);
    const size_t separator = endsWithBackslash(folder) ? 0 : 1;
    return length > 0 && length + separator <= kLongestInstallFolder;
}
