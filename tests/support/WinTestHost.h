#pragma once
// What the tests need of the Windows they run on: Wine's registry, file system and process
// start, read and written through the real API.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace host {

// The shipping tarvel.exe (TARVEL_EXE) and the Task Scheduler stand-in's DLL (STANDIN_DLL)
// as Windows paths; CTest hands in their Unix paths.
std::wstring tarvelExe();
std::wstring standInDll();
// The package of tarvel.exe (TARVEL_MSI), and one of a higher version (TARVEL_MSI_NEXT);
// a rebuild of the first (TARVEL_MSI_REBUILD) and one that differs in the fourth field alone
// (TARVEL_MSI_FOURTH).
std::wstring tarvelPackage();
std::wstring tarvelNextPackage();
std::wstring tarvelRebuiltPackage();
std::wstring tarvelFourthFieldPackage();
// tarvel-check.exe (TARVEL_CHECK), the acceptance kit's folder (TARVEL_KIT), and a program
// that does nothing at all (TARVEL_NOTHING).
std::wstring tarvelCheck();
std::wstring tarvelKit();
std::wstring doNothingExe();
// The package's custom actions, as built (TARVEL_SETUP).
std::wstring setupActionsDll();
// A DLL named as one of Windows' own (version.dll, netapi32.dll, msi.dll) that leaves
// C:\planted-dll-ran.txt when any of its code runs (TARVEL_PLANTED).
std::wstring plantedDll(const std::wstring& name);
// The text of a page of docs/ (TARVEL_DOCS), as bytes.
std::string projectText(const char* folderVariable, const std::wstring& name);
bool underWow64();
// The SID of the prefix's own user, a member of Administrators as on a factory machine.
std::wstring currentUserSid();

// Wine's per-application Windows version: win2k, winxp, win2003, vista, win7, win8, win10.
void setWindowsVersion(const std::wstring& exeName, const wchar_t* version);

// Copies tarvel.exe to dir (made with its parents) and answers the copy's full path.
std::wstring placeTarvel(const std::wstring& dir, const std::wstring& name = L"tarvel.exe");
// The same, its version resource saying version major.0.0.0 instead: another release's
// tarvel.exe, by its resource.
std::wstring placeTarvelOfVersion(const std::wstring& dir, WORD major);
// Rewrites exe's version resource (its first language's) as edit leaves the bytes.
void editVersionResource(const std::wstring& exe, const std::function<void(std::vector<BYTE>&)>& edit);

// Copies tarvel.exe into folders under C:\deep so that its path is exactly length characters.
std::wstring placeTarvelAtPathLength(size_t length);

// Starts a program and answers its process handle, which the caller closes (null when it
// could not be started). A relative path is taken from workingDirectory.
HANDLE startProgram(const std::wstring& path, const std::wstring& arguments = std::wstring(),
                    const std::wstring& workingDirectory = std::wstring());

// Starts a program, waits for it, and answers its exit status (STILL_ACTIVE + 1 when it
// could not be started).
DWORD runProgram(const std::wstring& path, const std::wstring& arguments = std::wstring(),
                 const std::wstring& workingDirectory = std::wstring());

// Runs a program with Wine's debug channels (WINEDEBUG) set as given and answers what Wine
// printed for it. Wine writes that to the Unix standard error, which no Windows handle
// reaches, so the program is started by a Unix shell that keeps it in a file.
std::string wineDebugOutput(const std::wstring& path, const std::wstring& channels);

// The same, started and not yet waited for: a program that takes its time runs beside others.
// Each run under its own name keeps its output apart.
class WineDebugRun {
public:
    WineDebugRun(const std::wstring& path, const std::wstring& channels, const std::wstring& name = L"wine-debug");
    // Waits until the program has ended, at most timeoutMs (a failure then), and answers what
    // Wine printed for it.
    std::string finish(DWORD timeoutMs = 30000);
    // When it was seen to end, in milliseconds since the start.
    DWORD elapsedMs() const { return elapsed_; }

private:
    std::wstring output_;
    std::wstring done_;
    DWORD started_ = 0;
    DWORD elapsed_ = 0;
};

struct RegValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool isDword(DWORD expected) const;
    std::wstring text() const;
};

// view is 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY.
RegValue readValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view = 0);
bool keyExists(HKEY root, const std::wstring& key, REGSAM view = 0);
void writeDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value, REGSAM view = 0);
void writeString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value,
                 REGSAM view = 0);
void deleteValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view = 0);
void deleteTree(HKEY root, const std::wstring& key, REGSAM view = 0);

enum class PathKind { Missing, Directory, File };
PathKind pathKind(const std::wstring& path);
// Makes link, on drive C:, a symbolic link to the folder target, on C: or a drive of the test
// prefixes (E:, N:, R:). To Wine that is a
// Unix link, which it follows as Windows follows a link (GetFinalPathNameByHandleW included).
void makeLink(const std::wstring& link, const std::wstring& target);
// The same for a file: link, on C:, a symbolic link to the file target.
void makeFileLink(const std::wstring& link, const std::wstring& target);
// Removes such a link, and nothing it names.
void removeLink(const std::wstring& link);

// Leaves nothing at path, file or directory.
void clearPath(const std::wstring& path);
// Leaves nothing at path, with whatever a folder there holds: what a fixture made.
void removeTree(const std::wstring& path);
void makeFile(const std::wstring& path);
void makeDirectory(const std::wstring& path);
// The whole of a text file, as bytes; empty when it cannot be read.
std::string readText(const char* path);

// Gives a file or folder the permissions of sddl ("D:..."); Wine keeps them as the Unix
// mode, where Everyone stands for the world bits.
void setPermissions(const std::wstring& path, const wchar_t* sddl);
// Anyone may write it: what a folder under C:\ on Windows 7, or a share, may grant.
extern const wchar_t kWorldWritable[];
// Only SYSTEM and Administrators may change it; everyone may read and start it.
extern const wchar_t kAdministratorsOnly[];
// Whether an entry of path lets Everyone write it.
bool worldWritable(const std::wstring& path);
// Whether an entry lets Everyone read it: the package's lock gives Everyone nothing, which
// Wine shows as a mode without the "other" bits.
bool worldReadable(const std::wstring& path);

}  // namespace host
