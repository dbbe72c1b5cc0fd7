// The stack protector's guard as the shipped programs have it: seeded at start, and a buffer
// overrun on the stack ends the process with Windows' own status for it. Built with the
// protector, as they are.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>

extern "C" uintptr_t __stack_chk_guard;  // NOLINT(bugprone-reserved-identifier): the name GCC reads

namespace {

// The value the guard starts with before it is seeded.
const uintptr_t kUnseededGuard = 0xBB40E64EU;

// Writes count bytes into a buffer of eight: past it, the guard.
__attribute__((noinline)) void fill(size_t count)
{
    char buffer[8];
    std::memset(buffer, 'x', count);
    asm volatile("" : : "r"(buffer) : "memory");
}

TEST(StackGuard, IsSeededAtStartAndAnOverrunEndsTheProcess)
{
    EXPECT_NE(kUnseededGuard, __stack_chk_guard) << "the guard was never seeded";
    EXPECT_NE(0u, __stack_chk_guard);

    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
    std::wstring command = std::wstring(L"\"") + self +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=StackGuard.DISABLED_OverrunsABuffer";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 30000));
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(STATUS_STACK_BUFFER_OVERRUN, status);
}

// Run only by the test above, in a process of its own.
TEST(StackGuard, DISABLED_OverrunsABuffer)
{
    volatile size_t count = 64;
    fill(count);
    ADD_FAILURE() << "the overrun went unnoticed";
}

}  // namespace
