// The Windows Installer package under Wine's msiexec, silent: install is the first pass,
// an upgrade keeps the logon start-up, uninstall takes the start-up and the program away.
#include "standin/taskscheduler/TaskSchedulerStandIn.h"
#include "tests/scenarios/TarvelState.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <shlobj.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t kUpgradeCode[] = L"{6C1D7E52-3B8A-4F0E-9D2A-5E4B7C9A1F30}";
const wchar_t kMsiexec[] = L"C:\\windows\\system32\\msiexec.exe";
// The version of the newer package the upgrades install.
const wchar_t kNextVersion[] = L"1.3.0.0";

std::wstring installedExe()
{
    wchar_t programFiles[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles);
    return std::wstring(programFiles) + L"\\Tarvel\\tarvel.exe";
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

DWORD msiexec(const wchar_t* action, const std::wstring& package, const std::wstring& properties = std::wstring())
{
    return host::runProgram(kMsiexec, std::wstring(action) + L" \"" + package + L"\" /qn " + properties);
}

// The versions of the installed products of this package's family.
std::vector<std::wstring> installedVersions()
{
    std::vector<std::wstring> versions;
    wchar_t product[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(kUpgradeCode, 0, i, product) == ERROR_SUCCESS; ++i) {
        wchar_t version[32] = {};
        DWORD size = 32;
        MsiGetProductInfoW(product, L"VersionString", version, &size);
        versions.push_back(version);
    }
    return versions;
}

class Package : public testing::Test {
protected:
    void SetUp() override
    {
        host::setWindowsVersion(L"tarvel.exe", L"winxp");
        host::setWindowsVersion(L"tarvel-check.exe", L"winxp");
        host::clearPath(state::ownMarker());
        state::clearDriverKeys();
        state::clearRunValues();
        ASSERT_TRUE(installedVersions().empty()) << "a package is installed already";
    }
    void TearDown() override
    {
        msiexec(L"/x", host::tarvelNextPackage());
        msiexec(L"/x", host::tarvelPackage());
        host::clearPath(state::ownMarker());
    }
};

TEST_F(Package, InstallIsTheFirstPassAndUninstallTakesOnlyTheStartupAndTheProgram)
{
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage()));
    const std::wstring exe = installedExe();
    EXPECT_EQ(host::PathKind::File, host::pathKind(exe));
    state::expectPorts(0);
    EXPECT_EQ(L"\"" + exe + L"\"", state::runValue().text());
    // The event source: Event Viewer finds the sentences in the installed program.
    const wchar_t source[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tarvel";
    const host::RegValue messages = host::readValue(HKEY_LOCAL_MACHINE, source, L"EventMessageFile");
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), messages.type);
    EXPECT_EQ(exe, messages.text());
    EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, source, L"TypesSupported").isDword(7));

    if (host::underWow64()) {
        // The 64-bit Explorer runs the native view's Run key too: a value there is a start-up.
        host::writeString(HKEY_LOCAL_MACHINE, state::kRunKey, state::kRunValue, exe, KEY_WOW64_64KEY);
    }
    EXPECT_EQ(0u, msiexec(L"/x", host::tarvelPackage()));
    EXPECT_FALSE(state::runValue(KEY_WOW64_64KEY).present) << "the native view's start-up outlived the uninstall";
    EXPECT_FALSE(host::keyExists(HKEY_LOCAL_MACHINE, source));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(exe));
    EXPECT_FALSE(state::runValue().present);
    state::expectPorts(0);
    EXPECT_EQ(host::PathKind::Directory, host::pathKind(state::ownMarker()));

    // Without the marker the first pass turns the ports on and registers nothing.
    host::clearPath(state::ownMarker());
    state::clearDriverKeys();
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage()));
    state::expectPorts(1);
    EXPECT_FALSE(state::runValue().present);
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(state::ownMarker()));
}

TEST_F(Package, ANewerPackageUpgradesInPlaceAndAnOlderOneIsRefused)
{
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage()));
    EXPECT_EQ(0u, msiexec(L"/i", host::tarvelNextPackage()));
    EXPECT_EQ(std::vector<std::wstring>{kNextVersion}, installedVersions());
    const std::wstring exe = installedExe();
    EXPECT_EQ(host::PathKind::File, host::pathKind(exe));
    EXPECT_EQ(L"\"" + exe + L"\"", state::runValue().text());

    EXPECT_NE(0u, msiexec(L"/i", host::tarvelPackage())) << "an older package went over a newer one";
    EXPECT_EQ(std::vector<std::wstring>{kNextVersion}, installedVersions());
    EXPECT_EQ(host::PathKind::File, host::pathKind(exe));
    EXPECT_EQ(L"\"" + exe + L"\"", state::runValue().text());
}

