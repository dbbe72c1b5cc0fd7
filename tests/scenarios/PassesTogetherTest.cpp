// Passes that meet other processes: another pass holding the machine's pass lock, and a
// scanner that opens each new marker directory the moment it appears.
#include "tests/scenarios/TarvelState.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kInstallDir[] = L"C:\\tarvel";

class PassesTogether : public testing::Test {
protected:
    void SetUp() override
    {
        exe_ = host::placeTarvel(kInstallDir);
        host::setWindowsVersion(L"tarvel.exe", L"winxp");
        host::clearPath(state::ownMarker());
        state::clearDriverKeys();
        state::clearRunValues();
    }
    void TearDown() override { host::clearPath(state::ownMarker()); }

    // A pass in normal mode: ports on, no Run value, no marker.
    void expectNormalPass()
    {
        state::expectPorts(1);
        EXPECT_FALSE(state::runValue().present);
        EXPECT_EQ(host::PathKind::Missing, host::pathKind(state::ownMarker()));
    }

    std::wstring exe_;
};

DWORD WINAPI abandonLock(LPVOID)
{
    const HANDLE lock = CreateMutexW(nullptr, FALSE, state::kPassLock);
    WaitForSingleObject(lock, INFINITE);
    // Ownership is the thread's, not the handle's: the thread ends owning it.
    CloseHandle(lock);
    return 0;
}

TEST_F(PassesTogether, APassWaitsForTheLockDoesItsWholeJobAndGivesTheLockBack)
{
    const HANDLE lock = CreateMutexW(nullptr, TRUE, state::kPassLock);
    ASSERT_NE(nullptr, lock);
    ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    host::makeDirectory(state::ownMarker());
    const HANDLE pass = host::startProgram(exe_);
    ASSERT_NE(nullptr, pass);

    // Held by another pass: this one has neither probed nor written anything yet.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(pass, 1500));
    EXPECT_FALSE(host::keyExists(HKEY_LOCAL_MACHINE, state::portKey(0)));
    EXPECT_FALSE(state::runValue().present);

    ASSERT_TRUE(ReleaseMutex(lock));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pass, 30000));
    DWORD status = STILL_ACTIVE;
    GetExitCodeProcess(pass, &status);
    EXPECT_EQ(0u, status);
    CloseHandle(pass);
    state::expectPorts(0);
    EXPECT_EQ(exe_, state::runValue().text());
    // Released before the end, not left abandoned by the process's exit.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock, 0));

    // The lock is taken before the probe: a marker that is only another pass's probe
    // directory, gone by the time that pass gives the lock back, puts this one in normal mode.
    host::clearPath(state::ownMarker());
    host::makeDirectory(state::ownMarker());
    const HANDLE racing = host::startProgram(exe_);
    ASSERT_NE(nullptr, racing);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(racing, 1500));
    host::clearPath(state::ownMarker());
    ASSERT_TRUE(ReleaseMutex(lock));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(racing, 30000));
    CloseHandle(racing);
    expectNormalPass();

    // A lock whose owner died is the pass's to take, and to give back.
    const HANDLE owner = CreateThread(nullptr, 0, abandonLock, nullptr, 0, nullptr);
    WaitForSingleObject(owner, INFINITE);
    CloseHandle(owner);
    host::clearPath(state::ownMarker());
    EXPECT_EQ(0u, host::runProgram(exe_));
    expectNormalPass();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock, 0));
    ReleaseMutex(lock);
    CloseHandle(lock);
}

