#pragma once
#include "common/platform/Status.h"

#include <windows.h>

// Writes the iaStor driver's "DIPM" and "LPM" switches of ports 0 to 5: 0 turns the
// power management off, 1 turns it on. Every port is attempted; the answer is the first
// failure met, or ERROR_SUCCESS.
Status applyPortPowerSettings(DWORD value);

// What the modes ask of every switch.
const DWORD kPortsOff = 0;  // preload mode
const DWORD kPortsOn = 1;   // normal mode

// Where the switches live, under HKEY_LOCAL_MACHINE: one key per port, 0 to 5.
const int kPortCount = 6;
extern const char* const kPortKeys[kPortCount];
extern const char kDipmValue[];
extern const char kLpmValue[];
