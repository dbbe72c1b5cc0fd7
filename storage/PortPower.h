#pragma once
#include <windows.h>

// Writes the iaStor driver's "DIPM" and "LPM" switches of ports 0 to 5: 0 turns the
// power management off, 1 turns it on. Every port is attempted; the answer is the first
// failure met, or ERROR_SUCCESS.
LSTATUS applyPortPowerSettings(DWORD value);
