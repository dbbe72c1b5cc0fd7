// Paths as Windows reads them, on this prefix's file system and its CreateProcess.
#include "common/platform/Paths.h"
#include "common/platform/SystemFacts.h"
#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>
#include <delayimp.h>
#include <shlobj.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

// The walk from a start-up's program up to its drive's root, each folder once, the root with
// its backslash ("C:" names the current folder of drive C:) and told from a folder.
TEST(Paths, TheWalkUpNamesEveryFolderAboveAndEndsAtTheRoot)
{
    struct Step {
        std::wstring path;
        ObjectKind kind;
    };
    struct Case {
        const wchar_t* start;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {L"C:\\Up\\Low\\tarvel.exe",
         {{L"C:\\Up\\Low", ObjectKind::Folder}, {L"C:\\Up", ObjectKind::Above}, {L"C:\\", ObjectKind::Root}}},
        // An install folder as Windows Installer gives it: the closing backslash is cut first.
        {L"C:\\Up\\Low\\", {{L"C:\\Up", ObjectKind::Above}, {L"C:\\", ObjectKind::Root}}},
        {L"C:\\", {}},
        {L"\\\\server\\share\\Tarvel\\tarvel.exe",
         {{L"\\\\server\\share\\Tarvel", ObjectKind::Folder}, {L"\\\\server\\share\\", ObjectKind::Root}}},
    };
    for (const Case& item : cases) {
        const std::string start(item.start, item.start + std::wcslen(item.start));
        wchar_t path[MAX_PATH] = {};
        lstrcpynW(path, item.start, MAX_PATH);
        ObjectKind kind = item.start[std::wcslen(item.start) - 1] == L'\\' ? ObjectKind::Folder : ObjectKind::File;
        for (const Step& step : item.steps) {
            ASSERT_TRUE(toParentFolder(path, kind)) << start;
            EXPECT_EQ(step.path, std::wstring(path)) << start;
            EXPECT_EQ(step.kind, kind) << start << ": " << std::string(step.path.begin(), step.path.end());
        }
        EXPECT_FALSE(toParentFolder(path, kind)) << start << " walks on above its root";
    }
}

TEST(Paths, OnePathIsOneObjectWhateverItsCaseAndClosingBackslash)
{
    struct Case {
        const wchar_t* left;
        const wchar_t* right;
        bool same;
    };
    const Case cases[] = {
        {L"C:\\Program Files\\Tarvel\\", L"c:\\PROGRAM FILES\\tarvel", true},
        {L"C:\\Tools\\tarvel.exe", L"C:\\Tools\\tarvel.exe", true},
        {L"C:\\", L"c:\\", true},
        {L"C:\\Tools", L"C:\\Tool", false},
        {L"C:\\Tools\\a", L"C:\\Tools\\b", false},
        {L"", L"", false},
        // Longer than a chunk of the comparison, differing only at its end.
        {L"C:\\aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\\x",
         L"C:\\AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\\y", false},
        {L"C:\\aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\\x",
         L"C:\\AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\\X", true},
    };
    for (const Case& item : cases) {
        EXPECT_EQ(item.same, samePath(item.left, item.right))
            << std::string(item.left, item.left + std::wcslen(item.left)) << " | "
            << std::string(item.right, item.right + std::wcslen(item.right));
    }
    // The short and the long spelling of one folder name one object; two folders do not.
    wchar_t programFiles[MAX_PATH] = {};
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH));
    ASSERT_NE(0u, GetShortPathNameW(programFiles, shortName, MAX_PATH));
    ASSERT_FALSE(samePath(programFiles, shortName)) << "no short name to compare";
    EXPECT_TRUE(sameObject(shortName, programFiles));
    EXPECT_FALSE(sameObject(L"C:\\windows", programFiles));
    // A device or a volume by its own name, and a name Windows keeps for a device, in any part.
    for (const wchar_t* device : {L"\\\\.\\C:\\Tools", L"\\??\\C:\\Tools", L"\\\\?\\GLOBALROOT\\Device\\X",
                                  L"\\\\?\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}\\"}) {
        EXPECT_TRUE(isDevicePath(device)) << std::string(device, device + std::wcslen(device));
    }
    for (const wchar_t* path :
         {L"\\\\?\\C:\\Tools", L"\\\\?\\unc\\server\\share", L"\\\\server\\share", L"C:\\Tools"}) {
        EXPECT_FALSE(isDevicePath(path)) << std::string(path, path + std::wcslen(path));
    }
    EXPECT_TRUE(namesReservedDevice(L"C:\\a\\CoM\u00B3.tar.gz\\b"));
    EXPECT_TRUE(namesReservedDevice(L"C:\\prn"));
    EXPECT_FALSE(namesReservedDevice(L"C:\\COM\\LPT\\CONSOLE\\NUL_\\xprn"));
}

