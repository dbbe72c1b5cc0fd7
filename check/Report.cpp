#include "check/Report.h"

#include "common/Text.h"

Text& Text::operator<<(const wchar_t* text)
{
    while (*text != L'\0' && length_ + 1 < kCapacity) {
        buffer_[length_++] = *text++;
    }
    buffer_[length_] = L'\0';
    return *this;
}

Text& Text::operator<<(const char* text)
{
    wchar_t converted[512] = {};
    MultiByteToWideChar(CP_ACP, 0, text, -1, converted, 511);
    return *this << converted;
}

Text& Text::operator<<(unsigned long number)
{
    wchar_t digits[kNumberText] = {};
    writeDecimal(number, digits);
    return *this << digits;
}

Text& Text::operator<<(int number)
{
    wchar_t digits[kNumberText] = {};
    writeSignedDecimal(number, digits);
    return *this << digits;
}

Text& Text::endWith(const char* ending)
{
    const size_t needed = static_cast<size_t>(lstrlenA(ending));
    const size_t cut = 3;  // "..."
    if (length_ + needed >= kCapacity) {
        length_ = kCapacity - 1 - needed - cut;
        buffer_[length_] = L'\0';
        *this << "...";
    }
    return *this << ending;
}

Text Text::hex(unsigned long number)
{
    wchar_t digits[kNumberText] = {};
    writeHex(number, digits);
    Text text;
    text << digits;
    return text;
}

namespace {

// To a console, as UTF-16, which shows every language its font has. Redirected, in the
// console's output code page, as Windows' own console tools write (the OEM code page without
// a console): a character that code page lacks becomes "?" there alone.
void write(const wchar_t* wide)
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    const int length = lstrlenW(wide);
    DWORD written = 0;
    DWORD mode = 0;
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, wide, static_cast<DWORD>(length), &written, nullptr);
        return;
    }
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0) {
        codePage = GetOEMCP();
    }
    // Each UTF-16 unit becomes at most four bytes (a surrogate pair at most four together).
    char bytes[4 * Text::kCapacity] = {};
    const int size = WideCharToMultiByte(codePage, 0, wide, length, bytes, sizeof bytes, nullptr, nullptr);
    WriteFile(output, bytes, static_cast<DWORD>(size > 0 ? size : 0), &written, nullptr);
}

// A whole line: a full text keeps its end, and the line's end follows it.
void print(const Text& text)
{
    write(text.c_str());
    write(L"\r\n");
}

}  // namespace

void Report::line(const Text& what, const Text& wanted, const Text& found, bool holds)
{
    if (!mayWrite()) {
        return;
    }
    ++checks_;
    if (!holds) {
        ++differences_;
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

int Report::finish(const char* mode, DWORD failure)
{
    Text text;
    text << "tarvel-check: ";
    if (failure != ERROR_SUCCESS) {
        // 1 is "a check differs"; a failure of that code (ERROR_INVALID_FUNCTION, which some
        // file systems give a permissions query) must not read as one.
        if (failure == ERROR_INVALID_FUNCTION) {
            failure = static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION));
        }
        text << "could not check the machine (" << mode << "): status " << Text::hex(failure);
        print(text);
        // What keeps a check from reading a key or the task, as a rule: it was not elevated.
        if (failure == ERROR_ACCESS_DENIED || failure == static_cast<DWORD>(E_ACCESSDENIED)) {
            print(Text("tarvel-check: access is denied; run it elevated, as an administrator or as SYSTEM"));
        }
        return static_cast<int>(failure);
    }
    if (differences_ != 0) {
        text << differences_ << " of " << checks_ << " checks differ from what the marker asks (" << mode << ")";
        print(text);
        return 1;
    }
    text << "the machine is as its marker asks (" << mode << ", " << checks_ << " checks)";
    print(text);
    return 0;
}