// Packages alike in the three fields Windows Installer orders by are one product: a second
// one beside it would share the program, and its uninstall would take the start-up away
// from a program still installed.
TEST_F(Package, ARebuildOrAFourthFieldNeverMakesASecondProduct)
{
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage()));
    const std::wstring exe = installedExe();
    for (const std::wstring& package : {host::tarvelRebuiltPackage(), host::tarvelFourthFieldPackage()}) {
        msiexec(L"/i", package);
        EXPECT_EQ(1u, installedVersions().size()) << narrow(package);
        EXPECT_EQ(host::PathKind::File, host::pathKind(exe)) << narrow(package);
        EXPECT_EQ(L"\"" + exe + L"\"", state::runValue().text()) << narrow(package);
    }
    EXPECT_EQ(0u, msiexec(L"/x", host::tarvelPackage()));
    EXPECT_TRUE(installedVersions().empty());
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(exe));
    EXPECT_FALSE(state::runValue().present);
}

TEST_F(Package, UninstallWaitsForARunningPass)
{
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage()));
    const HANDLE lock = CreateMutexW(nullptr, TRUE, state::kPassLock);
    ASSERT_NE(nullptr, lock);
    const HANDLE uninstall = host::startProgram(kMsiexec, L"/x \"" + host::tarvelPackage() + L"\" /qn");
    ASSERT_NE(nullptr, uninstall);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(uninstall, 3000));
    EXPECT_TRUE(state::runValue().present) << "the start-up went while a pass held the lock";

    ReleaseMutex(lock);
    CloseHandle(lock);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(uninstall, 60000));
    CloseHandle(uninstall);
    EXPECT_FALSE(state::runValue().present);
    EXPECT_TRUE(installedVersions().empty());
}

// A pass that a deployment tool or a logon starts while the uninstall runs waits for the lock
// behind it: given the lock back before the program is gone, it would register a start-up
// for a program about to be removed.
TEST_F(Package, APassWaitingBehindTheUninstallLeavesNoStartup)
{
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage()));
    const std::wstring exe = installedExe();
    const HANDLE lock = CreateMutexW(nullptr, TRUE, state::kPassLock);
    ASSERT_NE(nullptr, lock);
    const HANDLE uninstall = host::startProgram(kMsiexec, L"/x \"" + host::tarvelPackage() + L"\" /qn");
    ASSERT_NE(nullptr, uninstall);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(uninstall, 3000));
    // Where the program is gone already, no pass can start any more.
    const HANDLE pass = host::pathKind(exe) == host::PathKind::File ? host::startProgram(exe) : nullptr;
    Sleep(2000);
    ReleaseMutex(lock);
    CloseHandle(lock);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(uninstall, 60000));
    CloseHandle(uninstall);
    if (pass != nullptr) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pass, 60000));
        CloseHandle(pass);
    }
    EXPECT_TRUE(installedVersions().empty());
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(exe));
    EXPECT_FALSE(state::runValue().present) << "a start-up names the removed program";
}

// A folder of one's choosing may be one that anyone can write: the package locks it, since
// the program in it runs as an administrator, and keeps it through upgrades.
TEST_F(Package, ACustomFolderIsLockedAndAnUpgradeStaysInIt)
{
    const std::wstring folder = L"C:\\Custom\\Tarvel";
    const std::wstring exe = folder + L"\\tarvel.exe";
    CreateDirectoryW(L"C:\\Custom", nullptr);
    host::makeDirectory(folder);
    host::setPermissions(folder, host::kWorldWritable);
    ASSERT_TRUE(host::worldWritable(folder));
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=" + folder + L"\\"));
    EXPECT_EQ(host::PathKind::File, host::pathKind(exe));
    EXPECT_EQ(exe, state::runValue().text());
    EXPECT_FALSE(host::worldWritable(folder));
    EXPECT_FALSE(host::worldWritable(exe));
    EXPECT_EQ(0u, host::runProgram(folder + L"\\tarvel-check.exe"));

    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelNextPackage()));
    EXPECT_EQ(std::vector<std::wstring>{kNextVersion}, installedVersions());
    EXPECT_EQ(host::PathKind::File, host::pathKind(exe));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(installedExe())) << "the upgrade moved to Program Files";
    EXPECT_EQ(exe, state::runValue().text());

    EXPECT_EQ(0u, msiexec(L"/x", host::tarvelNextPackage()));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(exe));
    EXPECT_FALSE(
        host::readValue(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\Tarvel", L"InstallDir", KEY_WOW64_32KEY).present);
    RemoveDirectoryW(folder.c_str());
    RemoveDirectoryW(L"C:\\Custom");
}

// A real company's folder naming: every level the install makes is made locked, however deep,
// and a folder whose program path Windows could not start is refused before any change.
TEST_F(Package, AFolderAtAnyDepthIsMadeLockedAndATooLongOneIsRefused)
{
    const std::wstring top = L"C:\\Corp";
    const std::wstring folder = top +
                                L"\\Manufacturing Engineering\\Reference Machines\\Storage Power Management"
                                L"\\Preload Tools\\Vendor Utilities\\Ombrix\\Tarvel";
    host::clearPath(top);
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=\"" + folder + L"\\\" /l*v C:\\deep.log"))
        << host::readText("C:\\deep.log");
    EXPECT_EQ(host::PathKind::File, host::pathKind(folder + L"\\tarvel.exe"));
    std::vector<std::wstring> levels;
    for (std::wstring level = folder; level.size() > top.size(); level.resize(level.rfind(L'\\'))) {
        levels.push_back(level);
    }
    levels.push_back(top);
    for (const std::wstring& level : levels) {
        EXPECT_FALSE(host::worldReadable(level)) << narrow(level) << " is not locked";
    }
    EXPECT_EQ(0u, msiexec(L"/x", host::tarvelPackage()));
    for (const std::wstring& level : levels) {
        RemoveDirectoryW(level.c_str());
    }

    // tarvel-check.exe's path would be 260 characters, tarvel.exe's 254.
    const std::wstring tooLong = top + L"\\" + std::wstring(MAX_PATH - 1 - top.size() - 17, L'x') + L"\\";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
              msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=" + tooLong + L" /l*v C:\\long.log"));
    EXPECT_TRUE(installedVersions().empty());
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(top)) << "a refused install made a folder";
    EXPECT_NE(std::string::npos, host::readText("C:\\long.log").find("is too long: tarvel-check.exe in it"))
        << "no reason";
}

