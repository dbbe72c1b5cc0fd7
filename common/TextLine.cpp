#include "common/TextLine.h"

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

// To a console, as UTF-16, which shows every language its font has. Redirected, in the
// console's output code page, as Windows' own console tools write (the OEM code page without
// a console): a character that code page lacks becomes "?" there alone.
void writeText(HANDLE output, const wchar_t* wide)
{
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

void writeOutput(const wchar_t* text) { writeText(GetStdHandle(STD_OUTPUT_HANDLE), text); }
