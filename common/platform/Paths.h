#pragma once
// Paths as Windows reads them, each rule once: the part of a path that no rename can change,
// the folder that holds a path, a closing backslash, whether two paths name one object, the
// full path, and the program a command line starts.
#include <windows.h>

#include <cstddef>

// Where an object lies on the way up from a start-up's program to its drive's root.
enum class ObjectKind {
    File,    // the program a start-up starts
    Folder,  // the folder that holds it: a file added beside the program counts
    // A folder further up: only what renames, deletes or re-permissions the way down counts;
    // adding a file or folder next to it replaces nothing.
    Above,
    // A drive's root: everyone may add folders to a standard one; only the rights that
    // rename or delete what it holds count there.
    Root,
};

// The part of a path that no rename can change: "C:\\" (or "C:"), "\\\\server\\share\\"; 0 for a
// relative path.
size_t pathRootLength(const wchar_t* path);

// Whether path is taken from a current folder: no root at all, or a drive letter without its
// backslash ("C:tarvel.exe", relative to the current folder of drive C:).
bool isRelativePath(const wchar_t* path);

// The length of path without its closing backslashes; a root keeps its own.
size_t lengthWithoutClosingBackslashes(const wchar_t* path);

// Whether path ends with a backslash, as a folder named for appending a name does.
bool endsWithBackslash(const wchar_t* path);
// Gives path its closing backslash when it has none; false, with path unchanged, when the
// backslash does not fit capacity (characters, the NUL included).
bool withClosingBackslash(wchar_t* path, size_t capacity);

// Cuts path to the folder that holds it, closing backslashes aside. kind says what path was
// and receives what the holder is: the Folder of a File, a folder Above any folder, the Root
// of whatever the drive's root holds. False when nothing holds path (a root, a bare name).
bool toParentFolder(wchar_t* path, ObjectKind& kind);

// Whether two paths name one file or folder as the file system compares names: without
// regard to case, character by character (a linguistic comparison would take some different
// names for one), closing backslashes aside. An empty path names nothing.
bool samePath(const wchar_t* left, const wchar_t* right);

// The full path Windows makes of path (GetFullPathNameW): slashes as backslashes, "." and
// ".." resolved, a relative path taken from the current folder. False when it does not fit.
bool fullPath(const wchar_t* path, wchar_t (&full)[MAX_PATH]);

// Slashes as the backslashes Windows reads them as, except after "\\\\?\\", where Windows
// turns nothing.
void asWindowsReadsIt(wchar_t* path);

// An existing file, not a folder.
bool fileExists(const wchar_t* path);
// Anything at path: a file, a folder, a link, a device.
bool pathExists(const wchar_t* path);

// The program that CreateProcess starts for a command line given without an application
// name, as Explorer starts a Run value: a quoted program ends at its closing quote; an
// unquoted line is tried part by part, each ending at a space or a tab, the first that names an
// existing file winning, else the whole line. A name without an extension gets ".exe", as
// CreateProcess searches it. Slashes are read as backslashes, except after "\\\\?\\", where
// Windows turns nothing. arguments points at what follows the program. False when the
// program's path is too long for Windows to start it.
bool programOfCommand(const wchar_t* command, wchar_t (&program)[MAX_PATH + 1], const wchar_t*& arguments);

// What Windows answers for a drive letter ("Q:"), as QueryDosDeviceW does: in a test, Windows'
// own answer for a kind of drive that Wine cannot make.
using DosDeviceReader = DWORD (*)(const wchar_t* drive, wchar_t* target, DWORD capacity);
DWORD readDosDevice(const wchar_t* drive, wchar_t* target, DWORD capacity);

// The path that still names the same file at the next logon: on a drive letter made with
// subst (its device "\\??\\C:\\sub"), which lasts one logon session, the folder behind it; on a
// mapped network drive ("\\Device\\LanmanRedirector\\;Q:0000...\\server\\share"), the UNC path.
// Any other path as it is. False when the result does not fit.
bool lastingPath(const wchar_t* path, wchar_t (&lasting)[MAX_PATH], DosDeviceReader read = readDosDevice);

// The final path of an existing file or folder, with links, junctions, mounted folders and
// subst drives followed: GetFinalPathNameByHandleW from Windows 6.0 on, before it the drive
// letter as lastingPath reads it. False when it cannot be had.
bool finalPath(const wchar_t* path, wchar_t (&final)[MAX_PATH], DosDeviceReader read = readDosDevice);

// Whether path lies in one of Windows' device namespaces rather than on a drive or a share:
// "\\\\.\\" anything, "\\??\\" anything, and "\\\\?\\" followed by anything but a drive ("X:\\") or
// "UNC\\" (GLOBALROOT, Volume{...}). Such a path names a device or a volume by a name of its
// own, which no other spelling of a folder shares.
bool isDevicePath(const wchar_t* path);

// Whether a part of path is a name Windows reserves for a device (CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM0-9, LPT0-9, COM and LPT with a superscript 1, 2 or 3), in any case, with or
// without an extension and spaces before it: Win32 opens the device, not a file of that name.
bool namesReservedDevice(const wchar_t* path);

// The one spelling of an install folder that the package judges, locks, installs into and
// remembers: the full path Windows makes of given ("\\?\" taken off before a drive or "UNC\",
// slashes as backslashes, "." and ".." resolved, a run of backslashes as one) with one closing
// backslash. A path in a device namespace ("\\?\GLOBALROOT\...", "\\.\C:\") keeps its prefix,
// so that the judge sees it for what it is. False when it does not fit.
bool normalInstallFolder(const wchar_t* given, wchar_t (&folder)[MAX_PATH]);

// Whether path holds a character no Windows name may hold (< > " | ? * or a control character)
// or a colon anywhere but after its drive letter: such a path names no folder, and a list of
// folders could take it for two.
bool holdsNamelessCharacter(const wchar_t* path);

// Whether two existing paths name one file or folder: the same volume and file index, else the
// same final path; "C:\\PROGRA~1" and "C:\\Program Files" are one.
bool sameObject(const wchar_t* left, const wchar_t* right);
