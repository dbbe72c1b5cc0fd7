#pragma once
#include "common/platform/Status.h"

#include <windows.h>

// Creating the marker is the test for it: anything but a fresh directory, be it the marker
// itself, a file of that name or a refusal, keeps the machine in preload mode. A directory
// the probe made is removed again, if need be only at the next restart.
// probeFailure receives 0 when the probe could tell (a fresh directory, or something of that
// name already there), else the reason it could not create the directory.
bool markerPresent(const char* markerPath, Status* probeFailure = nullptr);
