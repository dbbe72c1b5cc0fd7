#pragma once
#include "kit/Kit.h"

// restore.cmd, and with portsOnly restore.cmd ports; its exit status.
int runRestore(KitSession& kit, bool portsOnly);
