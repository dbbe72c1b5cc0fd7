#pragma once
// One line of text for people, built without the C runtime's formatting, which would double
// each program, and kept in UTF-16 until it is written, so that a path in any language comes
// out whole: the check's lines and the acceptance kit's.
#include <windows.h>

#include <cstddef>

// One line's text, cut at its capacity.
class Text {
public:
    Text() = default;
    // A fixed text of the program's own, in the ANSI code page.
    Text(const char* text) { *this << text; }
    Text& operator<<(const char* text);
    Text& operator<<(const wchar_t* text);
    Text& operator<<(const Text& text) { return *this << text.c_str(); }
    Text& operator<<(unsigned long number);
    Text& operator<<(int number);
    // Appends ending whole: where the text has no room left for it, its last characters give
    // way to "...", so that a line cut short still ends with its verdict.
    Text& endWith(const char* ending);
    // 0x followed by eight hex digits.
    static Text hex(unsigned long number);
    const wchar_t* c_str() const { return buffer_; }

    static const size_t kCapacity = 1024;

private:
    wchar_t buffer_[kCapacity] = {};
    size_t length_ = 0;
};

// Writes text to output: to a console as UTF-16, to a file or a pipe in the console's output
// code page, as cmd's own echo writes there.
void writeText(HANDLE output, const wchar_t* text);
// To standard output.
void writeOutput(const wchar_t* text);
