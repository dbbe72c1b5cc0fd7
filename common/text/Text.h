#pragma once
// Numbers as text and bounded appends, one way each, for the event, the check and the
// package: the C runtime's formatting would double the size of each program.
#include <windows.h>

#include <cstddef>

// Room for any number written here, its sign or "0x" and its NUL.
const size_t kNumberText = 16;

// number in decimal digits.
void writeDecimal(unsigned long number, wchar_t (&text)[kNumberText]);
// number in decimal, with a minus sign when it is negative: as %errorlevel% shows a status.
void writeSignedDecimal(long number, wchar_t (&text)[kNumberText]);
// "0x" and eight upper-case hex digits: as Windows' documentation writes a status.
void writeHex(unsigned long number, wchar_t (&text)[kNumberText]);

// A text of the program's own in the ANSI code page (a key path, a value name, a marker) as
// UTF-16, into wide of capacity characters; false, with wide empty, when it does not fit.
bool widenText(const char* text, wchar_t* wide, size_t capacity);
template <size_t capacity>
bool widenText(const char* text, wchar_t (&wide)[capacity])
{
    return widenText(text, wide, capacity);
}

// Appends more to the NUL-terminated text when capacity holds the result and its NUL; false,
// with text unchanged, otherwise: for paths and command lines, where a piece cut short would
// name another file. Text for people is built with TextBuilder (common/text/TextLine.h).
bool appendText(wchar_t* text, size_t capacity, const wchar_t* more);

// A literal made wide, and a number macro made a literal, for fixed texts built at compile time.
#define TARVEL_WIDEN_(text) L##text
#define TARVEL_WIDEN(text) TARVEL_WIDEN_(text)
#define TARVEL_TEXT_(number) #number
#define TARVEL_TEXT(number) TARVEL_TEXT_(number)
