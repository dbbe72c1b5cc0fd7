#pragma once
// The one judge of trust, which the check, the package and the acceptance kit ask: who besides
// administrators may change a file or folder (whoever can replace a program that starts at
// logon, or the folders it lies in, runs their own program there), and whether a file may be
// started with administrators' rights: it must lie on a local fixed drive, and only
// administrators may change it or any folder above it, on the way it is written and on the
// real way behind links, subst and mapped drives. A program on a share is the file server's
// administrators' to replace (the BUILTIN\Administrators a descriptor names there are the
// server's), one on a removable drive whoever holds the medium's.
#include <windows.h>

#include "common/platform/Paths.h"
#include "common/platform/Status.h"

// How someone other than administrators may change an object: a verdict code compares; its
// words are made only where a line is written (changeWords).
enum class ChangeWay {
    None,
    OwnedBy,           // "owned by"
    RenamedBy,         // "renamed also by": a folder renamed or emptied
    DeletedBy,         // "deleted also by": a file
    ChangedBy,         // "changed also by"
    RepermissionedBy,  // "re-permissioned also by": its permissions or owner
    LinkOwnedBy,       // "a link owned by"
    LinkChangedBy,     // "a link changed also by"
};
const char* changeWords(ChangeWay way);

struct Changer {
    bool found = false;
    ChangeWay how = ChangeWay::None;
    wchar_t account[256] = {};  // the account's name, or its SID when it has none
};

// Reads path's owner and DACL into a descriptor from LocalAlloc.
using DescriptorReader = Status (*)(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor);
Status readDescriptor(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor);
// The same of a reparse point itself, opened without following it (FILE_FLAG_OPEN_REPARSE_POINT):
// whoever may change a link may point it elsewhere after any judgement of its target.
Status readLinkDescriptor(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor);
// The same of the object an open handle holds (READ_CONTROL): the very file a caller keeps
// open, whatever its name leads to since.
Status readHandleDescriptor(HANDLE object, PSECURITY_DESCRIPTOR* descriptor);

// How objects are judged: where each path's descriptor comes from (the file system, or in a
// test Windows' own descriptors, which Wine cannot keep), and whether Power Users count as
// administrators: before Windows 6.0 they are, by design, able to change Program Files and
// the system; from 6.0 on a member is an ordinary user.
using HandleDescriptorReader = Status (*)(HANDLE object, PSECURITY_DESCRIPTOR* descriptor);
struct RightsReader {
    DescriptorReader read = readDescriptor;
    // The descriptor of the very file a caller holds open.
    HandleDescriptorReader readHeld = readHandleDescriptor;
    // The own descriptor of a link, a junction or a mounted folder, not its target's:
    // ERROR_NOT_A_REPARSE_POINT for anything else.
    DescriptorReader readLink = readLinkDescriptor;
    bool powerUsersTrusted = false;
};
// The machine's own: its file system, its release.
RightsReader machineRightsReader();

// The first untrusted account that owns the object or that an allow entry for the object
// itself gives a changing right. Trusted: SYSTEM, Administrators, TrustedInstaller, CREATOR
// OWNER (a placeholder), the users who are members of Administrators, and Power Users where
// reader says so.
Changer untrustedChanger(PSECURITY_DESCRIPTOR descriptor, ObjectKind kind, const RightsReader& reader = RightsReader());

// The first untrusted account that owns the object or that an allow entry for the object itself
// lets change its permissions or take its owner (WRITE_DAC, WRITE_OWNER, GENERIC_ALL): whoever
// holds a handle opened with those rights keeps them after the permissions are replaced.
Changer permissionsChanger(PSECURITY_DESCRIPTOR descriptor, const RightsReader& reader = RightsReader());

// Reads path's owner and permissions as reader reads them, and where path is a link (a symbolic
// link, a junction, a mounted folder) the link's own as well, which an untrusted owner or
// changer refuses in words of its own ("a link owned by"). ERROR_SUCCESS unless they could not
// be read.
Status untrustedChangerOf(const wchar_t* path, ObjectKind kind, Changer& changer, const RightsReader& reader);

bool isTrustedAccount(PSID sid, const RightsReader& reader = RightsReader());

// What the kit makes of a journal key as it finds it.
enum class JournalVerdict {
    Own,      // owned by Administrators or SYSTEM, and only they may change it
    Adopt,    // owned by them, holding no record: its permissions are made the kit's own
    Foreign,  // another account owns it, or it holds a record others could have written
};
struct JournalJudgement {
    JournalVerdict verdict = JournalVerdict::Own;
    Changer changer;  // for Adopt and Foreign: who else owns it or may change it
};

// Judges a key by its owner and DACL; holdsRecord: it is, or holds, a record of a run.
JournalJudgement judgeJournalKey(PSECURITY_DESCRIPTOR descriptor, bool holdsRecord);

// Judges start (a program: File; an install folder: Folder) and every folder above it up to
// the drive's root, top last: visit(path, kind, status, changer) for each, status saying
// whether its descriptor could be read; the walk stops when visit answers false.
template <typename Visit>
void walkUp(const wchar_t* start, ObjectKind kind, const RightsReader& reader, Visit visit)
{
    wchar_t path[MAX_PATH + 1] = {};
    if (lstrlenW(start) > MAX_PATH) {
        return;
    }
    lstrcpynW(path, start, MAX_PATH + 1);
    do {
        Changer changer;
        const Status status = untrustedChangerOf(path, kind, changer, reader);
        if (!visit(path, kind, status, changer)) {
            return;
        }
    } while (toParentFolder(path, kind));
}

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
struct StartReader {
    RightsReader rights;
    VolumeReader volumes;
    bool followsLinks = true;
};
// The machine's own.
StartReader machineStartReader();

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
Status judgeStart(const wchar_t* path, ObjectKind kind, const StartReader& reader, StartVisit visit, void* context);

template <typename Visit>
Status judgeStart(const wchar_t* path, ObjectKind kind, const StartReader& reader, Visit visit)
{
    return judgeStart(
        path, kind, reader,
        [](void* context, const StartFinding& finding) { return (*static_cast<Visit*>(context))(finding); }, &visit);
}

class TextBuilder;

// Asks the judge about a program (File) or a folder: true when it may be started from, else
// false with why in reason, in words for people: "it lies on a network drive, N:\\", "C:\\Tools
// is renamed also by Users", "its permissions could not be read, error 5". A descriptor that
// cannot be read trusts nothing.
bool trustedToStart(const wchar_t* path, ObjectKind kind, const StartReader& reader, TextBuilder& reason);
// The same for a file the caller holds open to start or install it: its way as trustedToStart
// judges it, and the descriptor of the very file the handle holds, whatever its name leads to
// since. The package and the kit ask it alike, and say its reason in the same words.
bool trustedHeldFile(const wchar_t* path, HANDLE held, const StartReader& reader, TextBuilder& reason);
