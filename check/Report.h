#pragma once
// What tarvel-check prints: one line per check, then a summary, on standard output. Text is
// built here rather than with the C runtime's formatting, which would double the program,
// and kept in UTF-16 until it is written, so that a path in any language comes out whole.
#include "common/platform/Status.h"
#include "common/text/TextLine.h"

// The exit status of a machine that differs only in what no pass mends (a program on a share,
// a removable drive or behind a link before Vista, a folder others may change, a machine in
// the other mode than the one expected): an administrator must act. Bit 29 is the one
// Windows keeps for customers, which no status of Windows' own has, so that it is never taken
// for a status of a check that could not check.
const int kDiffersForAdministrator = 0x20000001;

// Who can mend what a check finds different: the next pass, or an administrator only.
enum class Mender { Pass, Administrator };

class Report {
public:
    Report() : owner_(GetCurrentThreadId()) {}
    // "<what>: wants <wanted>, found <found>: holds" (or "DIFFERS").
    void line(const Text& what, const Text& wanted, const Text& found, bool holds, Mender mender = Mender::Pass);
    void note(const Text& text);
    // Prints the summary and answers the exit status: 0 when every check held, 1 when one that
    // a pass mends differs, kDiffersForAdministrator when only what no pass mends differs,
    // failure itself when a check could not be made.
    int finish(const char* mode, Status failure);
    // From now on only the thread that made the report writes to it: a worker left behind in
    // a call that never returned must not add a line once the report has given up on it.
    void closeToOtherThreads() { InterlockedExchange(&closed_, 1); }

private:
    bool mayWrite() const { return closed_ == 0 || GetCurrentThreadId() == owner_; }

    const DWORD owner_;
    volatile LONG closed_ = 0;
    int checks_ = 0;
    int differences_ = 0;
    int forAdministrator_ = 0;
};
