// The marker probe on the real file system: what counts as a marker, and what it leaves.
#include "app/MarkerProbe.h"
#include "tests/support/WinTestHost.h"

#include <gtest/gtest.h>
#include <shlobj.h>

namespace {

TEST(MarkerProbe, OnlyADirectoryTheProbeMadeItselfMeansNoMarker)
{
    const wchar_t fresh[] = L"C:\\probe-fresh";
    host::clearPath(fresh);
    EXPECT_FALSE(markerPresent("C:\\probe-fresh"));
    EXPECT_EQ(host::PathKind::Missing, host::pathKind(fresh)) << "the probe left its directory";

    host::makeDirectory(fresh);
    EXPECT_TRUE(markerPresent("C:\\probe-fresh"));
    EXPECT_EQ(host::PathKind::Directory, host::pathKind(fresh)) << "the probe removed a marker it did not make";
    host::clearPath(fresh);

    // Refused for another reason than "already exists": a file stands where a folder must be.
    const wchar_t blocker[] = L"C:\\probe-blocker";
    const char refused[] = "C:\\probe-blocker\\Preload";
    host::clearPath(blocker);
    host::makeFile(blocker);
    const int refusal = SHCreateDirectoryExA(nullptr, refused, nullptr);
    ASSERT_NE(ERROR_SUCCESS, refusal);
    ASSERT_NE(ERROR_ALREADY_EXISTS, refusal);
    ASSERT_NE(ERROR_FILE_EXISTS, refusal);
    EXPECT_TRUE(markerPresent(refused)) << "a refused probe must keep preload mode";
    EXPECT_EQ(host::PathKind::File, host::pathKind(blocker));
    host::clearPath(blocker);
}

}  // namespace
