#include "check/ExpectedMode.h"

#include "common/platform/Owners.h"
#include "common/platform/ProgramArguments.h"
#include "common/platform/Registry.h"
#include "common/platform/SystemFacts.h"

const wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Ombrix\\Tarvel";
const wchar_t kPolicyValue[] = L"ExpectedMode";

CommandLineAsk readCommandLine()
{
    const ProgramArguments arguments;
    CommandLineAsk ask;
    if (arguments.read() && arguments.count() == 0) {
        ask.asked = Asked::Check;
    } else if (arguments.are({L"/expect:preload"})) {
        ask = {Asked::Check, Expected::Preload};
    } else if (arguments.are({L"/expect:normal"})) {
        ask = {Asked::Check, Expected::Normal};
    } else if (arguments.are({L"/?"})) {
        ask.asked = Asked::Usage;
    }
    return ask;
}

namespace {

// What the policy holds: nothing, a mode, or a value that names none (its words in found).
struct PolicyMode {
    bool set = false;
    Expected expected = Expected::Any;
    Text found;
};

// Group Policy writes a REG_SZ; what else is there is shown, never taken for a mode.
Status readPolicyMode(PolicyMode& policy)
{
    UniqueHkey key;
    const REGSAM view = isWow64() ? KEY_WOW64_64KEY : 0;
    Status status = openKey(HKEY_LOCAL_MACHINE, kPolicyKey, KEY_QUERY_VALUE | view, key);
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    RegistryValue value;
    status = readRegistryValue(key.get(), kPolicyValue, value);
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    policy.set = true;
    // Either mode and a little more: a longer value is none of them.
    if (value.type != REG_SZ || value.size > 32 * sizeof(wchar_t)) {
        policy.found << (value.type != REG_SZ ? "a value other than REG_SZ" : "a value too long to be a mode");
        return ERROR_SUCCESS;
    }
    const wchar_t* text = value.data.get();
    if (lstrcmpiW(text, L"preload") == 0) {
        policy.expected = Expected::Preload;
    } else if (lstrcmpiW(text, L"normal") == 0) {
        policy.expected = Expected::Normal;
    } else {
        policy.found << "\"" << text << "\"";
    }
    return ERROR_SUCCESS;
}

const char* modeWords(Expected expected) { return expected == Expected::Preload ? "preload mode" : "normal mode"; }

}  // namespace

Status checkExpectedMode(Report& report, Expected fromCommandLine, bool preload)
{
    PolicyMode policy;
    const Status status = readPolicyMode(policy);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const char* found = modeWords(preload ? Expected::Preload : Expected::Normal);
    if (fromCommandLine != Expected::Any) {
        if (policy.set) {
            Text note;
            note << "note: /expect: wins over the policy \"" << kPolicyValue << "\" (";
            if (policy.expected == Expected::Any) {
                note << policy.found;
            } else {
                note << modeWords(policy.expected);
            }
            note << ")";
            report.note(note);
        }
        report.line("mode", modeWords(fromCommandLine), found, (fromCommandLine == Expected::Preload) == preload,
                    Mender::Administrator);
        return ERROR_SUCCESS;
    }
    if (!policy.set) {
        return ERROR_SUCCESS;
    }
    Text what;
    what << "mode, as the policy \"" << kPolicyValue << "\" asks";
    if (policy.expected == Expected::Any) {
        report.line(what, "preload or normal", policy.found, false, Mender::Administrator);
        return ERROR_SUCCESS;
    }
    report.line(what, modeWords(policy.expected), found, (policy.expected == Expected::Preload) == preload,
                Mender::Administrator);
    return ERROR_SUCCESS;
}
