#include "common/product/PassLock.h"

#include "common/product/Deadlines.h"

const wchar_t kPassLockName[] = L"Global\\OmbrixTarvelPass";

namespace {
// Well above a slow logon task pass, so that only a pass that hangs is given up on.
const DWORD kPassLockWaitMs = 60 * 1000;
// A pass spends at most one deadline on the Task Scheduler, its question and its registering
// or deleting together; the rest of a pass (the probe, the ports, the Run value, the event)
// takes well under a second. A pass that waits for a hung one must still get the lock, with
// room to spare.
const DWORD kPassBesideTheTaskSchedulerMs = 5 * 1000;
const DWORD kRoomToSpareMs = 20 * 1000;
static_assert(kTaskSchedulerAnswerMs + kPassBesideTheTaskSchedulerMs + kRoomToSpareMs <= kPassLockWaitMs,
              "a whole pass under its deadline must end within a waiter's wait");
}  // namespace

PassLock::PassLock() : mutex_(CreateMutexW(nullptr, FALSE, kPassLockName)), held_(false)
{
    if (!mutex_) {
        return;
    }
    // An owner that ended without releasing it left nothing half-done that a new pass would
    // not redo, so an abandoned lock is as good as a free one.
    const DWORD waited = WaitForSingleObject(mutex_.get(), kPassLockWaitMs);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

PassLock::~PassLock()
{
    if (held_) {
        ReleaseMutex(mutex_.get());
    }
}
