#pragma once
// What tarvel-check prints: one line per check, then a summary, on standard output. Text is
// built here rather than with the C runtime's formatting, which would double the program.
#include <windows.h>

#include <cstddef>

// One line's text, cut at its capacity.
class Text {
public:
    Text& operator<<(const char* text);
    // In the ANSI code page, as the rest of the line.
    Text& operator<<(const wchar_t* text);
    Text& operator<<(unsigned long number);
    Text& operator<<(int number);
    // 0x followed by eight hex digits.
    static Text hex(unsigned long number);
    const char* c_str() const { return buffer_; }

private:
    char buffer_[1024] = {};
    size_t length_ = 0;
};

class Report {
public:
    // "<what>: wants <wanted>, found <found>: holds" (or "DIFFERS").
    void line(const char* what, const char* wanted, const char* found, bool holds);
    void note(const char* text);
    // Prints the summary and answers the exit status: 0 when every check held, 1 when one
    // differs, failure itself when a check could not be made.
    int finish(const char* mode, DWORD failure);

private:
    int checks_ = 0;
    int differences_ = 0;
};
