#pragma once
// The kit's change to the marker: the marker found is moved aside while a step needs it absent
// and back when it needs it present; one the kit makes for a step is removed again while it is
// empty. The record keeps how it was found, so that restore can put it back.
#include "common/platform/Status.h"
#include "kit/Kit.h"

enum class MarkerState { Absent, File, Directory };

// The marker as it is now.
MarkerState markerState(const KitSession& kit);
// "absent", "file" or "directory", as the record and the lines spell it.
const wchar_t* markerStateName(MarkerState state);
// The state a record's text names; false for any other text.
bool markerStateNamed(const wchar_t* name, MarkerState& state);

// Records found before the marker is changed.
// Says "marker C:\Preload: absent", as found.
void sayMarkerFound(const KitSession& kit, MarkerState found);

// Makes the marker present or absent for the next step, from how it was found: the found one
// moved aside or back, or the kit's own made or removed (only while it is empty). Says what it
// made; false, with a FAIL line, when the marker is not so.
bool setMarker(const KitSession& kit, MarkerState found, bool present);
// The marker as found again: a found one moved back, the kit's own removed, what someone put in
// it kept under another name, never deleted. Says what it sees after; false, with a FAIL line,
// when the marker is not as found.
bool undoMarker(const KitSession& kit, MarkerState found);
// A found marker moved aside for a pass that takes the start-up away; false when it is there.
bool moveMarkerAside(const KitSession& kit);
