#include "app/PassEvent.h"

#include "common/platform/Owners.h"
#include "common/platform/SystemFacts.h"
#include "common/text/Text.h"
#include "common/text/TextLine.h"

namespace {

const wchar_t kEventSource[] = L"Tarvel";

const wchar_t* stepName(PassStep step)
{
    switch (step) {
        case PassStep::Probe:
            return L"marker probe";
        case PassStep::Ports:
            return L"port values";
        case PassStep::Startup:
            return L"logon start-up";
        case PassStep::None:
            break;
    }
    return L"";
}

// The system's own words for status, on one line, with a space before them; empty where
// Windows has none. A Task Scheduler status (FACILITY_ITF) has its words in taskschd.dll's
// message table, from Windows 6.0 on.
void describeStatus(DWORD status, wchar_t (&text)[512])
{
    text[0] = L' ';
    const DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, status, 0, text + 1, 511, nullptr);
    if (length == 0 && HRESULT_FACILITY(status) == FACILITY_ITF) {
        // By its full path: under its bare name Windows would look beside the program first.
        wchar_t path[MAX_PATH] = {};
        const UniqueModule scheduler(systemFolderPath(L"taskschd.dll", path)
                                         ? LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE)
                                         : nullptr);
        if (scheduler) {
            length =
                FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE, scheduler.get(), status, 0, text + 1, 511, nullptr);
        }
    }
    DWORD end = length < 511 ? length + 1 : 0;
    while (end > 0 && (text[end - 1] == L' ' || text[end - 1] == L'\r' || text[end - 1] == L'\n')) {
        --end;
    }
    text[end] = L'\0';
}

}  // namespace

void reportPassOutcome(const PassOutcome& outcome)
{
    wchar_t marker[MAX_PATH] = {};
    TextBuilder(marker, MAX_PATH) << outcome.markerPath;
    const wchar_t port[2] = {static_cast<wchar_t>(L'0' + (outcome.portValue != 0 ? 1 : 0)), L'\0'};
    wchar_t decimal[kNumberText] = {};
    wchar_t hex[kNumberText] = {};
    wchar_t systemText[512] = {};
    const bool done = outcome.result.status() == ERROR_SUCCESS;
    if (!done) {
        // As %errorlevel% shows it: an HRESULT is a negative number there.
        writeSignedDecimal(static_cast<LONG>(outcome.result.status()), decimal);
        writeHex(outcome.result.status(), hex);
        describeStatus(outcome.result.status(), systemText);
    }
    // Each its own string, so that a collector reads them without parsing a sentence.
    const wchar_t* strings[] = {
        outcome.preload ? L"preload" : L"normal", marker,  port, outcome.startup,
        stepName(outcome.result.failedStep()),    decimal, hex,  systemText,
    };
    const DWORD id = !done ? kEventPassFailed : outcome.preload ? kEventPreloadPassDone : kEventNormalPassDone;
    const WORD count = done ? 4 : 8;

    const UniqueEventSource source(RegisterEventSourceW(nullptr, kEventSource));
    if (!source) {
        return;
    }
    ReportEventW(source.get(), done ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, 0, id, nullptr, count, 0,
                 strings, nullptr);
}