// The product's folder was locked at install: what is added to it, only administrators can
// have added, and it must not keep the program from being repaired or upgraded.
TEST_F(Package, WhatAdministratorsAddedToTheProductsFolderNeverBlocksARepairOrAnUpgrade)
{
    host::makeDirectory(state::ownMarker());
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage()));
    const std::wstring exe = installedExe();
    const std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
    host::makeFile(folder + L"\\notes.txt");
    host::makeDirectory(folder + L"\\logs");
    host::clearPath(exe);
    EXPECT_EQ(0u, msiexec(L"/i", host::tarvelPackage(), L"REINSTALL=ALL REINSTALLMODE=vomus /l*v C:\\repair.log"));
    EXPECT_EQ(host::PathKind::File, host::pathKind(exe)) << "the repair did not restore the program";
    const std::string log = host::readText("C:\\repair.log");
    EXPECT_NE(std::string::npos, log.find("also holds")) << "the log does not name what was added";
    EXPECT_NE(std::string::npos, log.find("notes.txt"));

    host::clearPath(exe);
    EXPECT_EQ(0u, msiexec(L"/i", host::tarvelNextPackage()));
    EXPECT_EQ(std::vector<std::wstring>{kNextVersion}, installedVersions());
    EXPECT_EQ(host::PathKind::File, host::pathKind(exe)) << "the upgrade did not install the program";
    EXPECT_EQ(host::PathKind::File, host::pathKind(folder + L"\\notes.txt"));
    EXPECT_EQ(host::PathKind::Directory, host::pathKind(folder + L"\\logs"));

    EXPECT_EQ(0u, msiexec(L"/x", host::tarvelNextPackage()));
    host::clearPath(folder + L"\\notes.txt");
    host::clearPath(folder + L"\\logs");
    RemoveDirectoryW(folder.c_str());
}

// A command-line folder wins over the installed one: an upgrade can move the product. The
// installed folder is the one Windows Installer registered, never a value others could have
// written. An installed product in a folder that a newer version refuses is told how to move,
// and moves as its full path, the one spelling it then remembers.
TEST_F(Package, AFolderGivenToAnUpgradeWinsOverTheInstalledOne)
{
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=C:\\Custom\\Tarvel\\"));
    const wchar_t productKey[] = L"Software\\Ombrix\\Tarvel";
    host::writeString(HKEY_LOCAL_MACHINE, productKey, L"InstallDir", L"C:\\Elsewhere\\", KEY_WOW64_32KEY);
    host::setPermissions(L"C:\\Custom", host::kWorldWritable);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
              msiexec(L"/i", host::tarvelNextPackage(), L"/l*v C:\\upgrade.log"));
    EXPECT_NE(std::string::npos,
              host::readText("C:\\upgrade.log")
                  .find("Ombrix Tarvel is installed in C:\\Custom\\Tarvel\\, which this version refuses. Move it by "
                        "giving the folder: msiexec /i tarvel.msi INSTALLDIR="))
        << "the value written since was followed";
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(L"C:\\Elsewhere"));
    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelNextPackage(), L"INSTALLDIR=C:\\Custom\\..\\Moved\\Tarvel\\"));
    EXPECT_EQ(L"C:\\Moved\\Tarvel\\",
              host::readValue(HKEY_LOCAL_MACHINE, productKey, L"InstallDir", KEY_WOW64_32KEY).text());
    EXPECT_EQ(host::PathKind::File, host::pathKind(L"C:\\Moved\\Tarvel\\tarvel.exe"));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(L"C:\\Custom\\Tarvel\\tarvel.exe"));
    EXPECT_EQ(0u, msiexec(L"/x", host::tarvelNextPackage()));
    for (const wchar_t* folder : {L"C:\\Moved\\Tarvel", L"C:\\Moved", L"C:\\Custom\\Tarvel", L"C:\\Custom"}) {
        RemoveDirectoryW(folder);
    }
}

