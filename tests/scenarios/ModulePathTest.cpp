// The Run value must start exactly this executable: quoted where the shell would split the
// path, unmangled outside the ANSI code page, and never a path cut short.
#include "tests/scenarios/TarvelState.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ModulePath : public testing::Test {
protected:
    void SetUp() override
    {
        host::setWindowsVersion(L"tarvel.exe", L"winxp");
        marker_ = state::ownMarker();
        host::clearPath(marker_);
        host::makeDirectory(marker_);
        state::clearRunValues();
    }
    void TearDown() override { host::clearPath(marker_); }

    static std::wstring runValue() { return state::runValue().text(); }

    std::wstring marker_;
};

TEST_F(ModulePath, PathWithASpaceIsQuotedAndOneWithoutIsNot)
{
    const std::wstring spaced = host::placeTarvel(L"C:\\Program Files\\Tarvel Tool");
    EXPECT_EQ(0u, host::runProgram(spaced));
    EXPECT_EQ(L"\"" + spaced + L"\"", runValue());

    // Moving the program rewrites the value, so it follows the executable.
    const std::wstring plain = host::placeTarvel(L"C:\\Tools\\Tarvel");
    EXPECT_EQ(0u, host::runProgram(plain));
    EXPECT_EQ(plain, runValue());
}

TEST_F(ModulePath, PathOutsideTheAnsiCodePageIsStoredAsItIs)
{
    // Cyrillic and Greek have no place in the Western code page that Wine uses here.
    const std::wstring folder = L"C:\\\x0422\x0430\x0440\x0432\x0435\x043B_\x03A9";
    BOOL lost = FALSE;
    char narrow[64];
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, folder.c_str(), -1, narrow, sizeof narrow, nullptr, &lost);
    ASSERT_TRUE(lost) << "code page " << GetACP() << " holds these characters: the test proves nothing";
    const std::wstring exe = host::placeTarvel(folder);
    EXPECT_EQ(0u, host::runProgram(exe));
    EXPECT_EQ(exe, runValue());
}

TEST_F(ModulePath, APathCutAtTheBufferIsNeverRegistered)
{
    // 259 characters and the terminator fill the buffer exactly: still whole.
    const std::wstring longest = host::placeTarvelAtPathLength(MAX_PATH - 1);
    EXPECT_EQ(0u, host::runProgram(longest));
    EXPECT_EQ(longest, runValue());

    // One more character and the path no longer fits: the earlier value stays, the ports
    // are still written.
    state::clearDriverKeys();
    const std::wstring tooLong = host::placeTarvelAtPathLength(MAX_PATH);
    // The folder itself is short enough to be the working directory; Windows will not
    // start a program by a path this long.
    const std::wstring folder = tooLong.substr(0, tooLong.rfind(L'\\'));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), host::runProgram(L"tarvel.exe", L"", folder));
    EXPECT_EQ(longest, runValue());
    EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, state::portKey(0), L"DIPM").isDword(0));

    // Normal mode needs no path: it still removes the registration.
    host::clearPath(marker_);
    EXPECT_EQ(0u, host::runProgram(L"tarvel.exe", L"", folder));
    EXPECT_FALSE(state::runValue().present);
    EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, state::portKey(0), L"DIPM").isDword(1));
}

}  // namespace
