// Text for people onto standard output or into a log, as Windows' own console tools write it.
#include "common/text/TextLine.h"

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
