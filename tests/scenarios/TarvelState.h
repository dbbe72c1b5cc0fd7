#pragma once
// Where a pass of tarvel.exe leaves its marks, as a test reads them back.
#include "tests/support/WinTestHost.h"

#include <string>
#include <vector>

namespace state {

extern const wchar_t kServiceKey[];
extern const wchar_t kRunKey[];
extern const wchar_t kRunValue[];
// The passes' mutex, named as another program (or the package) names it: in every logon
// session the same object.
extern const wchar_t kPassLock[];

std::wstring portKey(int port);
// "DIPM" and "LPM" of ports 0 to 5 hold value as REG_DWORD.
void expectPorts(DWORD value);
// The twelve switches as they are, each its type and bytes, or "-" when absent.
std::wstring portSwitches();
void clearDriverKeys();

// Where a 32-bit program's Run value lands; the native view of 64-bit Windows stays clean.
host::RegValue runValue(REGSAM view = KEY_WOW64_32KEY);
void clearRunValues();

// Which Task Scheduler 2.0 server CoCreateInstance finds: Wine's own, or the stand-in's DLL.
extern const wchar_t kWineTaskScheduler[];
void useTaskScheduler(const std::wstring& serverDll);

// The marker a 32-bit program looks for here, and the one it must ignore.
std::wstring ownMarker();
std::wstring otherMarker();

// One event as Wine prints it: the ReportEventW call (its type and ID among the arguments),
// then each string on a line of its own, "trace" for information and "err" for an error.
struct PrintedEvent {
    std::string call;
    std::vector<std::string> strings;
};
// The events of a Wine debug log (channels "-all,+eventlog,fixme+advapi").
std::vector<PrintedEvent> printedEvents(const std::string& log);
// A string as Wine prints it: L"..." with backslashes and quotes escaped.
std::string printed(const std::string& kind, const std::wstring& text);

}  // namespace state
