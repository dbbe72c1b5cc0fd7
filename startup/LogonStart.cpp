#include "startup/LogonStart.h"

// The Task Scheduler path is not built yet: every operation refuses.
LONG EnableLogonStartup(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, LONG)
{
    return -1;
}

LONG DisableLogonStartup(const wchar_t*) { return -1; }

LONG IsLogonStartupEnabled(const wchar_t*) { return 0; }

namespace {
LogonStartListener listener = nullptr;
}

void traceLogonStart(const wchar_t* message, HRESULT status)
{
    if (listener != nullptr) {
        listener(message, status);
    }
}

void setLogonStartListener(LogonStartListener newListener) { listener = newListener; }
