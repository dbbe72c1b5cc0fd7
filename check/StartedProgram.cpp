// The program a start-up starts: it must be there and be a tarvel program, as its version
// resource tells, for the start-up to start a pass at all.
#include "check/MachineCheck.h"

#include "common/Owners.h"

#include <cwchar>

namespace {

// The texts the program's own version resource carries.
const wchar_t kOriginalFilename[] = L"tarvel.exe";
const wchar_t kProductName[] = L"Tarvel";

bool stringValue(const void* info, WORD language, WORD codePage, const wchar_t* name, const wchar_t* wanted)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    wchar_t query[64] = L"\\StringFileInfo\\xxxxxxxx\\";
    const DWORD block = (static_cast<DWORD>(language) << 16) | codePage;
    for (int at = 0; at < 8; ++at) {
        query[16 + at] = kDigits[(block >> (28 - 4 * at)) & 0xF];
    }
    std::wcsncat(query, name, 30);
    void* value = nullptr;
    UINT length = 0;
    return VerQueryValueW(info, query, &value, &length) && length != 0 &&
           lstrcmpiW(static_cast<const wchar_t*>(value), wanted) == 0;
}

// Whether path is a tarvel program; its file version goes into version when it is.
bool isTarvelProgram(const wchar_t* path, Text& version)
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
        if (stringValue(info.get(), pairs[at], pairs[at + 1], L"OriginalFilename", kOriginalFilename) &&
            stringValue(info.get(), pairs[at], pairs[at + 1], L"ProductName", kProductName)) {
            version << static_cast<unsigned long>(HIWORD(numbers->dwFileVersionMS)) << "."
                    << static_cast<unsigned long>(LOWORD(numbers->dwFileVersionMS)) << "."
                    << static_cast<unsigned long>(HIWORD(numbers->dwFileVersionLS)) << "."
                    << static_cast<unsigned long>(LOWORD(numbers->dwFileVersionLS));
            return true;
        }
    }
    return false;
}

}  // namespace

DWORD checkStartedProgram(Report& report, const char* what, const wchar_t* program, const wchar_t* arguments)
{
    // Logon starts it from the system folder, not from wherever the check runs.
    if (program[0] != L'\0' && isRelativePath(program)) {
        Text found;
        found << program << " (a relative path, which logon looks for in the system folder)";
        report.line(what, "an existing tarvel program", found, false);
        return ERROR_SUCCESS;
    }
    const bool exists = program[0] != L'\0' && fileExists(program);
    Text version;
    const bool tarvel = exists && isTarvelProgram(program, version);
    Text found;
    found << program << " (" << (!exists ? Text("missing") : tarvel ? version : Text("not tarvel")) << ")";
    if (arguments[0] != L'\0') {
        found << ", with the arguments " << arguments;
    }
    report.line(what, "an existing tarvel program", found, tarvel);
    return tarvel ? checkNotReplaceable(report, program) : ERROR_SUCCESS;
}
