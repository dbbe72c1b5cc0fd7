#include "common/text/Text.h"

#include <cwchar>

void writeDecimal(unsigned long number, wchar_t (&text)[kNumberText])
{
    wchar_t digits[kNumberText] = {};
    size_t at = kNumberText - 1;
    do {
        digits[--at] = static_cast<wchar_t>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    std::wmemcpy(text, digits + at, kNumberText - at);
}

void writeSignedDecimal(long number, wchar_t (&text)[kNumberText])
{
    if (number >= 0) {
        writeDecimal(static_cast<unsigned long>(number), text);
        return;
    }
    // The magnitude of the most negative number does not fit its own type.
    wchar_t digits[kNumberText] = {};
    writeDecimal(0UL - static_cast<unsigned long>(number), digits);
    text[0] = L'-';
    std::wmemcpy(text + 1, digits, kNumberText - 1);
}

void writeHex(unsigned long number, wchar_t (&text)[kNumberText])
{
    std::wmemcpy(text, L"0x00000000", 11);
    for (int at = 9; at >= 2; --at) {
        text[at] = L"0123456789ABCDEF"[number & 0xF];
        number >>= 4;
    }
}

bool appendText(wchar_t* text, size_t capacity, const wchar_t* more)
{
    const size_t length = std::wcslen(text);
    const size_t adding = std::wcslen(more);
    if (length + adding + 1 > capacity) {
        return false;
    }
    std::wmemcpy(text + length, more, adding);
    text[length + adding] = L'\0';
    return true;
}

bool widenText(const char* text, wchar_t* wide, size_t capacity)
{
    if (capacity == 0) {
        return false;
    }
    const int written = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, static_cast<int>(capacity));
    if (written == 0) {
        wide[0] = L'\0';
    }
    return written != 0;
}
