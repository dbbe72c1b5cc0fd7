#include "tests/scenarios/TarvelState.h"

#include <gtest/gtest.h>

namespace state {

const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\iaStor";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Tarvel";
const wchar_t kPassLock[] = L"Global\\OmbrixTarvelPass";

std::wstring portKey(int port) { return std::wstring(kServiceKey) + L"\\Parameters\\Port" + std::to_wstring(port); }

void expectPorts(DWORD value)
{
    for (int port = 0; port <= 5; ++port) {
        EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, portKey(port), L"DIPM").isDword(value))
            << "Port" << port << " DIPM";
        EXPECT_TRUE(host::readValue(HKEY_LOCAL_MACHINE, portKey(port), L"LPM").isDword(value))
            << "Port" << port << " LPM";
    }
}

std::wstring portSwitches()
{
    std::wstring switches;
    for (int port = 0; port <= 5; ++port) {
        for (const wchar_t* name : {L"DIPM", L"LPM"}) {
            const host::RegValue value = host::readValue(HKEY_LOCAL_MACHINE, portKey(port), name);
            switches += value.present ? std::to_wstring(value.type) + L":" : L"-";
            for (const BYTE byte : value.data) {
                switches += std::to_wstring(byte) + L".";
            }
            switches += L" ";
        }
    }
    return switches;
}

void clearDriverKeys() { host::deleteTree(HKEY_LOCAL_MACHINE, kServiceKey); }

host::RegValue runValue(REGSAM view) { return host::readValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, view); }

void clearRunValues()
{
    host::deleteValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, KEY_WOW64_32KEY);
    host::deleteValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, KEY_WOW64_64KEY);
}

const wchar_t kWineTaskScheduler[] = L"C:\\windows\\system32\\taskschd.dll";

// A 32-bit program looks the class up in the 32-bit view; the stand-in is 32-bit too.
void useTaskScheduler(const std::wstring& serverDll)
{
    const wchar_t serverKey[] = L"Software\\Classes\\CLSID\\{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}\\InprocServer32";
    host::writeString(HKEY_LOCAL_MACHINE, serverKey, L"", serverDll, KEY_WOW64_32KEY);
    host::writeString(HKEY_LOCAL_MACHINE, serverKey, L"ThreadingModel", L"Both", KEY_WOW64_32KEY);
}

std::wstring ownMarker() { return host::underWow64() ? L"C:\\Preload64" : L"C:\\Preload"; }
std::wstring otherMarker() { return host::underWow64() ? L"C:\\Preload" : L"C:\\Preload64"; }

std::vector<PrintedEvent> printedEvents(const std::string& log)
{
    std::vector<PrintedEvent> events;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end;
        const std::string line = log.substr(start, end - start);
        start = end + 1;
        const size_t call = line.find("fixme:advapi:ReportEventW (");
        const size_t string = line.find(":eventlog:ReportEventW ");
        if (call != std::string::npos) {
            events.push_back({line.substr(call + 27), {}});
        } else if (string != std::string::npos && !events.empty()) {
            const size_t kind = line.rfind(':', string - 1);
            events.back().strings.push_back(line.substr(kind + 1, string - kind - 1) + " " + line.substr(string + 23));
        }
    }
    return events;
}

std::string printed(const std::string& kind, const std::wstring& text)
{
    std::string out = kind + " L\"";
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"') {
            out += '\\';
        }
        out += static_cast<char>(c);
    }
    return out + "\"";
}

}  // namespace state
