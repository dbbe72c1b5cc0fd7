#include "kit/Kit.h"

#include "common/platform/Paths.h"
#include "common/platform/SystemFacts.h"
#include "common/product/Marker.h"
#include "common/text/Text.h"

const wchar_t kKitProgram[] = L"tarvel.exe";
const wchar_t kKitCheck[] = L"tarvel-check.exe";
const wchar_t kKitRestore[] = L"restore.cmd";

bool kitFile(const KitSession& kit, const wchar_t* name, wchar_t (&path)[MAX_PATH])
{
    lstrcpynW(path, kit.folder, MAX_PATH);
    return appendText(path, MAX_PATH, name);
}

bool setUpKit(KitSession& kit)
{
    wchar_t module[MAX_PATH] = {};
    if (!readModulePath(module)) {
        return false;
    }
    ObjectKind kind = ObjectKind::File;
    if (!toParentFolder(module, kind)) {
        return false;
    }
    lstrcpynW(kit.folder, module, MAX_PATH);
    if (!withClosingBackslash(kit.folder, MAX_PATH)) {
        return false;
    }
    widenText(markerPath(), kit.marker);
    lstrcpynW(kit.aside, kit.marker, MAX_PATH);
    return kitFile(kit, kKitProgram, kit.own) && kitFile(kit, kKitCheck, kit.check) &&
           appendText(kit.aside, MAX_PATH, L".acceptance");
}

namespace {

void writeLine(HANDLE to, const Text& line)
{
    writeText(to, line.c_str());
    writeText(to, L"\r\n");
}

}  // namespace

void say(const KitSession& kit, const Text& line)
{
    Text text;
    text << kit.prefix << line;
    writeLine(GetStdHandle(STD_OUTPUT_HANDLE), text);
    logLine(kit, text);
}

void sayFailure(const KitSession& kit, const Text& line)
{
    Text text;
    text << "FAIL  " << line;
    say(kit, text);
}

void logLine(const KitSession& kit, const Text& line)
{
    if (kit.log) {
        writeLine(kit.log.get(), line);
    }
}

namespace {

void logHeading(const KitSession& kit)
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    Text heading;
    heading << "tarvel acceptance, " << static_cast<unsigned long>(now.wYear) << "-"
            << static_cast<unsigned long>(now.wMonth) << "-" << static_cast<unsigned long>(now.wDay) << " "
            << static_cast<unsigned long>(now.wHour) << ":" << static_cast<unsigned long>(now.wMinute);
    logLine(kit, heading);
    Text windows;
    windows << "Windows " << version.dwMajorVersion << "." << version.dwMinorVersion << "." << version.dwBuildNumber
            << " " << version.szCSDVersion << (isWow64() ? ", WOW64" : "");
    logLine(kit, windows);
}

}  // namespace

bool openLog(KitSession& kit)
{
    wchar_t path[MAX_PATH] = {};
    if (!kitFile(kit, L"logs", path)) {
        return false;
    }
    CreateDirectoryW(path, nullptr);
    if (!appendText(path, MAX_PATH, L"\\acceptance.log")) {
        return false;
    }
    kit.log = ownHandle(
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!kit.log) {
        return false;
    }
    logHeading(kit);
    return true;
}
