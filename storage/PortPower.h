#pragma once
#include <windows.h>

// Writes the iaStor driver's "DIPM" and "LPM" switches of ports 0 to 5: 0 turns the
// power management off, 1 turns it on.
void applyPortPowerSettings(DWORD value);