// What the program found in a command line is what CreateProcess starts for it here, in a
// suspended process whose image is read back; where CreateProcess starts nothing, the program
// found is no file.
TEST(Paths, TheProgramOfACommandIsTheOneCreateProcessStarts)
{
    const std::wstring root = L"C:\\paths-test";
    struct Case {
        std::vector<std::wstring> files;
        std::wstring command;
        const wchar_t* arguments;
    };
    const Case cases[] = {
        {{L"\\Program Files\\Tarvel\\tarvel.exe", L"\\Program.exe"},
         root + L"\\Program Files\\Tarvel\\tarvel.exe",
         L"Files\\Tarvel\\tarvel.exe"},
        {{L"\\Program Files\\Tarvel\\tarvel.exe"}, root + L"\\Program Files\\Tarvel\\tarvel.exe", L""},
        {{L"\\Ombrix Tarvel\\tarvel.exe", L"\\Ombrix.exe"},
         root + L"\\Ombrix Tarvel\\tarvel.exe",
         L"Tarvel\\tarvel.exe"},
        {{L"\\Ombrix Tarvel\\tarvel.exe", L"\\Ombrix\\"}, root + L"\\Ombrix Tarvel\\tarvel.exe", L""},
        {{L"\\Tools\\tarvel.exe"}, L"\"" + root + L"\\Tools\\tarvel\" /quiet", L"/quiet"},
        {{L"\\Tools\\tarvel.exe"}, root + L"\\Tools\\tarvel /quiet", L"/quiet"},
        // A dot in a folder's name is no extension of the program's; a tab ends a part too.
        {{L"\\Tools.d\\tarvel.exe"}, root + L"\\Tools.d\\tarvel /quiet", L"/quiet"},
        {{L"\\Tools\\tarvel.exe"}, root + L"\\Tools\\tarvel.exe\t/quiet", L"/quiet"},
        {{L"\\Tools\\tarvel.exe"}, L"C:/paths-test/Tools/tarvel.exe", L""},
        {{L"\\Tools\\tarvel.exe"}, L"\"" + root + L"\\Tools\\missing.exe\"", L""},
        // Windows turns no slash after "\\?\".
        {{L"\\Tools\\tarvel.exe"}, L"\"\\\\?\\" + root + L"\\Tools/tarvel.exe\"", L""},
    };
    for (const Case& item : cases) {
        const std::string what(item.command.begin(), item.command.end());
        host::removeTree(root);
        for (const std::wstring& file : item.files) {
            const std::wstring path = root + file;
            if (path.back() == L'\\') {
                SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
                continue;
            }
            SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
            ASSERT_TRUE(CopyFileW(host::doNothingExe().c_str(), path.c_str(), FALSE)) << what;
        }
        wchar_t program[MAX_PATH + 1] = {};
        const wchar_t* arguments = nullptr;
        ASSERT_TRUE(programOfCommand(item.command.c_str(), program, arguments)) << what;
        EXPECT_STREQ(item.arguments, arguments) << what;

        std::wstring line = item.command;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                           &process)) {
            wchar_t image[MAX_PATH] = {};
            DWORD size = MAX_PATH;
            EXPECT_TRUE(QueryFullProcessImageNameW(process.hProcess, 0, image, &size)) << what;
            TerminateProcess(process.hProcess, 0);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            EXPECT_TRUE(samePath(image, program))
                << what << ": CreateProcess started " << std::string(image, image + std::wcslen(image)) << ", found "
                << std::string(program, program + std::wcslen(program));
        } else {
            EXPECT_FALSE(fileExists(program)) << what << ": CreateProcess started nothing";
        }
    }
    host::removeTree(root);

    // Too long for Windows to start.
    wchar_t program[MAX_PATH + 1] = {};
    const wchar_t* arguments = nullptr;
    EXPECT_FALSE(programOfCommand((L"C:\\" + std::wstring(MAX_PATH, L'a') + L".exe").c_str(), program, arguments));
}

