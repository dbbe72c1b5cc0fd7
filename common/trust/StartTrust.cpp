#include "common/trust/Trust.h"

#include "common/platform/Owners.h"
#include "common/platform/Paths.h"
#include "common/platform/SystemFacts.h"
#include "common/text/Text.h"
#include "common/text/TextLine.h"

#include <cwchar>

const char kUnfollowedLink[] = "a link the check cannot follow before Windows Vista";

const char* driveKindWords(DriveKind kind)
{
    switch (kind) {
        case DriveKind::LocalFixed:
            return "a local fixed drive";
        case DriveKind::Network:
            return "a network drive";
        case DriveKind::Removable:
            return "a removable drive";
        case DriveKind::CdRom:
            return "a CD-ROM drive";
        case DriveKind::RamDisk:
            return "a RAM disk";
        case DriveKind::Unknown:
            break;
        case DriveKind::Unc:
            return "a network share (a UNC path)";
    }
    return "a drive of unknown kind";
}

BOOL readVolumePath(const wchar_t* path, wchar_t* volume, DWORD capacity)
{
    // Looked up, so that a release without it still starts the program; there the drive's
    // root is all a volume can be.
    using Reader = BOOL(WINAPI*)(LPCWSTR, LPWSTR, DWORD);
    const auto reader = reinterpret_cast<Reader>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "GetVolumePathNameW")));
    if (reader != nullptr) {
        return reader(path, volume, capacity);
    }
    const size_t root = pathRootLength(path);
    if (root == 0 || root >= capacity) {
        return FALSE;
    }
    lstrcpynW(volume, path, static_cast<int>(root) + 1);
    return TRUE;
}

UINT readDriveType(const wchar_t* volume) { return GetDriveTypeW(volume); }

namespace {

const wchar_t kVerbatimUnc[] = L"\\\\?\\UNC\\";

bool isUncPath(const wchar_t* path)
{
    if (std::wcsncmp(path, kVerbatimUnc, 8) == 0) {
        return true;
    }
    // "\\?\C:\..." and "\\.\C:\..." name a drive of this machine; "\\server\share" does not.
    return path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.';
}

// The share a UNC path lies on as it is written, "\\server\share\" or its "\\?\UNC\"
// spelling: what stands for its volume.
void uncShare(const wchar_t* path, wchar_t (&share)[MAX_PATH])
{
    const bool verbatim = std::wcsncmp(path, kVerbatimUnc, 8) == 0;
    wchar_t plain[MAX_PATH] = L"\\\\";
    lstrcpynW(plain + 2, verbatim ? path + 8 : path + 2, MAX_PATH - 2);
    const size_t length = (verbatim ? 6 : 0) + pathRootLength(plain);
    lstrcpynW(share, path, static_cast<int>(length < MAX_PATH ? length + 1 : MAX_PATH));
}

}  // namespace

bool volumePathOf(const wchar_t* path, wchar_t (&volume)[MAX_PATH], const VolumeReader& reader)
{
    volume[0] = L'\0';
    if (!reader.volumePath(path, volume, MAX_PATH) || volume[0] == L'\0') {
        return false;
    }
    return withClosingBackslash(volume, MAX_PATH);
}

DriveKind driveKindOf(const wchar_t* path, wchar_t (&volume)[MAX_PATH], const VolumeReader& reader)
{
    if (isUncPath(path)) {
        uncShare(path, volume);
        return DriveKind::Unc;
    }
    if (!volumePathOf(path, volume, reader)) {
        lstrcpynW(volume, path, MAX_PATH);
        return DriveKind::Unknown;
    }
    // A share mapped to a folder, or a volume path Windows answers for a share.
    if (isUncPath(volume)) {
        return DriveKind::Unc;
    }
    switch (reader.driveType(volume)) {
        case DRIVE_FIXED:
            return DriveKind::LocalFixed;
        case DRIVE_REMOTE:
            return DriveKind::Network;
        case DRIVE_REMOVABLE:
            return DriveKind::Removable;
        case DRIVE_CDROM:
            return DriveKind::CdRom;
        case DRIVE_RAMDISK:
            return DriveKind::RamDisk;
        default:
            return DriveKind::Unknown;
    }
}

