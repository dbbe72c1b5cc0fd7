#pragma once
#include <windows.h>

// Starts the program at every logon through the machine's Run key (releases without the
// logon task). modulePath must be the executable's whole path.
void registerRunEntry(const wchar_t* modulePath);
void unregisterRunEntry();
