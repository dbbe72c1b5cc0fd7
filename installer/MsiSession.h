#pragma once
// What the package's custom actions say to and read from their Windows Installer session: a
// line in the install log, a property of any length.
#include "common/platform/Owners.h"
#include "common/platform/Status.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

// A line of the install log, as the install's other informational lines: text with [1]..[n]
// for the strings given.
void logLine(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* text, const wchar_t* first,
             const wchar_t* second = nullptr, const wchar_t* third = nullptr);

// An error line: text with the object in [1] and the status, as a number, in [2].
void logFailure(MSIHANDLE install, const wchar_t* text, const wchar_t* object, Status status);

// A property of any length, in text; ERROR_SUCCESS or why it could not be read.
Status readProperty(MSIHANDLE install, const wchar_t* name, UniqueHeapText& text);

// A property an action cannot do without: unreadable or empty, it is logged as text says, with
// the status (absent for an empty one), and the action fails.
bool readNeededProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* text, Status absent,
                        UniqueHeapText& value);
