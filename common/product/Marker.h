#pragma once
// The marker directory whose presence puts the machine in preload mode.

// "C:\Preload", or "C:\Preload64" for a 32-bit program on 64-bit Windows.
const char* markerPath();
