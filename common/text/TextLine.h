#pragma once
// Text for people, built without the C runtime's formatting, which would double each program,
// and kept in UTF-16 until it is written, so that a path in any language comes out whole: the
// check's and the kit's lines, the pass's event, the package's log lines.
#include <windows.h>

#include <cstddef>

// Appends, piece by piece, into a buffer it is given: each piece as far as it fits, never past
// the buffer, which always holds its NUL.
class TextBuilder {
public:
    TextBuilder(wchar_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) { buffer_[0] = L'\0'; }
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;

    // A fixed text of the program's own, in the ANSI code page.
    TextBuilder& operator<<(const char* text);
    TextBuilder& operator<<(const wchar_t* text);
    TextBuilder& operator<<(const TextBuilder& text) { return *this << text.c_str(); }
    TextBuilder& operator<<(unsigned long number);
    TextBuilder& operator<<(int number);
    // Appends ending whole: where the text has no room left for it, its last characters give
    // way to "...", so that a line cut short still ends with its verdict.
    TextBuilder& endWith(const char* ending);
    const wchar_t* c_str() const { return buffer_; }

private:
    wchar_t* const buffer_;
    const size_t capacity_;
    size_t length_ = 0;
};

// One line, in a buffer of its own.
class Text : public TextBuilder {
public:
    static const size_t kCapacity = 1024;

    Text() : TextBuilder(line_, kCapacity) {}
    Text(const char* text) : Text() { *this << text; }
    Text(const Text& text) : Text() { *this << text.c_str(); }
    Text& operator=(const Text&) = delete;
    // 0x followed by eight hex digits.
    static Text hex(unsigned long number);

private:
    // The builder writes its NUL before anything else.
    wchar_t line_[kCapacity];
};

// Writes text to output: to a console as UTF-16, to a file or a pipe in the console's output
// code page, as cmd's own echo writes there.
void writeText(HANDLE output, const wchar_t* text);
// To standard output.
void writeOutput(const wchar_t* text);
