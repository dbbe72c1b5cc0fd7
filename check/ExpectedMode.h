#pragma once
// The mode a machine is expected to be in, so that a machine left in the other one (a factory
// marker forgotten, or one made where this Windows does not read it) is found: named for one
// run on the command line, or for a group of machines by Windows policy, which Group Policy, a
// configuration manager or a device-management service sets. The command line wins.
#include "check/Report.h"
#include "common/platform/Status.h"

enum class Expected { Any, Preload, Normal };

// What the command line asks of the check: a mode, the usage, or nothing it knows.
enum class Asked { Check, Usage, Unknown };
struct CommandLineAsk {
    Asked asked = Asked::Unknown;
    Expected expected = Expected::Any;
};
// "/expect:preload", "/expect:normal" or "/?", alone and whole, case aside; nothing at all is
// a check of the mode the policy expects.
CommandLineAsk readCommandLine();

// The policy's key and value, under HKEY_LOCAL_MACHINE.
extern const wchar_t kPolicyKey[];    // "SOFTWARE\\Policies\\Ombrix\\Tarvel"
extern const wchar_t kPolicyValue[];  // "ExpectedMode"

// One line for the mode expected, when anything expects one: the command line's, else the
// policy's (read in the 64-bit view on 64-bit Windows, where Group Policy writes it); a policy
// value it does not know differs too, named. Both are for an administrator to mend. ERROR_SUCCESS
// when it could look, else the status that kept it from reading the policy.
Status checkExpectedMode(Report& report, Expected fromCommandLine, bool preload);