// The lock takes over the install folder's permissions, and Windows hands them down to all
// it holds, which no uninstall gives back: a folder that is not the product's own is refused
// before anything changes.
TEST_F(Package, AFolderThatIsNotItsOwnIsRefusedBeforeAnythingChanges)
{
    const std::wstring tools = L"C:\\SharedTools";
    host::clearPath(tools + L"\\other.exe");
    host::clearPath(tools);
    host::makeDirectory(tools);
    host::makeFile(tools + L"\\other.exe");
    // Anyone may have put it there: a folder a user made, and what it holds, on Windows 7.
    host::setPermissions(tools + L"\\other.exe", host::kWorldWritable);
    host::setPermissions(tools, host::kWorldWritable);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
              msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=C:\\SharedTools\\ /l*v C:\\refused.log"));
    EXPECT_TRUE(installedVersions().empty());
    EXPECT_EQ(host::PathKind::File, host::pathKind(tools + L"\\other.exe"));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(tools + L"\\tarvel.exe"));
    EXPECT_TRUE(host::worldWritable(tools)) << "the folder's permissions changed";
    EXPECT_NE(std::string::npos,
              host::readText("C:\\refused.log").find("C:\\SharedTools\\ holds other.exe, which is not"));

    // Every entry is named, so that one try shows all there is to move.
    host::makeDirectory(tools + L"\\logs");
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
              msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=C:\\SharedTools\\ /l*v C:\\refused.log"));
    const std::string log = host::readText("C:\\refused.log");
    const size_t named = log.find("C:\\SharedTools\\ holds ");
    ASSERT_NE(std::string::npos, named) << log;
    const std::string line = log.substr(named, log.find('\n', named) - named);
    EXPECT_NE(std::string::npos, line.find("other.exe")) << line;
    EXPECT_NE(std::string::npos, line.find("logs")) << line;
    EXPECT_NE(std::string::npos, line.find("which are not")) << line;
    // Past the ten it names, it says how many more.
    for (int stray = 0; stray < 9; ++stray) {
        host::makeFile(tools + L"\\stray" + std::to_wstring(stray) + L".txt");
        host::setPermissions(tools + L"\\stray" + std::to_wstring(stray) + L".txt", host::kWorldWritable);
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
              msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=C:\\SharedTools\\ /l*v C:\\refused.log"));
    EXPECT_NE(std::string::npos, host::readText("C:\\refused.log").find(" and 1 more, which are not"))
        << "eleven entries";
    for (int stray = 0; stray < 9; ++stray) {
        host::clearPath(tools + L"\\stray" + std::to_wstring(stray) + L".txt");
    }
    host::clearPath(tools + L"\\logs");

    // A folder named in the registry is never taken for the installed product's: see
    // AFolderGivenToAnUpgradeWinsOverTheInstalledOne.
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=C:\\"));
    EXPECT_TRUE(installedVersions().empty());
    // Judged as its full path: "C:\\." is the root, and a relative folder has no place of its own.
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=C:\\."));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
              msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=Tools\\Tarvel /l*v C:\\refused.log"));
    EXPECT_NE(std::string::npos, host::readText("C:\\refused.log").find("Tools\\Tarvel\\ is not a full path"));
    EXPECT_TRUE(installedVersions().empty());
    host::clearPath(tools + L"\\other.exe");
    host::clearPath(tools);

    // Each spelling of a root, and each drive others than this machine's administrators can
    // change, on drives that hold nothing (E: fixed, N: network, R: removable), so that no row
    // is refused for what a folder holds: refused before any change, each with its own line.
    const std::pair<const wchar_t*, const char*> refusals[] = {
        {L"E:\\", "the install folder E:\\ is the root of a drive"},
        {L"E:/", "the install folder E:\\ is the root of a drive"},
        {L"E:\\.", "the install folder E:\\ is the root of a drive"},
        {L"E:\\\\", "the install folder E:\\ is the root of a drive"},
        {L"E:\\.\\", "the install folder E:\\ is the root of a drive"},
        {L"E:/.", "the install folder E:\\ is the root of a drive"},
        {L"E:\\spt\\Tarvel..\\", "the install folder E:\\spt\\Tarvel.\\ has a part that ends in a space or a dot"},
        {L"N:\\Tarvel\\", "the install folder N:\\Tarvel\\ is on a network drive"},
        {L"R:\\Tarvel\\", "the install folder R:\\Tarvel\\ is on a removable drive"},
        {L"C:Tools\\Tarvel\\", "the install folder C:Tools\\Tarvel\\ is not a full path"},
    };
    for (const auto& refusal : refusals) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
                  msiexec(L"/i", host::tarvelPackage(),
                          L"INSTALLDIR=" + std::wstring(refusal.first) + L" /l*v C:\\refused.log"))
            << refusal.second;
        EXPECT_NE(std::string::npos, host::readText("C:\\refused.log").find(refusal.second)) << narrow(refusal.first);
        EXPECT_TRUE(installedVersions().empty()) << refusal.second;
        for (const wchar_t* drive : {L"E:\\*", L"N:\\*", L"R:\\*"}) {
            WIN32_FIND_DATAW found = {};
            HANDLE search = FindFirstFileW(drive, &found);
            bool empty = true;
            for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
                empty = empty && (std::wstring(found.cFileName) == L"." || std::wstring(found.cFileName) == L"..");
            }
            if (search != INVALID_HANDLE_VALUE) {
                FindClose(search);
            }
            EXPECT_TRUE(empty) << refusal.second << ": " << narrow(drive) << " changed";
        }
    }
}

