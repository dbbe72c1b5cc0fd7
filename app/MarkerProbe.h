#pragma once

// Creating the marker is the test for it: anything but a fresh directory, be it the marker
// itself, a file of that name or a refusal, keeps the machine in preload mode. A directory
// the probe made is removed again, if need be only at the next restart.
bool markerPresent(const char* markerPath);
