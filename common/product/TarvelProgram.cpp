// A tarvel program, as its version resource tells: the check asks it of what a start-up
// starts, the acceptance kit of what it would start.
#include "common/product/TarvelProgram.h"

#include "common/platform/Owners.h"
#include "common/text/TextLine.h"

#include <cwchar>

namespace {

// The product name every file of tarvel's carries in its version resource.
const wchar_t kProductName[] = L"Tarvel";

bool stringValue(const void* info, WORD language, WORD codePage, const wchar_t* name, const wchar_t* wanted)
{
    // "\StringFileInfo\040904B0\": a block is named by its language and code page in hex,
    // which Windows reads in either case.
    wchar_t digits[kNumberText] = {};
    writeHex((static_cast<DWORD>(language) << 16) | codePage, digits);
    wchar_t query[64] = L"\\StringFileInfo\\";
    std::wcsncat(query, digits + 2, 8);
    std::wcsncat(query, L"\\", 1);
    std::wcsncat(query, name, 30);
    void* value = nullptr;
    UINT length = 0;
    return VerQueryValueW(info, query, &value, &length) && length != 0 &&
           lstrcmpiW(static_cast<const wchar_t*>(value), wanted) == 0;
}

}  // namespace

bool isTarvelProgram(const wchar_t* path)
{
    wchar_t version[kVersionText] = {};
    return isTarvelProgram(path, version);
}

bool isTarvelProgram(const wchar_t* path, wchar_t (&version)[kVersionText], const wchar_t* originalFilename)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) {
        return false;
    }
    const UniqueLocal info(LocalAlloc(LMEM_FIXED, size));
    if (!info || !GetFileVersionInfoW(path, 0, size, info.get())) {
        return false;
    }
    void* fixed = nullptr;
    UINT fixedLength = 0;
    if (!VerQueryValueW(info.get(), L"\\", &fixed, &fixedLength) || fixedLength < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    const auto* numbers = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    void* translations = nullptr;
    UINT translationsLength = 0;
    if (!VerQueryValueW(info.get(), L"\\VarFileInfo\\Translation", &translations, &translationsLength)) {
        return false;
    }
    const auto* pairs = static_cast<const WORD*>(translations);
    for (UINT at = 0; at + 1 < translationsLength / sizeof(WORD); at += 2) {
        if (stringValue(info.get(), pairs[at], pairs[at + 1], L"OriginalFilename", originalFilename) &&
            stringValue(info.get(), pairs[at], pairs[at + 1], L"ProductName", kProductName)) {
            TextBuilder(version, kVersionText) << static_cast<unsigned long>(HIWORD(numbers->dwFileVersionMS)) << "."
                                               << static_cast<unsigned long>(LOWORD(numbers->dwFileVersionMS)) << "."
                                               << static_cast<unsigned long>(HIWORD(numbers->dwFileVersionLS)) << "."
                                               << static_cast<unsigned long>(LOWORD(numbers->dwFileVersionLS));
            return true;
        }
    }
    return false;
}