// Whoever may rename a folder above the install folder can put another in its place, with a
// program of their own that starts as an administrator at every logon: such a folder, one
// level up or more, on the written or the real way, refuses the install before any change.
TEST_F(Package, AFolderUnderOneOthersMayRenameIsRefusedBeforeAnythingChanges)
{
    host::clearPath(L"C:\\OpenParent\\Closed");
    host::clearPath(L"C:\\OpenParent");
    host::makeDirectory(L"C:\\OpenParent");
    host::setPermissions(L"C:\\OpenParent", host::kWorldWritable);
    // Two levels up, above a folder that only administrators change: every folder counts.
    host::makeDirectory(L"C:\\OpenParent\\Closed");
    ASSERT_FALSE(host::worldWritable(L"C:\\OpenParent\\Closed"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
              msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=C:\\OpenParent\\Closed\\Tarvel\\ /l*v C:\\open.log"));
    EXPECT_NE(std::string::npos,
              host::readText("C:\\open.log")
                  .find("the folder C:\\OpenParent above the install folder can be renamed also by Everyone"));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(L"C:\\OpenParent\\Closed\\Tarvel"));
    EXPECT_TRUE(installedVersions().empty());
    // Behind a link: the folders on the real way are judged too.
    host::makeLink(L"C:\\LinkedParent", L"C:\\OpenParent\\Closed");
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
              msiexec(L"/i", host::tarvelPackage(), L"INSTALLDIR=C:\\LinkedParent\\Tarvel\\ /l*v C:\\open.log"));
    EXPECT_NE(std::string::npos, host::readText("C:\\open.log")
                                     .find("the folder C:\\OpenParent (on the real path of the install folder) above "
                                           "the install folder can be renamed also by"))
        << host::readText("C:\\open.log");
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(L"C:\\OpenParent\\Closed\\Tarvel"));
    EXPECT_TRUE(installedVersions().empty());
    host::removeLink(L"C:\\LinkedParent");
    host::clearPath(L"C:\\OpenParent\\Closed");
    host::clearPath(L"C:\\OpenParent");
}

