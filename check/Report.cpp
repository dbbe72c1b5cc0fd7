#include "check/Report.h"

Text& Text::operator<<(const char* text)
{
    while (*text != '\0' && length_ + 1 < sizeof buffer_) {
        buffer_[length_++] = *text++;
    }
    buffer_[length_] = '\0';
    return *this;
}

Text& Text::operator<<(const wchar_t* text)
{
    char converted[2 * MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, converted, sizeof converted - 1, nullptr, nullptr);
    return *this << converted;
}

Text& Text::operator<<(unsigned long number)
{
    char digits[16] = {};
    int at = 14;
    do {
        digits[at--] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    return *this << digits + at + 1;
}

Text& Text::operator<<(int number)
{
    if (number < 0) {
        *this << "-";
        return *this << static_cast<unsigned long>(-static_cast<long>(number));
    }
    return *this << static_cast<unsigned long>(number);
}

Text Text::hex(unsigned long number)
{
    char digits[11] = "0x";
    for (int at = 9; at >= 2; --at) {
        digits[at] = "0123456789ABCDEF"[number & 0xF];
        number >>= 4;
    }
    Text text;
    text << digits;
    return text;
}

namespace {
void print(const Text& text)
{
    const char* line = text.c_str();
    DWORD length = 0;
    while (line[length] != '\0') {
        ++length;
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, length, &written, nullptr);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "\r\n", 2, &written, nullptr);
}
}  // namespace

void Report::line(const char* what, const char* wanted, const char* found, bool holds)
{
    ++checks_;
    if (!holds) {
        ++differences_;
    }
    Text text;
    text << what << ": wants " << wanted << ", found " << found << ": " << (holds ? "holds" : "DIFFERS");
    print(text);
}

void Report::note(const char* text)
{
    Text line;
    line << text;
    print(line);
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
        text << "could not check the machine (" << mode << "): status " << Text::hex(failure).c_str();
        print(text);
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
