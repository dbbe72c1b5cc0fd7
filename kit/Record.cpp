#include "kit/Record.h"

#include "common/product/TarvelProgram.h"
#include "kit/PackageChange.h"
#include "kit/StartupChange.h"

#include <cwchar>

namespace {

// The record's value names, in RecordValueName's order.
const wchar_t* const kValueNames[] = {L"Kit", L"Found", L"Program", L"Product", nullptr};
const wchar_t* valueName(RecordValueName name)
{
    return name == RecordValueName::Whole ? kWholeValue : kValueNames[static_cast<int>(name)];
}

struct RecordValue {
    const wchar_t* name;
    wchar_t* text;
    DWORD capacity;  // characters, the NUL included
    const char* malformed;
    bool seen;
};

// A value's text when it is a REG_SZ that fits; ERROR_INVALID_DATA for any other type or a
// text too long to be the kit's.
Status readText(HKEY key, const wchar_t* name, wchar_t* text, DWORD capacity)
{
    DWORD type = REG_NONE;
    DWORD size = capacity * sizeof(wchar_t);
    ZeroMemory(text, size);
    const Status status =
        registryStatus(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size));
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && type != REG_SZ)) {
        return ERROR_INVALID_DATA;
    }
    if (status == ERROR_SUCCESS && (size >= capacity * sizeof(wchar_t) && text[capacity - 1] != L'\0')) {
        return ERROR_INVALID_DATA;
    }
    if (status == ERROR_SUCCESS) {
        text[capacity - 1] = L'\0';
    }
    return status;
}

const char* formRefusal(RunRecord& record, bool whole)
{
    if (!whole) {
        return "it is not whole, no Whole value: its run was cut while recording";
    }
    if (!markerStateNamed(record.found, record.marker)) {
        return "its Found value is not absent, file or directory";
    }
    if (const char* refused = programFormRefusal(record.program)) {
        return refused;
    }
    return record.hasProduct && !isProductCode(record.product) ? "its Product is not a product code" : nullptr;
}

// The value named name among values, when it is one the kit writes.
RecordValue* knownValue(RecordValue* values, size_t count, const wchar_t* name)
{
    for (size_t at = 0; at < count; ++at) {
        if (std::wcscmp(name, values[at].name) == 0) {
            return &values[at];
        }
    }
    return nullptr;
}

// Reads each value the record holds into values; a name no kit writes, or a value not in a
// kit's form, refuses the record.
Status readValues(HKEY key, RecordValue* values, size_t count, RunRecord& record)
{
    for (DWORD index = 0;; ++index) {
        wchar_t name[64] = {};
        DWORD nameLength = 64;
        Status status =
            registryStatus(RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr));
        if (status == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (status == ERROR_MORE_DATA) {
            record.refused = "it holds a name it does not know";
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        RecordValue* known = knownValue(values, count, name);
        if (known == nullptr) {
            record.refused = "it holds a name it does not know";
            continue;
        }
        status = readText(key, name, known->text, known->capacity);
        if (status == ERROR_INVALID_DATA) {
            record.refused = known->malformed;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        known->seen = true;
    }
}

}  // namespace

Status readRunRecord(HKEY key, RunRecord& record)
{
    wchar_t whole[8] = {};
    // In RecordValueName's order.
    RecordValue values[] = {
        {valueName(RecordValueName::Kit), record.kit, MAX_PATH, "its Kit is not a folder's text", false},
        {valueName(RecordValueName::Found), record.found, 16, "its Found value is not absent, file or directory",
         false},
        {valueName(RecordValueName::Program), record.program, MAX_PATH + 1, "its Program is not a path", false},
        {valueName(RecordValueName::Product), record.product, 40, "its Product is not a product code", false},
        {valueName(RecordValueName::Whole), whole, 8,
         "it is not whole, no Whole value: its run was cut while recording", false},
    };
    const Status status = readValues(key, values, sizeof values / sizeof values[0], record);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const auto seen = [&values](RecordValueName name) { return values[static_cast<int>(name)].seen; };
    record.hasProduct = seen(RecordValueName::Product);
    if (record.refused == nullptr) {
        record.refused = formRefusal(record, seen(RecordValueName::Whole) && isWhole(key));
    }
    return ERROR_SUCCESS;
}

RecordFacts machineRecordFacts() { return {isTarvelProgram, isOwnProduct, isKnownProduct}; }

const char* recordRefusal(const RunRecord& record, const RecordFacts& facts)
{
    // A program no longer there starts nothing; one that is there must be tarvel's.
    if (std::wcscmp(record.program, kNoProgram) != 0 && fileExists(record.program) &&
        !facts.isTarvelProgram(record.program)) {
        return "its Program is no tarvel program";
    }
    // The product a cut install never registered leaves nothing to uninstall; one the Installer
    // knows must be of the package's own family.
    if (record.hasProduct && !facts.isOwnProduct(record.product) && facts.isInstalled(record.product)) {
        return "its Product is not a package of Ombrix Tarvel";
    }
    return nullptr;
}

Status startRecord(const KitSession& kit, Journal& journal)
{
    journal.record.reset();
    Status status = deleteJournalKey(journal.key.get(), kRecordName);
    if (status == ERROR_SUCCESS) {
        status = makeJournalKey(journal.key.get(), kRecordName, journal.record);
    }
    return status == ERROR_SUCCESS ? writeJournalText(journal.record.get(), valueName(RecordValueName::Kit), kit.folder)
                                   : status;
}

Status recordMarker(HKEY record, MarkerState found)
{
    return writeJournalText(record, valueName(RecordValueName::Found), markerStateName(found));
}

Status recordStartup(HKEY record, const wchar_t* program)
{
    return writeJournalText(record, valueName(RecordValueName::Program), program);
}

Status recordProduct(HKEY record, const wchar_t* product)
{
    return writeJournalText(record, valueName(RecordValueName::Product), product);
}

Status forgetProduct(HKEY record)
{
    return registryStatus(RegDeleteValueW(record, valueName(RecordValueName::Product)));
}

Status finishRecord(const Journal& journal) { return markWhole(journal.record.get()); }

Status removeRecord(Journal& journal)
{
    journal.record.reset();
    return deleteJournalKey(journal.key.get(), kRecordName);
}

void sayRecord(const KitSession& kit, HKEY record)
{
    for (DWORD index = 0;; ++index) {
        wchar_t name[64] = {};
        DWORD nameLength = 64;
        wchar_t value[MAX_PATH + 2] = {};
        DWORD size = sizeof value - sizeof value[0];
        DWORD type = REG_NONE;
        const Status status = registryStatus(
            RegEnumValueW(record, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(value), &size));
        if (status == ERROR_NO_MORE_ITEMS || (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)) {
            return;
        }
        Text line;
        line << "    " << name << " = ";
        if (status == ERROR_MORE_DATA) {
            line << "(too long to show)";
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            line << value;
        } else {
            line << "(not a text)";
        }
        say(kit, line);
    }
}
