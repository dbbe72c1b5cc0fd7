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

}  // namespace state
