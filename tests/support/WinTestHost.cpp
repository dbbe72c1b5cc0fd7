#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <vector>

namespace host {

namespace {
std::wstring currentDirectory()
{
    wchar_t buffer[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, buffer);
    return buffer;
}
}  // namespace

namespace {
std::wstring windowsPathIn(const char* variable)
{
    const char* unixPath = std::getenv(variable);
    if (unixPath == nullptr) {
        ADD_FAILURE() << variable << " does not name the file under test";
        return std::wstring();
    }
    // Wine maps the Unix root to drive Z:.
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c != '\0'; ++c) {
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    return path;
}
}  // namespace

std::wstring tarvelExe() { return windowsPathIn("TARVEL_EXE"); }

std::wstring standInDll() { return windowsPathIn("STANDIN_DLL"); }

std::wstring tarvelPackage() { return windowsPathIn("TARVEL_MSI"); }

std::wstring tarvelNextPackage() { return windowsPathIn("TARVEL_MSI_NEXT"); }

std::wstring tarvelRebuiltPackage() { return windowsPathIn("TARVEL_MSI_REBUILD"); }

std::wstring tarvelFourthFieldPackage() { return windowsPathIn("TARVEL_MSI_FOURTH"); }

std::wstring tarvelCheck() { return windowsPathIn("TARVEL_CHECK"); }

std::wstring setupActionsDll() { return windowsPathIn("TARVEL_SETUP"); }

std::wstring plantedDll(const std::wstring& name) { return windowsPathIn("TARVEL_PLANTED") + L"\\" + name; }

std::string projectText(const char* folderVariable, const std::wstring& name)
{
    const std::wstring path = windowsPathIn(folderVariable) + L"\\" + name;
    return readText(std::string(path.begin(), path.end()).c_str());
}

std::wstring tarvelKit() { return windowsPathIn("TARVEL_KIT"); }

std::wstring doNothingExe() { return windowsPathIn("TARVEL_NOTHING"); }

std::wstring currentUserSid()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[256] = {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    const std::wstring sid = text != nullptr ? text : L"";
    LocalFree(text);
    return sid;
}

bool underWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void setWindowsVersion(const std::wstring& exeName, const wchar_t* version)
{
    writeString(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + exeName, L"Version", version);
}

std::wstring placeTarvel(const std::wstring& dir, const std::wstring& name)
{
    const int made = SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
    EXPECT_TRUE(made == ERROR_SUCCESS || made == ERROR_ALREADY_EXISTS) << made;
    const std::wstring target = dir + L"\\" + name;
    EXPECT_TRUE(CopyFileW(tarvelExe().c_str(), target.c_str(), FALSE)) << GetLastError();
    return target;
}

BOOL CALLBACK firstVersionLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found)
{
    *reinterpret_cast<WORD*>(found) = language;
    return FALSE;
}

void editVersionResource(const std::wstring& exe, const std::function<void(std::vector<BYTE>&)>& edit)
{
    std::vector<BYTE> version;
    WORD language = 0;
    if (HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        EnumResourceLanguagesW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), firstVersionLanguage,
                               reinterpret_cast<LONG_PTR>(&language));
        HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), language);
        const auto* bytes =
            found != nullptr ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
        if (bytes != nullptr) {
            version.assign(bytes, bytes + SizeofResource(module, found));
        }
        FreeLibrary(module);
    }
    edit(version);
    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    EXPECT_NE(nullptr, update) << GetLastError();
    EXPECT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), language, version.data(),
                                static_cast<DWORD>(version.size())));
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE)) << GetLastError();
}

std::wstring placeTarvelOfVersion(const std::wstring& dir, WORD major)
{
    const std::wstring exe = placeTarvel(dir);
    editVersionResource(exe, [major](std::vector<BYTE>& version) {
        // VS_FIXEDFILEINFO: its signature, then the structure's version, then the file version.
        const BYTE signature[] = {0xBD, 0x04, 0xEF, 0xFE};
        const auto at = std::search(version.begin(), version.end(), std::begin(signature), std::end(signature));
        EXPECT_NE(version.end(), at) << "no fixed file information in tarvel.exe";
        if (at != version.end()) {
            const DWORD most = static_cast<DWORD>(major) << 16;
            std::copy_n(reinterpret_cast<const BYTE*>(&most), 4, at + 8);
            std::fill_n(at + 12, 4, 0);
        }
    });
    return exe;
}