// Windows Installer keeps a file of the same or a higher version that it finds in place, and
// the first pass starts it as SYSTEM: a folder holding a program that a user could have put
// there is refused before anything changes, the example folder made by a user as much as the
// default one made open, and the planted program never runs.
TEST_F(Package, AProgramPlantedInTheInstallFolderIsNeverRun)
{
    const std::wstring defaultFolder = installedExe().substr(0, installedExe().rfind(L'\\'));
    host::makeDirectory(state::ownMarker());
    host::makeDirectory(L"C:\\Tools");
    host::makeDirectory(L"C:\\Important");
    host::setPermissions(L"C:\\Important", host::kWorldWritable);
    const struct {
        const char* what;
        std::wstring folder;
        const wchar_t* permissions;  // the folder's and the planted program's
        void (*plant)(const std::wstring& folder);
        std::wstring given;  // INSTALLDIR, or the package's default
        const char* line;
    } cases[] = {
        {"a program others may change", L"C:\\Tools\\Tarvel", host::kWorldWritable,
         [](const std::wstring& folder) { host::placeTarvel(folder); }, L"C:\\Tools\\Tarvel\\",
         "holds tarvel.exe, which is not"},
        {"a program others may change, in the default folder", defaultFolder, host::kWorldWritable,
         [](const std::wstring& folder) { host::placeTarvel(folder); }, L"", "holds tarvel.exe, which is not"},
        // Windows Installer keeps a higher version it finds in place: it would start as SYSTEM.
        {"a higher version administrators own", L"C:\\Tools\\Tarvel", host::kAdministratorsOnly,
         [](const std::wstring& folder) { host::placeTarvelOfVersion(folder, 9); }, L"C:\\Tools\\Tarvel\\",
         "holds tarvel.exe, which is not this package's own file"},
        // Any user may hard-link a file they can read: a second name is never the package's own.
        {"the package's own program under a second name", L"C:\\Tools\\Tarvel", host::kAdministratorsOnly,
         [](const std::wstring& folder) {
             host::placeTarvel(L"C:\\Tools\\Elsewhere");
             CreateHardLinkW((folder + L"\\tarvel.exe").c_str(), L"C:\\Tools\\Elsewhere\\tarvel.exe", nullptr);
         },
         L"C:\\Tools\\Tarvel\\", "holds tarvel.exe, which is not this package's own file"},
        // "|" would have written lock entries of its own, for folders never judged.
        {"a folder name that lists two", L"C:\\Tools\\Tarvel", host::kAdministratorsOnly, [](const std::wstring&) {},
         L"C:\\Victim|*C:\\Important\\", "holds a character no Windows name may hold"},
    };
    for (const auto& c : cases) {
        host::makeDirectory(c.folder);
        host::setPermissions(c.folder, c.permissions);
        c.plant(c.folder);
        if (host::pathKind(c.folder + L"\\tarvel.exe") == host::PathKind::File) {
            host::setPermissions(c.folder + L"\\tarvel.exe", c.permissions);
        }
        const std::wstring given = c.given.empty() ? std::wstring() : L"INSTALLDIR=" + c.given + L" ";
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE),
                  msiexec(L"/i", host::tarvelPackage(), given + L"/l*v C:\\planted.log"))
            << c.what;
        EXPECT_NE(std::string::npos, host::readText("C:\\planted.log").find(c.line)) << c.what;
        EXPECT_TRUE(installedVersions().empty());
        EXPECT_FALSE(state::runValue().present) << c.what << ": a pass ran";
        EXPECT_FALSE(host::keyExists(HKEY_LOCAL_MACHINE, state::portKey(0))) << c.what << ": a pass ran";
        EXPECT_EQ(c.permissions == host::kWorldWritable, host::worldWritable(c.folder))
            << c.what << ": the folder's permissions changed";
        EXPECT_TRUE(host::worldWritable(L"C:\\Important")) << c.what << ": a folder never judged was locked";
        host::removeTree(c.folder);
        host::removeTree(L"C:\\Tools\\Elsewhere");
    }
    host::removeTree(L"C:\\Important");
    host::clearPath(L"C:\\Tools");
}

// The commands the fleet's page gives, run in order as written through cmd, and the statuses
// the shipped scripts tell apart, each for the machine it describes: no command of the page can
// drift from the tools.
TEST_F(Package, TheFleetPagesCommandsAndScriptsWorkAsWritten)
{
    const std::string page = host::projectText("TARVEL_DOCS", L"fleet.md");
    const size_t marker = page.find("<!-- The tests run the commands of the next block");
    ASSERT_NE(std::string::npos, marker);
    std::vector<std::wstring> commands;
    for (size_t at = page.find("\n\n", marker) + 2; page.compare(at, 4, "    ") == 0;) {
        const size_t end = page.find('\n', at);
        commands.emplace_back(page.begin() + static_cast<std::ptrdiff_t>(at + 4),
                              page.begin() + static_cast<std::ptrdiff_t>(end));
        at = end + 1;
    }
    ASSERT_EQ(4u, commands.size()) << "install, pass, check, uninstall";
    // Run from the folder the package is in, under its own name.
    const std::wstring package = host::tarvelPackage();
    host::makeDirectory(L"C:\\deploy");
    const std::wstring copy = L"C:\\deploy" + package.substr(package.rfind(L'\\'));
    ASSERT_TRUE(CopyFileW(package.c_str(), copy.c_str(), FALSE));
    const wchar_t cmd[] = L"C:\\windows\\system32\\cmd.exe";
    for (size_t index = 0; index + 1 < commands.size(); ++index) {
        EXPECT_EQ(0u, host::runProgram(cmd, L"/c " + commands[index], L"C:\\deploy")) << narrow(commands[index]);
    }
    // The scripts find the installed folder where Windows Installer registered the program
    // (their own rows run them in PowerShell); the statuses they tell apart are the check's.
    const std::wstring folder = L"C:\\Tools\\Tarvel\\";
    const std::wstring exe = folder + L"tarvel.exe";
    const std::wstring check = folder + L"tarvel-check.exe";
    host::makeDirectory(state::ownMarker());
    EXPECT_EQ(1u, host::runProgram(check)) << "the marker set, no pass yet";
    EXPECT_EQ(0u, host::runProgram(exe)) << "the remediation's pass";
    EXPECT_EQ(0u, host::runProgram(check));
    host::setPermissions(exe, host::kWorldWritable);
    EXPECT_EQ(0x20000001u, host::runProgram(check)) << "a program others may change";
    host::setPermissions(exe, host::kAdministratorsOnly);
    host::clearPath(state::ownMarker());
    EXPECT_EQ(0u, host::runProgram(exe));

    EXPECT_EQ(0u, host::runProgram(cmd, L"/c " + commands.back(), L"C:\\deploy")) << narrow(commands.back());
    EXPECT_TRUE(installedVersions().empty());
    host::clearPath(copy);
    host::clearPath(L"C:\\deploy");
    for (const wchar_t* log : {L"C:\\Windows\\Temp\\tarvel-install.log", L"C:\\Windows\\Temp\\tarvel-uninstall.log"}) {
        host::clearPath(log);
    }
    RemoveDirectoryW(L"C:\\Tools\\Tarvel");
    RemoveDirectoryW(L"C:\\Tools");
}

