#include "common/PassLock.h"

#include "common/TaskSchedulerWait.h"

const wchar_t kPassLockName[] = L"Global\\OmbrixTarvelPass";

namespace {
// Well above a slow logon task pass, so that only a pass that hangs is given up on.
const DWORD kPassLockWaitMs = 60 * 1000;
// A pass gives up on a hung Task Scheduler after one bound and then ends: a pass that waits for
// it must still get the lock, with room for the rest of the first pass.
static_assert(kTaskSchedulerAnswerMs + 20 * 1000 <= kPassLockWaitMs, "a hung pass must end within a waiter's wait");
}  // namespace

PassLock::PassLock() : mutex_(CreateMutexW(nullptr, FALSE, kPassLockName)), held_(false)
{
    if (mutex_ == nullptr) {
        return;
    }
    // An owner that ended without releasing it left nothing half-done that a new pass would
    // not redo, so an abandoned lock is as good as a free one.
    const DWORD waited = WaitForSingleObject(mutex_, kPassLockWaitMs);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

PassLock::~PassLock()
{
    if (held_) {
        ReleaseMutex(mutex_);
    }
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
    }
}
