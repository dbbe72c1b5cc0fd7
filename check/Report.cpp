#include "check/Report.h"

#include "common/text/Text.h"

namespace {

// A whole line: a full text keeps its end, and the line's end follows it.
void print(const Text& text)
{
    writeOutput(text.c_str());
    writeOutput(L"\r\n");
}

}  // namespace

void Report::line(const Text& what, const Text& wanted, const Text& found, bool holds, Mender mender)
{
    if (!mayWrite()) {
        return;
    }
    ++checks_;
    if (!holds) {
        ++differences_;
        forAdministrator_ += mender == Mender::Administrator ? 1 : 0;
    }
    Text text;
    text << what << ": wants " << wanted << ", found " << found;
    text.endWith(holds ? ": holds" : ": DIFFERS");
    print(text);
}

void Report::note(const Text& text)
{
    if (mayWrite()) {
        print(text);
    }
}

int Report::finish(const char* mode, Status failure)
{
    Text text;
    text << "tarvel-check: ";
    if (failure != ERROR_SUCCESS) {
        // 1 is "a check differs"; a failure of that code (ERROR_INVALID_FUNCTION, which some
        // file systems give a permissions query) must not read as one.
        if (failure == ERROR_INVALID_FUNCTION) {
            failure = comStatus(HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION));
        }
        text << "could not check the machine (" << mode << "): status " << Text::hex(failure);
        print(text);
        // What keeps a check from reading a key or the task, as a rule: it was not elevated.
        if (failure == ERROR_ACCESS_DENIED || failure == comStatus(E_ACCESSDENIED)) {
            print(Text("tarvel-check: access is denied; run it elevated, as an administrator or as SYSTEM"));
        }
        return static_cast<int>(failure);
    }
    if (differences_ != 0) {
        text << differences_ << " of " << checks_ << " checks differ from what the marker asks (" << mode << ")";
        print(text);
        if (differences_ > forAdministrator_) {
            return 1;
        }
        print(Text("tarvel-check: no pass mends what differs; an administrator must"));
        return kDiffersForAdministrator;
    }
    text << "the machine is as its marker asks (" << mode << ", " << checks_ << " checks)";
    print(text);
    return 0;
}