TEST_F(Package, OnWindows7TheTaskStartsTheInstalledProgramUntilUninstall)
{
    state::useTaskScheduler(host::standInDll());
    standin::deleteAllTasks();
    standin::clearFaults();
    // Wine gives a custom action the Windows version of its own host program.
    host::setWindowsVersion(L"tarvel.exe", L"win7");
    host::setWindowsVersion(L"msiexec.exe", L"win7");
    host::makeDirectory(state::ownMarker());
    // An active task left by an earlier copy elsewhere: the install points it at its own.
    standin::Task earlier;
    earlier.triggers = {{TASK_TRIGGER_LOGON, true}};
    earlier.actions = {{TASK_ACTION_EXEC, L"C:\\old\\tarvel.exe", true, L""}};
    standin::storeTask(L"Ombrix Tarvel", earlier);

    ASSERT_EQ(0u, msiexec(L"/i", host::tarvelPackage()));
    standin::Task task;
    ASSERT_TRUE(standin::loadTask(L"Ombrix Tarvel", task));
    ASSERT_EQ(1u, task.actions.size());
    EXPECT_EQ(installedExe(), task.actions[0].path);
    EXPECT_FALSE(state::runValue().present);

    EXPECT_EQ(0u, msiexec(L"/x", host::tarvelPackage()));
    EXPECT_TRUE(standin::taskNames().empty());

    host::deleteTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\msiexec.exe");
    state::useTaskScheduler(state::kWineTaskScheduler);
}

// A Task Scheduler that never answers (a service stuck on a damaged task store): whatever asks
// it gives up after the bound and says so, in its own process. The passes, the check and the
// package's actions all wait for it at once, so that the prefix waits for it about once for
// each holder of the pass lock.
class HungTaskScheduler : public Package {
protected:
    void SetUp() override
    {
        Package::SetUp();
        state::useTaskScheduler(host::standInDll());
        standin::deleteAllTasks();
        standin::clearFaults();
        host::setWindowsVersion(L"tarvel.exe", L"win7");
        host::setWindowsVersion(L"tarvel10.exe", L"win10");
        host::setWindowsVersion(L"tarvel-check.exe", L"win7");
        host::setWindowsVersion(L"msiexec.exe", L"win7");
        host::makeDirectory(state::ownMarker());
        standin::failCall(L"ITaskService::Connect", standin::kNeverReturn);
        // Windows 10's pass meets a service that answers the question late and then never
        // deletes the task it found: one deadline for both ends the pass at its end, not a
        // bound later.
        standin::answerLate(L"ITaskFolder::GetTask", kLateMs, L"tarvel10.exe");
        standin::failCall(L"ITaskFolder::DeleteTask", standin::kNeverReturn, L"tarvel10.exe");
        // The install's first pass is a pass like that one: it finds the service answering.
        standin::noFaults(L"tarvel.exe");
    }
    // The uninstalls of the fixture would each wait for the bound.
    void TearDown() override
    {
        standin::clearFaults();
        Package::TearDown();
        state::useTaskScheduler(state::kWineTaskScheduler);
        host::deleteTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\tarvel10.exe");
        host::deleteTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\msiexec.exe");
        host::clearPath(L"C:\\hung\\tarvel10.exe");
        host::clearPath(L"C:\\hung\\check.txt");
        RemoveDirectoryW(L"C:\\hung");
    }

