#include "common/PassLock.h"

const wchar_t kPassLockName[] = L"Global\\OmbrixTarvelPass";

namespace {
// Well above a slow logon task pass, so that only a pass that hangs is given up on.
const DWORD kPassLockWaitMs = 60 * 1000;
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
