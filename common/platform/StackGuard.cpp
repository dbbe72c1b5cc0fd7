// The stack protector's guard and its failure, as Windows' own /GS has them: GCC's libssp
// seeds its guard through CryptAcquireContext, which loads a cryptographic provider into every
// pass, a tenth of a pass's time under Wine. Linked in only where a function carries the guard
// (-fstack-protector-strong).
#include <windows.h>

#include <cstdint>

extern "C" {

// Never 0, so that a guard not seeded yet still differs from a string's terminator.
uintptr_t __stack_chk_guard = 0xBB40E64EU;  // NOLINT(bugprone-reserved-identifier): the name GCC reads

// A buffer on the stack ran over: nothing of this process can be trusted any more, not even
// its exit path, so it ends at once.
[[noreturn]] void __stack_chk_fail()  // NOLINT(bugprone-reserved-identifier): the name GCC calls
{
    OutputDebugStringA("tarvel: stack buffer overrun detected; the process ends");
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
    __builtin_trap();
}
}

namespace {

// Seeded before every other constructor, and so before any code that carries the guard runs:
// what /GS mixes, the time, the process and thread, the tick count, the performance counter,
// and where ASLR put the stack. Unguarded itself: it would find at its end another guard than
// it began with.
__attribute__((constructor(101), no_stack_protector)) void seedStackGuard()
{
    FILETIME time = {};
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    uintptr_t seed = time.dwLowDateTime ^ time.dwHighDateTime;
    seed ^= GetCurrentProcessId();
    seed ^= GetCurrentThreadId() << 8;
    seed ^= GetTickCount();
    seed ^= static_cast<uintptr_t>(counter.LowPart) ^ static_cast<uintptr_t>(counter.HighPart);
    seed ^= reinterpret_cast<uintptr_t>(&seed);
    if (seed != 0) {
        __stack_chk_guard = seed;
    }
}

}  // namespace
