// tarvel-kit: the acceptance kit's decisions, which acceptance.cmd and restore.cmd start with
// whatever they were given: "tarvel-kit acceptance", "tarvel-kit restore" and "tarvel-kit
// restore ports". Its exit status is theirs. Any other argument, read whole, starts nothing.
#include "kit/Acceptance.h"
#include "kit/Restore.h"

#include "common/platform/ProgramArguments.h"

namespace {

const wchar_t kUsage[] =
    L"usage, from the kit's folder, as an administrator:\r\n"
    L"  acceptance.cmd          accepts the release on this machine (it takes no arguments)\r\n"
    L"  restore.cmd             undoes what an unfinished run changed\r\n"
    L"  restore.cmd ports       puts the port switches recorded before the last run back\r\n";

}  // namespace

int main()
{
    const ProgramArguments arguments;
    if (!arguments.read()) {
        return kKitRefused;
    }
    const bool acceptance = arguments.are({L"acceptance"});
    const bool restore = arguments.are({L"restore"});
    const bool ports = arguments.are({L"restore", L"ports"});
    if (!acceptance && !restore && !ports) {
        writeOutput(kUsage);
        const bool asked = arguments.are({L"acceptance", L"/?"}) || arguments.are({L"restore", L"/?"});
        return asked ? kKitPassed : kKitWrongArguments;
    }
    KitSession kit;
    if (!setUpKit(kit)) {
        writeOutput(L"tarvel-kit: the kit's own folder cannot be told.\r\n");
        return kKitRefused;
    }
    return acceptance ? runAcceptance(kit) : runRestore(kit, ports);
}