    // Waits for a process at most timeoutMs and answers its exit status and how long it ran.
    static DWORD waitFor(HANDLE process, DWORD startedAt, DWORD timeoutMs, DWORD& elapsedMs)
    {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, timeoutMs)) << "still running";
        elapsedMs = GetTickCount() - startedAt;
        DWORD status = STILL_ACTIVE;
        GetExitCodeProcess(process, &status);
        TerminateProcess(process, 1);
        CloseHandle(process);
        return status;
    }

    static constexpr DWORD kBoundMs = 30000;
    static constexpr DWORD kLateMs = 20000;
    // Room for a process to start, write its ports and end under Wine.
    static constexpr DWORD kMarginMs = 15000;
};

TEST_F(HungTaskScheduler, ThePassesTheCheckAndThePackageEachEndWithinTheirDeadlineAndSaySo)
{
    // A task left by an in-place upgrade from Windows 7, which Windows 10's pass would delete.
    standin::Task left;
    left.triggers.emplace_back();
    left.actions.push_back({TASK_ACTION_EXEC, L"C:\\gone\\tarvel.exe", false, L""});
    standin::storeTask(L"Ombrix Tarvel", left);
    const std::wstring pass10 = host::placeTarvel(L"C:\\hung", L"tarvel10.exe");
    const DWORD start = GetTickCount();
    host::WineDebugRun pass(pass10, L"-all,+eventlog,fixme+advapi", L"hung-pass");
    const HANDLE check =
        host::startProgram(L"C:\\windows\\system32\\cmd.exe", L"/c " + host::tarvelCheck() + L" > C:\\hung\\check.txt");
    ASSERT_NE(nullptr, check);
    DWORD elapsed = 0;
    const DWORD timedOut = static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    EXPECT_EQ(timedOut, waitFor(check, start, kBoundMs + kMarginMs, elapsed)) << "the check";
    EXPECT_NE(std::string::npos,
              host::readText("C:\\hung\\check.txt").find("the Task Scheduler did not answer within 30 seconds"))
        << host::readText("C:\\hung\\check.txt");
    const std::string log = pass.finish(kBoundMs + kMarginMs);
    EXPECT_LE(kBoundMs, pass.elapsedMs()) << "Windows 10's pass, slow to be answered, then hung";
    const std::vector<state::PrintedEvent> events = state::printedEvents(log);
    ASSERT_EQ(1u, events.size()) << log;
    EXPECT_EQ(0u, events[0].call.find("CAFE4242,0x0001,0x0000,0x000003ea,")) << "error, 1002: " << log;
    ASSERT_EQ(8u, events[0].strings.size()) << log;
    EXPECT_EQ(
        (std::vector<std::string>{state::printed("err", L"preload"), state::printed("err", state::ownMarker()),
                                  state::printed("err", L"0"),
                                  state::printed("err", L"failed: the Task Scheduler did not answer within 30 seconds"),
                                  state::printed("err", L"logon start-up"), state::printed("err", L"-2147023436"),
                                  state::printed("err", L"0x800705B4")}),
        std::vector<std::string>(events[0].strings.begin(), events[0].strings.end() - 1));
    // Windows 10's start-up is the Run value, which a hung Task Scheduler does not hold back.
    EXPECT_EQ(pass10, state::runValue().text());
    state::expectPorts(0);

    // The install's clearing of an earlier start-up gives up, and the install goes on.
    DWORD started = GetTickCount();
    const HANDLE install =
        host::startProgram(kMsiexec, L"/i \"" + host::tarvelPackage() + L"\" /qn /l*v C:\\hung\\install.log");
    ASSERT_NE(nullptr, install);
    EXPECT_EQ(0u, waitFor(install, started, kBoundMs + 2 * kMarginMs, elapsed));
    std::string installLog = host::readText("C:\\hung\\install.log");
    EXPECT_NE(std::string::npos, installLog.find("the Task Scheduler did not answer within 30 seconds")) << installLog;
    EXPECT_EQ(std::vector<std::wstring>{TARVEL_PROJECT_VERSION}, installedVersions());

    started = GetTickCount();
    const HANDLE uninstall =
        host::startProgram(kMsiexec, L"/x \"" + host::tarvelPackage() + L"\" /qn /l*v C:\\hung\\uninstall.log");
    ASSERT_NE(nullptr, uninstall);
    EXPECT_EQ(0u, waitFor(uninstall, started, kBoundMs + 2 * kMarginMs, elapsed));
    installLog = host::readText("C:\\hung\\uninstall.log");
    EXPECT_NE(std::string::npos, installLog.find("the Task Scheduler did not answer within 30 seconds")) << installLog;
    EXPECT_TRUE(installedVersions().empty());
    EXPECT_EQ(std::vector<std::wstring>{L"Ombrix Tarvel"}, standin::taskNames()) << "the first pass's task";
    host::clearPath(L"C:\\hung\\install.log");
    host::clearPath(L"C:\\hung\\uninstall.log");
}

}  // namespace
