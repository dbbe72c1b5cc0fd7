#include "common/platform/Process.h"

#include "common/platform/Owners.h"

ProgramEnd startProgramAndWait(const wchar_t* application, wchar_t* line, DWORD waitMs, const StandardHandles* handles,
                               DWORD& status)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (handles != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = handles->input;
        startup.hStdOutput = handles->output;
        startup.hStdError = handles->error;
    }
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(application, line, nullptr, nullptr, handles != nullptr ? TRUE : FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
        status = GetLastError();
        return ProgramEnd::NotStarted;
    }
    const UniqueHandle thread(started.hThread);
    const UniqueHandle process(started.hProcess);
    status = STILL_ACTIVE;
    return WaitForSingleObject(process.get(), waitMs) == WAIT_OBJECT_0 && GetExitCodeProcess(process.get(), &status)
               ? ProgramEnd::Ended
               : ProgramEnd::StillRunning;
}