// Nests folders under C:\deep until the executable's path is exactly `length` characters.
std::wstring placeTarvelAtPathLength(size_t length)
{
    const std::wstring name = L"tarvel.exe";
    std::wstring dir = L"C:\\deep";
    while (dir.size() + 1 + name.size() + 101 <= length) {
        dir += L"\\" + std::wstring(100, L'd');
    }
    const size_t last = length - dir.size() - 1 - name.size() - 1;
    dir += L"\\" + std::wstring(last, L'e');
    // Folders this deep are made with the long-path form of the names.
    std::wstring made;
    size_t start = 0;
    while (true) {
        const size_t slash = dir.find(L'\\', start);
        made = dir.substr(0, slash);
        if (made.size() > 2) {
            CreateDirectoryW((L"\\\\?\\" + made).c_str(), nullptr);
        }
        if (slash == std::wstring::npos) {
            break;
        }
        start = slash + 1;
    }
    const std::wstring exe = dir + L"\\" + name;
    EXPECT_EQ(length, exe.size());
    EXPECT_TRUE(CopyFileW(tarvelExe().c_str(), (L"\\\\?\\" + exe).c_str(), FALSE)) << GetLastError();
    return exe;
}

HANDLE startProgram(const std::wstring& path, const std::wstring& arguments, const std::wstring& workingDirectory)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    const std::wstring previous = currentDirectory();
    if (!workingDirectory.empty()) {
        SetCurrentDirectoryW(workingDirectory.c_str());
    }
    const BOOL started =
        CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    const DWORD error = GetLastError();
    SetCurrentDirectoryW(previous.c_str());
    if (!started) {
        ADD_FAILURE() << "cannot start the program: error " << error;
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD runProgram(const std::wstring& path, const std::wstring& arguments, const std::wstring& workingDirectory)
{
    const HANDLE process = startProgram(path, arguments, workingDirectory);
    if (process == nullptr) {
        return STILL_ACTIVE + 1;
    }
    WaitForSingleObject(process, INFINITE);
    DWORD status = STILL_ACTIVE + 1;
    GetExitCodeProcess(process, &status);
    CloseHandle(process);
    return status;
}

bool RegValue::isDword(DWORD expected) const
{
    DWORD value = 0;
    if (!present || type != REG_DWORD || data.size() != sizeof value) {
        return false;
    }
    CopyMemory(&value, data.data(), sizeof value);
    return value == expected;
}

std::wstring RegValue::text() const
{
    if (!present || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return L"<not a string>";
    }
    std::wstring value(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') {
        value.pop_back();
    }
    return value;
}

RegValue readValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view)
{
    RegValue result;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) {
        return result;
    }
    DWORD size = 0;
    if (RegQueryValueExW(opened, name.c_str(), nullptr, &result.type, nullptr, &size) == ERROR_SUCCESS) {
        result.data.resize(size);
        result.present =
            RegQueryValueExW(opened, name.c_str(), nullptr, &result.type, result.data.data(), &size) == ERROR_SUCCESS;
        result.data.resize(size);
    }
    RegCloseKey(opened);
    return result;
}

bool keyExists(HKEY root, const std::wstring& key, REGSAM view)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

namespace {
void writeValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD size,
                REGSAM view)
{
    HKEY opened = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &opened, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(opened, name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(opened);
}
}  // namespace

void writeDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value, REGSAM view)
{
    writeValue(root, key, name, REG_DWORD, &value, sizeof value, view);
}

void writeString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value, REGSAM view)
{
    writeValue(root, key, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), view);
}

void deleteValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE | view, &opened) == ERROR_SUCCESS) {
        RegDeleteValueW(opened, name.c_str());
        RegCloseKey(opened);
    }
}

void deleteTree(HKEY root, const std::wstring& key, REGSAM view)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | view, &opened) != ERROR_SUCCESS) {
        return;
    }
    RegDeleteTreeW(opened, nullptr);
    RegCloseKey(opened);
    RegDeleteKeyExW(root, key.c_str(), view, 0);
}

PathKind pathKind(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return PathKind::Missing;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

void clearPath(const std::wstring& path)
{
    RemoveDirectoryW(path.c_str());
    DeleteFileW(path.c_str());
    ASSERT_EQ(PathKind::Missing, pathKind(path)) << "cannot clear the path";
}

void removeTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    while (search != INVALID_HANDLE_VALUE) {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            SetFileAttributesW((path + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            removeTree(path + L"\\" + name);
        }
        if (!FindNextFileW(search, &found)) {
            FindClose(search);
            search = INVALID_HANDLE_VALUE;
        }
    }
    clearPath(path);
}

void makeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
    CloseHandle(file);
}

const wchar_t kWorldWritable[] = L"D:(A;OICI;FA;;;WD)";
const wchar_t kAdministratorsOnly[] = L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;WD)";