// Opens each new directory at path as a scanner does, without sharing its deletion, and
// holds it for a while; one that deletes it opens it to be deleted when it lets go.
class Scanner {
public:
    Scanner(const std::wstring& path, DWORD holdMs, bool deletes = false)
        : path_(path), holdMs_(holdMs), deletes_(deletes)
    {
        thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    ~Scanner() { stop(); }

    void stop()
    {
        if (thread_ != nullptr) {
            InterlockedExchange(&stopping_, 1);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
    }
    LONG opened() const { return opened_; }
    LONG released() const { return released_; }

private:
    static DWORD WINAPI run(LPVOID self) { return static_cast<Scanner*>(self)->scan(); }
    DWORD scan()
    {
        while (InterlockedCompareExchange(&stopping_, 0, 0) == 0) {
            const HANDLE directory =
                CreateFileW(path_.c_str(), FILE_LIST_DIRECTORY | (deletes_ ? DELETE : 0),
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | (deletes_ ? FILE_FLAG_DELETE_ON_CLOSE : 0), nullptr);
            if (directory == INVALID_HANDLE_VALUE) {
                continue;
            }
            InterlockedIncrement(&opened_);
            Sleep(holdMs_);
            CloseHandle(directory);
            InterlockedIncrement(&released_);
            // Only a new directory is opened again.
            while (InterlockedCompareExchange(&stopping_, 0, 0) == 0 &&
                   GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES) {
                Sleep(10);
            }
        }
        return 0;
    }

    std::wstring path_;
    DWORD holdMs_;
    bool deletes_;
    HANDLE thread_ = nullptr;
    volatile LONG stopping_ = 0;
    volatile LONG opened_ = 0;
    volatile LONG released_ = 0;
};

class ScannedPasses : public PassesTogether {
protected:
    // Whether Windows is to delete path at the next restart.
    static bool restartRemovalQueued(const std::wstring& path)
    {
        const host::RegValue pending = host::readValue(
            HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"PendingFileRenameOperations");
        const std::wstring entries(reinterpret_cast<const wchar_t*>(pending.data.data()),
                                   pending.data.size() / sizeof(wchar_t));
        return entries.find(L"\\??\\" + path + L'\0') != std::wstring::npos;
    }

    // The probe's directory lives for a few milliseconds: on a busy machine the scanner
    // may need a few passes to meet it. A pass it missed is an ordinary normal pass.
    void passUntilScanned(const Scanner& scanner)
    {
        for (int attempt = 0; attempt < 50 && scanner.opened() == 0; ++attempt) {
            EXPECT_EQ(0u, host::runProgram(exe_));
        }
        ASSERT_EQ(1, scanner.opened()) << "the scanner never met the probe's directory";
    }
};

TEST_F(ScannedPasses, AProbeDirectoryHeldByAScannerIsStillRemoved)
{
    {
        Scanner scanner(state::ownMarker(), 300);
        ASSERT_NO_FATAL_FAILURE(passUntilScanned(scanner));
        scanner.stop();
    }
    expectNormalPass();

    // Held past every retry: the pass ends in normal mode without waiting for the scanner,
    // and the directory goes at the next restart.
    state::clearDriverKeys();
    {
        Scanner scanner(state::ownMarker(), 6000);
        ASSERT_NO_FATAL_FAILURE(passUntilScanned(scanner));
        EXPECT_EQ(0, scanner.released()) << "the pass waited for the scanner";
        scanner.stop();
    }
    state::expectPorts(1);
    EXPECT_FALSE(state::runValue().present);
    ASSERT_EQ(host::PathKind::Directory, host::pathKind(state::ownMarker()));
    EXPECT_EQ(0u, host::runProgram(L"C:\\windows\\system32\\wineboot.exe", L"-r"));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(state::ownMarker()));

    state::clearDriverKeys();
    EXPECT_EQ(0u, host::runProgram(exe_));
    expectNormalPass();

    // A scanner that deletes the directory itself leaves the probe nothing to wait for, and
    // nothing to remove at the next restart, where it would take a marker made meanwhile.
    state::clearDriverKeys();
    {
        Scanner scanner(state::ownMarker(), 300, true);
        ASSERT_NO_FATAL_FAILURE(passUntilScanned(scanner));
        scanner.stop();
    }
    expectNormalPass();
    EXPECT_FALSE(restartRemovalQueued(state::ownMarker()));
}

}  // namespace