StartReader machineStartReader()
{
    StartReader reader;
    reader.rights = machineRightsReader();
    reader.followsLinks = isVistaOrLater();
    return reader;
}

namespace {

bool isLink(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The drive, then the file and every folder above it, on one way; stopped when visit said so.
Status judgeWay(const wchar_t* path, ObjectKind kind, bool realWay, const StartReader& reader, StartVisit visit,
                void* context, bool& stopped)
{
    wchar_t volume[MAX_PATH] = {};
    StartFinding drive;
    drive.realWay = realWay;
    drive.isDrive = true;
    drive.drive = driveKindOf(path, volume, reader.volumes);
    drive.path = volume;
    drive.trusted = drive.drive == DriveKind::LocalFixed;
    stopped = !visit(context, drive);
    if (stopped) {
        return ERROR_SUCCESS;
    }
    Status failure = ERROR_SUCCESS;
    walkUp(path, kind, reader.rights, [&](const wchar_t* at, ObjectKind atKind, Status status, const Changer& changer) {
        if (status != ERROR_SUCCESS) {
            failure = status;
            return false;
        }
        StartFinding object;
        object.path = at;
        object.realWay = realWay;
        object.kind = atKind;
        object.changer = changer;
        object.unfollowedLink = !reader.followsLinks && atKind != ObjectKind::File && isLink(at);
        object.trusted = !changer.found && !object.unfollowedLink;
        stopped = !visit(context, object);
        return !stopped;
    });
    return failure;
}

}  // namespace

Status judgeStart(const wchar_t* path, ObjectKind kind, const StartReader& reader, StartVisit visit, void* context)
{
    bool stopped = false;
    const Status failure = judgeWay(path, kind, false, reader, visit, context, stopped);
    // Behind a link, a junction, a mounted folder or a subst drive lie other folders, maybe on
    // another drive: whoever may rename one of those puts another program in this one's place.
    wchar_t real[MAX_PATH] = {};
    if (failure != ERROR_SUCCESS || stopped || !finalPath(path, real) || samePath(real, path)) {
        return failure;
    }
    return judgeWay(real, kind, true, reader, visit, context, stopped);
}

bool trustedToStart(const wchar_t* path, ObjectKind kind, const StartReader& reader, TextBuilder& reason)
{
    bool trusted = true;
    const Status status = judgeStart(path, kind, reader, [&](const StartFinding& finding) {
        trusted = finding.trusted;
        if (trusted) {
            return true;
        }
        const char* way = finding.realWay ? " (on its real path)" : "";
        if (finding.isDrive) {
            reason << "it lies on " << driveKindWords(finding.drive) << ", " << finding.path << way;
        } else if (finding.unfollowedLink) {
            reason << finding.path << way << " is " << kUnfollowedLink;
        } else {
            reason << finding.path << way << " is " << changeWords(finding.changer.how) << " "
                   << finding.changer.account;
        }
        return false;
    });
    if (status != ERROR_SUCCESS && trusted) {
        reason << "its permissions could not be read, error " << static_cast<unsigned long>(status);
        return false;
    }
    return trusted;
}

bool trustedHeldFile(const wchar_t* path, HANDLE held, const StartReader& reader, TextBuilder& reason)
{
    if (!trustedToStart(path, ObjectKind::File, reader, reason)) {
        return false;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const Status read = reader.rights.readHeld(held, &descriptor);
    const UniqueLocal owned(descriptor);
    if (read != ERROR_SUCCESS) {
        reason << "the permissions of the file held open could not be read, error " << static_cast<unsigned long>(read);
        return false;
    }
    const Changer changer = untrustedChanger(descriptor, ObjectKind::File, reader.rights);
    if (changer.found) {
        reason << "the file held open is " << changeWords(changer.how) << " " << changer.account;
    }
    return !changer.found;
}