void setPermissions(const std::wstring& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    std::wstring target = path;
    EXPECT_EQ(
        static_cast<DWORD>(ERROR_SUCCESS),
        SetNamedSecurityInfoW(&target[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr))
        << "cannot set the permissions";
    LocalFree(descriptor);
}

namespace {

bool everyoneHas(const std::wstring& path, ACCESS_MASK rights)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot read the permissions";
        return false;
    }
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size);
    bool granted = dacl == nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        GetAce(dacl, i, &entry);
        const auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(const_cast<DWORD*>(&ace->SidStart), everyone) &&
            (ace->Mask & rights) != 0) {
            granted = true;
        }
    }
    LocalFree(descriptor);
    return granted;
}

}  // namespace

bool worldWritable(const std::wstring& path)
{
    return everyoneHas(path, FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL);
}

bool worldReadable(const std::wstring& path) { return everyoneHas(path, FILE_READ_DATA | GENERIC_READ | GENERIC_ALL); }

WineDebugRun::WineDebugRun(const std::wstring& path, const std::wstring& channels, const std::wstring& name)
    : output_(L"C:\\" + name + L".txt"), done_(L"C:\\" + name + L".done"), started_(GetTickCount())
{
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr) {
        ADD_FAILURE() << "WINEPREFIX is not set";
        return;
    }
    std::wstring driveC;
    for (const char* c = prefix; *c != '\0'; ++c) {
        driveC += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    driveC += L"/drive_c/";
    DeleteFileW(output_.c_str());
    DeleteFileW(done_.c_str());
    std::wstring command = L"/bin/sh -c \"PATH=/usr/bin:/bin WINEDEBUG=" + channels + L" wine '" + path + L"' 2>'" +
                           driveC + name + L".txt'; touch '" + driveC + name + L".done'\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start the shell: error " << GetLastError();
    }
    // The handles Wine gives for a Unix program are not the program's: closing them would close
    // another handle of this process.
}

std::string WineDebugRun::finish(DWORD timeoutMs)
{
    // Wine does not wait for a Unix program with the handle it gives.
    while (pathKind(done_) != PathKind::File && GetTickCount() - started_ < timeoutMs) {
        Sleep(50);
    }
    elapsed_ = GetTickCount() - started_;
    EXPECT_EQ(PathKind::File, pathKind(done_)) << "the program did not end within " << timeoutMs << " ms";
    std::string text;
    for (wchar_t c : output_) {
        text += static_cast<char>(c);
    }
    return readText(text.c_str());
}

namespace {

// A path on drive C: as the Unix side names it.
std::wstring unixPathOf(const std::wstring& path)
{
    const char* prefix = std::getenv("WINEPREFIX");
    std::wstring unix;
    for (const char* c = prefix != nullptr ? prefix : ""; *c != '\0'; ++c) {
        unix += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    // C: is the prefix's drive_c; the test prefixes' other drives lie under drives/.
    const wchar_t drive = static_cast<wchar_t>(std::towlower(path[0]));
    unix += (drive == L'c' ? std::wstring(L"/drive_c/") : L"/drives/" + std::wstring(1, drive) + L"/") + path.substr(3);
    for (wchar_t& c : unix) {
        c = c == L'\\' ? L'/' : c;
    }
    return unix;
}

// Runs a Unix shell command and waits until path is of kind, at most five seconds: Wine does
// not wait for a Unix program with the handle it gives.
void runShellUntil(const std::wstring& shellCommand, const std::wstring& path, PathKind kind)
{
    std::wstring command = L"/bin/sh -c \"" + shellCommand + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        << GetLastError();
    // For a Unix program Wine hands out handles that are not the program's: closing them closed
    // another handle of this process (GetComputerNameW's), so they are left alone.
    for (int tries = 0; tries < 100 && pathKind(path) != kind; ++tries) {
        Sleep(50);
    }
    ASSERT_EQ(kind, pathKind(path)) << "the shell did not do its work";
}

}  // namespace

void makeLink(const std::wstring& link, const std::wstring& target)
{
    runShellUntil(L"ln -s '" + unixPathOf(target) + L"' '" + unixPathOf(link) + L"'", link, PathKind::Directory);
}

void makeFileLink(const std::wstring& link, const std::wstring& target)
{
    runShellUntil(L"ln -s '" + unixPathOf(target) + L"' '" + unixPathOf(link) + L"'", link, PathKind::File);
}

void removeLink(const std::wstring& link)
{
    runShellUntil(L"rm -f '" + unixPathOf(link) + L"'", link, PathKind::Missing);
}

std::string wineDebugOutput(const std::wstring& path, const std::wstring& channels)
{
    return WineDebugRun(path, channels).finish();
}

std::string readText(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void makeDirectory(const std::wstring& path) { ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError(); }

}  // namespace host
