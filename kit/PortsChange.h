#pragma once
// The kit's change to the ports: the passes and the check set the switches, so the run copies
// each port's two switches into the journal first and, when no installed product is to keep
// them, puts them back as it found them at its end; restore.cmd ports puts each switch back
// exactly as it was, only as the 4-byte REG_DWORD a port's switch is.
#include "kit/Journal.h"
#include "kit/Kit.h"

// Each port's two switches as they are, with their type and size, copied under the journal's
// Ports, then marked whole; says whether they were. A copy that cannot be made whole is deleted,
// with a FAIL line, and false: the run must not change what it could not put back.
bool recordPorts(const KitSession& kit, Journal& journal);
// Every switch on, as a normal pass sets them.
void setPortsOn();

// One switch as it was: the 4-byte REG_DWORD before holds (or absent: deleted) set in now;
// anything else before holds is no port's value and is not put back. Says what the switch is
// after; false, with a FAIL line, when it is not as it was.
bool putSwitchBack(const KitSession& kit, HKEY before, HKEY now, int port, const wchar_t* value);
// Each switch of each port as the journal's whole copy holds it; a port key the run made where
// there was none goes again when it holds nothing else. False when any is not as it was, or
// there is no whole copy (then nothing is changed).
bool putPortsBack(const KitSession& kit, const Journal& journal);
// At the end of a run with no product to keep them: every switch exactly as the run found it,
// whatever its type, or deleted where there was none, and read back; a port key the run made
// goes again when empty. One line when all are so; false, with a FAIL line for each that is not.
bool putPortsAsFound(const KitSession& kit, const Journal& journal);
