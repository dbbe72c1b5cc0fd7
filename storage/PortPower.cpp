#include "storage/PortPower.h"

#include "common/platform/Owners.h"

const char* const kPortKeys[kPortCount] = {
    "SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters\\Port0",
    "SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters\\Port1",
    "SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters\\Port2",
    "SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters\\Port3",
    "SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters\\Port4",
    "SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters\\Port5",
};
const char kDipmValue[] = "DIPM";
const char kLpmValue[] = "LPM";

Status applyPortPowerSettings(DWORD value)
{
    const BYTE* data = reinterpret_cast<const BYTE*>(&value);
    Status firstFailure = ERROR_SUCCESS;
    const auto note = [&firstFailure](LSTATUS status) {
        if (firstFailure == ERROR_SUCCESS) {
            firstFailure = registryStatus(status);
        }
    };
    for (const char* keyPath : kPortKeys) {
        UniqueHkey key;
        DWORD disposition = 0;
        // Created with its whole path, so the keys exist whatever ports the controller has.
        // A port that cannot be opened is passed over; the others still get their values.
        const LSTATUS created = RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                KEY_ALL_ACCESS, nullptr, receive(key), &disposition);
        if (created != ERROR_SUCCESS) {
            note(created);
            continue;
        }
        note(RegSetValueExA(key.get(), kDipmValue, 0, REG_DWORD, data, sizeof value));
        note(RegSetValueExA(key.get(), kLpmValue, 0, REG_DWORD, data, sizeof value));
    }
    return firstFailure;
}
