// tarvel-kit: the acceptance kit's decisions, which acceptance.cmd and restore.cmd start:
// "tarvel-kit acceptance", "tarvel-kit restore" and "tarvel-kit restore ports". Its exit
// status is theirs.
#include "kit/Acceptance.h"
#include "kit/Restore.h"

#include <shellapi.h>

int main()
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return kKitRefused;
    }
    const UniqueLocal owned(arguments);
    Kit kit;
    if (!setUpKit(kit)) {
        writeOutput(L"tarvel-kit: the kit's own folder cannot be told.\r\n");
        return kKitRefused;
    }
    if (count == 2 && lstrcmpiW(arguments[1], L"acceptance") == 0) {
        return runAcceptance(kit);
    }
    if (count == 2 && lstrcmpiW(arguments[1], L"restore") == 0) {
        return runRestore(kit, false);
    }
    if (count == 3 && lstrcmpiW(arguments[1], L"restore") == 0 && lstrcmpiW(arguments[2], L"ports") == 0) {
        return runRestore(kit, true);
    }
    writeOutput(L"usage: acceptance.cmd, restore.cmd or restore.cmd ports, from the kit's folder.\r\n");
    return kKitRefused;
}