// Windows' own answers for drive letters that Wine cannot make: a subst drive, mapped network
// drives, a disk.
DWORD windowsDevice(const wchar_t* drive, wchar_t* target, DWORD capacity)
{
    const wchar_t* devices[][2] = {
        {L"Q:", L"\\??\\C:\\sub"},
        {L"N:", L"\\Device\\LanmanRedirector\\;N:00000000000123ab\\server\\share"},
        {L"M:", L"\\Device\\Mup\\;LanmanRedirector\\;M:00000000000123ab\\server\\share"},
        {L"C:", L"\\Device\\HarddiskVolume2"},
    };
    for (const auto& device : devices) {
        if (lstrcmpiW(drive, device[0]) == 0) {
            lstrcpynW(target, device[1], static_cast<int>(capacity));
            return static_cast<DWORD>(lstrlenW(target)) + 2;
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}

// What logon will find: a subst drive lasts one logon session, a mapped drive one user's.
TEST(Paths, ALastingPathOutlivesTheDriveLettersOfThisSession)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* lasting;
    };
    const Case cases[] = {
        {L"Q:\\tarvel.exe", L"C:\\sub\\tarvel.exe"},
        {L"N:\\Tools\\tarvel.exe", L"\\\\server\\share\\Tools\\tarvel.exe"},
        {L"M:\\tarvel.exe", L"\\\\server\\share\\tarvel.exe"},
        {L"C:\\Tools\\tarvel.exe", L"C:\\Tools\\tarvel.exe"},
        {L"E:\\tarvel.exe", L"E:\\tarvel.exe"},
        {L"\\\\server\\share\\tarvel.exe", L"\\\\server\\share\\tarvel.exe"},
    };
    for (const Case& item : cases) {
        wchar_t lasting[MAX_PATH] = {};
        ASSERT_TRUE(lastingPath(item.path, lasting, windowsDevice));
        EXPECT_STREQ(item.lasting, lasting);
    }
    // Before Windows 6.0 the final path is the lasting one.
    wchar_t final[MAX_PATH] = {};
    if (LOBYTE(LOWORD(GetVersion())) < 6) {
        ASSERT_TRUE(finalPath(L"Q:\\", final, windowsDevice));
        EXPECT_STREQ(L"C:\\sub\\", final);
    }
    // A link is followed to the folder it names.
    host::removeTree(L"C:\\paths-real");
    host::makeDirectory(L"C:\\paths-real");
    host::makeDirectory(L"C:\\paths-real\\inner");
    host::makeLink(L"C:\\paths-link", L"C:\\paths-real\\inner");
    host::makeFile(L"C:\\paths-real\\inner\\tarvel.exe");
    ASSERT_TRUE(finalPath(L"C:\\paths-link\\tarvel.exe", final));
    EXPECT_TRUE(samePath(L"C:\\paths-real\\inner\\tarvel.exe", final))
        << std::string(final, final + std::wcslen(final));
    EXPECT_FALSE(finalPath(L"C:\\paths-link\\missing.exe", final));
    DeleteFileW(L"C:\\paths-real\\inner\\tarvel.exe");
    host::removeLink(L"C:\\paths-link");
    host::removeTree(L"C:\\paths-real");
}

// The programs' delay-load hook loads a DLL by its full path in the system folder, and never
// answers nothing, which would let the loader's own helper search beside the program: where the
// system folder's copy cannot be loaded (or its name does not fit), a module without the
// function, so that the call fails as a missing import does.
TEST(Paths, TheDelayLoadHookLoadsOnlyFromTheSystemFolder)
{
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    const std::string tooLong(MAX_PATH, 'a');
    const struct {
        const char* dll;
        bool fromSystemFolder;
    } cases[] = {{"version.dll", true}, {"tarvel-absent.dll", false}, {tooLong.c_str(), false}};
    for (const auto& item : cases) {
        DelayLoadInfo info = {};
        info.cb = sizeof info;
        info.szDll = item.dll;
        const auto loaded = reinterpret_cast<HMODULE>(__pfnDliNotifyHook2(dliNotePreLoadLibrary, &info));
        ASSERT_NE(nullptr, loaded) << item.dll << ": the helper would search beside the program";
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(loaded, path, MAX_PATH);
        wchar_t wanted[MAX_PATH] = {};
        ASSERT_TRUE(systemFolderPath(item.fromSystemFolder ? L"version.dll" : L"kernel32.dll", wanted));
        EXPECT_EQ(0, lstrcmpiW(wanted, path)) << item.dll;
        EXPECT_EQ(item.fromSystemFolder, loaded != kernel32) << item.dll;
    }
    EXPECT_EQ(nullptr, __pfnDliNotifyHook2(dliNoteStartProcessing, nullptr)) << "a notice it does not act on";
}

}  // namespace
