#pragma once
// The one judge of whether a file may be started with administrators' rights: it must lie on a
// local fixed drive, and only administrators may change it or any folder above it, on the way
// it is written and on the real way behind links, subst and mapped drives. A program on a share
// is the file server's administrators' to replace (the BUILTIN\Administrators a descriptor names
// there are the server's), one on a removable drive whoever holds the medium's. The check, the
// package and the acceptance kit each ask it.
#include "common/ChangeRights.h"

enum class DriveKind {
    LocalFixed,
    Network,
    Removable,
    CdRom,
    RamDisk,
    Unknown,
    Unc,  // \\server\share\..., which names no drive of this machine
};

// "a local fixed drive", "a network drive", ...: the kind in words, for a line of the check or
// the install log.
const char* driveKindWords(DriveKind kind);

// What Windows answers for a volume: GetVolumePathNameW and GetDriveTypeW. In a test, Windows'
// own answers for drives that Wine cannot make (a folder on C: mounting a USB stick, say).
using VolumePathReader = BOOL (*)(const wchar_t* path, wchar_t* volume, DWORD capacity);
using DriveTypeReader = UINT (*)(const wchar_t* volume);
BOOL readVolumePath(const wchar_t* path, wchar_t* volume, DWORD capacity);
UINT readDriveType(const wchar_t* volume);
struct VolumeReader {
    VolumePathReader volumePath = readVolumePath;
    DriveTypeReader driveType = readDriveType;
};

// The volume path of path: its drive's root, or the mounted folder it lies in, with its
// closing backslash. False when Windows cannot tell it.
bool volumePathOf(const wchar_t* path, wchar_t (&volume)[MAX_PATH], const VolumeReader& reader = VolumeReader());

// The kind of drive that holds path; volume receives its volume path (path itself when there
// is none to tell).
DriveKind driveKindOf(const wchar_t* path, wchar_t (&volume)[MAX_PATH], const VolumeReader& reader = VolumeReader());

// How the judge reads the machine: the rights of each object, the volumes, and whether the real
// way behind a link can be asked (GetFinalPathNameByHandleW, from Windows 6.0 on). Before that a
// folder on the way that is a link, junction or mounted folder may lead anywhere: it is refused.
struct StartJudge {
    Judge rights;
    VolumeReader volumes;
    bool followsLinks = true;
};
// The machine's own.
StartJudge machineStartJudge();

extern const char kUnfollowedLink[];  // "a link the check cannot follow before Windows Vista"

// One thing the judge looked at, on the written way or the real one: the drive, then the file
// and each folder above it up to the drive's root.
struct StartFinding {
    const wchar_t* path = L"";  // the volume path for the drive, else the object
    bool realWay = false;
    bool isDrive = false;
    DriveKind drive = DriveKind::LocalFixed;  // for the drive
    ObjectKind kind = ObjectKind::File;       // for an object
    Changer changer;                          // for an object: who else may change it
    bool unfollowedLink = false;              // for a folder before 6.0: a link it cannot follow
    bool trusted = false;
};

// Judges path (a program: File; an install folder: Folder) on its written way, then on its real
// way when that differs: visit(finding) for each thing looked at, which answers false to stop.
// ERROR_SUCCESS, else the status of a descriptor that could not be read, which ends the walk.
using StartVisit = bool (*)(void* context, const StartFinding& finding);
Status judgeStart(const wchar_t* path, ObjectKind kind, const StartJudge& judge, StartVisit visit, void* context);

template <typename Visit>
Status judgeStart(const wchar_t* path, ObjectKind kind, const StartJudge& judge, Visit visit)
{
    return judgeStart(
        path, kind, judge,
        [](void* context, const StartFinding& finding) { return (*static_cast<Visit*>(context))(finding); }, &visit);
}

class TextBuilder;

// Asks the judge about a program (File) or a folder: true when it may be started from, else
// false with why in reason, in words for people: "it lies on a network drive, N:\\", "C:\\Tools
// is renamed also by Users", "its permissions could not be read, error 5". A descriptor that
// cannot be read trusts nothing.
bool trustedToStart(const wchar_t* path, ObjectKind kind, const StartJudge& judge, TextBuilder& reason);
