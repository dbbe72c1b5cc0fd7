// tarvel-kit: the acceptance kit's decisions, which acceptance.cmd and restore.cmd start:
// "tarvel-kit acceptance", "tarvel-kit restore" and "tarvel-kit restore ports". Its exit
// status is theirs.
#include "kit/Acceptance.h"
#include "kit/Restore.h"

#include "common/platform/ProgramArguments.h"

int main()
{
    const ProgramArguments arguments;
    if (!arguments.read()) {
        return kKitRefused;
    }
    Kit kit;
    if (!setUpKit(kit)) {
        writeOutput(L"tarvel-kit: the kit's own folder cannot be told.\r\n");
        return kKitRefused;
    }
    if (arguments.are({L"acceptance"})) {
        return runAcceptance(kit);
    }
    if (arguments.are({L"restore"})) {
        return runRestore(kit, false);
    }
    if (arguments.are({L"restore", L"ports"})) {
        return runRestore(kit, true);
    }
    writeOutput(L"usage: acceptance.cmd, restore.cmd or restore.cmd ports, from the kit's folder.\r\n");
    return kKitRefused;
}
