#pragma once
#include "common/platform/Owners.h"

#include <windows.h>

// Passes in every logon session of the machine meet at this mutex; a second pass waits for
// the first, whose probe would otherwise show it a marker that is only the probe's own.
extern const wchar_t kPassLockName[];

// Held for one pass, from before the probe until the logon start-up is in line. When the
// lock cannot be had (another user's pass owns a mutex this one may not open, or the wait
// runs out), the pass goes on without it: the lock must never stop a pass doing its job.
class PassLock {
public:
    PassLock();
    ~PassLock();
    PassLock(const PassLock&) = delete;
    PassLock& operator=(const PassLock&) = delete;

private:
    UniqueHandle mutex_;
    bool held_;
};
