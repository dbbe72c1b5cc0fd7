#pragma once
// The record of an unfinished run, the journal's Run key: each change's value (the marker as
// found, the start-up's program, the package's product), written before its change and whole
// only once Whole says so. It is read as data: each value checked for its form, and what it
// names judged, before anything acts on it.
#include "common/platform/Status.h"
#include "kit/Journal.h"
#include "kit/Kit.h"
#include "kit/MarkerChange.h"

#include <windows.h>

// The record's values, in the order a run writes them, each before its change: the kit that
// made the record, the marker as found, the start-up's program, the package's product while the
// kit may have it installed, and Whole last. Their names live here alone.
enum class RecordValueName { Kit, Found, Program, Product, Whole };

// The record as read. refused names why it is not a kit's, else it is null.
struct RunRecord {
    wchar_t kit[MAX_PATH] = {};
    wchar_t found[16] = {};  // the marker as found, as markerStateName spells it
    MarkerState marker = MarkerState::Absent;
    wchar_t program[MAX_PATH + 1] = {};
    wchar_t product[40] = {};
    bool hasProduct = false;
    const char* refused = nullptr;
};

// Reads the record under key: ERROR_SUCCESS with record filled (refused set when its form is
// not a kit's), else the registry's status.
Status readRunRecord(HKEY key, RunRecord& record);

// What the kit asks the machine about a record's program and product: in a test, its answers.
struct RecordFacts {
    bool (*isTarvelProgram)(const wchar_t* path);
    // The Installer lists product among the products of the package's own upgrade code.
    bool (*isOwnProduct)(const wchar_t* product);
    // The Installer knows product at all, as any vendor's.
    bool (*isInstalled)(const wchar_t* product);
};
RecordFacts machineRecordFacts();

// Why a record whose form is a kit's is still not the kit's: a program that is no tarvel
// program, a product another package installed. Null when nothing refuses it.
const char* recordRefusal(const RunRecord& record, const RecordFacts& facts);

// A new record under the journal, the kit's folder in it, in place of any earlier one.
Status startRecord(const KitSession& kit, Journal& journal);
// Each change's value, as its unit hands it, written before the change: the marker as found,
// the start-up's program (or "-"), the package's product code, which is forgotten once the
// product is gone again.
Status recordMarker(HKEY record, MarkerState found);
Status recordStartup(HKEY record, const wchar_t* program);
Status recordProduct(HKEY record, const wchar_t* product);
Status forgetProduct(HKEY record);
// Marks the record whole: from now on restore follows it.
Status finishRecord(const Journal& journal);
// Deletes the record: its run is undone.
Status removeRecord(Journal& journal);
// Says each value of the record, as it is, for whoever must undo it by hand.
void sayRecord(const KitSession& kit, HKEY record);
